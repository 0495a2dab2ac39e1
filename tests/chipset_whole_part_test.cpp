// The operations off the update path that work on the part as a whole: the
// chip erase and the one-byte read, on the simulated board.
#include "tests/chipset_rig.h"

#include <algorithm>

#include "platform/x86qm.h"

TEST(WholePart, ChipEraseEmptiesThePartAndByteReadsReturnWhatTheCycleMoved) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    x86QMPlatform platform(&rig.os);
    ich10spiChipset chipset(&rig.os, &platform);
    rig.machine.bank(0).programStatus(0x00);
    // Not the identity's first byte (0xC2) nor erased: the byte at 0x10 itself.
    const uint8_t expected = rig.flash()[0x10];
    ASSERT_NE(expected, 0xC2);
    ASSERT_NE(expected, 0xFF);
    EXPECT_EQ(quietly([&] { return int(chipset.readSpiByte(0x10)); }), expected);

    std::string out, err;
    ich10spiChipset eraser(&rig.os, &platform);
    quietly([&] { eraser.eraseChip(); return 0; }, &out, &err);
    EXPECT_EQ(err, "");
    EXPECT_EQ(out.find("retry"), std::string::npos) << out;
    EXPECT_TRUE(std::all_of(rig.flash().begin(), rig.flash().end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_NE(rig.flash(1)[0], 0xFF);  // the other bank is not touched
    EXPECT_EQ(quietly([&] { return int(eraser.readSpiByte(0x10)); }), 0xFF);
}
