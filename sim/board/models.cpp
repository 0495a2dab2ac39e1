#include "sim/board/models.h"

#include <cstdlib>

const std::vector<BoardModel>& boardModelTable() {
    static const std::vector<BoardModel> table = {
        {"moro310", HOST_BRIDGE_ID_PCH, "61QM41A", "Moro 310", "MX25L6445E", "M310A7K", "7310AC1",
         "6f2c81a0-5e13-11e0-9c43-00215ac1d3e7", "M310-ASSET-0001", "Moro Labs OEM 310",
         "11S45N7712Z"},
        {"moro320", HOST_BRIDGE_ID_ICH, "61QM29B", "Moro 320", "W25Q16BV", "M320B2Q", "7320BD2",
         "1d9a4b72-7c30-11df-8a1e-00215ac20f91", "M320-ASSET-0001", "Moro Labs OEM 320",
         "11S45N7798Y"},
        {"moro330", HOST_BRIDGE_ID_ICH, "62QM17C", "Moro 330", "MX25L1606E", "M330C5R", "7330CE3",
         "a4e0c95e-8b21-11e1-b0c4-00215ac33a02", "M330-ASSET-0001", "Moro Labs OEM 330",
         "11S45N7843X"},
    };
    return table;
}

const BoardModel* findBoardModel(const std::string& name) {
    for (const BoardModel& model : boardModelTable())
        if (name == model.name) return &model;
    return nullptr;
}

bool parseHostBridge(const std::string& text, uint32_t& id) {
    if (text == "pch") {
        id = HOST_BRIDGE_ID_PCH;
        return true;
    }
    if (text == "ich") {
        id = HOST_BRIDGE_ID_ICH;
        return true;
    }
    if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
    if (*end != '\0' || text[2] == '-' || text[2] == '+' || text[2] == ' ') return false;
    id = uint32_t(value);
    return true;
}
