// The machine directory (round trip, damage detection) and the lromup-sim
// command line's refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
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
    void TearDown() override {
        for (const char* f : {"machine.txt", "primary.bin", "backup.bin", "legacy.bin",
                              "volatile.bin", "out.bin"})
            std::remove((dir + "/" + f).c_str());
        rmdir(dir.c_str());
    }
    std::string path(const char* name) const { return dir + "/" + name; }

    void saveDefault() {
        MachineOptions o;
        o.model = "moro320";
        o.activeBank = 1;
        auto m = buildMachine(o);
        MachineRecord r;
        r.model = "moro320";
        std::string error;
        ASSERT_TRUE(saveMachineDir(dir, *m, r, &error)) << error;
    }
    std::unique_ptr<Machine> load(std::string* error) {
        MachineRecord r;
        return loadMachineDir(dir, r, error);
    }
    // Runs the tool with these arguments (argv[0] supplied).
    static int tool(std::vector<std::string> args) {
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
    m->pciWrite(0, 31, 0, 0xDC, 0x01);  // BIOSWE: volatile chipset state
    MachineRecord r;
    r.model = "moro330";
    r.lastRunNs = 123456789;
    r.lastErasedBytes = 4096;
    r.lastProgrammedBytes = 64;
    std::string error;
    ASSERT_TRUE(saveMachineDir(dir, *m, r, &error)) << error;

    MachineRecord back;
    auto n = loadMachineDir(dir, back, &error);
    ASSERT_TRUE(n) << error;
    EXPECT_EQ(back.model, "moro330");
    EXPECT_EQ(back.lastRunNs, 123456789u);
    EXPECT_EQ(back.lastErasedBytes, 4096u);
    EXPECT_EQ(back.lastProgrammedBytes, 64u);
    EXPECT_EQ(n->config().hostBridgeId, m->config().hostBridgeId);
    EXPECT_EQ(n->config().partName, "MX25L1606E");
    EXPECT_EQ(n->activeBank(), 1);
    EXPECT_EQ(n->bank(0).array(), m->bank(0).array());
    EXPECT_EQ(n->bank(1).array(), m->bank(1).array());
    EXPECT_EQ(n->bank(0).status(), 0xBC);
    EXPECT_EQ(n->bank(1).status(), 0x00);
    EXPECT_EQ(n->legacyArea(), m->legacyArea());
    EXPECT_EQ(n->biosControl() & 0x01, 0x01);
}

TEST_F(MachineDirTest, DamagedDirectoriesAreRefused) {
    struct Damage {
        const char* what;
        void (*apply)(const std::string& dir);
    } damages[] = {
        {"flipped flash byte",
         [](const std::string& d) { patchByte(d + "/backup.bin", 0x1000, 0x00); }},
        {"truncated part",
         [](const std::string& d) { truncate((d + "/primary.bin").c_str(), 0x100000); }},
        {"missing legacy area", [](const std::string& d) { std::remove((d + "/legacy.bin").c_str()); }},
        {"edited machine.txt",
         [](const std::string& d) { patchByte(d + "/machine.txt", 10, 'X'); }},
        {"damaged chipset state",
         [](const std::string& d) { truncate((d + "/volatile.bin").c_str(), 3); }},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        saveDefault();
        damage.apply(dir);
        std::string error;
        EXPECT_FALSE(load(&error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(tool({"show", dir}), SIM_TOOL_FAILED);
    }
    std::string error;
    MachineRecord r;
    EXPECT_FALSE(loadMachineDir(dir + "/nonexistent", r, &error));
}

TEST_F(MachineDirTest, ToolArgumentErrorsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"new"},
        {"new", dir, "--model", "moro999"},
        {"new", dir, "--host-bridge", "via"},
        {"new", dir, "--host-bridge", "0x1234"},
        {"new", dir, "--part", "NOPE"},
        {"new", dir, "--active-bank", "third"},
        {"new", dir, "--serial", "TOOLONG8"},
        {"new", dir, "--uuid", "not-a-uuid"},
        {"new", dir, "--bogus"},
        {"new", dir, "--model"},
        {"image", dir},
        {"image", dir, path("out.bin"), "--seed", "x"},
        {"read", dir, "middle", path("out.bin")},
        {"run", dir, "--fault", "meteor-strike", "--", "-?"},
        {"run", dir, "--fault", "power-cut@0", "--", "-?"},
        {"run", dir, "--fault", "fcerr@zz", "--", "-?"},
        {"run", dir, "-?"},
    };
    saveDefault();
    for (const auto& args : bad) {
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        EXPECT_EQ(tool(args), SIM_TOOL_USAGE);
    }
}

TEST_F(MachineDirTest, ToolWritesImagesAndBanksOfALoadedMachine) {
    ASSERT_EQ(tool({"new", dir, "--model", "moro330", "--serial", "XY1"}), SIM_TOOL_OK);
    ASSERT_EQ(tool({"read", dir, "backup", path("out.bin")}), SIM_TOOL_OK);
    std::string error;
    auto m = load(&error);
    ASSERT_TRUE(m) << error;
    std::ifstream in(path("out.bin"), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, m->bank(1).array());

    ASSERT_EQ(tool({"image", dir, path("out.bin"), "--seed", "0x10"}), SIM_TOOL_OK);
    std::ifstream img(path("out.bin"), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(img), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, buildNewImage(*m, ImageKind::Accepted, 16));
}
