// Read before write: each block gets the least work that leaves the new data
// in the part (none, a program alone, or an erase and a program, with chunks
// already holding their data left out), and a read-back after the range turns
// a part that silently failed to take the data into a failure.
#include <algorithm>
#include <cstring>

#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

namespace {

constexpr uint32_t START = 0x100000;  // programmable on an ICH board
constexpr uint32_t BLOCK = 0x1000;
constexpr uint32_t CHUNK = 64;

}  // namespace

TEST(ChipsetRewrite, EachBlockGetsTheLeastWorkThatLeavesTheNewData) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    auto& flash = rig.machine.bank(0).array();
    std::vector<uint8_t> image = pattern(4 * BLOCK, 0x5A);
    uint8_t* equal = image.data();
    uint8_t* clearsBits = image.data() + BLOCK;
    uint8_t* needsErase = image.data() + 2 * BLOCK;
    uint8_t* allErased = image.data() + 3 * BLOCK;
    // Block 0 already holds its data; block 1 only clears bits of what it
    // holds; block 2 sets bits, and four of its chunks are all 0xFF (one more
    // is 0xFF but for its last byte); block 3 is all 0xFF over old data.
    std::copy_n(equal, BLOCK, flash.begin() + START);
    for (uint32_t i = 0; i < BLOCK; ++i) flash[START + BLOCK + i] = clearsBits[i] | 0x81;
    std::fill_n(needsErase + 5 * CHUNK, 4 * CHUNK, 0xFF);
    std::fill_n(needsErase + 20 * CHUNK, CHUNK - 1, 0xFF);
    needsErase[21 * CHUNK - 1] = 0x00;
    for (uint32_t i = 0; i < BLOCK; ++i) flash[START + 2 * BLOCK + i] = uint8_t(~needsErase[i] | 0x10);
    std::fill_n(allErased, BLOCK, 0xFF);
    const std::vector<uint8_t> before = flash;

    ich10spiChipset chip(&rig.os, nullptr);
    FlashPart& part = rig.machine.bank(0);
    part.resetCounters();
    BusLog bus;
    listen(part, bus);
    std::string progress;
    ASSERT_EQ(quietly([&] { return chip.program(START, 4 * BLOCK, 0x10000, image.data()); }, &progress), 0);

    for (uint32_t a = 0; a < flash.size(); ++a) {
        const bool inside = a >= START && a < START + 4 * BLOCK;
        ASSERT_EQ(flash[a], inside ? image[a - START] : before[a]) << "flash address 0x" << std::hex << a;
    }
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '\r'), 4);  // one line per block, worked or not
    EXPECT_EQ(part.erasedBytes(), 2u * BLOCK);                          // blocks 2 and 3 only
    EXPECT_EQ(part.programmedBytes(), BLOCK + BLOCK - 4 * CHUNK);      // block 1, block 2 less its 0xFF chunks
    EXPECT_EQ(chip.getStats().unchangedBlocks, 1u);                     // block 0
    EXPECT_FALSE(bus.saw(spinor::PP, START, START + BLOCK)) << "the equal block was programmed";
    EXPECT_FALSE(bus.saw(spinor::SE, START, START + 2 * BLOCK)) << "an erase where a program does";
    EXPECT_FALSE(bus.saw(spinor::PP, START + 3 * BLOCK, START + 4 * BLOCK)) << "0xFF programmed after an erase";
}

TEST(ChipsetRewrite, AFlashThatDidNotTakeTheDataFailsTheRangeNamingTheFirstDifference) {
    struct Row { const char* what; std::optional<uint32_t> badCell; uint64_t dropProgram; const char* message; };
    const Row rows[] = {
        {"a bad cell", START + BLOCK + 0x10, 0,
         "Flash verify failed: first difference at flash address 0x101010, 1 byte(s) differ from the image\n"},
        {"a dropped page program", std::nullopt, 66,  // the second chunk of the second block
         "Flash verify failed: first difference at flash address 0x101040, 64 byte(s) differ from the image\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ChipsetRig rig(HOST_BRIDGE_ID_ICH, "MX25L1606E");
        std::vector<uint8_t> image = pattern(2 * BLOCK, 0);
        std::replace(image.begin(), image.end(), uint8_t(0xFF), uint8_t(0x7F));  // every chunk is programmed
        ich10spiChipset chip(&rig.os, nullptr);
        rig.machine.bank(0).badCell = r.badCell;
        rig.machine.bank(0).dropProgramAt = r.dropProgram;
        std::string err;
        EXPECT_EQ(quietly([&] { return chip.program(START, 2 * BLOCK, 0x10000, image.data()); }, nullptr, &err),
                  SPI_ERR_VERIFY);
        EXPECT_EQ(err, r.message);
    }
}
