// Labelled text of SMBIOS structures and entry points, for diagnosis.
#include <iomanip>
#include <ostream>

#include "tables/smbios.h"

namespace {

enum class FieldKind {
    String,           // string number byte
    Word,             // 16-bit value
    RomSize,          // (byte + 1) * 64, decimal, "K"
    Characteristics,  // bytes, two-digit hexadecimal each
    Uuid,             // bytes, two-digit hexadecimal each
    WakeUpType        // name of the byte
};

struct FieldRow {
    uint8_t type;
    const char* label;
    unsigned int offset;
    FieldKind kind;
};

// Decoded lines per structure type, in print order.
constexpr FieldRow FIELD_ROWS[] = {
    {SMBIOS_TYPE_BIOS_INFORMATION, "Vendor: ", BIOS_INFO_VENDOR, FieldKind::String},
    {SMBIOS_TYPE_BIOS_INFORMATION, "BIOS Version: ", BIOS_INFO_VERSION, FieldKind::String},
    {SMBIOS_TYPE_BIOS_INFORMATION, "BIOS Starting Address Segment: ", BIOS_INFO_START_SEGMENT,
     FieldKind::Word},
    {SMBIOS_TYPE_BIOS_INFORMATION, "BIOS Release Date: ", BIOS_INFO_RELEASE_DATE,
     FieldKind::String},
    {SMBIOS_TYPE_BIOS_INFORMATION, "BIOS ROM Size: ", BIOS_INFO_ROM_SIZE, FieldKind::RomSize},
    {SMBIOS_TYPE_BIOS_INFORMATION, "BIOS Characteristics: ", BIOS_INFO_CHARACTERISTICS,
     FieldKind::Characteristics},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "Manufacturer: ", SYSTEM_INFO_MANUFACTURER,
     FieldKind::String},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "ProductName: ", SYSTEM_INFO_PRODUCT_NAME,
     FieldKind::String},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "Version: ", SYSTEM_INFO_VERSION, FieldKind::String},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "Serial Number: ", SYSTEM_INFO_SERIAL_NUMBER,
     FieldKind::String},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "UUID: ", SYSTEM_INFO_UUID, FieldKind::Uuid},
    {SMBIOS_TYPE_SYSTEM_INFORMATION, "Wake-up Type: ", SYSTEM_INFO_WAKEUP_TYPE,
     FieldKind::WakeUpType},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, "Manufacturer: ", BASEBOARD_INFO_MANUFACTURER,
     FieldKind::String},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, "Product: ", BASEBOARD_INFO_PRODUCT, FieldKind::String},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, "Version: ", BASEBOARD_INFO_VERSION, FieldKind::String},
    {SMBIOS_TYPE_BASEBOARD_INFORMATION, "Serial Number: ", BASEBOARD_INFO_SERIAL_NUMBER,
     FieldKind::String},
};

// System Information wake-up type names, by value.
constexpr const char* WAKEUP_TYPE_NAMES[] = {
    "Reserved",   "Other",        "Unknown",  "APM Timer",        "Modem Ring",
    "LAN Remote", "Power Switch", "PCI PME#", "AC Power Restored",
};
constexpr unsigned int WAKEUP_TYPE_COUNT = sizeof(WAKEUP_TYPE_NAMES) / sizeof(WAKEUP_TYPE_NAMES[0]);

constexpr unsigned int ROM_SIZE_UNIT_K = 64;
constexpr unsigned int RAW_ROW_BYTES = 16;
constexpr const char* RAW_LABEL = "Raw Data: ";
constexpr const char* RAW_CONTINUATION = "          ";  // as wide as the label
constexpr const char* RAW_FILLER = "   ";
constexpr unsigned char PRINTABLE_FIRST = 0x20;
constexpr unsigned char PRINTABLE_END = 0x80;

std::ostream& twoDigits(std::ostream& out, unsigned int value) {
    return out << std::setw(2) << std::setfill('0') << value;
}

void printBytes(std::ostream& out, const s_SMBIOSHeader* header, unsigned int offset,
                unsigned int count) {
    for (unsigned int i = 0; i < count; ++i) {
        twoDigits(out, smbiosByte(header, offset + i)) << " ";
    }
}

// Bytes a field occupies in the formatted area.
unsigned int fieldWidth(FieldKind kind) {
    switch (kind) {
        case FieldKind::Word:
            return sizeof(uint16_t);
        case FieldKind::Characteristics:
            return BIOS_INFO_CHARACTERISTICS_LENGTH;
        case FieldKind::Uuid:
            return SYSTEM_INFO_UUID_LENGTH;
        default:
            return sizeof(uint8_t);
    }
}

