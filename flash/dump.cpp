#include "flash/dump.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "os/file_access.h"
#include "platform/platform.h"

namespace {

constexpr unsigned int DUMP_UNIT = 0x1000;       // bytes per chipset read
constexpr unsigned int DUMP_END = 0x7FFFFF;      // dump while the offset is below this
constexpr unsigned int READ_BLOCK_ARGUMENT = 1;  // block size passed to Chipset::read

constexpr unsigned int COMPARE_BUFFER_SIZE = 0x1000000;
constexpr unsigned int COMPARE_FLASH_OFFSET = 0x400000;
constexpr unsigned int COMPARE_WORDS = COMPARE_BUFFER_SIZE / 4;
constexpr unsigned int MISMATCH_DUMP_SIZE = 0xF0000;  // bytes of flash written to ROM.ERR
const char REFERENCE_FILE[] = "BIOS.ROM";
const char MISMATCH_FILE[] = "ROM.ERR";

int dumpFlash(Platform* platform, const char* fileName, const char* firstLine,
              const char* lastLine) {
    OutputFile out;
    std::string why;
    const bool opened = out.open(fileName, &why);
    std::cout << firstLine << std::endl;
    if (!opened) {
        std::cout << "Open output file failed.  Could not open output BIOS file." << std::endl;
        std::cerr << why << std::endl;
        return 1;
    }
    std::unique_ptr<Chipset> chipset(platform->getChipset());
    if (!chipset) {
        std::cerr << "Flash chipset could not be identified" << std::endl;
        return 1;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[DUMP_UNIT]);
    for (unsigned int offset = 0; offset < DUMP_END; offset += DUMP_UNIT) {
        chipset->read(offset, DUMP_UNIT, READ_BLOCK_ARGUMENT, buffer.get());
        out.write(buffer.get(), DUMP_UNIT, nullptr);
    }
    // A write that failed on the way shows here, and the file is not left.
    if (!out.commit(&why)) {
        std::cerr << why << std::endl;
        return 1;
    }
    std::cout << std::endl << lastLine << std::endl;
    return 0;
}

uint32_t wordAt(const unsigned char* buffer, unsigned int index) {
    uint32_t word;
    std::memcpy(&word, buffer + 4 * static_cast<size_t>(index), sizeof word);
    return word;
}

}  // namespace

int ReadBiosToFile(OS*, Platform* platform) {
    return dumpFlash(platform, "flash_read.rom", "Reading the flash data to a file.",
                     "Read the BIOS to a file complete.");
}

int DumpBiosToFile(OS*, Platform* platform) {
    return dumpFlash(platform, "Flash _dump.rom", "Dumping the flash data to a file.",
                     "Dump the BIOS to a file complete.");
}

int EraseBiosToFile(OS*, Platform* platform) {
    return dumpFlash(platform, "P2lurra_flash_erase.rom", "Dumping the flash data to a file.",
                     "Dump the BIOS after erase to a file complete.");
}

int CompareBiosToSource(OS*, Platform* platform) {
    // A fixed name in the working directory: a link planted there is not followed.
    std::vector<uint8_t> reference;
    std::string why;
    const bool read = readInputFile(REFERENCE_FILE, Links::Refuse, COMPARE_BUFFER_SIZE, reference, &why);
    std::cout << "Verifying the ROM against BIOS.ROM" << std::endl;
    if (!read) {
        std::cout << "Compare failed.  Could not open source BIOS file." << std::endl;
        std::cerr << why << std::endl;
        return 1;
    }
    std::unique_ptr<Chipset> chipset(platform->getChipset());
    if (!chipset) {
        std::cerr << "Flash chipset could not be identified" << std::endl;
        return 1;
    }
    std::cout << "Reading BIOS.ROM" << std::endl;
    // A shorter reference leaves the rest of its buffer zero rather than
    // undefined, so a mismatch there is reported reproducibly.
    std::unique_ptr<unsigned char[]> source(new unsigned char[COMPARE_BUFFER_SIZE]());
    std::memcpy(source.get(), reference.data(), reference.size());
    reference = std::vector<uint8_t>();

    std::cout << "Reading ROM contents" << std::endl;
    std::unique_ptr<unsigned char[]> flash(new unsigned char[COMPARE_BUFFER_SIZE]);
    chipset->read(COMPARE_FLASH_OFFSET, COMPARE_BUFFER_SIZE, READ_BLOCK_ARGUMENT, flash.get());

    std::cout << "Comparing contents..." << std::endl;
    for (unsigned int i = 0; i < COMPARE_WORDS; ++i) {
        const unsigned long offset = COMPARE_FLASH_OFFSET + 4ul * i;
        std::printf("Offset : %08lxh\r", offset);
        if (wordAt(source.get(), i) != wordAt(flash.get(), i)) {
            std::printf("\n\nMismatch found @ offset %08lxh.  ROM contents written to ROM.ERR\n",
                        offset);
            std::fflush(stdout);
            if (!writeOutputFile(MISMATCH_FILE, flash.get(), MISMATCH_DUMP_SIZE, &why))
                std::cerr << why << std::endl;
            return 1;
        }
    }
    std::fflush(stdout);
    std::cout << "OK. Contents Match." << std::endl;
    return 0;
}
