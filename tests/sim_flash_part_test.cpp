// The simulated SPI NOR parts, driven byte by byte on their bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/flash_part.h"
#include "sim/spi_regs.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FlashPartTest : public ::testing::Test {
protected:
    SimClock clock;
    FlashPart part{*findFlashPart("MX25L6445E"), clock};

    // One selection; returns what the part shifted out.
    Bytes cmd(const Bytes& mosi) {
        Bytes miso;
        part.select();
        for (uint8_t b : mosi) miso.push_back(part.transfer(b));
        part.deselect();
        return miso;
    }
    uint8_t rdsr() { return cmd({spinor::RDSR, 0})[1]; }
    void wren() { cmd({spinor::WREN}); }
    void writeStatus(uint8_t v) {
        wren();
        cmd({spinor::WRSR, v});
        clock.advance(10 * SIM_NS_PER_MS);
    }
    static Bytes addressed(uint8_t op, uint32_t a, const Bytes& data = {}) {
        Bytes b{op, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
    void settle() { clock.advance(part.busyUntil() - std::min(part.busyUntil(), clock.ns)); }
};

TEST(FlashPartTable, EveryPartAnswersItsJedecIdentityAndStartsErased) {
    SimClock clock;
    ASSERT_EQ(flashPartTable().size(), 7u);
    for (const FlashPartInfo& info : flashPartTable()) {
        FlashPart part(info, clock);
        part.select();
        part.transfer(spinor::RDID);
        const uint8_t id[3] = {part.transfer(0), part.transfer(0), part.transfer(0)};
        part.deselect();
        EXPECT_EQ(Bytes(id, id + 3), Bytes(info.jedec, info.jedec + 3)) << info.name;
        EXPECT_EQ(part.array().size(), info.size);
        EXPECT_EQ(part.array().front(), 0xFF);
        EXPECT_EQ(findFlashPart(info.name), &info);
    }
    EXPECT_EQ(findFlashPart("MX25L6406E"), nullptr);
    const FlashPartInfo* unknown = findFlashPart("unknown");
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(Bytes(unknown->jedec, unknown->jedec + 3), Bytes({0, 0, 0}));
}

TEST(FlashPartTable, BlockProtectValuesGuardTheTopOfEachPart) {
    SimClock clock;
    struct Case { const char* part; uint8_t status; uint32_t firstGuarded; };
    const Case cases[] = {
        {"MX25L6445E", 0x94, 0x700000},  // BP = 5: top 1 MiB
        {"MX25L6445E", 0x84, 0x7F0000},  // BP = 1: top 64 KiB
        {"MX25L6445E", 0xBC, 0},         // all BP bits: whole part
        {"W25Q16BV", 0x94, 0x100000},    // BP2..0 = 5
        {"W25Q16BV", 0xBC, 0},           // BP2..0 all set, TB set
        {"AT26DF321", 0x94, 0x3F0000},   // SWP = 1
        {"MX25L1606E", 0x1C, 0x000000},  // BP = 7: 8 MiB, capped at the part
    };
    for (const Case& c : cases) {
        FlashPart part(*findFlashPart(c.part), clock);
        part.setStatus(c.status);
        EXPECT_TRUE(part.isProtected(c.firstGuarded)) << c.part << " " << int(c.status);
        EXPECT_TRUE(part.isProtected(part.info().size - 1));
        if (c.firstGuarded) {
            EXPECT_FALSE(part.isProtected(c.firstGuarded - 1)) << c.part;
        }
        part.setStatus(0);
        EXPECT_FALSE(part.isProtected(part.info().size - 1));
    }
}

TEST_F(FlashPartTest, StatusRegisterShowsWelAndLiveWipAndKeepsSrwdWithWp) {
    EXPECT_EQ(rdsr(), 0);
    wren();
    EXPECT_EQ(rdsr(), spinor::SR_WEL);
    cmd({spinor::WRDI});
    EXPECT_EQ(rdsr(), 0);

    cmd({spinor::WRSR, 0x9C});  // no WEL: ignored
    EXPECT_EQ(rdsr(), 0);
    wren();
    cmd({spinor::WRSR, 0xFF});  // WIP/WEL and bit 6 are not writable
    const Bytes poll = cmd({spinor::RDSR, 0, 0});
    EXPECT_EQ(poll[1], 0xBD);  // SRWD, BP3..0, WIP; WEL cleared
    EXPECT_EQ(poll[2], 0xBD);  // status repeats while selected
    clock.advance(10 * SIM_NS_PER_MS - 1);
    EXPECT_TRUE(part.busy());
    clock.advance(1);
    EXPECT_EQ(rdsr(), 0xBC);

    part.setWriteProtect(true);  // SRWD and WP# low: hardware protected
    wren();
    cmd({spinor::WRSR, 0x00});
    EXPECT_EQ(rdsr(), 0xBC);
    part.setWriteProtect(false);
    writeStatus(0x00);
    EXPECT_EQ(rdsr(), 0x00);
}

TEST_F(FlashPartTest, EraseSetsOnesAndProgramOnlyClearsBitsWithinThePage) {
    wren();
    cmd(addressed(spinor::PP, 0x1000, {0x0F, 0xF0}));
    EXPECT_EQ(part.busyUntil(), 1400 * SIM_NS_PER_US * 2 / 256);
    settle();
    wren();
    cmd(addressed(spinor::PP, 0x1000, {0xFC, 0xFF}));
    settle();
    EXPECT_EQ(cmd(addressed(spinor::READ, 0x1000, {0, 0, 0})), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0C, 0xF0, 0xFF}));

    // Starting 2 bytes before the end of a page, the 3rd and 4th bytes wrap.
    wren();
    cmd(addressed(spinor::PP, 0x10FE, {1, 2, 3, 4}));
    settle();
    EXPECT_EQ(part.array()[0x10FE], 1);
    EXPECT_EQ(part.array()[0x10FF], 2);
    EXPECT_EQ(part.array()[0x1000], 3 & 0x0C);
    EXPECT_EQ(part.array()[0x1001], 4 & 0xF0);
    EXPECT_EQ(part.array()[0x1100], 0xFF);

    wren();
    cmd(addressed(spinor::SE, 0x1ABC));
    EXPECT_TRUE(part.busy());
    EXPECT_EQ(part.busyUntil(), clock.ns + 60 * SIM_NS_PER_MS);
    settle();
    EXPECT_EQ(part.array()[0x1000], 0xFF);
    EXPECT_EQ(part.array()[0x1FFF], 0xFF);
    EXPECT_EQ(part.erasedBytes(), 4096u);
    EXPECT_EQ(part.programmedBytes(), 8u);
}

