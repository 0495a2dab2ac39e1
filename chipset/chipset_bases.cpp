#include "chipset/chipset_bases.h"

#include <cstdio>

#include "chipset/pci.h"

namespace {

constexpr uint32_t ALL_ONES = 0xFFFFFFFF;
constexpr uint32_t GPIO_BLOCK_SIZE = 0x80;
constexpr uint32_t RCBA_BLOCK_SIZE = 0x4000;

// I/O below 0x100 holds the legacy devices (DMA, interrupt controllers,
// timer, keyboard); the root-complex block lies in the chipset's memory-mapped
// range below the 16 MiB BIOS window at 0xFF000000.
const ChipsetBaseRow CHIPSET_BASES[] = {
    {"GPIO base (PCI 0:31:0 register 0x48)", PCI_LPC_GPIOBASE, GPIOBASE_MASK, 0x100, 0x10000,
     GPIO_BLOCK_SIZE},
    {"root-complex base (PCI 0:31:0 register 0xF0)", PCI_LPC_RCBA, RCBA_BASE_MASK, 0x80000000,
     0xFF000000, RCBA_BLOCK_SIZE},
};

}  // namespace

bool chipsetBasesUsable(OS* os) {
    for (const ChipsetBaseRow& row : CHIPSET_BASES) {
        const uint32_t raw = pciReadDword(os, row.config);
        const uint64_t base = raw & row.mask;
        if (raw != ALL_ONES && base >= row.lowest && base + row.blockSize <= row.limit) continue;
        std::fprintf(stderr,
                     "The chipset's %s reads 0x%08X: 0, all ones or outside 0x%llX-0x%llX, so "
                     "the registers behind it are not where the updater would write; nothing "
                     "was written\n",
                     row.name, raw, static_cast<unsigned long long>(row.lowest),
                     static_cast<unsigned long long>(row.limit - row.blockSize));
        return false;
    }
    return true;
}
