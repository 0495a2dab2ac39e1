#include "platform/x86qm.h"

#include <cstring>

#include "chipset/ich10spi.h"
#include "flash/settings.h"
#include "os/os.h"
#include "platform/pci_regs.h"
#include "platform/sp_ctl_ports.h"
#include "tables/smbios.h"
#include "tables/utils.h"

char plat_num[PLAT_NUM_SIZE] = {};

namespace {

// Flash geometry of each board generation. A whole-flash image covers the
// device from offset 0; a region image covers only the BIOS region.
struct GenerationLayout {
    uint32_t flashSize;
    uint32_t regionOffset;
    uint32_t regionSize;
};

constexpr GenerationLayout PCH_LAYOUT = {0x800000, 0x600000, 0x200000};
constexpr GenerationLayout ICH_LAYOUT = {0x200000, 0x3000, 0x180000};
// A host bridge of neither generation gets an empty map: flash size 0 and
// both BIOS files at offset 0 with size 0, so no flash range can be erased or
// written on a board whose layout is not known.
constexpr GenerationLayout UNKNOWN_LAYOUT = {0, 0, 0};

// The descriptions of the family, in map order. A BIOS entry (regionBit set)
// takes its place from the generation and that bit of image_bios_type; the
// others have fixed places.
struct DescriptionRow {
    uint32_t id;
    const char* defaultName;
    unsigned short regionBit;  // 0: fixed offset/size below
    uint32_t offset;
    uint32_t size;
};

constexpr DescriptionRow DESCRIPTIONS[X86QM_DESCRIPTION_COUNT] = {
    {FW_PRIMARY_BIOS, "xv3LpoSa.ROM", IMAGE_PRIMARY_REGION, 0, 0},
    {FW_SP_LPC, "LPCSPFW.BIN", 0, 0x4000, 0xC000},
    {FW_SP_FULL, "SPFULL.BIN", 0, 0, 0x10000},
    {FW_BACKUP_BIOS, "4qj9nusd.ROM", IMAGE_BACKUP_REGION, 0, 0},
};

// One read-modify-write of a PCI configuration dword: new = (old & andMask) | orMask.
struct PciRmw {
    uint32_t address;
    uint32_t andMask;
    uint32_t orMask;
};

constexpr uint32_t KEEP_ALL = 0xFFFFFFFF;

constexpr PciRmw ENABLE_FLASH_WRITE[] = {
    {pci::LPC_BRIDGE_REG00, KEEP_ALL, pci::LPC_REG00_WRITE_OPEN},
    {pci::D3F7_REG40, ~pci::D3F7_REG40_BIT15, 0},
    {pci::D3F7_REGC0, KEEP_ALL, pci::D3F7_REGC0_WRITE_OPEN},
};

constexpr PciRmw DISABLE_FLASH_WRITE[] = {
    {pci::LPC_BRIDGE_REG00, KEEP_ALL, pci::LPC_REG00_WRITE_OPEN},
    {pci::D3F7_REG40, ~pci::D3F7_REG40_BIT15, 0},
    {pci::D3F7_REGC0, ~pci::D3F7_REGC0_WRITE_OPEN, 0},
};

// One step of the service-processor mode sequence: a byte read-modify-write
// (new = (old & andMask) | orMask) or a settling pause.
struct PortStep {
    unsigned short port;  // 0: pause
    unsigned char andMask;
    unsigned char orMask;
};

constexpr unsigned short PAUSE = 0;
constexpr unsigned char KEEP = 0xFF;

constexpr PortStep PROGRAMMING_MODE_ON[] = {
    {spctl::PORT_83B, spctl::KEEP_BIT7, 0},
    {spctl::PORT_83E, spctl::KEEP_BIT7, 0},
    {spctl::PORT_84B, static_cast<unsigned char>(~spctl::BIT4), 0},
    {PAUSE, 0, 0},
    {spctl::PORT_84E, static_cast<unsigned char>(~spctl::BIT0), spctl::BIT3},
    {PAUSE, 0, 0},
    {spctl::PORT_84B, KEEP, spctl::BIT4},
    {PAUSE, 0, 0},
};

constexpr PortStep PROGRAMMING_MODE_OFF[] = {
    {spctl::PORT_83B, spctl::KEEP_BIT7, 0},
    {spctl::PORT_83E, spctl::KEEP_BIT7, 0},
    {spctl::PORT_84B, static_cast<unsigned char>(~spctl::BIT4), 0},
    {PAUSE, 0, 0},
    // Bits 0 and 3 are distinct, so setting bit 0 then clearing bit 3 is one mask pair.
    {spctl::PORT_84E, static_cast<unsigned char>(~spctl::BIT3), spctl::BIT0},
    {PAUSE, 0, 0},
    {spctl::PORT_84B, KEEP, spctl::BIT4},
    {PAUSE, 0, 0},
    {spctl::PORT_83B, KEEP, spctl::BIT0},
    {spctl::PORT_83E, KEEP, spctl::BIT0},
};

// Reads the host bridge identity the way the board code always has: one
// address write, then two data reads, the first tested for the PCH identity
// and the second for the ICH one.
const GenerationLayout& readGeneration(OS* os) {
    os->outportDword(pci::CONFIG_ADDRESS, pci::HOST_BRIDGE_ID);
    const bool pch = os->inportDword(pci::CONFIG_DATA) == pci::HOST_BRIDGE_ID_PCH;
    const bool ich = os->inportDword(pci::CONFIG_DATA) == pci::HOST_BRIDGE_ID_ICH;
    if (ich) return ICH_LAYOUT;
    if (pch) return PCH_LAYOUT;
    return UNKNOWN_LAYOUT;
}

void runPciSequence(OS* os, const PciRmw* steps, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        os->outportDword(pci::CONFIG_ADDRESS, steps[i].address);
        const uint32_t value = os->inportDword(pci::CONFIG_DATA);
        os->outportDword(pci::CONFIG_DATA, (value & steps[i].andMask) | steps[i].orMask);
    }
}

}  // namespace

