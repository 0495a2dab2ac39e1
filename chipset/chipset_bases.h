// The base registers through which the updater reaches the chipset: the GPIO
// block (bank, write-protect and EEPROM lines) in I/O space and the
// root-complex block (SPI controller) in memory. A base that reads 0, all
// ones or outside the range the chipset can decode would turn every later
// access into a write to whatever answers there (at I/O 0x00-0x3F: the DMA and
// interrupt controllers), so it is refused before anything is written.
#pragma once
#include <cstdint>

class OS;

struct ChipsetBaseRow {
    const char* name;      // as the refusal names it
    uint32_t config;       // PCI configuration address of the register
    uint32_t mask;         // address bits of the register
    uint64_t lowest;       // decode range of the block: [lowest, limit)
    uint64_t limit;
    uint32_t blockSize;    // bytes (ports) the block spans from its base
};

// Checks every base of the table; prints the first bad one on standard error
// and returns false, or returns true when all are usable.
bool chipsetBasesUsable(OS* os);
