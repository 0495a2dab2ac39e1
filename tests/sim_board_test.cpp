// A machine directory damaged between runs is refused whichever file is hit
// (e2e_sim_tool damages only a bank file).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/options.h"
#include "sim/tool/report.h"

namespace {

class MachineDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/lromup-simdir-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

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
        std::string error;
        ASSERT_TRUE(saveMachineDir(dir, *buildMachine(MachineOptions()), MachineRecord{"moro310"}, &error)) << error;
        damage.apply(dir);
        MachineRecord r;
        EXPECT_FALSE(loadMachineDir(dir, r, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(tool({"show", dir}), SIM_TOOL_FAILED);
    }
}
