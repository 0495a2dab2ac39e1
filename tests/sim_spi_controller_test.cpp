// The simulated SPI controller, driven through its registers as a driver
// would; the flash part behind it shows what reached the bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/spi_controller.h"
#include "sim/spi_regs.h"

using namespace simspi;

namespace {

using Bytes = std::vector<uint8_t>;

// Menu entries used below.
enum : unsigned { M_PP, M_READ, M_SE, M_RDSR, M_RDID, M_WRSR, M_WREN, M_PP_AS_READ };

class SpiControllerTest : public ::testing::Test {
protected:
    SimClock clock;
    FlashPart part{*findFlashPart("MX25L6445E"), clock};
    bool biosWe = true;
    SpiController spi{clock, [this]() -> FlashPart& { return part; }, [this] { return biosWe; }};
    std::vector<Bytes> bus;

    void SetUp() override {
        part.onCommand = [this](const Bytes& mosi) { bus.push_back(mosi); };
        const uint8_t menu[8] = {spinor::PP, spinor::READ, spinor::SE, spinor::RDSR,
                                 spinor::RDID, spinor::WRSR, spinor::WREN, spinor::PP};
        for (unsigned i = 0; i < 8; ++i) spi.write(OPMENU + i, 1, menu[i]);
        // write+addr, read+addr, write+addr, read, read, write, write, read+addr
        spi.write(OPTYPE, 2, 0x943B);
        spi.write(PREOP, 2, spinor::WREN | spinor::WREN << 8);
    }
    // Starts a software cycle with one 32-bit write at SSFS, as a driver may.
    void swCycle(unsigned entry, bool atomic, int dataBytes) {
        uint32_t ssfc = SSFC_SCGO | entry << SSFC_COP_SHIFT | (atomic ? SSFC_ACS : 0);
        if (dataBytes > 0) ssfc |= SSFC_DS | uint32_t(dataBytes - 1) << SSFC_DBC_SHIFT;
        spi.write(SSFS, 4, ssfc << 8);
    }
    void hwCycle(unsigned fcycle, uint32_t addr, unsigned bytes) {
        spi.write(FADDR, 4, addr);
        spi.write(HSFC, 2, HSFC_FGO | fcycle << HSFC_FCYCLE_SHIFT | (bytes - 1) << HSFC_FDBC_SHIFT);
    }
    uint8_t ssfs() { return uint8_t(spi.read(SSFS, 1)); }
    uint8_t hsfs() { return uint8_t(spi.read(HSFS, 1)); }
    void runTo(uint64_t t) { clock.advance(t - clock.ns); }
    // Past the status poll that sees the part ready, at the latest.
    uint64_t afterBusy() const { return part.busyUntil() + 2 * POLL_NS; }
    static constexpr uint64_t POLL_NS = 16 * SPI_NS_PER_BIT;
};

TEST_F(SpiControllerTest, RegisterDecode) {
    EXPECT_EQ(spi.read(HSFS, 2), uint32_t(HSFS_BERASE_4K | HSFS_FDV | HSFS_FDOPSS));
    spi.write(HSFS, 2, 0xFFFF);  // nothing to clear, nothing writable
    EXPECT_EQ(spi.read(HSFS, 2), uint32_t(HSFS_BERASE_4K | HSFS_FDV | HSFS_FDOPSS));
    spi.write(FADDR, 4, 0xFF123456);
    EXPECT_EQ(spi.read(FADDR, 4), 0x123456u);
    spi.write(PR0, 4, 0x80001FFF);
    EXPECT_EQ(spi.read(PR0, 4), 0u);
    spi.write(LVSCC, 4, 0x00802005);
    EXPECT_EQ(spi.read(LVSCC, 4), 0x00802005u);
    EXPECT_EQ(spi.read(OPMENU + 4, 4), 0x0206019Fu);
}

TEST_F(SpiControllerTest, SoftwareReadFillsFdataWhenTheCycleEnds) {
    spi.write(FDATA0, 4, 0xAAAAAAAA);
    swCycle(M_RDID, false, 3);
    const uint64_t end = (1 + 3) * 8 * SPI_NS_PER_BIT;
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAAAAAAAAu);  // not yet
    runTo(end - 1);
    EXPECT_EQ(ssfs(), SSFS_SCIP);
    runTo(end);
    EXPECT_EQ(ssfs(), SSFS_CDS);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xAA1720C2u);  // only DBC+1 bytes land
    EXPECT_EQ(spi.read(SSFC, 1), uint32_t(M_RDID << SSFC_COP_SHIFT));  // SCGO reads 0
    EXPECT_EQ(spi.read(SSFC + 1, 2), uint32_t((SSFC_DS | 2 << SSFC_DBC_SHIFT) >> 8));
    spi.write(SSFS, 1, SSFS_CDS);
    EXPECT_EQ(ssfs(), 0);

    // Byte 0x91 alone reuses DS/DBC kept in 0x92/0x93.
    spi.write(SSFC, 1, SSFC_SCGO | M_RDID << SSFC_COP_SHIFT);
    runTo(clock.ns + end);
    EXPECT_EQ(bus.back(), Bytes({spinor::RDID, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SpiControllerTest, AtomicCycleSendsPrefixThenPollsUntilThePartIsReady) {
    spi.write(FDATA0, 1, 0x94);
    swCycle(M_WRSR, true, 1);
    // WREN, WRSR + 1 byte, then status polls until the 10 ms write ends.
    ASSERT_GE(bus.size(), 3u);
    EXPECT_EQ(bus[0], Bytes({spinor::WREN}));
    EXPECT_EQ(bus[1], Bytes({spinor::WRSR, 0x94}));
    EXPECT_EQ(bus[2][0], spinor::RDSR);
    EXPECT_EQ(part.status(), 0x94 | spinor::SR_WIP);
    runTo(part.busyUntil());
    EXPECT_EQ(ssfs(), SSFS_SCIP);  // the poll that sees WIP clear has not ended
    runTo(afterBusy());
    EXPECT_EQ(ssfs(), SSFS_CDS);

    // Without ACS the cycle ends with the transfer; the part is still busy.
    spi.write(SSFS, 1, SSFS_CDS);
    swCycle(M_WREN, false, 0);
    runTo(clock.ns + 8 * SPI_NS_PER_BIT);
    spi.write(FADDR, 4, 0x100);
    spi.write(FDATA0, 2, 0x3412);
    swCycle(M_PP, false, 2);
    runTo(clock.ns + 6 * 8 * SPI_NS_PER_BIT);
    EXPECT_EQ(ssfs(), SSFS_CDS);
    EXPECT_TRUE(part.busy());
    EXPECT_EQ(bus.back(), Bytes({spinor::PP, 0x00, 0x01, 0x00, 0x12, 0x34}));
}

TEST_F(SpiControllerTest, SoftwareCyclesTheControllerRefuses) {
    auto refused = [&](const char* what) {
        EXPECT_EQ(ssfs() & (SSFS_FCERR | SSFS_CDS | SSFS_SCIP), SSFS_FCERR) << what;
        EXPECT_TRUE(bus.empty()) << what;
        spi.write(SSFS, 1, SSFS_FCERR);
    };
    swCycle(M_PP_AS_READ, false, 1);
    refused("program opcode of a read type");
    swCycle(M_WRSR, true, 0);
    refused("write status without a data phase");
    biosWe = false;
    swCycle(M_SE, true, 0);
    refused("erase with BIOS writes disabled");
    swCycle(M_RDSR, false, 1);  // reads still go
    runTo(clock.ns + POLL_NS);
    EXPECT_EQ(ssfs(), SSFS_CDS);

    spi.swCycleHang = true;
    swCycle(M_RDSR, false, 1);
    runTo(clock.ns + 60 * SIM_NS_PER_MS);
    EXPECT_EQ(ssfs(), SSFS_CDS | SSFS_SCIP);
    bus.clear();
    swCycle(M_RDSR, false, 1);  // started while SCIP is set
    EXPECT_EQ(ssfs(), SSFS_CDS | SSFS_FCERR | SSFS_SCIP);
    EXPECT_TRUE(bus.empty());
}

TEST_F(SpiControllerTest, HardwareCyclesReadWriteAndEraseWithFdoneAfterBusy) {
    part.array()[0x2000] = 0x00;
    hwCycle(FCYCLE_ERASE, 0x2040, 1);
    EXPECT_EQ(bus[0], Bytes({spinor::WREN}));
    EXPECT_EQ(bus[1], Bytes({spinor::SE, 0x00, 0x20, 0x40}));
    EXPECT_EQ(part.array()[0x2000], 0xFF);
    runTo(part.busyUntil());
    EXPECT_EQ(hsfs() & (HSFS_SCIP | HSFS_FDONE), HSFS_SCIP);
    runTo(afterBusy());
    EXPECT_EQ(hsfs() & (HSFS_SCIP | HSFS_FDONE), HSFS_FDONE);
    spi.write(HSFS, 1, HSFS_FDONE);

    // 64-byte write 16 bytes before a page end wraps to the page start.
    for (uint32_t i = 0; i < FDATA_SIZE; i += 4) spi.write(FDATA0 + i, 4, 0x03020100 + i * 0x01010101);
    hwCycle(FCYCLE_WRITE, 0x20F0, 64);
    EXPECT_EQ(part.array()[0x20F0], 0);
    EXPECT_EQ(part.array()[0x2000], 16);
    EXPECT_EQ(part.array()[0x2100], 0xFF);
    EXPECT_EQ(spi.read(HSFC, 2), uint32_t(FCYCLE_WRITE << HSFC_FCYCLE_SHIFT | 63 << HSFC_FDBC_SHIFT));
    runTo(afterBusy());
    EXPECT_EQ(hsfs() & HSFS_FDONE, HSFS_FDONE);
    spi.write(HSFS, 1, HSFS_FDONE);

    spi.write(FDATA0, 4, 0);
    hwCycle(FCYCLE_READ, 0x20FE, 4);
    runTo(clock.ns + (4 + 4) * 8 * SPI_NS_PER_BIT);
    EXPECT_EQ(hsfs() & (HSFS_SCIP | HSFS_FDONE | HSFS_FCERR), HSFS_FDONE);
    EXPECT_EQ(spi.read(FDATA0, 4), 0xFFFF0F0Eu);  // reads run on past the page

    // The part's own block protection: the controller cannot tell.
    spi.write(HSFS, 1, HSFS_FDONE);
    part.setStatus(0xBC);
    hwCycle(FCYCLE_ERASE, 0x2000, 1);
    runTo(clock.ns + SIM_NS_PER_MS);
    EXPECT_EQ(hsfs() & (HSFS_FDONE | HSFS_FCERR), HSFS_FDONE);
    EXPECT_EQ(part.array()[0x2000], 16);
}

TEST_F(SpiControllerTest, HardwareCyclesTheControllerRefuses) {
    part.array()[0x5000] = 0x00;
    biosWe = false;
    hwCycle(FCYCLE_ERASE, 0x5000, 1);
    EXPECT_EQ(hsfs() & (HSFS_FCERR | HSFS_FDONE | HSFS_SCIP), HSFS_FCERR);
    spi.write(HSFS, 1, HSFS_FCERR);
    EXPECT_EQ(hsfs() & HSFS_FCERR, 0);
    biosWe = true;
    spi.fcerrBlock = 0x5800;
    hwCycle(FCYCLE_WRITE, 0x5FC0, 64);
    EXPECT_EQ(hsfs() & HSFS_FCERR, HSFS_FCERR);
    spi.write(HSFS, 1, HSFS_FCERR);
    hwCycle(FCYCLE_READ, 0x4FF0, 32);  // runs into the block
    EXPECT_EQ(hsfs() & HSFS_FCERR, HSFS_FCERR);
    EXPECT_TRUE(bus.empty());
    EXPECT_EQ(part.array()[0x5000], 0x00);

    spi.fcerrBlock.reset();
    spi.hwCycleHang = true;
    hwCycle(FCYCLE_READ, 0, 64);
    runTo(clock.ns + 1000 * SIM_NS_PER_MS);
    EXPECT_EQ(hsfs() & (HSFS_SCIP | HSFS_FDONE), HSFS_SCIP);
}

TEST_F(SpiControllerTest, CycleInFlightSurvivesSaveAndRestore) {
    spi.write(FADDR, 4, 0x10);
    part.array()[0x10] = 0x5A;
    hwCycle(FCYCLE_READ, 0x10, 1);
    const SpiController::CycleInFlight saved = spi.hwCycle();
    ASSERT_TRUE(saved.active);
    SpiController copy{clock, [this]() -> FlashPart& { return part; }, [] { return true; }};
    copy.registers() = spi.registers();
    copy.restoreCycles(saved, spi.swCycle());
    EXPECT_EQ(copy.read(HSFS, 1) & HSFS_SCIP, HSFS_SCIP);
    runTo(saved.doneAt);
    EXPECT_EQ(copy.read(HSFS, 1) & (HSFS_SCIP | HSFS_FDONE), HSFS_FDONE);
    EXPECT_EQ(copy.read(FDATA0, 1), 0x5Au);
}

}  // namespace