bool imageRangeOfSize(OS* os, uint32_t size, uint32_t* offset) {
    const GenerationLayout& layout = readGeneration(os);
    if (size == 0) return false;
    if (layout.flashSize == size) *offset = 0;
    else if (layout.regionSize == size) *offset = layout.regionOffset;
    else return false;
    return true;
}

x86QMPlatform::x86QMPlatform(OS* os) : flashMap(new s_FlashMap{}), host(os) {
    flashMap->blockSize = X86QM_BLOCK_SIZE;
    flashMap->flashSize = readGeneration(host).flashSize;
    flashMap->descriptionCount = X86QM_DESCRIPTION_COUNT;
    flashMap->descriptions = new s_FirmwareDescription*[X86QM_DESCRIPTION_COUNT];

    for (int i = 0; i < X86QM_DESCRIPTION_COUNT; ++i) {
        const DescriptionRow& row = DESCRIPTIONS[i];
        s_FirmwareDescription* description = new s_FirmwareDescription{};
        description->id = row.id;
        description->fileCount = 1;
        description->files = new s_FirmwareFile*[1];
        s_FirmwareFile* file = new s_FirmwareFile{};
        description->files[0] = file;
        flashMap->descriptions[i] = description;

        defaultNames[i].reset(allocstr(row.defaultName));
        file->name = defaultNames[i].get();
        if (row.regionBit == 0) {
            file->offset = row.offset;
            file->size = row.size;
            continue;
        }
        // The generation is read afresh for each BIOS entry.
        const GenerationLayout& layout = readGeneration(host);
        if (image_bios_type & row.regionBit) {
            file->offset = layout.regionOffset;
            file->size = layout.regionSize;
        } else {
            file->offset = 0;
            file->size = layout.flashSize;
        }
    }
}

// The file names go with defaultNames.
x86QMPlatform::~x86QMPlatform() {
    for (int i = 0; i < flashMap->descriptionCount; ++i) {
        s_FirmwareDescription* description = flashMap->descriptions[i];
        for (int f = 0; f < description->fileCount; ++f) delete description->files[f];
        delete[] description->files;
        delete description;
    }
    delete[] flashMap->descriptions;
    delete flashMap;
}

int x86QMPlatform::identify() {
    static const char* const FAMILY_PREFIXES[] = {"61QM", "62QM"};
    constexpr size_t PREFIX_LENGTH = 4;

    std::memset(plat_num, 0, sizeof plat_num);
    SMBIOS smbios;
    smbios.init(host);
    const s_SMBIOSHeader* bios = smbios.getStructureByType(SMBIOS_TYPE_BIOS_INFORMATION, 1);
    if (bios == nullptr) return 0;
    // smbiosByte reads 0 (no string) when the structure is too short for the field.
    const char* version = smbiosStr(bios, smbiosByte(bios, BIOS_INFO_VERSION));
    if (version == nullptr) return 0;
    std::strncpy(plat_num, version, PLAT_NUM_SIZE - 1);

    for (const char* prefix : FAMILY_PREFIXES)
        if (std::strncmp(plat_num, prefix, PREFIX_LENGTH) == 0) return 1;
    return 0;
}

s_FlashMap* x86QMPlatform::getFlashMap() { return flashMap; }

int x86QMPlatform::getFlashBank() { return 0; }

void x86QMPlatform::setFlashBank(int) {}

void x86QMPlatform::enableFlashWrite() {
    runPciSequence(host, ENABLE_FLASH_WRITE, sizeof ENABLE_FLASH_WRITE / sizeof ENABLE_FLASH_WRITE[0]);
}

void x86QMPlatform::disableFlashWrite() {
    runPciSequence(host, DISABLE_FLASH_WRITE,
                   sizeof DISABLE_FLASH_WRITE / sizeof DISABLE_FLASH_WRITE[0]);
}

void x86QMPlatform::SetH8ProgrammingMode(bool on) {
    const PortStep* steps = on ? PROGRAMMING_MODE_ON : PROGRAMMING_MODE_OFF;
    const size_t count = on ? sizeof PROGRAMMING_MODE_ON / sizeof PROGRAMMING_MODE_ON[0]
                            : sizeof PROGRAMMING_MODE_OFF / sizeof PROGRAMMING_MODE_OFF[0];
    for (size_t i = 0; i < count; ++i) {
        if (steps[i].port == PAUSE) {
            host->sleep(spctl::SETTLE_MS);
            continue;
        }
        const unsigned char value = host->inportByte(steps[i].port);
        host->outportByte(steps[i].port,
                          static_cast<unsigned char>((value & steps[i].andMask) | steps[i].orMask));
    }
}

Chipset* x86QMPlatform::getChipset() {
    Chipset* chipset = new ich10spiChipset(host, this);
    if (chipset->identify() != 0) return chipset;
    delete chipset;
    return nullptr;
}

const char* x86QMPlatform::getServiceProcessorPort() { return "1"; }
