// SMBIOS 2.x reader: finds the entry point in the legacy BIOS area, copies the
// structure table into the process and indexes its structures.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ostream>

class OS;

// Legacy BIOS area searched for the entry point (physical addresses).
constexpr unsigned int SMBIOS_SEARCH_BASE = 0xF0000;
constexpr unsigned int SMBIOS_SEARCH_LENGTH = 0x10000;
// Entry points sit on 16-byte boundaries of the search area.
constexpr unsigned int SMBIOS_ANCHOR_STEP = 16;

// SMBIOS 2.x entry-point structure as firmware lays it out (offsets from the
// anchor). A legacy "_DMI_" entry point is held in the same record from 0x10 on.
struct s_SMBIOSeps {
    char anchor[4];                 // 0x00 "_SM_"
    uint8_t checksum;               // 0x04
    uint8_t length;                 // 0x05 bytes of the entry point
    uint8_t majorVersion;           // 0x06
    uint8_t minorVersion;           // 0x07
    uint16_t maxStructureSize;      // 0x08
    uint8_t revision;               // 0x0A
    uint8_t formattedArea[5];       // 0x0B
    char intermediateAnchor[5];     // 0x10 "_DMI_"
    uint8_t intermediateChecksum;   // 0x15
    uint16_t tableLength;           // 0x16 structure table bytes
    uint32_t tableAddress;          // 0x18 structure table physical address
    uint16_t structureCount;        // 0x1C structures announced
    uint8_t bcdRevision;            // 0x1E
    uint8_t reserved;               // 0x1F pads the record to 32 bytes
};
static_assert(sizeof(s_SMBIOSeps) == 32, "entry-point record is 32 bytes");
static_assert(offsetof(s_SMBIOSeps, intermediateAnchor) == 0x10, "_DMI_ at 0x10");
static_assert(offsetof(s_SMBIOSeps, tableLength) == 0x16, "table length at 0x16");
static_assert(offsetof(s_SMBIOSeps, tableAddress) == 0x18, "table address at 0x18");
static_assert(offsetof(s_SMBIOSeps, structureCount) == 0x1C, "count at 0x1C");
static_assert(offsetof(s_SMBIOSeps, bcdRevision) == 0x1E, "BCD revision at 0x1E");

// Offset of the legacy DMI entry point inside the record, and its size.
constexpr unsigned int SMBIOS_DMI_EPS_OFFSET = 0x10;
constexpr unsigned int SMBIOS_DMI_EPS_LENGTH = 15;

// Header of every structure. Structures sit at any byte offset of the table,
// so the record is packed (alignment 1): read `handle` by value, never bind a
// reference or pointer to it (unary + copies it, e.g. for EXPECT_EQ).
struct __attribute__((packed)) s_SMBIOSHeader {
    uint8_t type;
    uint8_t length;   // formatted length, header included
    uint16_t handle;
};
static_assert(sizeof(s_SMBIOSHeader) == 4, "structure header is 4 bytes");

// Structure types.
constexpr uint8_t SMBIOS_TYPE_BIOS_INFORMATION = 0;
constexpr uint8_t SMBIOS_TYPE_SYSTEM_INFORMATION = 1;
constexpr uint8_t SMBIOS_TYPE_BASEBOARD_INFORMATION = 2;
constexpr uint8_t SMBIOS_TYPE_END_OF_TABLE = 127;

// BIOS Information (type 0), offsets from the structure start.
constexpr unsigned int BIOS_INFO_VENDOR = 0x04;           // string number
constexpr unsigned int BIOS_INFO_VERSION = 0x05;          // string number
constexpr unsigned int BIOS_INFO_START_SEGMENT = 0x06;    // 16-bit
constexpr unsigned int BIOS_INFO_RELEASE_DATE = 0x08;     // string number
constexpr unsigned int BIOS_INFO_ROM_SIZE = 0x09;         // (n + 1) * 64 KiB
constexpr unsigned int BIOS_INFO_CHARACTERISTICS = 0x0A;
constexpr unsigned int BIOS_INFO_CHARACTERISTICS_LENGTH = 8;

// System Information (type 1), offsets from the structure start.
constexpr unsigned int SYSTEM_INFO_MANUFACTURER = 0x04;
constexpr unsigned int SYSTEM_INFO_PRODUCT_NAME = 0x05;
constexpr unsigned int SYSTEM_INFO_VERSION = 0x06;
constexpr unsigned int SYSTEM_INFO_SERIAL_NUMBER = 0x07;
constexpr unsigned int SYSTEM_INFO_UUID = 0x08;
constexpr unsigned int SYSTEM_INFO_UUID_LENGTH = 16;
constexpr unsigned int SYSTEM_INFO_WAKEUP_TYPE = 0x18;

// Base Board Information (type 2), offsets from the structure start.
constexpr unsigned int BASEBOARD_INFO_MANUFACTURER = 0x04;
constexpr unsigned int BASEBOARD_INFO_PRODUCT = 0x05;
constexpr unsigned int BASEBOARD_INFO_VERSION = 0x06;
constexpr unsigned int BASEBOARD_INFO_SERIAL_NUMBER = 0x07;

class SMBIOS {
public:
    SMBIOS() = default;
    ~SMBIOS();
    SMBIOS(const SMBIOS&) = delete;
    SMBIOS& operator=(const SMBIOS&) = delete;

    // Finds the entry point, copies and indexes the table. Always 0; when no
    // entry point is found every lookup returns null.
    int init(OS* os);

    // Structure at a position in table order; null past the indexed count.
    s_SMBIOSHeader* getStructure(uint16_t index);
    // First structure with this handle, or null.
    s_SMBIOSHeader* getStructureByHandle(uint16_t handle);
    // instance-th (from 1) structure of this type, or null (also for instance 0).
    s_SMBIOSHeader* getStructureByType(uint8_t type, uint8_t instance);

    // The entry point found by init, or null.
    const s_SMBIOSeps* getEntryPoint() const { return eps; }
    // Structures actually indexed (at most the announced count).
    uint16_t getStructureCount() const { return structureCount; }

private:
    void release();

    s_SMBIOSeps* eps = nullptr;
    s_SMBIOSHeader** structures = nullptr;
    unsigned char* table = nullptr;
    OS* os = nullptr;
    uint16_t structureCount = 0;
};

// String number `number` (from 1) of a structure indexed by an SMBIOS reader;
// null for 0, for a number past the structure's last string, or for a null
// header. Points into the reader's table copy.
const char* smbiosStr(const s_SMBIOSHeader* header, uint8_t number);

// Fields of a structure's formatted area, bounded by its formatted length:
// a field that lies (partly) past it reads as 0.
uint8_t smbiosByte(const s_SMBIOSHeader* header, unsigned int offset);
uint16_t smbiosWord(const s_SMBIOSHeader* header, unsigned int offset);

// Labelled text of a structure (nothing for null) and of an entry point.
// Numbers are printed in hexadecimal; the stream is left in hexadecimal.
std::ostream& operator<<(std::ostream& out, const s_SMBIOSHeader* header);
std::ostream& operator<<(std::ostream& out, const s_SMBIOSeps* eps);
