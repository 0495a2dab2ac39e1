// Read-before-write of one 4 KiB block, and the read-back check after a range.
// NOR flash programs only clear bits and an erase sets the whole block to
// 0xFF, so what the block holds now decides the least work that gives the new
// data: nothing, a program alone, or an erase and a program. Fewer erases
// spare the part's endurance and the update's time, and a rerun after an
// interrupted update writes only what is still missing.
#include <cstdio>
#include <cstring>

#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"

namespace {

constexpr uint8_t ERASED_BYTE = 0xFF;

enum class BlockWork { None, Program, EraseAndProgram };

// A program can only turn 1 bits into 0 bits: it reaches `wanted` from
// `current` exactly when every bit set in `wanted` is still set in `current`.
BlockWork workFor(const uint8_t* current, const uint8_t* wanted, uint32_t size) {
    if (std::memcmp(current, wanted, size) == 0) return BlockWork::None;
    for (uint32_t i = 0; i < size; ++i)
        if ((current[i] & wanted[i]) != wanted[i]) return BlockWork::EraseAndProgram;
    return BlockWork::Program;
}

}  // namespace

// Reads without the hex dump that readBlock echoes.
int ich10spiChipset::readSilently(uint32_t address, uint32_t length, uint8_t* buffer) {
    for (uint32_t offset = 0; offset < length; offset += SPI_FDATA_SIZE) {
        int result = readChunk((address + offset) % SPI_FADDR_WINDOW, buffer + offset);
        if (result != 0) return result;
    }
    return 0;
}

// Programs the 64-byte chunks of a block whose data differs from what the
// block holds now (`current`: the old contents, or all 0xFF after an erase).
int ich10spiChipset::programChunks(uint32_t address, const uint8_t* wanted, const uint8_t* current) {
    for (uint32_t offset = 0; offset < SPI_FLASH_BLOCK_SIZE; offset += SPI_FDATA_SIZE) {
        if (std::memcmp(wanted + offset, current + offset, SPI_FDATA_SIZE) == 0) continue;
        int result = programChunk(address + offset, wanted + offset);
        if (result != 0) return result;
        stats.programmedBytes += SPI_FDATA_SIZE;
    }
    return 0;
}

int ich10spiChipset::rewriteBlock(const s_FlashBlock& block, const uint8_t* wanted, bool* wrote) {
    uint8_t current[SPI_FLASH_BLOCK_SIZE];
    int result = readSilently(block.address, SPI_FLASH_BLOCK_SIZE, current);
    if (result != 0) return result;

    const BlockWork work = workFor(current, wanted, SPI_FLASH_BLOCK_SIZE);
    if (work == BlockWork::None) {
        ++stats.unchangedBlocks;
        return 0;
    }
    *wrote = true;
    ++stats.programmedBlocks;
    if (work == BlockWork::EraseAndProgram) {
        result = eraseBlock(block.address);  // clears the block protection first
        if (result != 0) return result;
        ++stats.erasedBlocks;
        stats.erasedBytes += SPI_FLASH_BLOCK_SIZE;
        std::memset(current, ERASED_BYTE, sizeof current);
    } else {
        result = DisableBlockProtection();
        if (result != 0) return result;
    }
    return programChunks(block.address, wanted, current);
}

// Reads back every block the range changed and compares it with the data. A
// block that the read before writing found equal was compared then and has
// not been touched since.
int ich10spiChipset::verifyBlocks(const std::vector<int>& written, uint32_t start, const uint8_t* data) {
    uint64_t differing = 0;
    uint32_t first = 0;
    for (int index : written) {
        const s_FlashBlock& block = blocks[index];
        uint8_t readBack[SPI_FLASH_BLOCK_SIZE];
        int result = readSilently(block.address, SPI_FLASH_BLOCK_SIZE, readBack);
        if (result != 0) return result;
        const uint8_t* expected = data + (block.address - start);
        for (uint32_t i = 0; i < SPI_FLASH_BLOCK_SIZE; ++i) {
            if (readBack[i] == expected[i]) continue;
            if (differing++ == 0) first = block.address + i;
        }
    }
    if (differing == 0) {
        stats.verify = VerifyResult::Ok;
        return 0;
    }
    stats.verify = VerifyResult::Failed;
    std::fprintf(stderr,
                 "Flash verify failed: first difference at flash address 0x%06X, %llu byte(s) "
                 "differ from the image\n",
                 first, static_cast<unsigned long long>(differing));
    return SPI_ERR_VERIFY;
}
