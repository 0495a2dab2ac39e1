// One fuzz case for the SMBIOS reader: the input becomes physical memory of a
// fake host, then every lookup, every string and both text dumps are run over
// what the reader indexed. Shared by the fuzzer and the regression replay test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

namespace smbios_fuzz {

// First input byte: bit 0 clear puts the rest of the input at the legacy area
// (the fuzzer must build its own entry point); bit 0 set puts a valid "_SM_"
// entry point at the start of the legacy area whose table (the rest of the
// input after a 2-byte announced count) lies at TABLE_ADDRESS. The second mode
// lets the fuzzer reach the structure walk without guessing anchors.
constexpr uint8_t MODE_BUILT_ENTRY_POINT = 0x01;
constexpr uint32_t TABLE_ADDRESS = 0x1000;
constexpr size_t MAX_TABLE = 0xFFFF;

inline void placeInput(TablesFakeHost& host, const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    const uint8_t mode = data[0];
    ++data;
    --size;
    if ((mode & MODE_BUILT_ENTRY_POINT) == 0) {
        host.load(SMBIOS_SEARCH_BASE, data, size < SMBIOS_SEARCH_LENGTH ? size : SMBIOS_SEARCH_LENGTH);
        return;
    }
    if (size < 2) {
        return;
    }
    s_SMBIOSeps eps{};
    std::memcpy(eps.anchor, "_SM_", 4);
    eps.length = sizeof(s_SMBIOSeps) - 1;
    std::memcpy(eps.intermediateAnchor, "_DMI_", 5);
    eps.structureCount = static_cast<uint16_t>(data[0] | (data[1] << 8));
    data += 2;
    size -= 2;
    eps.tableLength = static_cast<uint16_t>(size < MAX_TABLE ? size : MAX_TABLE);
    eps.tableAddress = TABLE_ADDRESS;
    host.load(SMBIOS_SEARCH_BASE, &eps, sizeof(eps));
    host.load(TABLE_ADDRESS, data, eps.tableLength);
}

// Runs the reader over the input. Returns the number of structures indexed.
inline unsigned int runCase(const uint8_t* data, size_t size) {
    // One host for all cases: making 1 MiB of memory per case dominates the run.
    static TablesFakeHost host;
    host.reset();
    placeInput(host, data, size);
    SMBIOS reader;
    reader.init(&host);

    std::ostringstream text;
    text << reader.getEntryPoint();
    const unsigned int count = reader.getStructureCount();
    size_t characters = 0;
    for (unsigned int i = 0; i < count; ++i) {
        const s_SMBIOSHeader* header = reader.getStructure(static_cast<uint16_t>(i));
        text << header;
        reader.getStructureByHandle(header->handle);
        reader.getStructureByType(header->type, 1);
        reader.getStructureByType(header->type, 2);
        for (unsigned int n = 0; n <= 0xFF; ++n) {
            const char* s = smbiosStr(header, static_cast<uint8_t>(n));
            if (s == nullptr && n != 0) {
                break;
            }
            if (s != nullptr) {
                characters += std::strlen(s);
            }
        }
        smbiosStr(header, 0xFF);
    }
    reader.getStructure(static_cast<uint16_t>(count));
    reader.getStructureByType(0, 0);
    reader.getStructureByHandle(0xFFFF);
    (void)characters;
    return count;
}

}  // namespace smbios_fuzz
