// Parts that are not recognised, and controllers that hang or refuse: each
// ends with a clear line and a failure result, never a hang or a success.
#include "chipset_rig.h"

namespace {
std::string identifyText(ChipsetRig& rig, int* result) {
    ich10spiChipset chip(&rig.os, nullptr);
    testing::internal::CaptureStderr();
    *result = chip.identify();
    return testing::internal::GetCapturedStderr();
}
}  // namespace

TEST(ChipsetFaults, KnownPartsAreNamedAndUnknownRefused) {
    int result = 0;
    ChipsetRig winbond(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    EXPECT_EQ(identifyText(winbond, &result), "\xFB [WINBOND W25Q16BVSIG]\n\n");
    EXPECT_EQ(result, 1);

    ChipsetRig mxic(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    EXPECT_EQ(identifyText(mxic, &result), "[MXIC MX25L6445E] / [MXIC MX25L6406E]\n");
    EXPECT_EQ(result, 1);

    ChipsetRig unknown(HOST_BRIDGE_ID_PCH, "unknown");
    testing::internal::CaptureStdout();
    EXPECT_EQ(identifyText(unknown, &result), "");
    EXPECT_EQ(capturedStdout(), "Chipset ID incorrect! 00 00 00\n\r");
    EXPECT_EQ(result, 0);
}

TEST(ChipsetFaults, HungHardwareCycleFailsTheProgram) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    ich10spiChipset chip(&rig.os, nullptr);
    rig.machine.spi().hwCycleHang = true;
    std::vector<uint8_t> image = pattern(0x10000, 4);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(0x610000, 0x10000, 0x10000, image.data()), SPI_ERR_TIMEOUT);
    EXPECT_EQ(capturedStdout(), "");  // no progress for a block that failed
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "SPI hardware erase cycle at flash address 0x610000 did not complete\n");
    EXPECT_TRUE(rig.machine.bank(0).array() == before);
}

TEST(ChipsetFaults, HungSoftwareCycleFailsIdentify) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    ich10spiChipset chip(&rig.os, nullptr);
    rig.machine.spi().swCycleHang = true;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.identify(), 0);
    capturedStdout();
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "SPI software cycle at flash address 0x000000 did not complete"),
              std::string::npos);
}

TEST(ChipsetFaults, RefusedEraseStopsTheProgramAtThatBlock) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    ich10spiChipset chip(&rig.os, nullptr);
    rig.machine.spi().fcerrBlock = 0x611000;
    std::vector<uint8_t> image = pattern(0x3000, 5);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(0x610000, 0x3000, 0x10000, image.data()), SPI_ERR_REFUSED);
    capturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "SPI hardware erase cycle at flash address 0x611000 was refused by the controller\n");
    const auto& flash = rig.machine.bank(0).array();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x1000, flash.begin() + 0x610000));
    EXPECT_TRUE(std::equal(flash.begin() + 0x611000, flash.end(), before.begin() + 0x611000));
}

// A status register left hardware-protected (SRWD with WP# held low) ignores
// the unlock, and the part then drops erases in silence: the block must fail.
TEST(ChipsetFaults, PartThatStaysProtectedFailsInsteadOfDroppingWrites) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    rig.machine.bank(0).setStatus(0x94);  // as an earlier update leaves it
    rig.machine.setWpStuckLow(true);
    const std::vector<uint8_t> before = rig.machine.bank(0).array();
    testing::internal::CaptureStderr();
    ich10spiChipset chip(&rig.os, nullptr);
    std::vector<uint8_t> image = pattern(0x2000, 9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(0x610000, 0x2000, 0x10000, image.data()), SPI_ERR_PROTECTED);
    capturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Flash block protection could not be cleared (status register 0x94); is the flash "
              "write-protect line held low?\n");
    EXPECT_EQ(rig.machine.bank(0).array(), before);
}

TEST(ChipsetFaults, DiagnosticDumpsShowRegistersHighByteFirst) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    ich10spiChipset chip(&rig.os, nullptr);
    auto& regs = rig.machine.spi().registers();
    regs[0x91] = 0x40;  // SCGO clear: a dump must not start a cycle
    regs[0x92] = 0x43;
    regs[0x93] = 0x00;
    regs[0xC4] = 0x11;
    regs[0xC5] = 0x22;
    regs[0xC6] = 0xB3;
    regs[0xC7] = 0x44;
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.ReadSSFC(), 1);
    EXPECT_EQ(chip.ClearLVCL(), 1);
    EXPECT_EQ(capturedStdout(),
              " DBG_MSG: the SPI_SSFC is: 00 43 40\n"
              " DBG_MSG: the orignal SPI_LVSCC is: 44 b3 22 11\n"
              " DBG_MSG: the ClearLVCL is: 44 33 22 11\n");
}
