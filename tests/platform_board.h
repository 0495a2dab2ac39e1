// A simulated board for the platform tests, with a running BIOS whose SMBIOS
// tables and identity blocks a test lays out itself.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/simos.h"
#include "sim/smbios_builder.h"

// Where this fixture puts things in the running BIOS's top 64 KiB.
constexpr uint32_t TOP64K = 0x10000;
constexpr uint32_t RUN_ASSET_AT = 0x4000;
constexpr uint32_t RUN_OEM_AT = 0x5000;
constexpr uint32_t RUN_ASSET_PTR_AT = 0xFFE2;  // offsets in the top 64 KiB
constexpr uint32_t RUN_OEM_PTR_AT = 0xFFE6;
constexpr uint32_t SMBIOS_AT = 0x6000;         // offset in the legacy area
constexpr uint32_t VPD_WINDOW = 0xFFF90;

// The identity the running BIOS carries.
struct RunningIdentity {
    uint32_t k = 0x10;  // VPD block at VPD_WINDOW + k
    uint8_t length = 0x30;
    std::string serial = "S1X2Y3Z";
    std::string field1d = "ABCDEFGHIJK";  // fills all 11 bytes, no NUL
    std::string mtm = "7ABC1D2";
    uint8_t uuid[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xB0, 0xB1, 0xC0, 0xC1,
                        0xD0, 0xD1, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5};
    std::string asset = "ASSET-0042";
    std::string oem = "Running OEM text";
    bool hasAsset = true;
    bool hasOem = true;
    bool hasVpd = true;
};

struct SimBoard {
    explicit SimBoard(uint32_t hostBridgeId = HOST_BRIDGE_ID_PCH,
                      const std::string& part = "MX25L6445E")
        : machine(BoardConfig{hostBridgeId, part, 0}), os(machine) {}

    Machine machine;
    SimOS os;

    uint8_t* legacy(uint32_t physical) {
        return machine.legacyArea().data() + (physical - LEGACY_AREA_BASE);
    }
    uint8_t* runningTop(uint32_t offset) {
        std::vector<uint8_t>& a = machine.bank(machine.activeBank()).array();
        return a.data() + a.size() - TOP64K + offset;
    }

    void setBiosVersion(const std::string& version) {
        SmbiosIdentity id;
        id.biosVendor = "Board Vendor";
        id.biosVersion = version;
        id.product = "Moro 310";
        ASSERT_TRUE(writeSmbiosTables(machine.legacyArea().data(), LEGACY_AREA_SIZE,
                                      LEGACY_AREA_BASE, SMBIOS_AT, id));
    }

    void putRunning(const RunningIdentity& r) {
        uint8_t* vpd = legacy(VPD_WINDOW + r.k);
        if (r.hasVpd) {
            std::memcpy(vpd, "\xAA\x55VPD", 5);
            vpd[5] = r.length;
            putText(vpd + 0x16, r.serial, 7);
            putText(vpd + 0x1D, r.field1d, 11);
            putText(vpd + 0x28, r.mtm, 7);
            std::memcpy(vpd - 0x16, r.uuid, 16);
        }
        putPointer(RUN_ASSET_PTR_AT, r.hasAsset ? RUN_ASSET_AT : 0xFFFF);
        std::memcpy(runningTop(RUN_ASSET_AT), "_ASSETID_", 9);
        putText(runningTop(RUN_ASSET_AT + 0x0B), r.asset, 32);
        putPointer(RUN_OEM_PTR_AT, r.hasOem ? RUN_OEM_AT : 0xFFFF);
        std::memcpy(runningTop(RUN_OEM_AT), "_OEM_", 5);
        putText(runningTop(RUN_OEM_AT + 0x07), r.oem, 32);
    }

    void putPointer(uint32_t at, uint16_t value) {
        runningTop(at)[0] = static_cast<uint8_t>(value);
        runningTop(at)[1] = static_cast<uint8_t>(value >> 8);
    }

    static void putText(uint8_t* field, const std::string& text, size_t width) {
        std::memset(field, 0, width);
        std::memcpy(field, text.data(), std::min(text.size(), width));
    }
};

// The text of a NUL-padded field: its bytes up to the first NUL.
inline std::string fieldText(const uint8_t* field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

// A text argument the way callers hand one over: an array the callee deletes.
inline unsigned char* ownedText(const char* text) {
    const size_t n = std::strlen(text) + 1;
    unsigned char* copy = new unsigned char[n];
    std::memcpy(copy, text, n);
    return copy;
}
