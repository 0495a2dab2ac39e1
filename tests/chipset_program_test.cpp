// Programming through the block table: exactly the programmable blocks of a
// range change, on both south-bridge generations and with either boot-block
// choice; ranges that do not fit the table are refused without a write.
#include <algorithm>

#include "chipset_rig.h"

namespace {

// Programs [start, start + length) from a fresh image and checks that the
// active part holds the image exactly in [first, last) and the old bytes
// everywhere else; the other bank must not change at all.
void expectProgrammed(ChipsetRig& rig, uint32_t start, uint32_t length, uint32_t first,
                      uint32_t last) {
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    const std::vector<uint8_t> otherBank = rig.machine.bank(1).array();
    const std::vector<uint8_t> image = pattern(length, 0x3C);

    ich10spiChipset chip(&rig.os, nullptr);
    testing::internal::CaptureStderr();
    ASSERT_EQ(chip.identify(), 1);
    testing::internal::GetCapturedStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(start, length, 0x10000, const_cast<uint8_t*>(image.data())), 0);
    capturedStdout();

    const auto& after = rig.machine.bank(0).array();
    for (uint32_t a = 0; a < after.size(); ++a) {
        const bool inside = a >= first && a < last;
        const uint8_t want = inside ? image[a - start] : before[a];
        ASSERT_EQ(after[a], want) << "flash address 0x" << std::hex << a;
    }
    EXPECT_TRUE(rig.machine.bank(1).array() == otherBank);
}

}  // namespace

TEST(ChipsetProgram, PchMainBlocksWithoutBootBlock) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    expectProgrammed(rig, 0x600000, 0x200000, 0x610000, 0x7A0000);
}

TEST(ChipsetProgram, PchBootBlockOnly) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    updt_bblk = true;
    expectProgrammed(rig, 0x600000, 0x200000, 0x7A0000, 0x800000);
}

TEST(ChipsetProgram, IchMainBlocksWithoutBootBlock) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    expectProgrammed(rig, 0, 0x200000, 0x013000, 0x1C0000);
}

TEST(ChipsetProgram, IchBootBlockOnly) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "MX25L1606E");
    updt_bblk = true;
    expectProgrammed(rig, 0, 0x200000, 0x1C0000, 0x200000);
}

TEST(ChipsetProgram, RangeEndingInsideABlockStopsBeforeIt) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    expectProgrammed(rig, 0x100000, 0x2800, 0x100000, 0x102000);
}

TEST(ChipsetProgram, BlockTableFollowsCapacityAndBootBlockChoice) {
    ChipsetRig pch(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    ich10spiChipset big(&pch.os, nullptr);
    ASSERT_EQ(big.blockTableSize(), 2048);
    EXPECT_EQ(big.blockTable()[0x60F].skip, 1);
    EXPECT_EQ(big.blockTable()[0x610].skip, 0);
    EXPECT_EQ(big.blockTable()[0x7A0].skip, 1);
    EXPECT_EQ(big.blockTable()[0x7FF].address, 0x7FF000u);

    // The boot-block choice is taken when the object is built.
    ChipsetRig ich(HOST_BRIDGE_ID_ICH, "MX25L1606E");
    updt_bblk = true;
    ich10spiChipset small(&ich.os, nullptr);
    updt_bblk = false;
    ASSERT_EQ(small.blockTableSize(), 512);
    EXPECT_EQ(small.blockTable()[0x012].skip, 1);
    EXPECT_EQ(small.blockTable()[0x1BF].skip, 1);
    EXPECT_EQ(small.blockTable()[0x1C0].skip, 0);

    // A host bridge of neither generation marks nothing.
    ChipsetRig other(NEITHER_HOST_BRIDGE, "MX25L6445E");
    ich10spiChipset plain(&other.os, nullptr);
    EXPECT_TRUE(std::none_of(plain.blockTable(), plain.blockTable() + plain.blockTableSize(),
                             [](const s_FlashBlock& b) { return b.skip != 0; }));
}

TEST(ChipsetProgram, SkippedRangeWritesNothingButReportsProgress) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    updt_bblk = true;
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    std::vector<uint8_t> image = pattern(0x190000, 1);
    ich10spiChipset chip(&rig.os, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(0x610000, 0x190000, 0x10000, image.data()), 0);
    const std::string out = capturedStdout();
    EXPECT_EQ(out.rfind("75%\r", 0), 0u);  // progress is against the whole table
    EXPECT_EQ(countOf(out, "%\r"), 0x190u);
    EXPECT_TRUE(rig.machine.bank(0).array() == before);
}

TEST(ChipsetProgram, RangesThatDoNotStartOnABlockAreRefused) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    std::vector<uint8_t> image = pattern(0x2000, 2);
    ich10spiChipset chip(&rig.os, nullptr);
    EXPECT_EQ(chip.program(0x100800, 0x1000, 0x10000, image.data()), SPI_ERR_NOT_BLOCK_START);
    EXPECT_EQ(chip.program(0x200000, 0x1000, 0x10000, image.data()), SPI_ERR_NOT_BLOCK_START);
    EXPECT_EQ(chip.program(0x100000, 0, 0x10000, image.data()), 0);
    EXPECT_EQ(chip.erase(0x100000, 0x1000, 0x10000), 0);
    EXPECT_TRUE(rig.machine.bank(0).array() == before);
}

TEST(ChipsetProgram, ReadReturnsTheFlashAndDumpsIt) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    ich10spiChipset chip(&rig.os, nullptr);
    std::vector<uint8_t> buffer(128);
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.read(0x7FFF80, 128, 1, buffer.data()), 0);
    const std::string out = capturedStdout();
    const auto& flash = rig.machine.bank(0).array();
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), flash.begin() + 0x7FFF80));
    EXPECT_EQ(countOf(out, "\n"), 8u);
    char first[80];
    std::snprintf(first, sizeof first, "007fff80h: %02x %02x ", flash[0x7FFF80], flash[0x7FFF81]);
    EXPECT_EQ(out.rfind(first, 0), 0u);
    EXPECT_NE(out.find("\n007ffff0h: "), std::string::npos);
}
