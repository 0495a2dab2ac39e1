// Board contents as the updater's reader side expects them (what it takes from
// them is tested through the platform), the machine directory that keeps a
// board between runs, and the lromup-sim command line's refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/board/models.h"
#include "sim/board/smbios_builder.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/options.h"
#include "sim/tool/report.h"

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool checksumOk(const std::vector<uint8_t>& img) {
    return le16(&img[img.size() - 2]) == imageChecksum(img.data(), img.size());
}

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

TEST(BoardContents, BanksAndNewImagesOfEachModelAreCompleteWithValidChecksums) {
    for (const char* model : {"moro310", "moro320", "moro330"}) {
        SCOPED_TRACE(model);
        MachineOptions o;
        o.model = model;
        auto m = buildMachine(o);
        ASSERT_TRUE(m);
        EXPECT_NE(m->bank(0).array(), m->bank(1).array());
        for (int i = 0; i < 2; ++i) {
            const std::vector<uint8_t>& img = m->bank(i).array();
            EXPECT_TRUE(m->bank(i).isProtected(uint32_t(img.size() - 1)));  // as an earlier update left it
            EXPECT_TRUE(checksumOk(img));
        }
        // The legacy area shadows the active bank's top 64 KiB, with the SMBIOS
        // tables and the running VPD copy the firmware built from that bank.
        const std::vector<uint8_t>& active = m->bank(m->activeBank()).array();
        const std::vector<uint8_t>& legacy = m->legacyArea();
        const auto top = active.end() - IMAGE_TOP_SIZE;
        EXPECT_TRUE(std::equal(top, top + IMAGE_SMBIOS_ENTRY, legacy.begin()));
        EXPECT_TRUE(std::equal(top + BOOT_TAG, active.end(), legacy.begin() + BOOT_TAG));
        EXPECT_TRUE(std::equal(top + IMAGE_VPD_BLOCK, top + IMAGE_VPD_BLOCK + VPD_CHECKED_END,
                               legacy.begin() + RUNNING_VPD_BASE + RUNNING_VPD_SHIFT));
        EXPECT_EQ(findSmbiosBiosVersion(legacy.data(), legacy.size(), LEGACY_AREA_BASE),
                  findBoardModel(model)->biosVersion);

        // A new image: same bytes for the same seed, unlike both banks and other seeds.
        const std::vector<uint8_t> img = buildNewImage(*m, ImageKind::Accepted, 7);
        EXPECT_TRUE(checksumOk(img));
        EXPECT_EQ(buildNewImage(o, ImageKind::Accepted, 7), img);
        EXPECT_NE(buildNewImage(*m, ImageKind::Accepted, 8), img);
        for (int i = 0; i < 2; ++i)
            EXPECT_FALSE(std::equal(img.begin(), img.end() - IMAGE_TOP_SIZE,
                                    m->bank(i).array().end() - long(img.size())));
    }
    // The image checksum folds the 32-bit word sum, without its own two bytes.
    const std::vector<uint8_t> words = {3, 0, 2, 0, 0, 0, 0xAB, 0xCD};
    EXPECT_EQ(imageChecksum(words.data(), words.size()), uint16_t(-5));
}

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
    EXPECT_EQ(std::tie(back.model, back.lastRunNs, back.lastErasedBytes, back.lastProgrammedBytes),
              std::tie(r.model, r.lastRunNs, r.lastErasedBytes, r.lastProgrammedBytes));
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
        std::string error;
        ASSERT_TRUE(saveMachineDir(dir, *buildMachine(MachineOptions()), MachineRecord{"moro310"}, &error)) << error;
        damage.apply(dir);
        MachineRecord r;
        EXPECT_FALSE(loadMachineDir(dir, r, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(tool({"show", dir}), SIM_TOOL_FAILED);
    }
}

TEST_F(MachineDirTest, ToolArgumentErrorsAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {}, {"frobnicate"}, {"new", dir, "--serial", "TOOLONG8"}, {"run", dir, "-?"}};
    for (const auto& args : bad) {
        SCOPED_TRACE(args.empty() ? "(no arguments)" : args[0]);  // one row per command
        EXPECT_EQ(tool(args), SIM_TOOL_USAGE);
    }
}
