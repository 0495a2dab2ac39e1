#include "flash/flashsp.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chipset/splpc.h"
#include "os/file_access.h"
#include "os/os.h"
#include "platform/platform.h"

namespace {

constexpr int EXIT_SP_UPDATE_FAILED = 255;
constexpr size_t IMAGE_BUFFER_SIZE = 0x10000;
constexpr unsigned char ERASED = 0xFF;
const char SOURCE_FILE[] = "LPCSPFW.BIN";
const char DUMP_FILE[] = "SPROM.ERR";

// Deletes the chipset (which releases the mailbox through the host object),
// then the host object when asked, and ends the process.
[[noreturn]] void endUpdate(std::unique_ptr<SPLPCChipset>& chipset, OS* destroyHost = nullptr) {
    chipset.reset();
    if (destroyHost != nullptr) osDestroy(destroyHost);
    std::exit(EXIT_SP_UPDATE_FAILED);
}

// Reads the application image and checks it before the service processor is
// touched: exactly the record's size, and not a file of one byte value (a
// sparse file of zeros, or erased flash). The format carries no header or
// checksum to check beyond that. Ends the process on a refusal.
void loadApplicationImage(const s_FirmwareFile& file, unsigned char* image) {
    const size_t expected = file.size < IMAGE_BUFFER_SIZE ? file.size : IMAGE_BUFFER_SIZE;
    // The name is fixed, in the working directory: a link there is not followed.
    const InputFile in = openInputFile(file.name, Links::Refuse);
    if (in.fd < 0 || in.size == 0) {
        std::fprintf(stderr, "Error opening %s\n", file.name);
        if (in.fd < 0) std::fprintf(stderr, "%s\n", inputRefusal(in, file.name).c_str());
        std::exit(EXIT_SP_UPDATE_FAILED);
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (in.size != expected || !readOpenedFile(in, file.name, expected, bytes, &why) ||
        bytes.size() != expected) {
        std::fprintf(stderr, "Error reading %s\n", file.name);
        if (why.empty())
            std::fprintf(stderr, "%s holds 0x%llX bytes; a service-processor application is 0x%zX bytes. Nothing was written.\n",
                         file.name, static_cast<unsigned long long>(in.size), expected);
        else
            std::fprintf(stderr, "%s\n", why.c_str());
        std::exit(EXIT_SP_UPDATE_FAILED);
    }
    if (std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes[0]; })) {
        std::fprintf(stderr, "%s holds only bytes of 0x%02X: it is no service-processor application. Nothing was written.\n",
                     file.name, bytes[0]);
        std::exit(EXIT_SP_UPDATE_FAILED);
    }
    std::memcpy(image, bytes.data(), bytes.size());
}

}  // namespace

int FlashLPCSP(OS* os, Platform* platform) {
    s_FirmwareDescription* description = FindFirmware(os, platform, FW_SP_LPC, "SP", nullptr);
    const s_FirmwareFile* file = description->files[0];
    // Only the application area's 0xC000 bytes are written; the rest of the
    // buffer reads as erased flash.
    std::unique_ptr<unsigned char[]> image(new unsigned char[IMAGE_BUFFER_SIZE]);
    std::memset(image.get(), ERASED, IMAGE_BUFFER_SIZE);
    loadApplicationImage(*file, image.get());

    std::unique_ptr<SPLPCChipset> chipset(new SPLPCChipset(os, platform));
    if (chipset->identify() == 0) {
        std::fprintf(stderr, "LPC Interface not flashable\n");
        endUpdate(chipset, os);
    }
    std::fprintf(stderr, "Preparing to flash the service processor LPC interface...\n");
    std::printf("Flash chipset:\t %s\n", chipset->getName());
    std::fprintf(stderr, "Filename : %s\n", file->name);

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
    // A fixed name in the working directory: a link there is not followed,
    // and a FIFO or device is refused without blocking.
    std::vector<uint8_t> source;
    std::string why;
    const bool read = readInputFile(SOURCE_FILE, Links::Refuse, SP_APP_SIZE, source, &why);
    std::printf("Enter compare function!!\n");
    std::printf("Verifying the ROM against %s\n", SOURCE_FILE);
    if (!read) {
        std::printf("Compare failed.  Could not open source service processor file.\n");
        std::printf("%s\n", why.c_str());
        return 1;
    }
    std::unique_ptr<SPLPCChipset> chipset(new SPLPCChipset(os, platform));
    std::printf("Reading %s\n", SOURCE_FILE);
    // A short file compares as if the rest of it were erased flash.
    std::unique_ptr<unsigned char[]> wanted(new unsigned char[SP_APP_SIZE]);
    std::memset(wanted.get(), ERASED, SP_APP_SIZE);
    std::memcpy(wanted.get(), source.data(), source.size());

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
        std::fflush(stdout);
        if (!writeOutputFile(DUMP_FILE, flash.get(), SP_APP_SIZE, &why)) std::printf("%s\n", why.c_str());
        return 1;
    }
    std::printf("OK. Contents Match.\n");
    return 0;
}
