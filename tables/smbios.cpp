#include "tables/smbios.h"

#include <cstring>
#include <memory>

#include "os/os.h"

namespace {

constexpr char SM_ANCHOR[] = "_SM_";
constexpr size_t SM_ANCHOR_LENGTH = 4;
constexpr char DMI_ANCHOR[] = "_DMI_";
constexpr size_t DMI_ANCHOR_LENGTH = 5;
constexpr size_t HEADER_SIZE = sizeof(s_SMBIOSHeader);
constexpr uint64_t ADDRESS_SPACE_END = 0x100000000ULL;

// Zeroed bytes kept after the table copy. A structure is indexed when its
// header fits in the copy; its formatted area (at most 255 bytes) and the scan
// of its string set then still end inside the allocation, even when the
// firmware's formatted length or string set runs past the table.
constexpr size_t TABLE_GUARD = 256 + 2;

bool hasAnchor(const unsigned char* area, size_t areaLength, size_t offset,
               const char* anchor, size_t anchorLength) {
    return offset + anchorLength <= areaLength &&
           std::memcmp(area + offset, anchor, anchorLength) == 0;
}

// Searches the legacy area for "_SM_" (tested first) or "_DMI_" at each 16-byte
// boundary. Returns a new record, or null when neither anchor is present.
s_SMBIOSeps* findEntryPoint(const unsigned char* area, size_t areaLength) {
    for (size_t offset = 0; offset < areaLength; offset += SMBIOS_ANCHOR_STEP) {
        const size_t available = areaLength - offset;
        if (hasAnchor(area, areaLength, offset, SM_ANCHOR, SM_ANCHOR_LENGTH)) {
            auto* eps = new s_SMBIOSeps();
            const size_t lengthAt = offsetof(s_SMBIOSeps, length);
            size_t length = available > lengthAt ? area[offset + lengthAt] : 0;
            if (length > sizeof(s_SMBIOSeps)) {
                length = sizeof(s_SMBIOSeps);
            }
            if (length > available) {
                length = available;
            }
            std::memcpy(eps, area + offset, length);
            return eps;
        }
        if (hasAnchor(area, areaLength, offset, DMI_ANCHOR, DMI_ANCHOR_LENGTH)) {
            auto* eps = new s_SMBIOSeps();
            size_t length = SMBIOS_DMI_EPS_LENGTH;
            if (length > available) {
                length = available;
            }
            std::memcpy(reinterpret_cast<unsigned char*>(eps) + SMBIOS_DMI_EPS_OFFSET,
                        area + offset, length);
            return eps;
        }
    }
    return nullptr;
}

}  // namespace

SMBIOS::~SMBIOS() { release(); }

void SMBIOS::release() {
    delete[] structures;
    structures = nullptr;
    delete[] table;
    table = nullptr;
    delete eps;
    eps = nullptr;
    structureCount = 0;
}

int SMBIOS::init(OS* host) {
    release();
    os = host;

    {
        std::unique_ptr<unsigned char[]> area(new unsigned char[SMBIOS_SEARCH_LENGTH]());
        os->memRead(SMBIOS_SEARCH_BASE, SMBIOS_SEARCH_LENGTH, area.get());
        eps = findEntryPoint(area.get(), SMBIOS_SEARCH_LENGTH);
    }
    if (eps == nullptr) {
        return 0;
    }

    const size_t tableLength = eps->tableLength;
    // A table that would wrap past the top of the address space is not read.
    if (eps->tableAddress + static_cast<uint64_t>(tableLength) > ADDRESS_SPACE_END) {
        return 0;
    }
    table = new unsigned char[tableLength + TABLE_GUARD]();
    if (tableLength != 0) {
        os->memRead(eps->tableAddress, static_cast<unsigned int>(tableLength), table);
    }

    const uint16_t announced = eps->structureCount;
    structures = new s_SMBIOSHeader*[announced]();
    size_t position = 0;
    while (structureCount < announced && position + HEADER_SIZE <= tableLength) {
        auto* header = reinterpret_cast<s_SMBIOSHeader*>(table + position);
        structures[structureCount++] = header;
        if (header->type == SMBIOS_TYPE_END_OF_TABLE) {
            break;
        }
        // Formatted area, then the string set up to and over its double NUL.
        position += header->length;
        while (position + 1 < tableLength &&
               !(table[position] == 0 && table[position + 1] == 0)) {
            ++position;
        }
        position += 2;
    }
    return 0;
}

s_SMBIOSHeader* SMBIOS::getStructure(uint16_t index) {
    if (structures == nullptr || index >= structureCount) {
        return nullptr;
    }
    return structures[index];
}

s_SMBIOSHeader* SMBIOS::getStructureByHandle(uint16_t handle) {
    for (uint16_t i = 0; i < structureCount; ++i) {
        if (structures[i]->handle == handle) {
            return structures[i];
        }
    }
    return nullptr;
}

s_SMBIOSHeader* SMBIOS::getStructureByType(uint8_t type, uint8_t instance) {
    if (instance == 0) {
        return nullptr;
    }
    unsigned int seen = 0;
    for (uint16_t i = 0; i < structureCount; ++i) {
        if (structures[i]->type == type && ++seen == instance) {
            return structures[i];
        }
    }
    return nullptr;
}

const char* smbiosStr(const s_SMBIOSHeader* header, uint8_t number) {
    if (header == nullptr || number == 0) {
        return nullptr;
    }
    // Strings are never empty: a NUL where a string should start ends the set.
    const char* text = reinterpret_cast<const char*>(header) + header->length;
    for (uint8_t n = 1; n < number; ++n) {
        if (*text == '\0') {
            return nullptr;
        }
        text += std::strlen(text) + 1;
    }
    return *text == '\0' ? nullptr : text;
}

uint8_t smbiosByte(const s_SMBIOSHeader* header, unsigned int offset) {
    if (header == nullptr || offset >= header->length) {
        return 0;
    }
    return reinterpret_cast<const unsigned char*>(header)[offset];
}

uint16_t smbiosWord(const s_SMBIOSHeader* header, unsigned int offset) {
    if (header == nullptr || offset + 2 > header->length) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(header) + offset;
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}
