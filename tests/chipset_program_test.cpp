// Programming through the block table: exactly the programmable blocks of a
// range change, on both south-bridge generations and with either boot-block
// choice. (Every range a flash map names starts on a block, inside the part.)
#include <algorithm>

#include "chipset_rig.h"

TEST(ChipsetProgram, WritesExactlyTheProgrammableBlocksOfTheRange) {
    // [first, last) takes the image; progress is against the whole table.
    struct Row { const char* what; uint32_t bridge; const char* part; bool bootBlock;
                 uint32_t start, length, first, last; const char* firstProgress; };
    const Row rows[] = {
        {"PCH main", HOST_BRIDGE_ID_PCH, "MX25L6445E", false, 0x600000, 0x200000, 0x610000, 0x7A0000, "75%\r"},
        {"PCH boot block", HOST_BRIDGE_ID_PCH, "MX25L6445E", true, 0x600000, 0x200000, 0x7A0000, 0x800000, "75%\r"},
        {"PCH all skipped", HOST_BRIDGE_ID_PCH, "MX25L6445E", true, 0x610000, 0x190000, 0, 0, "75%\r"},
        {"ICH main", HOST_BRIDGE_ID_ICH, "W25Q16BV", false, 0, 0x200000, 0x013000, 0x1C0000, "0%\r"},
        {"ICH boot block", HOST_BRIDGE_ID_ICH, "MX25L1606E", true, 0, 0x200000, 0x1C0000, 0x200000, "0%\r"},
        {"ends inside a block", HOST_BRIDGE_ID_ICH, "W25Q16BV", false, 0x100000, 0x2800, 0x100000, 0x102000, "50%\r"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ChipsetRig rig(r.bridge, r.part);
        const std::vector<uint8_t> before = rig.flash(0), otherBank = rig.flash(1);
        std::vector<uint8_t> image = pattern(r.length, 0x3C);
        updt_bblk = r.bootBlock;
        ich10spiChipset chip(&rig.os, nullptr);
        updt_bblk = !r.bootBlock;  // the choice is fixed when the object is built
        std::string progress;
        ASSERT_EQ(quietly([&] { return chip.program(r.start, r.length, 0x10000, image.data()); }, &progress), 0);
        EXPECT_EQ(progress.rfind(r.firstProgress, 0), 0u);
        EXPECT_EQ(size_t(std::count(progress.begin(), progress.end(), '\r')), r.length / 0x1000);

        const auto& after = rig.flash(0);
        for (uint32_t a = 0; a < after.size(); ++a) {
            const bool inside = a >= r.first && a < r.last;
            ASSERT_EQ(after[a], inside ? image[a - r.start] : before[a]) << "flash address 0x" << std::hex << a;
        }
        EXPECT_TRUE(rig.flash(1) == otherBank);
    }
}
