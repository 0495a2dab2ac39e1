#include "sim/board/smbios_builder.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint8_t SMBIOS_MAJOR = 2;
constexpr uint8_t SMBIOS_MINOR = 6;
constexpr uint8_t SMBIOS_BCD = 0x26;
constexpr uint32_t ANCHOR_ALIGN = 16;
constexpr uint8_t BIOS_INFO_LENGTH = 0x18;   // 2.4+ formatted area sizes
constexpr uint8_t SYSTEM_INFO_LENGTH = 0x1B;
constexpr uint8_t BASEBOARD_LENGTH = 0x08;
constexpr uint8_t CHASSIS_LENGTH = 0x09;
constexpr uint8_t OEM_STRINGS_LENGTH = 0x05;
constexpr uint8_t CHASSIS_DESKTOP = 0x03;
constexpr uint16_t BIOS_START_SEGMENT = 0xE800;
constexpr uint8_t BIOS_ROM_SIZE_64K_UNITS = 0x1F;  // (n + 1) x 64 KiB: 2 MiB
constexpr uint8_t BIOS_CHAR_PCI_FLASH_SHADOW = 0x88;  // PCI, upgradeable
constexpr uint8_t WAKEUP_POWER_SWITCH = 0x06;

uint8_t checksumByte(const uint8_t* data, size_t size) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = uint8_t(sum + data[i]);
    return uint8_t(-sum);
}

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One structure being assembled: formatted area, then its string set.
class StructureWriter {
public:
    StructureWriter(uint8_t type, uint8_t length, uint16_t handle) : bytes_(length, 0) {
        bytes_[SMBIOS_HDR_TYPE] = type;
        bytes_[SMBIOS_HDR_LENGTH] = length;
        put16(&bytes_[SMBIOS_HDR_HANDLE], handle);
    }
    uint8_t* field(uint32_t offset) { return &bytes_[offset]; }
    // Stores a string's number at offset; an empty string gets number 0.
    void string(uint32_t offset, const std::string& text) {
        if (text.empty()) return;
        strings_.push_back(text);
        bytes_[offset] = uint8_t(strings_.size());
    }
    void appendTo(std::vector<uint8_t>& table) const {
        table.insert(table.end(), bytes_.begin(), bytes_.end());
        for (const std::string& s : strings_) {
            table.insert(table.end(), s.begin(), s.end());
            table.push_back(0);
        }
        if (strings_.empty()) table.push_back(0);
        table.push_back(0);
    }

private:
    std::vector<uint8_t> bytes_;
    std::vector<std::string> strings_;
};

}  // namespace

