// A machine directory damaged between runs is refused whichever file is hit
// (e2e_sim_tool damages a bank file, through the tool).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/store/machine_dir.h"

namespace {

void patchByte(const std::string& file, long offset, char value) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.put(value);
}

}  // namespace

TEST(MachineDirTest, DamagedDirectoriesAreRefused) {
    char tmpl[] = "/tmp/lromup-simdir-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    struct Damage {
        const char* what;
        void (*apply)(const std::string& dir);
    } damages[] = {
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
    }
    std::filesystem::remove_all(dir);
}
