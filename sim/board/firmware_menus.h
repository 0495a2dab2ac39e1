// Opcode menus that firmware leaves in the SPI controller. Each firmware
// programs its own: which entry holds which opcode is the firmware's choice,
// and a program that starts an entry by number without reading the menu
// sends whatever that firmware put there.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/spi_regs.h"

struct FirmwareMenu {
    const char* name;  // as given to `new --firmware-menu`
    uint8_t opcodes[simspi::OPMENU_ENTRIES];
    uint16_t optype;
    uint8_t preop[2];
};

// The first row is what a board gets when nothing else is asked for.
const std::vector<FirmwareMenu>& firmwareMenuTable();
// Null for a name not in the table.
const FirmwareMenu* findFirmwareMenu(const std::string& name);
