#include "flash/flashbios.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "chipset/ich10spi.h"
#include "chipset/pci.h"
#include "flash/image_file.h"
#include "flash/report.h"
#include "os/os.h"
#include "platform/platform.h"
#include "platform/vpd.h"

namespace {

// Where the running BIOS carries the CRTM signature (4 bytes are read).
constexpr unsigned int CRTM_SIGNATURE_ADDRESS = 0xFFFFFFE5;
constexpr unsigned int CRTM_SIGNATURE_LENGTH = 4;
// A second file of this size gets two of its blocks written again elsewhere
// unless the running BIOS carries the CRTM signature.
constexpr unsigned int CRTM_FILE_SIZE = 0x30000;
constexpr unsigned int CRTM_BLOCK_SIZE = 0x10000;
struct CrtmCopy {
    unsigned int fileOffset;   // where the block starts in the file's data
    unsigned int flashOffset;  // added to the record's flash offset
};
constexpr CrtmCopy CRTM_COPIES[] = {{0x20000, 0xF0000}, {0x10000, 0x40000}};

// Result of a file shorter than its record.
constexpr int IMAGE_SHORT = 3;
// Chipset refusals that come before its first block is touched.
constexpr int REFUSED_BEFORE_WRITING[] = {IMAGE_SHORT, IDENTITY_LOST, SPI_ERR_NO_OPCODE,
                                          SPI_ERR_WRONG_PART, SPI_ERR_BIOS_LOCKED};

enum class ReadResult { Ok, OpenFailed, Empty, Short };

// Reads exactly `size` bytes of the named file into buffer, printing the
// failure lines of the update procedure.
ReadResult readImageFile(const char* name, unsigned char* buffer, unsigned int size) {
    ImageOpen opened = openImageFile(name);
    FILE* file = opened.file.release();
    if (file == nullptr) {
        std::cerr << "Error opening " << name << std::endl;
        return ReadResult::OpenFailed;
    }
    if (std::fseek(file, 0, SEEK_END) != 0 || std::ftell(file) <= 0) {
        std::cerr << "Error seeking " << name << std::endl;
        std::fclose(file);
        return ReadResult::Empty;
    }
    std::fseek(file, 0, SEEK_SET);
    size_t got = std::fread(buffer, 1, size, file);
    std::fclose(file);
    if (got != size) {
        std::cerr << "Error reading " << name << std::endl;
        return ReadResult::Short;
    }
    return ReadResult::Ok;
}

// One erase-and-program pair with flash writing enabled only around it; the
// bank is handed back whatever happens.
int writeRange(Platform* platform, Chipset* chipset, const s_FirmwareFile* file,
               unsigned int flashOffset, unsigned int length, unsigned int blockSize,
               unsigned char* data, int bank) {
    std::cout << file->name << ": " << std::hex << file->offset << " [" << file->size << "]"
              << std::endl;
    platform->enableFlashWrite();
    int result = chipset->erase(flashOffset, length, blockSize);
    if (result != 0) {
        platform->disableFlashWrite();
        platform->setFlashBank(bank);
        return result;
    }
    result = chipset->program(flashOffset, length, blockSize, data);
    platform->disableFlashWrite();
    platform->setFlashBank(bank);
    return result;
}

void printChipsetGeneration(OS* os) {
    os->outportDword(PCI_CONFIG_ADDRESS, PCI_HOST_BRIDGE_ID);
    if (os->inportDword(PCI_CONFIG_DATA) == HOST_BRIDGE_PCH) {
        std::cout << "Chipset: PCH" << std::endl;
    }
    if (os->inportDword(PCI_CONFIG_DATA) == HOST_BRIDGE_ICH) {
        std::cout << "Chipset: ICH" << std::endl;
    }
}

}  // namespace

int FlashBIOS(OS* os, Platform* platform, int id, const char* label, const char* switchName,
              unsigned char* machineType, unsigned char* serial, unsigned char* assetTag,
              unsigned char* uuidText, const unsigned char* firstImage) {
    const int bank = platform->getFlashBank();
    s_FlashMap* map = platform->getFlashMap();

    platform->enableFlashWrite();
    std::unique_ptr<Chipset> chipset(platform->getChipset());
    platform->disableFlashWrite();
    if (!chipset) {
        std::cerr << "Flash chipset could not be identified" << std::endl;
        osDestroy(os);
        noteEarlyExit(255);
        std::exit(255);
    }
    const ChipsetStatsCollector countsOfThisUpdate(chipset.get());

    printChipsetGeneration(os);

    s_FirmwareDescription* description =
        FindFirmware(os, platform, static_cast<unsigned int>(id), label, switchName);

    for (int index = 0; index < description->fileCount; ++index) {
        s_FirmwareFile* file = description->files[index];
        // A machine whose flash layout is unknown has empty records: writing
        // nothing and reporting success would leave the user believing the
        // update happened.
        if (file->size == 0) {
            std::cerr << "No flash range is known for " << file->name
                      << " on this machine; nothing was written" << std::endl;
            return -1;
        }
        std::unique_ptr<unsigned char[]> image(new unsigned char[file->size]);

        if (index == 0 && firstImage != nullptr) {
            std::memcpy(image.get(), firstImage, file->size);
        } else {
            switch (readImageFile(file->name, image.get(), file->size)) {
                case ReadResult::Ok: break;
                case ReadResult::Short: return IMAGE_SHORT;
                default: return -1;
            }
        }

        if (index == 0) {
            std::unique_ptr<s_UUIDStruc> uuid;
            if (uuidText != nullptr) {
                uuid.reset(generateUUID(os, uuidText));
            }
            platform->modifyImage(image.get(), file, machineType, serial, assetTag, uuid.get());
            if (const int refused = platform->modifyImageResult()) return refused;
        }

        int result = writeRange(platform, chipset.get(), file, file->offset, file->size,
                                map->blockSize, image.get(), bank);
        if (result != 0) {
            return result;
        }

        if (index == 1) {
            switch (readImageFile(file->name, image.get(), file->size)) {
                case ReadResult::Ok: break;
                default: return -1;
            }
            unsigned char signature[CRTM_SIGNATURE_LENGTH] = {};
            if (file->size == CRTM_FILE_SIZE) {
                os->memRead(CRTM_SIGNATURE_ADDRESS, CRTM_SIGNATURE_LENGTH, signature);
                if (std::strncmp(reinterpret_cast<const char*>(signature), CRTMSIG,
                                 CRTM_SIGNATURE_LENGTH) != 0) {
                    for (const CrtmCopy& copy : CRTM_COPIES) {
                        result = writeRange(platform, chipset.get(), file,
                                            file->offset + copy.flashOffset, CRTM_BLOCK_SIZE,
                                            map->blockSize, image.get() + copy.fileOffset, bank);
                        if (result != 0) {
                            return result;
                        }
                    }
                }
            }
        }

        LockSPIFlash(os, platform);
        LockSPI_WP(os);
        platform->setFlashBank(bank);
    }
    return 0;
}

bool refusedBeforeWriting(int result) {
    for (int refused : REFUSED_BEFORE_WRITING)
        if (result == refused) return true;
    return false;
}
