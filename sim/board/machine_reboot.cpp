// A power cycle of the simulated machine, with the boot that follows.
#include "sim/board/bank_firmware.h"
#include "sim/board/machine.h"

void Machine::reboot(int bank) {
    if (bank == 0 || bank == 1) setActiveBank(bank);
    powerOn();
    BankBoot boot = bootBank(banks_[activeBank_]->array(), cfg_.hostBridgeId, cfg_.product, legacy_);
    bootFault_ = boot.boots ? "" : boot.fault;
}
