#include "flash/runseq.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "chipset/chipset_bases.h"
#include "chipset/flash_guards.h"
#include "chipset/ich10spi.h"
#include "flash/exit_status.h"
#include "flash/flashbios.h"
#include "flash/image_family.h"
#include "flash/image_file.h"
#include "flash/inspect.h"
#include "flash/machine_lock.h"
#include "flash/report.h"
#include "flash/settings.h"
#include "flash/switches.h"
#include "flash/write_plan.h"
#include "os/os.h"
#include "platform/platform.h"
#include "platform/vpd.h"
#include "tables/smbios.h"

namespace {

// String fields of the SMBIOS structures the run reads.
constexpr unsigned int BIOS_VERSION_FIELD = 0x05;   // type 0: BIOS Version string number
constexpr unsigned int PRODUCT_NAME_FIELD = 0x05;   // type 1: Product Name string number

// The string numbered by the byte at `field` of a structure, or null.
const char* structureString(const s_SMBIOSHeader* header, unsigned int field) {
    if (header == nullptr || header->length <= field) {
        return nullptr;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(header);
    return smbiosStr(header, bytes[field]);
}

void refuseMachine(OS* os) {
    std::cerr << "This flash utility is not meant to run on this system." << std::endl;
    SMBIOS smbios;
    smbios.init(os);
    const s_SMBIOSHeader* system = smbios.getStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1);
    if (system != nullptr) {
        const char* product = structureString(system, PRODUCT_NAME_FIELD);
        std::cerr << "Please visit the support website and download the appropriate update for "
                  << std::endl
                  << (product != nullptr ? product : "") << std::endl;
    }
}

// After a failed update: the bank that will boot, and what to do before a reboot.
void explainFailedUpdate(OS* os) {
    const int boots = senseActiveBank(os) != 0;
    explainRefusal("The %s bank will boot next; the bank written may hold a partial image: "
                   "check it with lromup /verify before rebooting, or write it again",
                   bankName(boots));
}

// Reports the bank change with the line that matches the bank that was
// active before the toggle.
void changeBootBank(OS* os) {
    std::cout << "Booting BIOS will be changed" << std::endl;
    const unsigned char before = senseActiveBank(os);
    change_pb_gpio(os);
    if (before == 0) {
        std::cout << "The booting BIOS change from Primay to Backup BIOS" << std::endl;
    } else {
        std::cout << "The booting BIOS change from Backup to Primary BIOS" << std::endl;
    }
}

struct BankUpdate {
    int descriptionIndex;
    char* fileName;
    bool wantBackupActive;  // the bank that must be active while writing
    int id;
    const char* label;
    const char* switchName;
    unsigned short regionBit;  // of image_bios_type
};

// The file's length, and its first `limit` bytes (fewer when it is shorter)
// in image; -1 when it cannot be opened or read.
long readImage(const char* name, size_t limit, std::vector<unsigned char>& image) {
    ImageOpen opened = openImageFile(name);
    if (!opened.file || std::fseek(opened.file.get(), 0, SEEK_END) != 0) return -1;
    const long length = std::ftell(opened.file.get());
    if (length < 0) return -1;
    image.resize(size_t(length) < limit ? size_t(length) : limit);
    std::rewind(opened.file.get());
    if (std::fread(image.data(), 1, image.size(), opened.file.get()) != image.size()) return -1;
    return length;
}

// An update that would write no block at all, or an image that cannot boot
// where it is written, is refused here, before the bank is switched.
int checkWrite(const Chipset* probe, const s_FirmwareFile& file,
               const std::vector<unsigned char>& image, int family) {
    // No range known: the update reports that with its own message.
    if (file.size == 0) return 0;
    // A part of another size than the map's would make the plan below look
    // at the wrong blocks: name the part first.
    if (const auto* spi = dynamic_cast<const ich10spiChipset*>(probe)) {
        if (const int wrongPart = spi->checkPartFitsMap()) return wrongPart;
    }
    const WritePlan plan = planWrite(*probe, file);
    if (plan.beyondPart) return 0;
    if (plan.blocks == 0) {
        std::fprintf(stderr,
                     "No block of %s would be written: every 4 KiB block of its flash range "
                     "0x%X to 0x%X is one this update%s leaves alone; nothing was written and the "
                     "active bank was not changed\n",
                     file.name, unsigned(file.offset), unsigned(file.offset + file.size - 1),
                     updt_bblk ? " (boot block only)" : "");
        return EXIT_NOTHING_TO_WRITE;
    }
    if (const char* why = unbootableImageReason(image.data(), image.size(), plan)) {
        std::fprintf(stderr, "%s cannot boot: %s; nothing was written\n", file.name, why);
        return EXIT_IMAGE_CANNOT_BOOT;
    }
    if (const char* why = notFamilyImageReason(image.data(), image.size(), family)) {
        std::fprintf(stderr,
                     "%s is not a BIOS for this machine: %s; nothing was written and the active "
                     "bank was not changed.\nNote: %s.\n",
                     file.name, why, familyImageDescription());
        return EXIT_NOT_FAMILY_IMAGE;
    }
    return 0;
}

void explainImageSize(const char* name, long length, long expected) {
    explainRefusal("%s is 0x%lX bytes; an image file of this family is 0x%lX bytes: use the image "
                   "made for this machine", name, length, expected);
}

// Points the description's file record at the user's file, reads the file
// once into image (what will be written, the record's size) and checks it for
// the family and for what would be written. Returns 0 to go on, or the status
// to end with.
int checkImage(OS* os, Platform* platform, const Chipset* probe, const BankUpdate& update,
               std::vector<unsigned char>& image) {
    s_FlashMap* map = platform->getFlashMap();
    // A map without the description: the lookup's own messages and status,
    // before the bank is switched.
    if (map->descriptionCount <= update.descriptionIndex ||
        map->descriptions[update.descriptionIndex]->id != unsigned(update.id)) {
        FindFirmware(os, platform, unsigned(update.id), update.label, update.switchName);
    }
    s_FirmwareFile* file = map->descriptions[update.descriptionIndex]->files[0];
    file->name = update.fileName;
    std::cout << "The ROM file name is: " << file->name << std::endl;

    char model[PLATFORM_TEXT_SIZE] = {};
    const int family = identify_plat(os, model);

    const long length = readImage(file->name, file->size, image);
    if (length < 0) {
        const int error = errno;
        std::cerr << "Error opening " << file->name << std::endl;
        explainRefusal("%s cannot be read: %s", file->name, std::strerror(error));
        return EXIT_IMAGE_UNUSABLE;
    }
    std::printf("The file size is 0x%lxh bytes\n", static_cast<unsigned long>(length));
    std::fflush(stdout);

    if (family == MODEL_61QM && length != IMAGE_SIZE_61QM) {
        std::cout << "The platform is Moro 310 or Moro 320" << std::endl;
        std::cout << "Corrupt BIOS file, exiting" << std::endl;
        explainImageSize(file->name, length, IMAGE_SIZE_61QM);
        return EXIT_IMAGE_SIZE;
    }
    if (family == MODEL_62QM && length != IMAGE_SIZE_62QM) {
        std::cout << "The platform is Moro 330" << std::endl;
        std::cout << "Corrupt BIOS file, exiting" << std::endl;
        explainImageSize(file->name, length, IMAGE_SIZE_62QM);
        return EXIT_IMAGE_SIZE;
    }
    // Found before the bank is switched: the update would end with it at once.
    if (probe == nullptr) {
        std::cerr << "Flash chipset could not be identified" << std::endl;
        runFacts().message = "Flash chipset could not be identified";
        return EXIT_NO_CHIPSET;
    }
    // No range known: the update reports that with its own message.
    if (file->size == 0) return 0;
    if (image.size() < file->size) {
        std::cerr << "Error reading " << file->name << std::endl;
        return EXIT_IMAGE_UNUSABLE;
    }
    // The flash map was laid out from the mark the switch scan read: a file
    // replaced since then is not the one the map describes.
    if (hasRegionMark(image.data(), image.size()) !=
        ((image_bios_type & update.regionBit) != 0)) {
        std::cerr << file->name << " changed while the updater was reading it; nothing was "
                  << "written" << std::endl;
        return EXIT_IMAGE_UNUSABLE;
    }
    return checkWrite(probe, *file, image, family);
}

// Makes the bank of the update the active one and writes the checked image
// into it. The part written ends locked by the update; whatever else the
// update opened is put back as it was found, and on a failure the part's
// protection too.
int writeBank(OS* os, Platform* platform, const BankUpdate& update,
              const std::vector<unsigned char>& image) {
    const bool backupActive = ReadActiveBIOS(os) != 0;
    const bool switched = backupActive != update.wantBackupActive;
    if (switched) {
        change_pb_gpio(os);
    }
    const FlashGuards found = readFlashGuards(os);
    runFacts().bank = update.wantBackupActive ? 1 : 0;
    const int result = FlashBIOS(os, platform, update.id, update.label, update.switchName,
                                 nullptr, nullptr, nullptr, nullptr, image.data());
    if (result != 0) {
        restoreFlashGuards(os, found);
        // Refused before anything was written: the machine boots the bank it
        // booted before the run.
        if (refusedBeforeWriting(result) && switched) {
            change_pb_gpio(os);
        }
    } else {
        restoreBiosControl(os, found);
    }
    printUpdateSummary(os, runFacts().bank);
    return result;
}

int release(OS* os, Platform* platform, int status) {
    noteMachineEnd(os);
    delete platform;
    osDestroy(os);
    return status;
}

}  // namespace

