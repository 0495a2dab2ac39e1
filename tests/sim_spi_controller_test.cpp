// The simulated SPI NOR parts, driven byte by byte on their bus, and the SPI
// controller in front of them, driven through its registers as a driver would.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/board/spi_controller.h"
#include "sim/board/spi_regs.h"

using namespace simspi;

namespace {

using Bytes = std::vector<uint8_t>;

// Menu entries as SetUp programs them; the last is a program opcode typed as a read.
enum : unsigned { M_PP, M_READ, M_SE, M_RDSR, M_RDID, M_WRSR, M_WREN, M_PP_AS_READ };
constexpr uint64_t BYTE_NS = 8 * SPI_NS_PER_BIT;

Bytes addressed(uint8_t op, uint32_t a, const Bytes& data = {}) {
    Bytes b{op, uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)};
    for (uint8_t d : data) b.push_back(d);
    return b;
}

// One selection of the part with these bytes on MOSI; returns MISO.
Bytes onBus(FlashPart& part, const Bytes& mosi) {
    Bytes miso;
    part.select();
    for (uint8_t b : mosi) miso.push_back(part.transfer(b));
    part.deselect();
    return miso;
}

class SpiBusTest : public ::testing::Test {
protected:
    SimClock clock;
    FlashPart part{*findFlashPart("MX25L6445E"), clock};
    SpiController spi{clock, [this]() -> FlashPart& { return part; }, [] { return true; }};
    std::vector<Bytes> bus;  // every command that reached the part

    void SetUp() override {
        part.onCommand = [this](const Bytes& mosi) { bus.push_back(mosi); };
        spi.write(OPMENU, 4, 0x05200302);
        spi.write(OPMENU + 4, 4, 0x0206019F);
        spi.write(OPTYPE, 2, 0x943B);
        spi.write(PREOP, 2, 0x0606);
    }

    Bytes cmd(const Bytes& mosi) { return onBus(part, mosi); }
    void wren() { cmd({spinor::WREN}); }

    // Through the controller. A software cycle started by one 32-bit write at SSFS, as a driver may.
    void swCycle(unsigned entry, bool atomic, unsigned dataBytes) {
        uint32_t ssfc = SSFC_SCGO | entry << SSFC_COP_SHIFT | (atomic ? SSFC_ACS : 0);
        if (dataBytes > 0) ssfc |= SSFC_DS | (dataBytes - 1) << SSFC_DBC_SHIFT;
        spi.write(SSFS, 4, ssfc << 8);
    }
    uint8_t ssfs() { return uint8_t(spi.read(SSFS, 1)); }
    uint8_t hsfs() { return uint8_t(spi.read(HSFS, 1) & (HSFS_W1C | HSFS_SCIP)); }
    void runTo(uint64_t t) { clock.ns = t; }
};

}  // namespace

// Erase and write-status commands on a part whose array is all zeros, each
// command let run to its end: what they erase, the status they leave, the
// time they keep the part busy. Refusals erase nothing and clear WEL.
TEST(FlashPartCommands, EraseAndStatusWritesAsTheDatasheetsSay) {
    using namespace spinor;
    const Bytes wren = {WREN};
    struct Row {
        const char* what;
        const char* part;
        uint8_t status;  // programmed as an earlier write-status would leave it
        bool wp;         // WP# asserted
        std::vector<Bytes> commands;
        uint32_t erased, firstErased;  // bytes that read 0xFF afterwards, the lowest
        uint8_t statusAfter;
        uint64_t busyMs;
    };
    const Row rows[] = {
        {"sector erase without WEL", "MX25L6445E", 0x00, false, {addressed(SE, 0)}, 0, 0, 0x00, 0},
        {"sector erase of a guarded block", "MX25L6445E", 0x84, false, {wren, addressed(SE, 0x7F0000)}, 0, 0, 0x84, 0},
        {"block erase, unaligned address", "W25Q16BV", 0x00, false, {wren, addressed(BE, 0x1F1234)}, 0x10000, 0x1F0000, 0x00, 150},
        {"block erase below the guarded top", "W25Q16BV", 0x04, false, {wren, addressed(BE, 0x1E0000)}, 0x10000, 0x1E0000, 0x04, 150},
        {"block erase of a guarded block", "W25Q16BV", 0x04, false, {wren, addressed(BE, 0x1F8000)}, 0, 0, 0x04, 0},
        {"write status leaves WIP, WEL and bit 6 alone", "MX25L6445E", 0x00, false, {wren, {WRSR, 0xFF}}, 0, 0, 0xBC, 10},
        {"write status under SRWD with WP# asserted", "MX25L6445E", 0xBC, true, {wren, {WRSR, 0}}, 0, 0, 0xBC, 0},
        // Atmel: global protection; bit 4 reads WP# (WPP), bit 7 is SPRL.
        {"Atmel global protection", "AT26DF321", 0xBC, false, {}, 0, 0, 0x9C, 0},
        {"Atmel SPRL with WP# asserted", "AT26DF321", 0xBC, true, {wren, {WRSR, 0}}, 0, 0, 0x8C, 0},
        {"Atmel clears SPRL, and then the protection", "AT26DF321", 0xBC, false,
         {wren, {WRSR, 0x14}, wren, {WRSR, 0x00}}, 0, 0, 0x10, 20},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SimClock clock;
        FlashPart part(*findFlashPart(r.part), clock);
        std::fill(part.array().begin(), part.array().end(), 0x00);
        part.programStatus(r.status);
        part.setWriteProtect(r.wp);
        for (const Bytes& c : r.commands) {
            onBus(part, c);
            clock.ns = std::max(clock.ns, part.busyUntil());
        }
        const auto& a = part.array();
        EXPECT_EQ(uint32_t(std::count(a.begin(), a.end(), 0xFF)), r.erased);
        if (r.erased) {
            EXPECT_EQ(uint32_t(std::find(a.begin(), a.end(), 0xFF) - a.begin()), r.firstErased);
        }
        EXPECT_EQ(part.status(), r.statusAfter);
        EXPECT_EQ(clock.ns, r.busyMs * SIM_NS_PER_MS);
    }
}

