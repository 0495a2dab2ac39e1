// Each flash part of the table as its own datasheet has it: the protection
// clear looks at that part's protection bits, writes the status register only
// when one is set, and leaves the part open for the erase and program.
#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

namespace {
constexpr uint32_t TOP_BLOCK_BELOW_2M = 0x1FF000;  // inside every part, protected by all-BP

// Erases and programs one block; true when the flash then holds the data.
bool writeBlock(ChipsetRig& rig, ich10spiChipset& chip, uint32_t address, std::string* err) {
    std::vector<uint8_t> data = pattern(SPI_FLASH_BLOCK_SIZE, uint8_t(address >> 12));
    const int result = quietly(
        [&] {
            const int erased = chip.eraseBlock(address);
            return erased != 0 ? erased : chip.programBlock(address, SPI_FLASH_BLOCK_SIZE, data.data());
        },
        nullptr, err);
    return result == 0 &&
           std::equal(data.begin(), data.end(), rig.flash().begin() + address);
}
}  // namespace

// Each part starts protected and with FDONE/FCERR and CDS/FCERR left by the
// firmware's own cycles: a stale done bit must not end the erase's wait (the
// program would then collide with the erase still running), a stale error bit
// must not fail a good cycle. (A locked firmware menu is driven end to end.)
TEST(ChipsetParts, EachPartIsUnprotectedByItsOwnBitsWithOneStatusWrite) {
    for (const FlashPartInfo& info : flashPartTable()) {
        if (std::string(info.name) == "unknown") continue;
        SCOPED_TRACE(info.name);
        ChipsetRig rig(HOST_BRIDGE_ID_ICH, info.name);
        ich10spiChipset chip(&rig.os, nullptr);
        quietly([&] { return chip.identify(); });
        FlashPart& part = rig.machine.bank(0);
        part.programStatus(0x3C);  // all protection bits of any part, SRWD clear
        ASSERT_TRUE(part.isProtected(TOP_BLOCK_BELOW_2M));
        part.resetCounters();
        auto& regs = rig.machine.spi().registers();
        regs[simspi::HSFS] |= uint8_t(simspi::HSFS_FDONE | simspi::HSFS_FCERR);
        regs[simspi::SSFS] |= uint8_t(simspi::SSFS_CDS | simspi::SSFS_FCERR);
        std::string err;
        EXPECT_TRUE(writeBlock(rig, chip, TOP_BLOCK_BELOW_2M, &err)) << err;
        EXPECT_EQ(err, "");
        EXPECT_EQ(part.statusWrites(), 1u);
        // Now unprotected: the next block needs no status write at all.
        EXPECT_TRUE(writeBlock(rig, chip, TOP_BLOCK_BELOW_2M - SPI_FLASH_BLOCK_SIZE, &err)) << err;
        EXPECT_EQ(part.statusWrites(), 1u);
    }
}
