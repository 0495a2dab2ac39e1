// Read-before-write of the range, one aligned 64 KiB group at a time, and the
// read-back check after the range. NOR flash programs only clear bits and an
// erase sets a whole block to 0xFF, so what each 4 KiB block holds now decides
// the least work that gives the new data: nothing, a program alone, or an
// erase and a program; a group whose every block needs an erase goes with one
// 64 KiB erase. Fewer erases spare the part's endurance and the update's time,
// and a rerun after an interrupted update writes only what is still missing.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/spi_menu.h"
#include "chipset/spi_wait.h"

namespace {

constexpr uint8_t ERASED_BYTE = 0xFF;
constexpr uint32_t GROUP_SIZE = 0x10000;  // what one 64 KiB erase clears
constexpr int GROUP_BLOCKS = GROUP_SIZE / SPI_FLASH_BLOCK_SIZE;

// A program can only turn 1 bits into 0 bits: it reaches `wanted` from
// `current` exactly when every bit set in `wanted` is still set in `current`.
bool needsErase(const uint8_t* current, const uint8_t* wanted, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i)
        if ((current[i] & wanted[i]) != wanted[i]) return true;
    return false;
}

bool allErased(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i)
        if (bytes[i] != ERASED_BYTE) return false;
    return true;
}

}  // namespace

enum class BlockWork : uint8_t { Skip, None, Program, EraseAndProgram };

// Reads through the BIOS window: the controller fetches the bytes itself, so
// a whole block costs one host call and its bus time, not a cycle per 64 bytes.
void ich10spiChipset::readWindow(uint32_t address, uint32_t length, uint8_t* buffer) {
    const uint64_t base = BIOS_WINDOW_TOP - uint64_t(blockCount) * SPI_FLASH_BLOCK_SIZE;
    os->memRead(uint32_t(base + address), length, buffer);
}

// Reads what the block holds, in pieces that double from one chunk, and stops
// after the piece that shows the block needs an erase: what it holds past
// that point no longer matters. A block that does not need one is read whole.
BlockWork ich10spiChipset::preRead(uint32_t address, const uint8_t* wanted, uint8_t* current) {
    bool differs = false;
    for (uint32_t offset = 0, piece = SPI_FDATA_SIZE; offset < SPI_FLASH_BLOCK_SIZE;
         offset += piece, piece *= 2) {
        piece = std::min(piece, SPI_FLASH_BLOCK_SIZE - offset);
        readWindow(address + offset, piece, current + offset);
        if (needsErase(current + offset, wanted + offset, piece)) return BlockWork::EraseAndProgram;
        differs = differs || std::memcmp(current + offset, wanted + offset, piece) != 0;
    }
    return differs ? BlockWork::Program : BlockWork::None;
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

// Ends on CDS, or on FCERR for a cycle the controller refused.
int ich10spiChipset::waitSoftwareCycleEnd(const PollBound& bound, const char* what) {
    uint8_t status = 0;
    const bool ended = pollUntil(os, bound, [&] {
        status = readReg8(SPI_SSFS);
        return (status & (SSFS_CDS | SSFS_FCERR)) != 0;
    });
    const uint32_t address = readReg32(SPI_FADDR) & SPI_FADDR_MASK;
    if (!ended) {
        std::fprintf(stderr, "SPI %s at flash address 0x%06X did not complete\n", what, address);
        return SPI_ERR_TIMEOUT;
    }
    writeReg8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);
    if (status & SSFS_FCERR) {
        std::fprintf(stderr, "SPI %s at flash address 0x%06X was refused by the controller\n", what,
                     address);
        return SPI_ERR_REFUSED;
    }
    return 0;
}

// One 64 KiB erase, after the block protection is cleared as for a 4 KiB
// erase. The controller cannot tell whether the part acted on the command, so
// the group is read back: *erased is set only when all of it reads 0xFF.
int ich10spiChipset::eraseGroup(uint32_t address, bool* erased) {
    int result = DisableBlockProtection();
    if (result != 0) return result;
    writeReg32(SPI_FADDR, address % SPI_FADDR_WINDOW);
    result = sendSw(OP_BLOCK_ERASE);
    if (result == 0) result = waitSoftwareCycleEnd(BLOCK_ERASE_DONE_BOUND, "64 KiB erase");
    if (result != 0) return result;
    std::vector<uint8_t> readBack(GROUP_SIZE);
    readWindow(address, GROUP_SIZE, readBack.data());
    *erased = allErased(readBack.data(), GROUP_SIZE);
    return 0;
}

// The blocks [first, first + count) of one aligned 64 KiB group (fewer at the
// ends of the range); `wanted` is the data of the first. A group whose sixteen
// blocks all need an erase gets one 64 KiB erase, which takes a fraction of
// sixteen 4 KiB erases; any other block gets the least work that leaves its
// data: nothing, a program alone, or a 4 KiB erase and a program.
int ich10spiChipset::rewriteGroup(int first, int count, const uint8_t* wanted, uint8_t* current,
                                  std::vector<int>* written) {
    BlockWork work[GROUP_BLOCKS];
    int erases = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t at = uint32_t(i) * SPI_FLASH_BLOCK_SIZE;
        work[i] = blocks[first + i].skip
                      ? BlockWork::Skip
                      : preRead(blocks[first + i].address, wanted + at, current + at);
        if (work[i] == BlockWork::EraseAndProgram) ++erases;
    }

    bool groupErased = false;
    if (erases == GROUP_BLOCKS) {
        SpiSwCommand unused;
        if (resolveSpiOp(menu, OP_BLOCK_ERASE, &unused)) {
            int result = eraseGroup(blocks[first].address, &groupErased);
            if (result != 0) return result;
        }
        // A locked menu without the opcode, or a part that left data behind:
        // the group is erased block by block.
        if (groupErased) ++stats.bigErases;
        else ++stats.bigEraseFallbacks;
    }

    for (int i = 0; i < count; ++i) {
        const int result = workBlock(first + i, work[i], groupErased,
                                     wanted + uint32_t(i) * SPI_FLASH_BLOCK_SIZE,
                                     current + uint32_t(i) * SPI_FLASH_BLOCK_SIZE, written);
        if (result != 0) return result;
        // Progress against the whole table, a whole number without a point.
        std::cout << float(((first + i) * 100 + 100) / blockCount) << "%" << "\r" << std::flush;
    }
    return 0;
}

// One block's share of the group's work; `held` is what the pre-read found.
int ich10spiChipset::workBlock(int index, BlockWork work, bool groupErased, const uint8_t* wanted,
                               uint8_t* held, std::vector<int>* written) {
    if (work == BlockWork::Skip) return 0;
    if (work == BlockWork::None) {
        ++stats.unchangedBlocks;
        return 0;
    }
    const s_FlashBlock& block = blocks[index];
    written->push_back(index);
    int result = 0;
    if (work == BlockWork::EraseAndProgram) {
        if (!groupErased) result = eraseBlock(block.address);  // clears the protection first
        if (result != 0) return result;
        ++stats.erasedBlocks;
        stats.erasedBytes += SPI_FLASH_BLOCK_SIZE;
        std::memset(held, ERASED_BYTE, SPI_FLASH_BLOCK_SIZE);
    } else {
        result = DisableBlockProtection();
        if (result != 0) return result;
    }
    result = programChunks(block.address, wanted, held);
    if (result == 0) ++stats.programmedBlocks;
    return result;
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
        readWindow(block.address, SPI_FLASH_BLOCK_SIZE, readBack);
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
