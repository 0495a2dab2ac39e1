// The guards around the BIOS flash as a run finds them, and putting them back
// once the run is done with them: the flash write-protect line, the BIOS
// control register (BIOSWE) and the block protection in the status register
// of the flash part the controller reaches (the active bank's).
#pragma once
#include <cstdint>

class OS;
struct FlashPartRow;

struct FlashGuards {
    bool wpKnown = false;       // the host bridge has a known write-protect line
    uint8_t wpSelect = 0;       // the line's bit in its select, direction and
    uint8_t wpDirection = 0;    // level registers, 0 or the line's mask
    uint8_t wpLevel = 0;
    uint8_t biosControl = 0;    // BIOS control register, bits 7:0
    bool statusKnown = false;   // the status register could be read
    uint8_t status = 0;
    const FlashPartRow* part = nullptr;  // the part, when its identity is a known one
};

// Reads the guards and changes none of them. The status register is read
// with whatever opcode menu the controller holds, the firmware's included.
FlashGuards readFlashGuards(OS* os);

// Puts back the active part's status register, then the write-protect line,
// then BIOS control: writing the status needs the line high and BIOSWE set.
// A status that could not be read at the start is replaced by the locked
// value an update leaves. Says so on standard error when the part keeps
// another status.
void restoreFlashGuards(OS* os, const FlashGuards& found);

// BIOS control alone: after an update, whose part and line end locked.
void restoreBiosControl(OS* os, const FlashGuards& found);
