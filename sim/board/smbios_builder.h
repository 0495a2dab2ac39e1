// Writes the SMBIOS 2.x tables a running BIOS leaves in the legacy BIOS area:
// the "_SM_" entry point (with its "_DMI_" intermediate part) and a structure
// table of BIOS information (type 0), system information (type 1), baseboard
// information (type 2), chassis (type 3), OEM strings (type 11) and end of
// table (type 127). Also reads back what an
// SMBIOS consumer would find there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Entry point (32-bit form), offsets from "_SM_".
constexpr uint32_t SMBIOS_EPS_CHECKSUM = 0x04;
constexpr uint32_t SMBIOS_EPS_LENGTH = 0x05;
constexpr uint32_t SMBIOS_EPS_MAJOR = 0x06;
constexpr uint32_t SMBIOS_EPS_MINOR = 0x07;
constexpr uint32_t SMBIOS_EPS_MAX_STRUCT = 0x08;
constexpr uint32_t SMBIOS_EPS_DMI_ANCHOR = 0x10;
constexpr uint32_t SMBIOS_EPS_DMI_CHECKSUM = 0x15;
constexpr uint32_t SMBIOS_EPS_TABLE_LENGTH = 0x16;
constexpr uint32_t SMBIOS_EPS_TABLE_ADDRESS = 0x18;
constexpr uint32_t SMBIOS_EPS_COUNT = 0x1C;
constexpr uint32_t SMBIOS_EPS_BCD_REVISION = 0x1E;
constexpr uint32_t SMBIOS_EPS_SIZE = 0x1F;
constexpr uint32_t SMBIOS_DMI_PART_SIZE = 0x0F;  // "_DMI_" to the BCD revision

// Structure header and the string-number fields the simulator fills.
constexpr uint32_t SMBIOS_HDR_TYPE = 0x00;
constexpr uint32_t SMBIOS_HDR_LENGTH = 0x01;
constexpr uint32_t SMBIOS_HDR_HANDLE = 0x02;
constexpr uint32_t SMBIOS_HDR_SIZE = 0x04;
constexpr uint32_t SMBIOS_BIOS_VENDOR = 0x04;     // type 0
constexpr uint32_t SMBIOS_BIOS_VERSION = 0x05;
constexpr uint32_t SMBIOS_BIOS_DATE = 0x08;
constexpr uint32_t SMBIOS_SYS_MANUFACTURER = 0x04;  // type 1
constexpr uint32_t SMBIOS_SYS_PRODUCT = 0x05;
constexpr uint32_t SMBIOS_SYS_VERSION = 0x06;
constexpr uint32_t SMBIOS_SYS_SERIAL = 0x07;
constexpr uint32_t SMBIOS_SYS_UUID = 0x08;
constexpr uint32_t SMBIOS_SYS_SKU = 0x19;
constexpr uint32_t SMBIOS_CHASSIS_ASSET_TAG = 0x08;
constexpr uint32_t SMBIOS_OEM_COUNT = 0x04;
constexpr uint8_t SMBIOS_TYPE_BIOS = 0;
constexpr uint8_t SMBIOS_TYPE_SYSTEM = 1;
constexpr uint8_t SMBIOS_TYPE_BASEBOARD = 2;
constexpr uint8_t SMBIOS_TYPE_CHASSIS = 3;
constexpr uint8_t SMBIOS_TYPE_OEM_STRINGS = 11;
constexpr uint8_t SMBIOS_TYPE_END = 127;

struct SmbiosIdentity {
    std::string biosVendor, biosVersion, biosDate;
    std::string manufacturer, product, version, serial;
    uint8_t uuid[16] = {};
    std::string sku;  // the machine type/model
    std::string boardManufacturer, boardProduct, boardVersion, boardSerial;
    std::string assetTag;   // chassis (type 3)
    std::string oemString;  // OEM strings (type 11), absent when empty
};

// Writes the entry point at area[entryOffset] (a 16-byte boundary) and the
// table right behind it; addresses in the entry point are areaBase + offset.
// Returns false, writing nothing, when the tables would not fit in the area.
bool writeSmbiosTables(uint8_t* area, size_t areaSize, uint32_t areaBase,
                       uint32_t entryOffset, const SmbiosIdentity& identity);

// The BIOS version string an SMBIOS consumer finds in a legacy area mapped at
// areaBase: the first "_SM_" or "_DMI_" anchor on a 16-byte boundary, its table
// (which must lie inside the area), the first type 0 structure, its string
// number at offset 5. Empty when any of these is missing.
std::string findSmbiosBiosVersion(const uint8_t* area, size_t areaSize, uint32_t areaBase);