void printField(std::ostream& out, const s_SMBIOSHeader* header, const FieldRow& row) {
    out << row.label;
    // Older structures are shorter: a field past the formatted area has no value.
    if (row.offset + fieldWidth(row.kind) > header->length) {
        out << "\n";
        return;
    }
    switch (row.kind) {
        case FieldKind::String: {
            const char* text = smbiosStr(header, smbiosByte(header, row.offset));
            if (text != nullptr) {
                out << text;
            }
            break;
        }
        case FieldKind::Word:
            out << smbiosWord(header, row.offset);
            break;
        case FieldKind::RomSize:
            out << std::dec << (smbiosByte(header, row.offset) + 1u) * ROM_SIZE_UNIT_K << "K"
                << std::hex;
            break;
        case FieldKind::Characteristics:
        case FieldKind::Uuid:
            printBytes(out, header, row.offset, fieldWidth(row.kind));
            break;
        case FieldKind::WakeUpType: {
            const unsigned int value = smbiosByte(header, row.offset);
            if (value < WAKEUP_TYPE_COUNT) {
                out << WAKEUP_TYPE_NAMES[value];
            }
            break;
        }
    }
    out << "\n";
}

// The formatted area in rows of 16: hexadecimal bytes (fillers past the end),
// then the same bytes as characters.
void printRaw(std::ostream& out, const s_SMBIOSHeader* header) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(header);
    const unsigned int length = header->length;
    out << RAW_LABEL;
    for (unsigned int row = 0; row < length; row += RAW_ROW_BYTES) {
        if (row != 0) {
            out << RAW_CONTINUATION;
        }
        for (unsigned int i = row; i < row + RAW_ROW_BYTES; ++i) {
            if (i < length) {
                twoDigits(out, bytes[i]) << " ";
            } else {
                out << RAW_FILLER;
            }
        }
        for (unsigned int i = row; i < row + RAW_ROW_BYTES && i < length; ++i) {
            const unsigned char c = bytes[i];
            out << (c < PRINTABLE_FIRST || c >= PRINTABLE_END ? '.' : static_cast<char>(c));
        }
        out << "\n";
    }
}

void printChars(std::ostream& out, const char* chars, unsigned int count) {
    out.write(chars, count);
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const s_SMBIOSHeader* header) {
    if (header == nullptr) {
        return out;
    }
    out << "Type: 0x" << std::hex << static_cast<unsigned int>(header->type) << "\n";
    out << "Length: 0x" << static_cast<unsigned int>(header->length) << "\n";
    out << "Handle: 0x" << static_cast<unsigned int>(header->handle) << "\n";
    for (const FieldRow& row : FIELD_ROWS) {
        if (row.type == header->type) {
            printField(out, header, row);
        }
    }
    printRaw(out, header);
    out << "\n";
    return out;
}

std::ostream& operator<<(std::ostream& out, const s_SMBIOSeps* eps) {
    if (eps == nullptr) {
        return out;
    }
    const auto byte = [](uint8_t value) { return static_cast<unsigned int>(value); };
    out << "Anchor string                 : ";
    printChars(out, eps->anchor, sizeof(eps->anchor));
    out << "\n";
    out << "Entry Point Structure Checksum: 0x" << std::hex << byte(eps->checksum) << "\n";
    out << "Entry Point Length            : 0x" << byte(eps->length) << "\n";
    out << "SMBIOS Major Version          : 0x" << byte(eps->majorVersion) << "\n";
    out << "SMBIOS Minor Version          : 0x" << byte(eps->minorVersion) << "\n";
    out << "Maximum Structure Size        : 0x" << eps->maxStructureSize << "\n";
    out << "Entry Point Revision          : 0x" << byte(eps->revision) << "\n";
    out << "Formatted Area                : ";
    printChars(out, reinterpret_cast<const char*>(eps->formattedArea),
               sizeof(eps->formattedArea));
    out << "\n";
    out << "Intermediate Anchor String    : ";
    printChars(out, eps->intermediateAnchor, sizeof(eps->intermediateAnchor));
    out << "\n";
    out << "Intermediate Checksum         : 0x" << byte(eps->intermediateChecksum) << "\n";
    out << "Structure Table Length        : 0x" << eps->tableLength << "\n";
    out << "Structure Table Address       : 0x" << eps->tableAddress << "\n";
    out << "Number of SMBIOS Structures   : 0x" << eps->structureCount << "\n";
    out << "SMBIOS BCD Revision           : 0x" << byte(eps->bcdRevision) << "\n";
    out << "\n";
    return out;
}