bool writeSmbiosTables(uint8_t* area, size_t areaSize, uint32_t areaBase, uint32_t entryOffset,
                       const SmbiosIdentity& id) {
    std::vector<uint8_t> table;
    uint16_t handle = 0;
    size_t largest = 0;
    auto add = [&](const StructureWriter& s) {
        size_t before = table.size();
        s.appendTo(table);
        if (table.size() - before > largest) largest = table.size() - before;
        ++handle;
    };

    StructureWriter bios(SMBIOS_TYPE_BIOS, BIOS_INFO_LENGTH, handle);
    bios.string(SMBIOS_BIOS_VENDOR, id.biosVendor);
    bios.string(SMBIOS_BIOS_VERSION, id.biosVersion);
    put16(bios.field(0x06), BIOS_START_SEGMENT);
    bios.string(SMBIOS_BIOS_DATE, id.biosDate);
    *bios.field(0x09) = BIOS_ROM_SIZE_64K_UNITS;
    *bios.field(0x0A) = BIOS_CHAR_PCI_FLASH_SHADOW;
    add(bios);

    StructureWriter system(SMBIOS_TYPE_SYSTEM, SYSTEM_INFO_LENGTH, handle);
    system.string(SMBIOS_SYS_MANUFACTURER, id.manufacturer);
    system.string(SMBIOS_SYS_PRODUCT, id.product);
    system.string(SMBIOS_SYS_VERSION, id.version);
    system.string(SMBIOS_SYS_SERIAL, id.serial);
    std::memcpy(system.field(SMBIOS_SYS_UUID), id.uuid, sizeof id.uuid);
    *system.field(0x18) = WAKEUP_POWER_SWITCH;
    system.string(SMBIOS_SYS_SKU, id.sku);
    add(system);

    StructureWriter board(SMBIOS_TYPE_BASEBOARD, BASEBOARD_LENGTH, handle);
    board.string(0x04, id.boardManufacturer);
    board.string(0x05, id.boardProduct);
    board.string(0x06, id.boardVersion);
    board.string(0x07, id.boardSerial);
    add(board);

    StructureWriter chassis(SMBIOS_TYPE_CHASSIS, CHASSIS_LENGTH, handle);
    chassis.string(0x04, id.manufacturer);
    *chassis.field(0x05) = CHASSIS_DESKTOP;
    chassis.string(SMBIOS_CHASSIS_ASSET_TAG, id.assetTag);
    add(chassis);

    if (!id.oemString.empty()) {
        StructureWriter oem(SMBIOS_TYPE_OEM_STRINGS, OEM_STRINGS_LENGTH, handle);
        oem.string(SMBIOS_OEM_COUNT, id.oemString);
        add(oem);
    }

    add(StructureWriter(SMBIOS_TYPE_END, SMBIOS_HDR_SIZE, handle));

    uint32_t tableOffset = entryOffset + 0x20;
    if (entryOffset % ANCHOR_ALIGN != 0 || tableOffset > areaSize ||
        table.size() > areaSize - tableOffset || table.size() > 0xFFFF)
        return false;

    uint8_t* eps = area + entryOffset;
    std::memset(eps, 0, 0x20);
    std::memcpy(eps, "_SM_", 4);
    eps[SMBIOS_EPS_LENGTH] = SMBIOS_EPS_SIZE;
    eps[SMBIOS_EPS_MAJOR] = SMBIOS_MAJOR;
    eps[SMBIOS_EPS_MINOR] = SMBIOS_MINOR;
    put16(eps + SMBIOS_EPS_MAX_STRUCT, uint16_t(largest));
    std::memcpy(eps + SMBIOS_EPS_DMI_ANCHOR, "_DMI_", 5);
    put16(eps + SMBIOS_EPS_TABLE_LENGTH, uint16_t(table.size()));
    put32(eps + SMBIOS_EPS_TABLE_ADDRESS, areaBase + tableOffset);
    put16(eps + SMBIOS_EPS_COUNT, handle);
    eps[SMBIOS_EPS_BCD_REVISION] = SMBIOS_BCD;
    eps[SMBIOS_EPS_DMI_CHECKSUM] =
        checksumByte(eps + SMBIOS_EPS_DMI_ANCHOR, SMBIOS_DMI_PART_SIZE);
    eps[SMBIOS_EPS_CHECKSUM] = checksumByte(eps, SMBIOS_EPS_SIZE);
    std::memcpy(area + tableOffset, table.data(), table.size());
    return true;
}

std::string findSmbiosBiosVersion(const uint8_t* area, size_t areaSize, uint32_t areaBase) {
    // Where the table fields sit relative to the anchor that was found.
    size_t dmiPart = 0;
    bool found = false;
    for (size_t off = 0; off + 4 <= areaSize && !found; off += ANCHOR_ALIGN) {
        if (std::memcmp(area + off, "_SM_", 4) == 0) {
            dmiPart = off + SMBIOS_EPS_DMI_ANCHOR;
            found = true;
        } else if (off + 5 <= areaSize && std::memcmp(area + off, "_DMI_", 5) == 0) {
            dmiPart = off;
            found = true;
        }
    }
    if (!found || dmiPart + SMBIOS_DMI_PART_SIZE > areaSize) return "";
    const uint8_t* dmi = area + dmiPart;
    size_t length = size_t(dmi[0x06]) | size_t(dmi[0x07]) << 8;
    uint32_t address = get32(dmi + 0x08);
    size_t count = size_t(dmi[0x0C]) | size_t(dmi[0x0D]) << 8;
    if (address < areaBase || address - areaBase > areaSize ||
        length > areaSize - (address - areaBase))
        return "";
    const uint8_t* table = area + (address - areaBase);

    size_t pos = 0;
    for (size_t n = 0; n < count && pos + SMBIOS_HDR_SIZE <= length; ++n) {
        uint8_t type = table[pos + SMBIOS_HDR_TYPE];
        uint8_t formatted = table[pos + SMBIOS_HDR_LENGTH];
        if (formatted < SMBIOS_HDR_SIZE || pos + formatted > length) return "";
        if (type == SMBIOS_TYPE_BIOS) {
            if (formatted <= SMBIOS_BIOS_VERSION) return "";
            uint8_t number = table[pos + SMBIOS_BIOS_VERSION];
            if (number == 0) return "";
            size_t s = pos + formatted;
            for (uint8_t i = 1; i < number; ++i) {
                while (s < length && table[s] != 0) ++s;
                ++s;
                if (s >= length || table[s] == 0) return "";  // past the string set
            }
            size_t end = s;
            while (end < length && table[end] != 0) ++end;
            if (end >= length) return "";
            return std::string(reinterpret_cast<const char*>(table + s), end - s);
        }
        if (type == SMBIOS_TYPE_END) return "";
        pos += formatted;
        while (pos + 1 < length && (table[pos] != 0 || table[pos + 1] != 0)) ++pos;
        pos += 2;
    }
    return "";
}
