#include "flash/runseq.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "chipset/ich10spi.h"
#include "flash/flashbios.h"
#include "flash/machine_lock.h"
#include "flash/settings.h"
#include "os/os.h"
#include "platform/platform.h"
#include "platform/vpd.h"
#include "tables/smbios.h"

namespace {

// String fields of the SMBIOS structures the run reads.
constexpr unsigned int BIOS_VERSION_FIELD = 0x05;   // type 0: BIOS Version string number
constexpr unsigned int PRODUCT_NAME_FIELD = 0x05;   // type 1: Product Name string number

// Image lengths each family accepts.
constexpr long IMAGE_SIZE_61QM = 0x200000;
constexpr long IMAGE_SIZE_62QM = 0x180000;

// Positions in the flash map of the two BIOS descriptions the run points at
// the user's files.
constexpr int PRIMARY_DESCRIPTION_INDEX = 0;
constexpr int BACKUP_DESCRIPTION_INDEX = 3;

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

// Length of the named file, or -1 when it cannot be opened.
long fileLength(const char* name) {
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return -1;
    }
    std::fseek(file, 0, SEEK_END);
    long length = std::ftell(file);
    std::fclose(file);
    return length;
}

struct BankUpdate {
    int descriptionIndex;
    char* fileName;
    bool wantBackupActive;  // the bank that must be active while writing
    int id;
    const char* label;
    const char* switchName;
};

// Exit statuses of a flashing step that is refused before anything is written.
constexpr int STATUS_IMAGE_UNREADABLE = 3;
constexpr int STATUS_IMAGE_SIZE = 4;

// Points the description's file record at the user's file and checks the
// file's size for the family. Returns 0 to go on, or the status to end with.
int checkImage(OS* os, Platform* platform, const BankUpdate& update) {
    s_FlashMap* map = platform->getFlashMap();
    s_FirmwareFile* file = map->descriptions[update.descriptionIndex]->files[0];
    file->name = update.fileName;
    std::cout << "The ROM file name is: " << file->name << std::endl;

    char model[PLATFORM_TEXT_SIZE] = {};
    const int family = identify_plat(os, model);

    const long length = fileLength(file->name);
    if (length < 0) {
        std::cerr << "Error opening " << file->name << std::endl;
        return STATUS_IMAGE_UNREADABLE;
    }
    std::printf("The file size is 0x%lxh bytes\n", static_cast<unsigned long>(length));
    std::fflush(stdout);

    if (family == MODEL_61QM && length != IMAGE_SIZE_61QM) {
        std::cout << "The platform is Moro 310 or Moro 320" << std::endl;
        std::cout << "Corrupt BIOS file, exiting" << std::endl;
        return STATUS_IMAGE_SIZE;
    }
    if (family == MODEL_62QM && length != IMAGE_SIZE_62QM) {
        std::cout << "The platform is Moro 330" << std::endl;
        std::cout << "Corrupt BIOS file, exiting" << std::endl;
        return STATUS_IMAGE_SIZE;
    }
    return 0;
}

// Makes the bank of the update the active one and writes the image into it.
int writeBank(OS* os, Platform* platform, const BankUpdate& update) {
    const bool backupActive = ReadActiveBIOS(os) != 0;
    if (backupActive != update.wantBackupActive) {
        change_pb_gpio(os);
    }
    return FlashBIOS(os, platform, update.id, update.label, update.switchName, nullptr, nullptr,
                     nullptr, nullptr);
}

int release(OS* os, Platform* platform, int status) {
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
        refuseMachine(os);
        return release(os, platform, 5);
    }
    delete platform->getChipset();

    // Modes 1 to 5 also run when no mode switch was given.
    auto wanted = [](unsigned short bit) { return flashmode == 0 || (flashmode & bit) != 0; };

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
                                     nullptr};
            const int refused = checkImage(os, platform, primary);
            if (refused != 0) {
                return release(os, platform, refused);
            }
            result = writeBank(os, platform, primary);
        }
        if (result != 0) {
            std::cerr << "Error during flash process" << std::endl;
            return release(os, platform, result);
        }
        std::cerr << "Flash process completed successfully" << std::endl;
    }
    if ((flashmode & MODE_BACKUP) != 0) {
        const BankUpdate backup{BACKUP_DESCRIPTION_INDEX, BBIOS_FNAME, true, 1, "Backup BIOS",
                                "-2"};
        const int refused = checkImage(os, platform, backup);
        if (refused != 0) {
            return release(os, platform, refused);
        }
        result = writeBank(os, platform, backup);
        if (result != 0) {
            std::cerr << "Error flashing backup BIOS " << std::endl;
            return release(os, platform, result);
        }
        std::cerr << "Backup  BIOS" << " flashed successfully" << std::endl;
    }

    if (do_reboot) {
        os->reboot();
    }
    return release(os, platform, result);
}
