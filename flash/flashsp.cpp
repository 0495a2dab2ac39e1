#include "flash/flashsp.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "chipset/splpc.h"
#include "os/os.h"
#include "platform/platform.h"

namespace {

constexpr int EXIT_SP_UPDATE_FAILED = 255;
constexpr size_t IMAGE_BUFFER_SIZE = 0x10000;
constexpr unsigned char ERASED = 0xFF;
const char SOURCE_FILE[] = "LPCSPFW.BIN";
const char DUMP_FILE[] = "SPROM.ERR";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Deletes the chipset (which releases the mailbox through the host object),
// then the host object when asked, and ends the process.
[[noreturn]] void endUpdate(std::unique_ptr<SPLPCChipset>& chipset, OS* destroyHost = nullptr) {
    chipset.reset();
    if (destroyHost != nullptr) osDestroy(destroyHost);
    std::exit(EXIT_SP_UPDATE_FAILED);
}

}  // namespace

int FlashLPCSP(OS* os, Platform* platform) {
    std::unique_ptr<SPLPCChipset> chipset(new SPLPCChipset(os, platform));
    if (chipset->identify() == 0) {
        std::fprintf(stderr, "LPC Interface not flashable\n");
        endUpdate(chipset, os);
    }
    std::fprintf(stderr, "Preparing to flash the service processor LPC interface...\n");
    std::printf("Flash chipset:\t %s\n", chipset->getName());

    s_FirmwareDescription* description = FindFirmware(os, platform, FW_SP_LPC, "SP", nullptr);
    const s_FirmwareFile* file = description->files[0];
    std::fprintf(stderr, "Filename : %s\n", file->name);

    // Only the application area's 0xC000 bytes are written; the rest of the
    // buffer reads as erased flash.
    std::unique_ptr<unsigned char[]> image(new unsigned char[IMAGE_BUFFER_SIZE]);
    std::memset(image.get(), ERASED, IMAGE_BUFFER_SIZE);
    {
        File in(std::fopen(file->name, "rb"));
        if (!in || std::fseek(in.get(), 0, SEEK_END) != 0 || std::ftell(in.get()) <= 0) {
            std::fprintf(stderr, "Error opening %s\n", file->name);
            endUpdate(chipset);
        }
        const size_t size = file->size < IMAGE_BUFFER_SIZE ? file->size : IMAGE_BUFFER_SIZE;
        if (std::fseek(in.get(), 0, SEEK_SET) != 0 ||
            std::fread(image.get(), 1, size, in.get()) != size) {
            std::fprintf(stderr, "Error reading %s\n", file->name);
            endUpdate(chipset);
        }
    }

    std::fprintf(stderr, "Erasing the service processor firmware application...\n");
    if (chipset->erase(0, 0, 0) != 0) {
        std::fprintf(stderr, "Failed\n");
        endUpdate(chipset);
    }
    std::fprintf(stderr, "Programming the service processor firmware application...\n");
    if (chipset->program(SP_APP_START, SP_FLASH_END, 0, image.get()) != 0) {
        std::fprintf(stderr, "Failed\n");
        endUpdate(chipset);
    }
    return 0;
}

int CompareServiceProcessorToSource(OS* os, Platform* platform) {
    File source(std::fopen(SOURCE_FILE, "rb"));
    std::printf("Enter compare function!!\n");
    std::printf("Verifying the ROM against %s\n", SOURCE_FILE);
    if (!source) {
        std::printf("Compare failed.  Could not open source service processor file.\n");
        return 1;
    }

    std::unique_ptr<SPLPCChipset> chipset(new SPLPCChipset(os, platform));
    std::printf("Reading %s\n", SOURCE_FILE);
    // A short file compares as if the rest of it were erased flash.
    std::unique_ptr<unsigned char[]> wanted(new unsigned char[SP_APP_SIZE]);
    std::memset(wanted.get(), ERASED, SP_APP_SIZE);
    if (std::fread(wanted.get(), 1, SP_APP_SIZE, source.get()) != SP_APP_SIZE) std::clearerr(source.get());

    std::printf("Reading ROM contents\n");
    // A block that cannot be read keeps the complement of the file's bytes,
    // so it can never compare equal.
    std::unique_ptr<unsigned char[]> flash(new unsigned char[SP_APP_SIZE]);
    for (uint32_t i = 0; i < SP_APP_SIZE; ++i) flash[i] = static_cast<unsigned char>(~wanted[i]);
    for (uint32_t address = SP_APP_START; address < SP_FLASH_END; address += SP_PROGRAM_BLOCK) {
        std::printf("Offset : %08lxh\r", static_cast<unsigned long>(address));
        chipset->ReadFirmwareBlock(long(address), flash.get() + (address - SP_APP_START));
    }

    std::printf("Comparing contents...\n");
    constexpr uint32_t WORD = 4;
    for (uint32_t offset = 0; offset < SP_APP_SIZE; offset += WORD) {
        const unsigned long device = offset + SP_APP_START;
        std::printf("Offset : %08lxh\r", device);
        if (std::memcmp(wanted.get() + offset, flash.get() + offset, WORD) == 0) continue;
        std::printf("\n\nMismatch found @ offset %08lxh.  ROM contents written to %s\n", device,
                    DUMP_FILE);
        {
            File dump(std::fopen(DUMP_FILE, "w+b"));
            if (dump) std::fwrite(flash.get(), 1, SP_APP_SIZE, dump.get());
        }
        source.reset();  // the source is closed before the chipset releases the mailbox
        return 1;
    }
    std::printf("OK. Contents Match.\n");
    source.reset();
    return 0;
}
