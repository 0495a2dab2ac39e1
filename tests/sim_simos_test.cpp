// SimOS as a host object: virtual time, the access trace and its text form,
// and the answers of the services the simulated board does not have.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/simos.h"

namespace {

std::vector<std::string> lines(const std::vector<TraceEntry>& trace) {
    std::vector<std::string> out;
    for (const TraceEntry& e : trace) out.push_back(formatTraceEntry(e));
    return out;
}

}  // namespace

TEST(SimOsTime, EveryCallCostsAMicrosecondAndSleepAddsItsMilliseconds) {
    Machine m(BoardConfig{});
    SimOS os(m);
    uint8_t buf[16];
    os.inportByte(PORT_BUS_DELAY);
    os.outportDword(PCI_CONFIG_ADDRESS, PCI_CFG_ENABLE);
    os.memRead(LEGACY_AREA_BASE, sizeof buf, buf);
    os.pipelineStart();
    EXPECT_EQ(m.clock().ns, 4 * SIM_NS_PER_US);
    os.sleep(0);
    EXPECT_EQ(m.clock().ns, 5 * SIM_NS_PER_US);
    os.sleep(1000);
    EXPECT_EQ(m.clock().ns, 6 * SIM_NS_PER_US + 1000 * SIM_NS_PER_MS);
}

TEST(SimOsTrace, RecordsEveryCallInOrderWithValuesSeenOnTheBus) {
    Machine m(BoardConfig{});
    SimOS os(m);
    os.inportByte(PORT_BUS_DELAY);  // not traced yet
    os.setTracing(true);

    os.outportDword(PCI_CONFIG_ADDRESS, PCI_CFG_ENABLE);
    EXPECT_EQ(os.inportDword(PCI_CONFIG_DATA), HOST_BRIDGE_ID_PCH);
    os.outportByte(PORT_BUS_DELAY, 0);
    os.inportWord(PORT_BUS_DELAY);
    uint8_t w[2] = {0x34, 0x12};
    os.memWrite(LEGACY_AREA_BASE, 2, w);
    uint8_t r4[4];
    os.memRead(LEGACY_AREA_BASE, 4, r4);
    std::vector<uint8_t> big(4096);
    os.memRead(0xFFFFF000u, uint32_t(big.size()), big.data());
    os.memWrite(LEGACY_AREA_BASE, 3, w);
    os.sleep(1);
    os.reboot();
    unsigned char mac[6];
    os.getMACAddress(mac);

    const std::vector<std::string> expected = {
        "out 0xcf8 4 0x80000000",
        "in 0xcfc 4 0x1008086",
        "out 0xeb 1 0x0",
        "in 0xeb 2 0xffff",
        "memw 0xf0000 2 0x1234",
        "memr 0xf0000 4 0xffff1234",
        "memr 0xfffff000 4096 -",
        "memw 0xf0000 3 -",
        "sleep 1",
        "reboot",
        "getmacaddress",
    };
    EXPECT_EQ(lines(os.trace()), expected);
    EXPECT_EQ(os.trace()[1], (TraceEntry{TraceKind::In, PCI_CONFIG_DATA, 4, HOST_BRIDGE_ID_PCH,
                                         nullptr}));
    EXPECT_EQ(os.trace()[9], (TraceEntry{TraceKind::Call, 0, 0, 0, "reboot"}));

    const std::string path = ::testing::TempDir() + "h3_simos_trace.txt";
    ASSERT_TRUE(os.writeTrace(path));
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string joined;
    for (const std::string& l : expected) joined += l + "\n";
    EXPECT_EQ(text.str(), joined);
    std::remove(path.c_str());
    EXPECT_FALSE(os.writeTrace("/nonexistent-dir/trace.txt"));

    os.clearTrace();
    os.setTracing(false);
    os.sleep(1);
    EXPECT_TRUE(os.trace().empty());
}

TEST(SimOsTrace, PortAccessesReachTheMachine) {
    BoardConfig cfg;
    cfg.hostBridgeId = HOST_BRIDGE_ID_ICH;
    Machine m(cfg);
    SimOS os(m);
    // The bank toggle line of this board, pulsed through the host object.
    const uint16_t level = uint16_t((BOARD_GPIOBASE & GPIOBASE_ADDR_MASK) + GP_LVL + 3);
    const uint8_t toggle = uint8_t(1u << (m.wiring().bankToggle % 8));
    const uint8_t v = os.inportByte(level);
    os.outportByte(level, uint8_t(v & ~toggle));
    os.outportByte(level, uint8_t(v | toggle));
    os.outportByte(level, uint8_t(v & ~toggle));
    EXPECT_EQ(m.activeBank(), 1);
    EXPECT_EQ(os.inportByte(level) & (1u << (m.wiring().bankSense % 8)), 1u);
}

TEST(SimOsServices, AbsentDevicesAnswerAsTheHostLayerDoes) {
    Machine m(BoardConfig{});
    SimOS os(m);
    void* handle = &m;
    unsigned int n = 0;
    unsigned char buf[8] = {};
    unsigned short len = 0;
    H8cmd_s cmd{};
    EXPECT_EQ(os.spOpenSPDriver(&handle, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(os.spOpenSPDriverNode(&handle, 0, 0, &n, 0), 0xFFFFFFFFu);
    EXPECT_EQ(os.spSystemDataIO(nullptr, buf, 0), 0xFFFFFFFFu);
    EXPECT_EQ(os.spCloseSPDriver(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(os.bmcOpenSP6Driver(&handle, nullptr), -1);
    EXPECT_EQ(os.bmcCloseSP6Driver(nullptr, nullptr), 0);
    EXPECT_EQ(os.bmcSendSP6Request(nullptr, 0, 0, buf, 0, 0, buf, &len, buf, nullptr), 8);
    EXPECT_EQ(os.h8init(), -1);
    EXPECT_EQ(os.h8readcommand(&cmd), -1);
    EXPECT_EQ(os.h8writecommand(&cmd), -1);
    EXPECT_EQ(os.h8pollcommand(&cmd), -1);
    EXPECT_EQ(os.h8destroy(), -1);
    EXPECT_EQ(os.UsbDrive_FindDevice(nullptr, nullptr), 0);
    EXPECT_EQ(os.UsbDrive_Open(nullptr, nullptr), 0);
    EXPECT_EQ(os.UsbDrive_Write(nullptr, 0), 0);
    EXPECT_EQ(os.UsbDrive_Close(), 1);

    unsigned char a[6] = {}, b[6] = {};
    os.getMACAddress(a);
    os.getMACAddress(b);
    EXPECT_EQ(0, std::memcmp(a, BOARD_MAC, 6));
    EXPECT_EQ(0, std::memcmp(a, b, 6));
    EXPECT_EQ(os.reboot(), 0);
    EXPECT_EQ(os.rebootCount(), 1u);
}
