// Builds SMBIOS structure tables and entry points byte by byte for tests, and
// places them in a fake host's physical memory.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

class SmbiosTableBuilder {
public:
    // A structure: header, the formatted bytes after the header, then the
    // string set (two NULs when there are no strings).
    SmbiosTableBuilder& add(uint8_t type, uint16_t handle, const std::vector<uint8_t>& formatted,
                            const std::vector<std::string>& strings = {}) {
        bytes.push_back(type);
        bytes.push_back(static_cast<uint8_t>(sizeof(s_SMBIOSHeader) + formatted.size()));
        bytes.push_back(static_cast<uint8_t>(handle & 0xFF));
        bytes.push_back(static_cast<uint8_t>(handle >> 8));
        bytes.insert(bytes.end(), formatted.begin(), formatted.end());
        for (const std::string& s : strings) {
            bytes.insert(bytes.end(), s.begin(), s.end());
            bytes.push_back(0);
        }
        if (strings.empty()) {
            bytes.push_back(0);
        }
        bytes.push_back(0);
        return *this;
    }
    SmbiosTableBuilder& endOfTable(uint16_t handle = 0x7F00) {
        return add(SMBIOS_TYPE_END_OF_TABLE, handle, {});
    }
    SmbiosTableBuilder& raw(const std::vector<uint8_t>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    uint16_t size() const { return static_cast<uint16_t>(bytes.size()); }

    std::vector<uint8_t> bytes;
};

// A 2.x entry point ("_SM_" ... "_DMI_") describing a table.
inline s_SMBIOSeps makeEntryPoint(uint32_t tableAddress, uint16_t tableLength,
                                  uint16_t structureCount) {
    s_SMBIOSeps eps{};
    std::memcpy(eps.anchor, "_SM_", 4);
    eps.length = 0x1F;
    eps.majorVersion = 2;
    eps.minorVersion = 4;
    std::memcpy(eps.intermediateAnchor, "_DMI_", 5);
    eps.tableLength = tableLength;
    eps.tableAddress = tableAddress;
    eps.structureCount = structureCount;
    eps.bcdRevision = 0x24;
    return eps;
}

// Places an entry point at an offset of the legacy area.
inline void placeEntryPoint(TablesFakeHost& host, uint32_t areaOffset, const s_SMBIOSeps& eps) {
    host.load(SMBIOS_SEARCH_BASE + areaOffset, &eps, eps.length);
}

// Places a legacy 15-byte "_DMI_" entry point at an offset of the legacy area.
inline void placeDmiEntryPoint(TablesFakeHost& host, uint32_t areaOffset, uint32_t tableAddress,
                               uint16_t tableLength, uint16_t structureCount) {
    s_SMBIOSeps eps = makeEntryPoint(tableAddress, tableLength, structureCount);
    host.load(SMBIOS_SEARCH_BASE + areaOffset,
              reinterpret_cast<const unsigned char*>(&eps) + SMBIOS_DMI_EPS_OFFSET,
              SMBIOS_DMI_EPS_LENGTH);
}