TEST_F(FlashPartTest, RefusedCommandsLeaveTheArrayAlone) {
    part.array()[0] = 0x55;
    cmd(addressed(spinor::PP, 0, {0x00}));  // no WEL
    cmd(addressed(spinor::SE, 0));
    EXPECT_EQ(part.array()[0], 0x55);

    writeStatus(0x84);  // top 64 KiB guarded
    part.array()[0x7F0000] = 0x55;
    wren();
    cmd(addressed(spinor::SE, 0x7F0000));
    EXPECT_FALSE(part.busy());
    EXPECT_EQ(rdsr() & spinor::SR_WEL, 0);  // refusal clears WEL
    wren();
    cmd(addressed(spinor::PP, 0x7FFF00, {0x00}));
    wren();
    cmd({spinor::CE});  // any guarded block refuses chip erase
    EXPECT_EQ(part.array()[0x7F0000], 0x55);
    EXPECT_EQ(part.array()[0], 0x55);
    EXPECT_EQ(part.erasedBytes() + part.programmedBytes(), 0u);

    // While busy only status reads are answered; other commands are dropped.
    wren();
    cmd(addressed(spinor::SE, 0));
    ASSERT_TRUE(part.busy());
    wren();
    EXPECT_EQ(cmd(addressed(spinor::READ, 0, {0}))[4], spinor::IDLE_BUS);
    EXPECT_EQ(rdsr(), 0x84 | spinor::SR_WIP);
}

TEST_F(FlashPartTest, OperationStartHookCanStopAnAcceptedOperation) {
    int calls = 0;
    part.onOperationStart = [&] { return ++calls > 1; };
    std::vector<Bytes> bus;
    part.onCommand = [&](const Bytes& mosi) { bus.push_back(mosi); };
    part.array()[0] = 0x00;
    wren();
    cmd(addressed(spinor::SE, 0));  // stopped: as it was, not busy
    EXPECT_EQ(part.array()[0], 0x00);
    EXPECT_FALSE(part.busy());
    EXPECT_EQ(rdsr(), spinor::SR_WEL);
    cmd({spinor::CE});  // goes ahead
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(part.array()[0], 0xFF);
    EXPECT_EQ(part.busyUntil(), 50000 * SIM_NS_PER_MS);
    EXPECT_EQ(bus.size(), 4u);
    EXPECT_EQ(bus[3], Bytes({spinor::CE}));
}

}  // namespace
