#include "sim/board/firmware_menus.h"

namespace {
constexpr uint8_t FAST_READ = 0x0B;
constexpr uint8_t BLOCK_ERASE_64K = 0xD8;
constexpr uint8_t EWSR = 0x50;       // enable write status register
constexpr uint8_t READ_ID_90 = 0x90; // manufacturer/device id, 24-bit address
constexpr uint8_t RES = 0xAB;        // release from power-down, electronic signature
constexpr uint8_t NONE = 0x00;

// OPTYPE from the types of entries 0..7 (00 read, 01 write, 10 read with
// address, 11 write with address).
constexpr uint16_t optype(const unsigned (&types)[simspi::OPMENU_ENTRIES]) {
    uint16_t value = 0;
    for (unsigned i = 0; i < simspi::OPMENU_ENTRIES; ++i) value = uint16_t(value | types[i] << (2 * i));
    return value;
}
constexpr unsigned RD = 0, WR = 1, RDA = 2, WRA = 3;
}  // namespace

const std::vector<FirmwareMenu>& firmwareMenuTable() {
    using namespace spinor;
    static const std::vector<FirmwareMenu> table = {
        // Reads first, the erases and write status further up.
        {"standard",
         {READ, PP, SE, RDSR, RDID, FAST_READ, WRSR, BLOCK_ERASE_64K},
         optype({RDA, WRA, WRA, RD, RD, RDA, WR, WRA}),
         {WREN, EWSR}},
        // Entry 5, where another menu keeps write status, is the 4 KiB erase.
        {"hostile",
         {READ, PP, RDSR, RDID, WREN, SE, WRSR, WRDI},
         optype({RDA, WRA, RD, RD, WR, WRA, WR, WR}),
         {WREN, EWSR}},
        // A firmware that only ever reads the flash: no write opcode at all.
        {"read-only",
         {READ, FAST_READ, RDSR, RDID, READ_ID_90, RES, NONE, NONE},
         optype({RDA, RDA, RD, RD, RDA, RD, RD, RD}),
         {NONE, NONE}},
    };
    return table;
}

const FirmwareMenu* findFirmwareMenu(const std::string& name) {
    for (const FirmwareMenu& menu : firmwareMenuTable())
        if (name == menu.name) return &menu;
    return nullptr;
}
