// Builds SMBIOS structure tables and entry points byte by byte for tests, and
// places them in a fake host's physical memory.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

constexpr uint32_t TEST_TABLE_AT = 0x9000;

class SmbiosTableBuilder {
public:
    // A structure: header, the formatted bytes after the header, then the
    // string set (two NULs when there are no strings).
    SmbiosTableBuilder& add(uint8_t type, uint16_t handle, const std::vector<uint8_t>& formatted,
                            const std::vector<std::string>& strings = {}) {
        raw({type, static_cast<uint8_t>(sizeof(s_SMBIOSHeader) + formatted.size()),
             static_cast<uint8_t>(handle & 0xFF), static_cast<uint8_t>(handle >> 8)});
        raw(formatted);
        for (const std::string& s : strings) {
            bytes.insert(bytes.end(), s.c_str(), s.c_str() + s.size() + 1);
        }
        return raw(strings.empty() ? std::vector<uint8_t>{0, 0} : std::vector<uint8_t>{0});
    }
    SmbiosTableBuilder& endOfTable() { return add(SMBIOS_TYPE_END_OF_TABLE, 0x7F00, {}); }
    SmbiosTableBuilder& raw(const std::vector<uint8_t>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    uint16_t size() const { return static_cast<uint16_t>(bytes.size()); }

    std::vector<uint8_t> bytes;
};

// Places an entry point at an offset of the legacy area: a 2.x "_SM_" record
// claiming `length` bytes, or (legacy) only its 15-byte "_DMI_" part.
inline void placeEntryPoint(TablesFakeHost& host, uint32_t areaOffset, uint32_t tableAddress,
                            uint16_t tableLength, uint16_t structureCount, uint8_t length = 0x1F,
                            bool legacy = false) {
    s_SMBIOSeps eps{};
    std::memcpy(eps.anchor, "_SM_", 4);
    eps.length = length;
    std::memcpy(eps.intermediateAnchor, "_DMI_", 5);
    eps.tableLength = tableLength;
    eps.tableAddress = tableAddress;
    eps.structureCount = structureCount;
    const auto* record = reinterpret_cast<const unsigned char*>(&eps);
    host.load(SMBIOS_SEARCH_BASE + areaOffset, legacy ? record + SMBIOS_DMI_EPS_OFFSET : record,
              legacy ? SMBIOS_DMI_EPS_LENGTH : sizeof(eps));
}

// Places table bytes and a 2.x entry point announcing them.
inline void placeTable(TablesFakeHost& host, const std::vector<uint8_t>& table,
                       uint16_t tableLength, uint16_t count, uint32_t tableAt = TEST_TABLE_AT) {
    host.load(tableAt, table.data(), table.size());
    placeEntryPoint(host, 0x10, tableAt, tableLength, count);
}
