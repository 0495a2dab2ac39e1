// The boards the simulator knows: which chipset generation, flash part and
// firmware each model comes with, and the identity a factory gives it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/board_regs.h"

struct BoardModel {
    const char* name;         // as given to --model
    uint32_t hostBridgeId;
    const char* biosVersion;  // SMBIOS BIOS version; the first four characters name the family
    const char* product;      // SMBIOS system product name
    const char* partName;     // flash part of both banks
    const char* serial;       // factory identity, VPD fields
    const char* mtm;
    const char* uuid;
    const char* assetTag;
    const char* oemText;
    const char* boardField;   // the 11-byte VPD field at 0x1D
};

const std::vector<BoardModel>& boardModelTable();
// Null for a name not in the table.
const BoardModel* findBoardModel(const std::string& name);

// Host bridge identity from the tool's text: "pch", "ich" or 0xHHHHHHHH.
bool parseHostBridge(const std::string& text, uint32_t& id);
