// A power cycle of the simulated machine, with the boot that follows.
#include <algorithm>

#include "sim/machine.h"

// The running BIOS shadows the top 64 KiB of its own image at 0xF0000 (its
// SMBIOS tables and the identity copies the updater reads): after a reboot
// that is the image of the bank that boots, whatever an update put there.
void Machine::reboot() {
    powerOn();
    const std::vector<uint8_t>& image = banks_[activeBank_]->array();
    if (image.size() >= LEGACY_AREA_SIZE) legacy_.assign(image.end() - LEGACY_AREA_SIZE, image.end());
}