TEST_F(SpiBusTest, ProgramOnlyClearsBitsWrappingInThePage) {
    // Two programs at one address; the first one's third byte wraps to 0x1000.
    for (const Bytes& data : {Bytes{0x0F, 0xF0, 0x33}, Bytes{0xFC}}) {
        wren();
        cmd(addressed(spinor::PP, 0x10FE, data));
        clock.ns = part.busyUntil();
    }
    EXPECT_EQ(cmd(addressed(spinor::READ, 0x10FE, {0, 0, 0})),
              Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0C, 0xF0, 0xFF}));  // reads run on
    EXPECT_EQ(part.array()[0x1000], 0x33);
}

TEST_F(SpiBusTest, WhileBusyOnlyStatusReadsAreAnswered) {
    wren();
    cmd(addressed(spinor::SE, 0));
    ASSERT_TRUE(part.busy());
    wren();
    EXPECT_EQ(cmd(addressed(spinor::READ, 0, {0}))[4], spinor::IDLE_BUS);
    EXPECT_EQ(cmd({spinor::RDSR, 0})[1], spinor::SR_WIP);
    EXPECT_EQ(part.erasedBytes(), 4096u);
}

TEST_F(SpiBusTest, SoftwareReadLandsInFdataWhenTheCycleEnds) {
    spi.write(FDATA0, 4, 0xAAAAAAAA);
    swCycle(M_RDID, false, 3);
    runTo(4 * BYTE_NS - 1);
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAAAAAAAAu);
    runTo(4 * BYTE_NS);
    EXPECT_EQ(ssfs(), SSFS_CDS);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAA1720C2u);  // DBC+1 bytes only
    spi.write(SSFS, 1, SSFS_CDS);
    EXPECT_EQ(ssfs(), 0);
}

TEST_F(SpiBusTest, RefusedSoftwareCyclesSetFcerrWithoutBusTraffic) {
    struct Row { unsigned entry; bool atomic; unsigned dataBytes; const char* what; };
    for (const Row& r : {Row{M_PP_AS_READ, false, 1, "program opcode typed as a read"},
                         Row{M_WRSR, true, 0, "write status without a data phase"}}) {
        SCOPED_TRACE(r.what);
        swCycle(r.entry, r.atomic, r.dataBytes);
        EXPECT_EQ(ssfs(), SSFS_FCERR);
        EXPECT_TRUE(bus.empty());
        spi.write(SSFS, 1, SSFS_FCERR);
    }
}

TEST_F(SpiBusTest, HardwareEraseEndsWithFdoneOnlyAfterThePartIsReady) {
    part.array()[0x2000] = 0x00;
    spi.write(FADDR, 4, 0x2040);
    spi.write(HSFC, 2, HSFC_FGO | FCYCLE_ERASE << HSFC_FCYCLE_SHIFT);
    EXPECT_EQ(bus[1], Bytes({spinor::SE, 0x00, 0x20, 0x40}));
    EXPECT_EQ(part.array()[0x2000], 0xFF);
    runTo(part.busyUntil());
    EXPECT_EQ(hsfs(), HSFS_SCIP);
    runTo(part.busyUntil() + 4 * BYTE_NS);  // past the status poll that first sees it ready
    EXPECT_EQ(hsfs(), HSFS_FDONE);
}