int identify_plat(OS* os, char* text) {
    text[0] = '\0';
    SMBIOS smbios;
    smbios.init(os);
    const char* version = structureString(smbios.getStructureByType(SMBIOS_TYPE_BIOS_INFORMATION, 1),
                                          BIOS_VERSION_FIELD);
    if (version != nullptr) {
        std::strncpy(text, version, PLATFORM_TEXT_SIZE - 1);
        text[PLATFORM_TEXT_SIZE - 1] = '\0';
    }
    if (text[0] == '6' && text[1] == '1') {
        return MODEL_61QM;
    }
    if (text[0] == '6' && text[1] == '2') {
        return MODEL_62QM;
    }
    return MODEL_UNKNOWN;
}

int runSequence() {
    OS* os = osInit();
    const int locked = lockMachineOrRefuse(os);
    if (locked != 0) {
        osDestroy(os);
        return locked;
    }
    Platform* platform = platInit(os);

    if (platform->identify() == 0) {
        readMachineFacts(os, nullptr);
        refuseMachine(os);
        return release(os, platform, EXIT_FOREIGN_MACHINE);
    }
    // With a base register that points nowhere every GPIO or SPI access
    // would land on other devices: nothing is touched, and every mode that
    // would write is refused.
    const bool basesUsable = chipsetBasesUsable(os);
    if (basesUsable) noteMachineStart(os);
    // The probe builds and identifies the chipset, which opens the guards of
    // the active part; they go back at once, so that a run that writes
    // nothing leaves them as it found them. Its block table tells what each
    // update would write.
    std::unique_ptr<Chipset> probe;
    if (basesUsable) {
        const FlashGuards found = readFlashGuards(os);
        probe.reset(platform->getChipset());
        restoreFlashGuards(os, found);
    }
    readMachineFacts(os, probe.get());
    // The looking modes sense the bank line and read both parts: refused too.
    if (!basesUsable && (flashmode & (MODE_INFO | MODE_DUMP | MODE_VERIFY)) != 0) {
        return release(os, platform, EXIT_BAD_CHIPSET_BASE);
    }

    // Looking modes first: they write no flash, and a dump keeps the bank as
    // it was before any update of the same run.
    if ((flashmode & MODE_INFO) != 0) showInfo(os, probe.get());
    if ((flashmode & MODE_DUMP) != 0) {
        const int refused = dumpActiveBank(os, probe.get());
        if (refused != 0) return release(os, platform, refused);
    }
    if ((flashmode & MODE_VERIFY) != 0) {
        return release(os, platform, verifyBank(os, platform, probe.get()));
    }

    // Modes 1 to 5 also run when no mode switch was given.
    auto wanted = [](unsigned short bit) { return flashmode == 0 || (flashmode & bit) != 0; };
    // The platform report ends the run before the updates.
    const bool writes = wanted(MODE_CHANGE_BANK) || wanted(MODE_LOCK_EEPROM) ||
                        wanted(MODE_UNLOCK_EEPROM) ||
                        (!wanted(MODE_PLATFORM) && (flashmode & (MODE_PRIMARY | MODE_BACKUP)) != 0);
    if (!basesUsable && writes) {
        return release(os, platform, EXIT_BAD_CHIPSET_BASE);
    }

    if (wanted(MODE_CHANGE_BANK)) {
        changeBootBank(os);
    }
    if (wanted(MODE_LOCK_EEPROM)) {
        std::cout << "EEPROM will be locked!!" << std::endl;
        LockEEPROM(os);
    }
    if (wanted(MODE_UNLOCK_EEPROM)) {
        std::cout << "EEPROM will be unlock!!" << std::endl;
        UnlockEEPROM(os);
    }
    if (wanted(MODE_PLATFORM)) {
        char model[PLATFORM_TEXT_SIZE] = {};
        return release(os, platform, identify_plat(os, model));
    }

    int result = 0;
    if (wanted(MODE_PRIMARY)) {
        if (vpdonly) {
            result = GetVPDInfo(os, platform);
        } else {
            const BankUpdate primary{PRIMARY_DESCRIPTION_INDEX, PBIOS_FNAME, false, 0, "BIOS",
                                     nullptr, IMAGE_PRIMARY_REGION};
            std::vector<unsigned char> image;
            const int refused = checkImage(os, platform, probe.get(), primary, image);
            if (refused != 0) {
                return release(os, platform, refused);
            }
            result = writeBank(os, platform, primary, image);
        }
        if (result != 0) {
            std::cerr << "Error during flash process" << std::endl;
            explainFailedUpdate(os);
            return release(os, platform, result);
        }
        std::cerr << "Flash process completed successfully" << std::endl;
    }
    if ((flashmode & MODE_BACKUP) != 0) {
        const BankUpdate backup{BACKUP_DESCRIPTION_INDEX, BBIOS_FNAME, true, 1, "Backup BIOS",
                                "-2", IMAGE_BACKUP_REGION};
        std::vector<unsigned char> image;
        const int refused = checkImage(os, platform, probe.get(), backup, image);
        if (refused != 0) {
            return release(os, platform, refused);
        }
        result = writeBank(os, platform, backup, image);
        if (result != 0) {
            std::cerr << "Error flashing backup BIOS " << std::endl;
            explainFailedUpdate(os);
            return release(os, platform, result);
        }
        std::cerr << "Backup  BIOS" << " flashed successfully" << std::endl;
    }

    if (do_reboot) {
        os->reboot();
    }
    return release(os, platform, result);
}
