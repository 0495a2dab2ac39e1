// The simulated SPI controller, driven through its registers as a driver
// would; the flash part behind it logs what reached the bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/spi_controller.h"
#include "sim/spi_regs.h"

using namespace simspi;

namespace {

using Bytes = std::vector<uint8_t>;

// Menu entries as SetUp programs them; the last is a program opcode typed as a read.
enum : unsigned { M_PP, M_READ, M_SE, M_RDSR, M_RDID, M_WRSR, M_WREN, M_PP_AS_READ };
constexpr uint64_t BYTE_NS = 8 * SPI_NS_PER_BIT;

class SpiControllerTest : public ::testing::Test {
protected:
    SimClock clock;
    FlashPart part{*findFlashPart("MX25L6445E"), clock};
    bool biosWe = true;
    SpiController spi{clock, [this]() -> FlashPart& { return part; }, [this] { return biosWe; }};
    std::vector<Bytes> bus;

    void SetUp() override {
        part.onCommand = [this](const Bytes& mosi) { bus.push_back(mosi); };
        spi.write(OPMENU, 4, 0x05200302);
        spi.write(OPMENU + 4, 4, 0x0206019F);
        spi.write(OPTYPE, 2, 0x943B);
        spi.write(PREOP, 2, 0x0606);
    }
    // A software cycle started by one 32-bit write at SSFS, as a driver may.
    void swCycle(unsigned entry, bool atomic, unsigned dataBytes) {
        uint32_t ssfc = SSFC_SCGO | entry << SSFC_COP_SHIFT | (atomic ? SSFC_ACS : 0);
        if (dataBytes > 0) ssfc |= SSFC_DS | (dataBytes - 1) << SSFC_DBC_SHIFT;
        spi.write(SSFS, 4, ssfc << 8);
    }
    void hwCycle(unsigned fcycle, uint32_t addr, unsigned bytes) {
        spi.write(FADDR, 4, addr);
        spi.write(HSFC, 2, HSFC_FGO | fcycle << HSFC_FCYCLE_SHIFT | (bytes - 1) << HSFC_FDBC_SHIFT);
    }
    uint8_t ssfs() { return uint8_t(spi.read(SSFS, 1)); }
    uint8_t hsfs() { return uint8_t(spi.read(HSFS, 1) & (HSFS_W1C | HSFS_SCIP)); }
    void runTo(uint64_t t) { clock.ns = t; }
    // Past the status poll that first sees the part ready.
    uint64_t afterBusy() const { return part.busyUntil() + 4 * BYTE_NS; }
};

TEST_F(SpiControllerTest, RegisterDecode) {
    EXPECT_EQ(spi.read(HSFS, 2), uint32_t(HSFS_BERASE_4K | HSFS_FDV | HSFS_FDOPSS));
    spi.write(HSFS, 2, 0xFFFF);
    EXPECT_EQ(spi.read(HSFS, 2), uint32_t(HSFS_BERASE_4K | HSFS_FDV | HSFS_FDOPSS));
    spi.write(FADDR, 4, 0xFF123456);
    EXPECT_EQ(spi.read(FADDR, 4), 0x123456u);
    spi.write(PR0, 4, 0x80001FFF);
    EXPECT_EQ(spi.read(PR0, 4), 0u);
    EXPECT_EQ(spi.read(OPMENU + 2, 4), 0x019F0520u);
}

TEST_F(SpiControllerTest, SoftwareReadLandsInFdataWhenTheCycleEnds) {
    spi.write(FDATA0, 4, 0xAAAAAAAA);
    swCycle(M_RDID, false, 3);
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    runTo(4 * BYTE_NS - 1);
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAAAAAAAAu);
    runTo(4 * BYTE_NS);
    EXPECT_EQ(ssfs(), SSFS_CDS);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAA1720C2u);  // DBC+1 bytes only
    EXPECT_EQ(spi.read(SSFC, 3), uint32_t(M_RDID << SSFC_COP_SHIFT | SSFC_DS | 2 << SSFC_DBC_SHIFT));
    spi.write(SSFS, 1, SSFS_CDS);
    EXPECT_EQ(ssfs(), 0);

    spi.write(SSFC, 1, SSFC_SCGO | M_RDID << SSFC_COP_SHIFT);  // 0x92/0x93 kept
    EXPECT_EQ(bus.back(), Bytes({spinor::RDID, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SpiControllerTest, AtomicCyclePrefixesAndPollsWhilePlainCycleEndsAtTransfer) {
    spi.write(FDATA0, 1, 0x94);
    swCycle(M_WRSR, true, 1);
    ASSERT_GE(bus.size(), 3u);
    EXPECT_EQ(bus[0], Bytes({spinor::WREN}));
    EXPECT_EQ(bus[1], Bytes({spinor::WRSR, 0x94}));
    EXPECT_EQ(bus[2], Bytes({spinor::RDSR, 0xFF}));
    EXPECT_EQ(part.status(), 0x94 | spinor::SR_WIP);
    runTo(part.busyUntil());
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    runTo(afterBusy());
    EXPECT_EQ(ssfs(), SSFS_CDS);

    spi.write(SSFS, 1, SSFS_CDS);
    swCycle(M_WREN, false, 0);
    runTo(clock.ns + BYTE_NS);
    spi.write(FADDR, 4, 0x100);
    spi.write(FDATA0, 2, 0x3412);
    swCycle(M_PP, false, 2);
    runTo(clock.ns + 6 * BYTE_NS);
    EXPECT_EQ(ssfs(), SSFS_CDS);
    EXPECT_TRUE(part.busy());
    EXPECT_EQ(bus.back(), Bytes({spinor::PP, 0x00, 0x01, 0x00, 0x12, 0x34}));
}

TEST_F(SpiControllerTest, RefusedSoftwareCyclesSetFcerrWithoutBusTraffic) {
    auto refused = [&](const char* what) {
        EXPECT_EQ(ssfs(), SSFS_FCERR) << what;
        EXPECT_TRUE(bus.empty()) << what;
        spi.write(SSFS, 1, SSFS_FCERR);
    };
    swCycle(M_PP_AS_READ, false, 1);
    refused("program opcode typed as a read");
    swCycle(M_WRSR, true, 0);
    refused("write status without a data phase");
    biosWe = false;
    swCycle(M_SE, true, 0);
    refused("erase with BIOS writes disabled");

    spi.swCycleHang = true;
    swCycle(M_RDSR, false, 1);  // reads still start, but this one never ends
    runTo(SIM_NS_PER_MS);
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    swCycle(M_RDSR, false, 1);
    EXPECT_EQ(ssfs(), SSFS_SCIP | SSFS_FCERR);
}

TEST_F(SpiControllerTest, HardwareCyclesEndWithFdoneOnlyAfterThePartIsReady) {
    part.array()[0x2000] = 0x00;
    hwCycle(FCYCLE_ERASE, 0x2040, 1);
    EXPECT_EQ(bus[1], Bytes({spinor::SE, 0x00, 0x20, 0x40}));
    EXPECT_EQ(part.array()[0x2000], 0xFF);
    runTo(part.busyUntil());
    EXPECT_EQ(hsfs(), HSFS_SCIP);
    runTo(afterBusy());
    EXPECT_EQ(hsfs(), HSFS_FDONE);
    spi.write(HSFS, 1, HSFS_FDONE);

    for (uint32_t i = 0; i < FDATA_SIZE; i += 4) spi.write(FDATA0 + i, 4, 0x03020100 + i * 0x01010101);
    bus.clear();
    hwCycle(FCYCLE_WRITE, 0x20F0, 64);  // wraps within the page after 16 bytes
    EXPECT_EQ(bus[0], Bytes({spinor::WREN}));
    EXPECT_EQ(part.array()[0x2000], 16);
    EXPECT_EQ(part.array()[0x2100], 0xFF);
    runTo(afterBusy());
    EXPECT_EQ(hsfs(), HSFS_FDONE);
    spi.write(HSFS, 1, HSFS_FDONE);

    hwCycle(FCYCLE_READ, 0x20FE, 4);
    const SpiController::CycleInFlight saved = spi.hwCycle();
    runTo(clock.ns + 8 * BYTE_NS);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xFFFF0F0Eu);  // reads run on past the page

    // A cycle in flight survives saving and restoring the controller.
    SpiController copy{clock, [this]() -> FlashPart& { return part; }, [] { return true; }};
    copy.restoreCycles(saved, {});
    runTo(saved.doneAt - 1);
    EXPECT_EQ(copy.read(HSFS, 1) & HSFS_SCIP, HSFS_SCIP);
    runTo(saved.doneAt);
    EXPECT_EQ(copy.read(FDATA0, 4), 0xFFFF0F0Eu);

    part.setStatus(0xBC);  // the part's own protection: the controller cannot tell
    spi.write(HSFS, 1, HSFS_FDONE);
    hwCycle(FCYCLE_ERASE, 0x2000, 1);
    runTo(clock.ns + SIM_NS_PER_MS);
    EXPECT_EQ(hsfs(), HSFS_FDONE);
    EXPECT_EQ(part.array()[0x2000], 16);
}

TEST_F(SpiControllerTest, RefusedAndHungHardwareCycles) {
    biosWe = false;
    hwCycle(FCYCLE_ERASE, 0x5000, 1);
    EXPECT_EQ(hsfs(), HSFS_FCERR);
    spi.write(HSFS, 1, HSFS_FCERR);
    biosWe = true;
    spi.fcerrBlock = 0x5800;
    hwCycle(FCYCLE_READ, 0x4FF0, 32);  // runs into the faulty block
    EXPECT_EQ(hsfs(), HSFS_FCERR);
    EXPECT_TRUE(bus.empty());

    spi.fcerrBlock.reset();
    spi.hwCycleHang = true;
    hwCycle(FCYCLE_READ, 0, 64);
    runTo(SIM_NS_PER_MS);
    EXPECT_EQ(hsfs(), HSFS_FCERR | HSFS_SCIP);
}

}  // namespace
