#include "flash/inspect.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chipset/flash_guards.h"
#include "chipset/flash_parts.h"
#include "chipset/ich10spi.h"
#include "chipset/pci.h"
#include "flash/exit_status.h"
#include "flash/image_file.h"
#include "os/file_access.h"
#include "flash/report.h"
#include "flash/runseq.h"
#include "flash/settings.h"
#include "flash/switches.h"
#include "platform/platform.h"
#include "platform/x86qm.h"
#include "tables/smbios.h"

namespace {

constexpr unsigned int PRODUCT_NAME_FIELD = 0x05;  // type 1: Product Name string number
constexpr unsigned int FAMILY_PREFIX_LENGTH = 4;   // "61QM", "62QM"
constexpr uint8_t STATUS_SRWD = 0x80;  // status register write disable: held while WP# is low

// Makes `bank` the active one for the life of the object and switches back:
// the controller reaches only the part of the active bank.
class BankVisit {
public:
    BankVisit(OS* host, int bank) : os(host), switched((senseActiveBank(host) != 0) != (bank != 0)) {
        if (switched) change_pb_gpio(os);
    }
    ~BankVisit() {
        if (switched) change_pb_gpio(os);
    }
    BankVisit(const BankVisit&) = delete;
    BankVisit& operator=(const BankVisit&) = delete;

private:
    OS* os;
    bool switched;
};

std::string statusText(const FlashGuards& guards, const FlashPartRow* part) {
    if (!guards.statusKnown) return "unreadable";
    char text[160];
    std::snprintf(text, sizeof text, "0x%02X (%s%s)", guards.status,
                  blockProtectionSet(part, guards.status) ? "blocks protected"
                                                          : "no block protected",
                  (guards.status & STATUS_SRWD) ? "; locked while WP# is low" : "");
    return text;
}

const char* levelText(int level, const char* high, const char* low) {
    return level < 0 ? "unknown" : level ? high : low;
}

}  // namespace

unsigned long familyImageSize(int family) {
    return family == MODEL_61QM ? IMAGE_SIZE_61QM : family == MODEL_62QM ? IMAGE_SIZE_62QM : 0ul;
}

void readMachineFacts(OS* os, const Chipset* probe) {
    RunFacts& facts = runFacts();
    char version[PLATFORM_TEXT_SIZE] = {};
    const int family = identify_plat(os, version);
    facts.biosVersion = version;
    facts.family = family == MODEL_UNKNOWN ? "" : facts.biosVersion.substr(0, FAMILY_PREFIX_LENGTH);
    SMBIOS smbios;
    smbios.init(os);
    const s_SMBIOSHeader* system = smbios.getStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1);
    if (system != nullptr && system->length > PRODUCT_NAME_FIELD) {
        const char* product =
            smbiosStr(system, reinterpret_cast<const unsigned char*>(system)[PRODUCT_NAME_FIELD]);
        if (product != nullptr) facts.product = product;
    }
    if (const auto* spi = dynamic_cast<const ich10spiChipset*>(probe))
        if (spi->flashPart() != nullptr) facts.part = spi->flashPart()->name;
}

int showInfo(OS* os, const Chipset* probe) {
    const RunFacts& facts = runFacts();
    const auto* spi = dynamic_cast<const ich10spiChipset*>(probe);
    const FlashPartRow* part = spi != nullptr ? spi->flashPart() : nullptr;
    const int active = senseActiveBank(os) != 0;
    std::printf("product: %s\n", facts.product.c_str());
    std::printf("family: %s\n", facts.family.c_str());
    std::printf("bios_version: %s\n", facts.biosVersion.c_str());
    std::printf("flash_part: %s\n", part != nullptr ? part->name : "unknown");
    std::printf("flash_size: 0x%X\n", part != nullptr ? unsigned(part->size) : 0u);
    std::printf("active_bank: %s\n", bankName(active));
    FlashGuards guards[2];
    for (int bank : {active, 1 - active}) {
        const BankVisit visit(os, bank);
        guards[bank] = readFlashGuards(os);
    }
    for (int bank : {0, 1})
        std::printf("status_register.%s: %s\n", bankName(bank), statusText(guards[bank], part).c_str());
    const FlashGuards& now = guards[active];
    std::printf("flash_wp: %s\n", !now.wpKnown ? "unknown"
                                  : (now.wpLevel && !now.wpDirection) ? "high (writes allowed)"
                                  : now.wpDirection ? "input"
                                                    : "low (WP# asserted)");
    std::printf("bioswe: %d\n", (now.biosControl & BIOS_CNTL_BIOSWE) != 0);
    std::printf("eeprom_wp: %s\n", levelText(eepromLineLevel(os), "high (locked)", "low (unlocked)"));
    std::fflush(stdout);
    return 0;
}

