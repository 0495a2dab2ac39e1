// 64 KiB erases: an aligned group whose sixteen blocks all need an erase goes
// with one 0xD8 cycle; any other group, and any group a locked menu without
// the opcode cannot serve, with 4 KiB erases. (That blocks the update
// skips stay out of any erase is held by the whole-range cases of
// ChipsetProgram.)
#include <algorithm>

#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

namespace {
constexpr uint32_t GROUP = 0x10000;
constexpr uint32_t BLOCK = 0x1000;
}  // namespace

TEST(ChipsetBlockErase, OnlyAWholeChangingGroupGoesWithOneBlockErase) {
    // One group at 0x100000 of an ICH board, or the group at 0x010000 whose
    // blocks 0x10-0x12 are always skipped there.
    struct Row { const char* what; const char* part; const char* menu; bool locked; uint32_t start; int equalBlock;
                 size_t blockErases, sectorErases; uint32_t bigErases, fallbacks; bool partIgnoresIt = false; };
    const Row rows[] = {
        {"all sixteen change", "W25Q16BV", "standard", false, 0x100000, -1, 1, 0, 1, 0},
        {"one block equal", "W25Q16BV", "standard", false, 0x100000, 9, 0, 15, 0, 0},
        {"three blocks skipped", "MX25L1606E", "standard", false, 0x010000, -1, 0, 13, 0, 0},
        {"locked menu with 0xD8", "W25Q16BV", "standard", true, 0x100000, -1, 1, 0, 1, 0},
        {"locked menu without it", "W25Q16BV", "hostile", true, 0x100000, -1, 0, 16, 0, 1},
        // Only the read-back after it can tell.
        {"the part ignores it", "W25Q16BV", "standard", false, 0x100000, -1, 1, 16, 0, 1, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        BoardConfig cfg{HOST_BRIDGE_ID_ICH, r.part, 0};
        cfg.firmwareMenu = r.menu;
        cfg.spiLockDown = r.locked;
        ChipsetRig rig(cfg);
        std::vector<uint8_t> image = pattern(GROUP, 0xA5);
        if (r.equalBlock >= 0)
            std::copy_n(rig.flash().begin() + r.start + r.equalBlock * BLOCK, BLOCK, image.begin() + r.equalBlock * BLOCK);
        ich10spiChipset chip(&rig.os, nullptr);
        BusLog bus;
        listen(rig.machine.bank(0), bus);
        rig.os.setTracing(true);
        if (r.partIgnoresIt) rig.machine.bank(0).onOperationStart = [n = 0]() mutable { return n++ != 0; };
        std::string err;
        ASSERT_EQ(quietly([&] { return chip.program(r.start, GROUP, GROUP, image.data()); }, nullptr, &err), 0);
        EXPECT_EQ(err, "");  // a fallback is counted, not reported
        EXPECT_EQ(bus.count(spinor::BE), r.blockErases);
        EXPECT_EQ(bus.count(spinor::SE), r.sectorErases);
        // Started by software sequencing from entry 7, after write enable.
        const auto& trace = rig.os.trace();
        const TraceEntry start = spiByteWrite(SSFS_ADDR + 1, 0x76);
        EXPECT_EQ(size_t(std::count(trace.begin(), trace.end(), start)), r.blockErases);
        const UpdateStats& stats = chip.getStats();
        EXPECT_EQ(stats.bigErases, r.bigErases);
        EXPECT_EQ(stats.bigEraseFallbacks, r.fallbacks);
        EXPECT_EQ(stats.erasedBlocks, r.bigErases * 16 + r.sectorErases);
        EXPECT_EQ(stats.erasedBytes, uint64_t(stats.erasedBlocks) * BLOCK);
    }
}
