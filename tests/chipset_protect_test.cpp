// Flash protection, boot bank and EEPROM write-protect: the device state the
// steps leave, and the access order where order is what keeps the part safe.
#include "chipset_rig.h"

namespace {

constexpr uint32_t FDATA0_ADDR = SPI_BLOCK_BASE + 0x10;
constexpr uint32_t SSFS_ADDR = SPI_BLOCK_BASE + 0x90;

// The byte values written to one GPIO port, in order.
std::vector<uint32_t> writesTo(const SimOS& os, uint32_t port) {
    std::vector<uint32_t> values;
    for (const TraceEntry& e : entriesAt(os.trace(), port, port, TraceKind::Out)) values.push_back(e.value);
    return values;
}

bool anyGpioAccess(const SimOS& os) {
    return !entriesAt(os.trace(), GPIO_BASE, GPIO_BASE + 0x3F, TraceKind::In).empty() ||
           !entriesAt(os.trace(), GPIO_BASE, GPIO_BASE + 0x3F, TraceKind::Out).empty();
}

// Locks the part as the end of an update does, then lets the write finish.
void lockAfterUpdate(ChipsetRig& rig) {
    { ich10spiChipset opener(&rig.os, nullptr); }  // sets BIOSWE, programs the menu
    LockSPIFlash(&rig.os, nullptr);
    LockSPI_WP(&rig.os);
    rig.os.sleep(20);
}

void expectRelockAndUnlock(uint32_t hostBridge, const char* part, uint8_t lockedStatus,
                           uint32_t bootBlock) {
    ChipsetRig rig(hostBridge, part);
    lockAfterUpdate(rig);
    EXPECT_EQ(rig.machine.bank(0).status(), lockedStatus);
    EXPECT_TRUE(rig.machine.flashWriteProtectAsserted());

    // A later update opens every guard again and can rewrite the boot block.
    updt_bblk = true;
    ich10spiChipset chip(&rig.os, nullptr);
    testing::internal::CaptureStderr();
    ASSERT_EQ(chip.identify(), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.machine.bank(0).status() & 0xBC, 0);
    EXPECT_FALSE(rig.machine.flashWriteProtectAsserted());
    EXPECT_EQ(rig.machine.biosControl() & 0x01, 0x01);

    std::vector<uint8_t> image = pattern(0x1000, 9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(chip.program(bootBlock, 0x1000, 0x10000, image.data()), 0);
    capturedStdout();
    const auto& flash = rig.machine.bank(0).array();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + bootBlock));
}

}  // namespace

TEST(ChipsetProtect, PchPartLeftProtectedIsUnlockedAndProgrammable) {
    expectRelockAndUnlock(HOST_BRIDGE_ID_PCH, "MX25L6445E", 0x94, 0x7FF000);
}

TEST(ChipsetProtect, IchPartLeftProtectedIsUnlockedAndProgrammable) {
    expectRelockAndUnlock(HOST_BRIDGE_ID_ICH, "W25Q16BV", 0xBC, 0x1FF000);
}

TEST(ChipsetProtect, StatusIsWrittenWithOneDataByteBeforeWriteProtectDrops) {
    ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
    { ich10spiChipset opener(&rig.os, nullptr); }
    rig.os.setTracing(true);
    LockSPIFlash(&rig.os, nullptr);
    LockSPI_WP(&rig.os);

    std::vector<std::pair<uint32_t, uint32_t>> memWrites;
    size_t lastMemWrite = 0, firstGpioWrite = 0;
    const auto& trace = rig.os.trace();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].kind == TraceKind::MemW) {
            memWrites.push_back({trace[i].address, trace[i].value});
            lastMemWrite = i;
        }
        if (trace[i].kind == TraceKind::Out && trace[i].address == GPIO_BASE + 0x03 && !firstGpioWrite)
            firstGpioWrite = i;
    }
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {FDATA0_ADDR, 0x94}, {SSFS_ADDR + 3, 0x00}, {SSFS_ADDR + 2, 0x40}, {SSFS_ADDR + 1, 0x56}};
    EXPECT_EQ(memWrites, expected);
    EXPECT_LT(lastMemWrite, firstGpioWrite);
    // GPIO 28: made a GPIO, made an output, driven low.
    EXPECT_EQ(writesTo(rig.os, GPIO_BASE + 0x03).back() & 0x10, 0x10u);
    EXPECT_EQ(writesTo(rig.os, GPIO_BASE + 0x07).back() & 0x10, 0u);
    EXPECT_EQ(writesTo(rig.os, GPIO_BASE + 0x0F).back() & 0x10, 0u);
}