int dumpActiveBank(OS* os, Chipset* probe) {
    auto* spi = dynamic_cast<ich10spiChipset*>(probe);
    char version[PLATFORM_TEXT_SIZE] = {};
    const unsigned long size = familyImageSize(identify_plat(os, version));
    uint32_t offset = 0;
    if (spi == nullptr || !imageRangeOfSize(os, uint32_t(size), &offset)) {
        std::fprintf(stderr, "The flash of this machine has no range laid out as an image file\n");
        explainRefusal("Nothing was dumped: the flash part or the board generation is not known");
        return EXIT_OUTPUT_REFUSED;
    }
    std::vector<uint8_t> bank(size);
    if (spi->readQuiet(offset, uint32_t(size), bank.data()) != 0) {
        std::fprintf(stderr, "The flash could not be read at 0x%X\n", unsigned(offset));
        explainRefusal("Nothing was dumped to %s", DUMP_FNAME);
        return EXIT_OUTPUT_REFUSED;
    }
    std::string why;
    if (!writeOutputFile(DUMP_FNAME, bank.data(), bank.size(), &why)) {
        std::fprintf(stderr, "The dump could not be written\n");
        explainRefusal("%s", why.c_str());
        return EXIT_OUTPUT_REFUSED;
    }
    runFacts().bank = senseActiveBank(os) != 0;
    std::printf("The %s bank (flash 0x%X to 0x%X) was dumped to %s\n", bankName(runFacts().bank),
                unsigned(offset), unsigned(offset + size - 1), DUMP_FNAME);
    return 0;
}

int verifyBank(OS* os, Platform* platform, Chipset* probe) {
    RunFacts& facts = runFacts();
    const int bank = (flashmode & MODE_BACKUP) ? 1
                     : (flashmode & MODE_PRIMARY) ? 0
                                                  : int(senseActiveBank(os) != 0);
    facts.bank = bank;
    const char* name = VERIFY_FNAME[0] ? VERIFY_FNAME : bank ? BBIOS_FNAME : PBIOS_FNAME;
    s_FlashMap* map = platform->getFlashMap();
    s_FirmwareFile* file =
        map->descriptions[bank ? BACKUP_DESCRIPTION_INDEX : PRIMARY_DESCRIPTION_INDEX]->files[0];
    file->name = const_cast<char*>(name);
    auto* spi = dynamic_cast<ich10spiChipset*>(probe);

    std::vector<uint8_t> wanted(file->size);
    ImageOpen opened = openImageFile(name);
    const int openError = errno;
    if (!opened.file) {
        std::fprintf(stderr, "Error opening %s\n", name);
        explainRefusal("%s cannot be opened: %s", name, std::strerror(openError));
        return EXIT_IMAGE_UNUSABLE;
    }
    std::fseek(opened.file.get(), 0, SEEK_END);
    const unsigned long length = static_cast<unsigned long>(std::ftell(opened.file.get()));
    char version[PLATFORM_TEXT_SIZE] = {};
    const unsigned long expected = familyImageSize(identify_plat(os, version));
    if (length != expected || length != file->size) {
        std::printf("Corrupt BIOS file, exiting\n");
        explainRefusal("%s is 0x%lX bytes; an image file of this family is 0x%lX bytes", name,
                       length, expected);
        return EXIT_IMAGE_SIZE;
    }
    std::rewind(opened.file.get());
    if (spi == nullptr || std::fread(wanted.data(), 1, wanted.size(), opened.file.get()) != wanted.size()) {
        explainRefusal("%s could not be read, or the flash part is not known", name);
        return EXIT_IMAGE_UNUSABLE;
    }

    // The identity is carried from the bank compared, as an update of it
    // would carry it; the bank is left active only while it is read.
    const BankVisit visit(os, bank);
    platform->modifyImage(wanted.data(), file, nullptr, nullptr, nullptr, nullptr);
    if (const int refused = platform->modifyImageResult()) return refused;
    std::vector<uint8_t> found(file->size);
    if (spi->readQuiet(file->offset, file->size, found.data()) != 0) {
        explainRefusal("The %s bank could not be read; nothing was compared", bankName(bank));
        return EXIT_VERIFY_DIFFERS;
    }

    // Blocks an update leaves alone are not compared.
    uint64_t differing = 0;
    uint32_t first = 0;
    const s_FlashBlock* blocks = spi->blockTable();
    for (int i = 0; i < spi->blockTableSize(); ++i) {
        const s_FlashBlock& block = blocks[i];
        if (block.skip || block.address < file->offset ||
            uint64_t(block.address) + block.size > uint64_t(file->offset) + file->size)
            continue;
        const uint32_t at = block.address - file->offset;
        for (uint32_t k = 0; k < block.size; ++k) {
            if (wanted[at + k] == found[at + k]) continue;
            if (differing++ == 0) first = block.address + k;
        }
    }
    facts.verify = differing == 0 ? VerifyResult::Ok : VerifyResult::Failed;
    if (differing == 0) {
        std::printf("The %s bank holds %s as an update would write it\n", bankName(bank), name);
        return 0;
    }
    std::printf("The %s bank differs from %s\n", bankName(bank), name);
    explainRefusal("first difference at flash address 0x%X, %llu bytes differ", unsigned(first),
                   static_cast<unsigned long long>(differing));
    return EXIT_VERIFY_DIFFERS;
}
