// The simulated SPI NOR parts, driven byte by byte on their bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/flash_part.h"
#include "sim/spi_regs.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes addressed(uint8_t op, uint32_t a, const Bytes& data = {}) {
    Bytes b{op, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
    for (uint8_t d : data) b.push_back(d);
    return b;
}

class FlashPartTest : public ::testing::Test {
protected:
    SimClock clock;
    FlashPart part{*findFlashPart("MX25L6445E"), clock};

    Bytes cmd(const Bytes& mosi) {  // one selection; returns MISO
        Bytes miso;
        part.select();
        for (uint8_t b : mosi) miso.push_back(part.transfer(b));
        part.deselect();
        return miso;
    }
    uint8_t rdsr() { return cmd({spinor::RDSR, 0})[1]; }
    void wren() { cmd({spinor::WREN}); }
    void settle() { clock.ns = std::max(clock.ns, part.busyUntil()); }
};

TEST(FlashPartTable, IdentityAndTopProtectionOfEachPart) {
    SimClock clock;
    for (const FlashPartInfo& info : flashPartTable()) {
        FlashPart part(info, clock);
        part.select();
        const Bytes id = {part.transfer(spinor::RDID), part.transfer(0), part.transfer(0),
                          part.transfer(0)};
        part.deselect();
        EXPECT_EQ(id, Bytes({0xFF, info.jedec[0], info.jedec[1], info.jedec[2]})) << info.name;
        EXPECT_EQ(part.array().size(), info.size);
    }
    EXPECT_EQ(findFlashPart("unknown"), &flashPartTable().back());

    struct Case { const char* part; uint8_t status; uint32_t firstGuarded; };
    const Case cases[] = {
        {"MX25L6445E", 0x94, 0x700000},  // BP = 5: top 1 MiB
        {"MX25L6445E", 0x84, 0x7F0000},  // BP = 1: top 64 KiB
        {"MX25L6445E", 0xBC, 0},         // all BP bits: whole part
        {"W25Q16BV", 0x94, 0x100000},    // BP2..0 = 5
        {"AT26DF321", 0x94, 0x3F0000},   // SWP = 1
        {"MX25L1606E", 0x1C, 0},         // BP = 7: 8 MiB, capped at the part
    };
    for (const Case& c : cases) {
        FlashPart part(*findFlashPart(c.part), clock);
        part.setStatus(c.status);
        EXPECT_TRUE(part.isProtected(c.firstGuarded)) << c.part << " " << int(c.status);
        EXPECT_EQ(c.firstGuarded && part.isProtected(c.firstGuarded - 1), false) << c.part;
    }
}

TEST_F(FlashPartTest, StatusRegisterWelWipAndHardwareProtectedMode) {
    wren();
    EXPECT_EQ(rdsr(), spinor::SR_WEL);
    cmd({spinor::WRDI});
    cmd({spinor::WRSR, 0x9C});  // no WEL: ignored
    EXPECT_EQ(rdsr(), 0);
    wren();
    cmd({spinor::WRSR, 0xFF});  // WIP, WEL and bit 6 are not writable
    EXPECT_EQ(cmd({spinor::RDSR, 0, 0}), Bytes({0xFF, 0xBD, 0xBD}));  // repeats, WIP live
    clock.advance(10 * SIM_NS_PER_MS - 1);
    EXPECT_TRUE(part.busy());
    clock.advance(1);
    EXPECT_EQ(rdsr(), 0xBC);

    part.setWriteProtect(true);  // SRWD with WP# low: status is frozen
    wren();
    cmd({spinor::WRSR, 0x00});
    EXPECT_EQ(rdsr(), 0xBC);
}

TEST_F(FlashPartTest, EraseSetsOnesAndProgramOnlyClearsBitsWrappingInThePage) {
    wren();
    cmd(addressed(spinor::PP, 0x10FE, {0x0F, 0xF0, 0x33}));  // third byte wraps to 0x1000
    EXPECT_EQ(part.busyUntil(), 1400 * SIM_NS_PER_US * 3 / 256);
    settle();
    wren();
    cmd(addressed(spinor::PP, 0x10FE, {0xFC}));
    settle();
    EXPECT_EQ(cmd(addressed(spinor::READ, 0x10FE, {0, 0, 0})),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0C, 0xF0, 0xFF}));  // reads run on
    EXPECT_EQ(part.array()[0x1000], 0x33);

    wren();
    cmd(addressed(spinor::SE, 0x1ABC));
    EXPECT_EQ(part.busyUntil(), clock.ns + 60 * SIM_NS_PER_MS);
    settle();
    EXPECT_EQ(part.array()[0x1000], 0xFF);
    EXPECT_EQ(part.array()[0x10FF], 0xFF);
    EXPECT_EQ(part.erasedBytes(), 4096u);
    EXPECT_EQ(part.programmedBytes(), 4u);
}

TEST_F(FlashPartTest, RefusedBusyAndStoppedCommandsLeaveTheArrayAlone) {
    part.array()[0] = 0x55;
    cmd(addressed(spinor::SE, 0));  // no WEL
    part.setStatus(0x84);           // top 64 KiB guarded
    part.array()[0x7F0000] = 0x55;
    wren();
    cmd(addressed(spinor::SE, 0x7F0000));
    EXPECT_EQ(rdsr(), 0x84);  // refusal clears WEL, nothing started
    wren();
    cmd({spinor::CE});  // any guarded block refuses chip erase
    EXPECT_EQ(part.array()[0x7F0000], 0x55);
    EXPECT_EQ(part.array()[0], 0x55);

    // The power-cut hook stops an accepted erase: no change, not busy, WEL kept.
    part.onOperationStart = [] { return false; };
    wren();
    cmd(addressed(spinor::SE, 0));
    EXPECT_EQ(rdsr(), 0x84 | spinor::SR_WEL);
    part.onOperationStart = nullptr;
    cmd(addressed(spinor::SE, 0));
    ASSERT_TRUE(part.busy());

    // While busy only status reads are answered.
    wren();
    EXPECT_EQ(cmd(addressed(spinor::READ, 0, {0}))[4], spinor::IDLE_BUS);
    EXPECT_EQ(rdsr(), 0x84 | spinor::SR_WIP);
    EXPECT_EQ(part.erasedBytes(), 4096u);
}

}  // namespace
