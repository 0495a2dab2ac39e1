// The machine directory (round trip, damage detection) and the lromup-sim
// command line's refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/board_image.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_tool.h"

namespace {

class MachineDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lromup-simdir-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void saveDefault() {
        std::string error;
        ASSERT_TRUE(saveMachineDir(dir, *buildMachine(MachineOptions()), MachineRecord{"moro310"}, &error)) << error;
    }
    static int tool(std::vector<std::string> args) {  // argv[0] supplied
        args.insert(args.begin(), "lromup-sim");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        return simToolMain(int(argv.size()), argv.data());
    }

    std::string dir;
};

void patchByte(const std::string& file, long offset, char value) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.put(value);
}

}  // namespace

TEST_F(MachineDirTest, RoundTripKeepsEveryPieceOfState) {
    MachineOptions o;
    o.model = "moro330";
    o.activeBank = 1;
    auto m = buildMachine(o);
    m->bank(0).array()[0x1234] = 0x5A;
    m->bank(1).setStatus(0x00);
    m->legacyArea()[7] = 0x42;
    m->pciWrite(0, 31, 0, LPC_BIOS_CNTL, BIOS_CNTL_BIOSWE);  // volatile chipset state
    MachineRecord r{"moro330", 123456789, 4096, 64};
    std::string error;
    ASSERT_TRUE(saveMachineDir(dir, *m, r, &error)) << error;

    MachineRecord back;
    auto n = loadMachineDir(dir, back, &error);
    ASSERT_TRUE(n) << error;
    EXPECT_EQ(back.model, "moro330");
    EXPECT_EQ(back.lastRunNs, 123456789u);
    EXPECT_EQ(back.lastErasedBytes, 4096u);
    EXPECT_EQ(back.lastProgrammedBytes, 64u);
    EXPECT_EQ(n->config().partName, "MX25L1606E");
    EXPECT_EQ(n->activeBank(), 1);
    EXPECT_EQ(n->bank(0).array(), m->bank(0).array());
    EXPECT_EQ(n->bank(1).array(), m->bank(1).array());
    EXPECT_EQ(n->bank(1).status(), 0x00);
    EXPECT_EQ(n->legacyArea(), m->legacyArea());
    EXPECT_EQ(n->biosControl(), BIOS_CNTL_BIOSWE);
}

TEST_F(MachineDirTest, DamagedDirectoriesAreRefused) {
    struct Damage {
        const char* what;
        void (*apply)(const std::string& dir);
    } damages[] = {
        {"flipped flash byte", [](const std::string& d) { patchByte(d + "/backup.bin", 0x1000, 0); }},
        {"missing legacy area", [](const std::string& d) { std::remove((d + "/legacy.bin").c_str()); }},
        {"edited machine.txt", [](const std::string& d) { patchByte(d + "/machine.txt", 10, 'X'); }},
        {"damaged chipset state", [](const std::string& d) { truncate((d + "/volatile.bin").c_str(), 3); }},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        saveDefault();
        damage.apply(dir);
        std::string error;
        MachineRecord r;
        EXPECT_FALSE(loadMachineDir(dir, r, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(tool({"show", dir}), SIM_TOOL_FAILED);
    }
}

TEST_F(MachineDirTest, ToolArgumentErrorsAreUsageErrors) {
    saveDefault();
    const std::vector<std::vector<std::string>> bad = {
        {}, {"frobnicate"}, {"new"},
        {"new", dir, "--host-bridge", "via"}, {"new", dir, "--serial", "TOOLONG8"}, {"new", dir, "--model"},
        {"read", dir, "middle", dir + "/out.bin"},
        {"run", dir, "--fault", "power-cut@0", "--", "-?"}, {"run", dir, "-?"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(tool(args), SIM_TOOL_USAGE);
    }
}