TEST(ChipsetProtect, IchWriteProtectIsThreeReadModifyWrites) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    const uint8_t select = rig.machine.gpioLevelByte(0x03);
    rig.os.setTracing(true);
    LockSPI_WP(&rig.os);
    std::vector<TraceEntry> gpio;
    for (const TraceEntry& e : rig.os.trace())
        if (e.address >= GPIO_BASE && e.address < GPIO_BASE + 0x40) gpio.push_back(e);
    ASSERT_EQ(gpio.size(), 6u);
    const uint32_t ports[3] = {GPIO_BASE + 0x03, GPIO_BASE + 0x07, GPIO_BASE + 0x0F};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gpio[2 * i].kind, TraceKind::In);
        EXPECT_EQ(gpio[2 * i].address, ports[i]);
        EXPECT_EQ(gpio[2 * i + 1].kind, TraceKind::Out);
        EXPECT_EQ(gpio[2 * i + 1].address, ports[i]);
    }
    EXPECT_EQ(gpio[1].value, uint32_t(select | 0x04));
    EXPECT_EQ(gpio[3].value & 0x04, 0u);
    EXPECT_EQ(gpio[5].value & 0x04, 0u);
    EXPECT_TRUE(rig.machine.flashWriteProtectAsserted());
}

TEST(ChipsetProtect, EepromLineFollowsLockAndUnlock) {
    for (uint32_t bridge : {HOST_BRIDGE_ID_PCH, HOST_BRIDGE_ID_ICH}) {
        ChipsetRig rig(bridge, bridge == HOST_BRIDGE_ID_PCH ? "MX25L6445E" : "MX25L1606E");
        EXPECT_EQ(UnlockEEPROM(&rig.os), 1);
        EXPECT_FALSE(rig.machine.eepromWriteProtectHigh());
        EXPECT_EQ(LockEEPROM(&rig.os), 1);
        EXPECT_TRUE(rig.machine.eepromWriteProtectHigh());
    }
}

TEST(ChipsetProtect, BankToggleAndSense) {
    struct Case { uint32_t bridge; const char* part; unsigned char backup; uint32_t togglePort; uint8_t mask; };
    const Case cases[] = {{HOST_BRIDGE_ID_PCH, "MX25L6445E", 0x02, GPIO_BASE + 0x0D, 0x80},
                          {HOST_BRIDGE_ID_ICH, "W25Q16BV", 0x01, GPIO_BASE + 0x0F, 0x08}};
    for (const Case& c : cases) {
        ChipsetRig rig(c.bridge, c.part);
        testing::internal::CaptureStdout();
        EXPECT_EQ(ReadActiveBIOS(&rig.os), 0);
        EXPECT_EQ(capturedStdout(), "Current Active BIOS is Primary BIOS\n");

        rig.os.setTracing(true);
        change_pb_gpio(&rig.os);
        const std::vector<uint32_t> levels = writesTo(rig.os, c.togglePort);
        ASSERT_EQ(levels.size(), 3u);
        EXPECT_EQ(levels[0] & c.mask, 0u);
        EXPECT_EQ(levels[1] & c.mask, c.mask);
        EXPECT_EQ(levels[2] & c.mask, 0u);
        EXPECT_EQ(rig.machine.activeBank(), 1);

        testing::internal::CaptureStdout();
        EXPECT_EQ(ReadActiveBIOS(&rig.os), c.backup);
        EXPECT_EQ(capturedStdout(), "Current Active BIOS is Backup BIOS\n");
        change_pb_gpio(&rig.os);
        EXPECT_EQ(rig.machine.activeBank(), 0);
    }
}

TEST(ChipsetProtect, NeitherGenerationTouchesNoLineAndLocksNothing) {
    ChipsetRig rig(NEITHER_HOST_BRIDGE, "MX25L6445E");
    { ich10spiChipset opener(&rig.os, nullptr); }
    rig.os.setTracing(true);
    LockSPIFlash(&rig.os, nullptr);
    LockSPI_WP(&rig.os);
    LockEEPROM(&rig.os);
    change_pb_gpio(&rig.os);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadActiveBIOS(&rig.os), 0);
    capturedStdout();
    EXPECT_FALSE(anyGpioAccess(rig.os));
    for (const TraceEntry& e : rig.os.trace()) EXPECT_NE(e.kind, TraceKind::MemW);
    EXPECT_EQ(rig.machine.activeBank(), 0);
}

TEST(ChipsetProtect, SoftwareCycleStartsWithTheGoByteLast) {
    ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
    ich10spiChipset chip(&rig.os, nullptr);
    rig.os.setTracing(true);
    testing::internal::CaptureStderr();
    chip.identify();
    testing::internal::GetCapturedStderr();
    // The identity command: SCIP read clear, then 0x93, 0x92, 0x91, 0x90.
    const auto& t = rig.os.trace();
    auto at = std::find_if(t.begin(), t.end(), [](const TraceEntry& e) {
        return e.kind == TraceKind::MemW && e.address == SSFS_ADDR + 1 && e.value == 0x42;
    });
    ASSERT_NE(at, t.end());
    ASSERT_GE(at - t.begin(), 3);
    const TraceEntry& scip = *(at - 3);
    EXPECT_TRUE(scip.kind == TraceKind::MemR && scip.address == SSFS_ADDR && (scip.value & 1) == 0);
    EXPECT_TRUE(*(at - 2) == (TraceEntry{TraceKind::MemW, SSFS_ADDR + 3, 1, 0x00, nullptr}));
    EXPECT_TRUE(*(at - 1) == (TraceEntry{TraceKind::MemW, SSFS_ADDR + 2, 1, 0x43, nullptr}));
    EXPECT_TRUE(*(at + 1) == (TraceEntry{TraceKind::MemW, SSFS_ADDR, 1, 0x00, nullptr}));
}
