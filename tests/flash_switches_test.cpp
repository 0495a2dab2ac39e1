// The switch scan: what each argument records, the texts it prints and the
// status a run ends with.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "flash/settings.h"
#include "flash/switches.h"

namespace {

const std::string USAGE =
    "Varn Tessel OS-based flash update utility 1.11\n"
    "Usage: lromup <mode> <file>\n"
    "  <mode>\n"
    "\t-?: Help\n"
    "\t--help: Help\n"
    "\t/p: Update the Primary BIOS\n"
    "\t/bb: Update the backup BIOS\n"
    "\t/bblk: Update boot block only\n";

struct ScanResult {
    int status;
    std::string out;
    std::string err;
};

class Switches : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string pattern = ::testing::TempDir() + "lromup-switches-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        ASSERT_NE(mkdtemp(buffer.data()), nullptr);
        dir = buffer.data();

        std::vector<unsigned char> region(0x40, 0);
        region[0x10] = 0xD9;
        region[0x11] = 0x54;
        write("region.rom", region);
        std::vector<unsigned char> other = region;
        other[0x11] = 0x55;
        write("plain.rom", other);
        write("short.rom", std::vector<unsigned char>(region.begin(), region.begin() + 17));
        write("exact.rom", std::vector<unsigned char>(region.begin(), region.begin() + 18));
        write("empty.rom", {});
    }
    static void TearDownTestSuite() {
        for (const char* name : {"region.rom", "plain.rom", "short.rom", "exact.rom", "empty.rom"}) {
            std::remove(path(name).c_str());
        }
        rmdir(dir.c_str());
    }
    static void write(const char* name, const std::vector<unsigned char>& bytes) {
        std::ofstream file(path(name), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    static std::string path(const char* name) { return dir + "/" + name; }

    // Runs the scan as the entry point does: fresh settings, program name first.
    static ScanResult scan(std::vector<std::string> args) {
        args.insert(args.begin(), "lromup");
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        resetSettings();
        programName = argv[0];
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        int status = scanSwitches(static_cast<int>(args.size()), argv.data());
        std::string out = ::testing::internal::GetCapturedStdout();
        return {status, out, ::testing::internal::GetCapturedStderr()};
    }
    static std::string opened(const std::string& name) { return "Open " + name + " successful!!\n"; }

    static std::string dir;
};
std::string Switches::dir;

// --- matching and spellings ------------------------------------------------

TEST_F(Switches, ModeSwitchesSetTheirBits) {
    ScanResult r = scan({"/chg", "/lockEEP", "/unlockEEP", "/plat"});
    EXPECT_EQ(r.status, SCAN_CONTINUE);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(flashmode, MODE_CHANGE_BANK | MODE_LOCK_EEPROM | MODE_UNLOCK_EEPROM | MODE_PLATFORM);
}

TEST_F(Switches, UpperCaseImageSwitchesAreAccepted) {
    std::string image = path("plain.rom");
    ScanResult r = scan({"/P", image, "/BB", image});
    EXPECT_EQ(r.status, SCAN_CONTINUE);
    EXPECT_EQ(r.out, opened(image) + opened(image));
    EXPECT_EQ(flashmode, MODE_PRIMARY | MODE_BACKUP);
    EXPECT_EQ(std::string(PBIOS_FNAME), image);
    EXPECT_EQ(std::string(BBIOS_FNAME), image);
}

TEST_F(Switches, HelpSpellingsPrintUsageAndEndWithZero) {
    for (const char* help : {"-?", "--help", "--Help"}) {
        ScanResult r = scan({help});
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out, USAGE) << help;
    }
}

TEST_F(Switches, OtherCaseVariantsAndStrangersAreUnknown) {
    for (const char* unknown : {"/PLAT", "/CHG", "/Bblk", "/Bb", "/lockeep", "--HELP", "/p2", "p", ""}) {
        ScanResult r = scan({"/chg", unknown});
        EXPECT_EQ(r.status, 2) << unknown;
        EXPECT_EQ(r.out, USAGE) << unknown;
    }
}

// --- image files -----------------------------------------------------------

TEST_F(Switches, FileNameIsTakenWhateverItLooksLike) {
    ScanResult r = scan({"/p", "-?"});  // a file called "-?" that does not exist
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "Open -? error.\nPlease ready the rom file and try again.\n");
    EXPECT_EQ(std::string(PBIOS_FNAME), "-?");
}

TEST_F(Switches, UnopenableImageEndsTheRunBeforeLaterSwitches) {
    std::string missing = path("missing.rom");
    ScanResult r = scan({"/bb", missing, "-?"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "Open " + missing + " error.\nPlease ready the rom file and try again.\n");
    EXPECT_EQ(flashmode, 0);
}

TEST_F(Switches, HelpAfterAGoodImageStillShowsUsage) {
    std::string image = path("plain.rom");
    ScanResult r = scan({"/p", image, "-?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, opened(image) + USAGE);
}

TEST_F(Switches, MissingFileNameTexts) {
    ScanResult p = scan({"/chg", "/p"});
    EXPECT_EQ(p.status, 2);
    EXPECT_EQ(p.out,
              "/p parameter should follow a rom file name.\n"
              "Please type the command lromup(wromup) -? to show the usage.\n");
    ScanResult bb = scan({"/BB"});
    EXPECT_EQ(bb.status, 2);
    EXPECT_EQ(bb.out,
              "/bb parameter sholud follow a rom file name.\n"
              "Please type the command lromup(wromup) -? to show the usage.\n");
}

TEST_F(Switches, RepeatedSwitchKeepsTheLastFile) {
    std::string first = path("region.rom");
    std::string last = path("plain.rom");
    ScanResult r = scan({"/p", first, "/p", last});
    EXPECT_EQ(r.status, SCAN_CONTINUE);
    EXPECT_EQ(std::string(PBIOS_FNAME), last);
    // The region mark belongs to the file that is written, not to the first one.
    EXPECT_EQ(image_bios_type, 0);
}

TEST_F(Switches, LongFileNameIsRefusedNotTruncated) {
    std::string longName(FNAME_SIZE, 'x');
    ScanResult r = scan({"/p", longName});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "File name too long (at most 79 characters): " + longName + "\n");
    EXPECT_EQ(PBIOS_FNAME[0], '\0');

    std::string fits(FNAME_SIZE - 1, 'x');  // 79 characters: looked for, not refused
    EXPECT_EQ(scan({"/bb", fits}).out,
              "Open " + fits + " error.\nPlease ready the rom file and try again.\n");
    EXPECT_EQ(std::string(BBIOS_FNAME), fits);
}

// --- region mark -----------------------------------------------------------

TEST_F(Switches, RegionMarkNeedsBothBytes) {
    scan({"/p", path("region.rom"), "/bb", path("plain.rom")});
    EXPECT_EQ(image_bios_type, IMAGE_PRIMARY_REGION);
    scan({"/p", path("plain.rom"), "/BB", path("region.rom")});
    EXPECT_EQ(image_bios_type, IMAGE_BACKUP_REGION);
}

TEST_F(Switches, ShortFilesCarryNoRegionMark) {
    scan({"/p", path("short.rom"), "/bb", path("empty.rom")});
    EXPECT_EQ(image_bios_type, 0);
    EXPECT_EQ(flashmode, MODE_PRIMARY | MODE_BACKUP);
    scan({"/p", path("exact.rom")});  // 18 bytes: just long enough
    EXPECT_EQ(image_bios_type, IMAGE_PRIMARY_REGION);
}

// --- boot block ------------------------------------------------------------

TEST_F(Switches, BootBlockAloneIsRefused) {
    ScanResult r = scan({"/bblk"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, USAGE);
    EXPECT_FALSE(updt_bblk);
}

TEST_F(Switches, BootBlockWithAnotherSwitchIsKept) {
    EXPECT_EQ(scan({"/bblk", "/chg"}).status, SCAN_CONTINUE);
    EXPECT_TRUE(updt_bblk);
    EXPECT_EQ(scan({"/chg", "/bblk"}).status, SCAN_CONTINUE);
    EXPECT_TRUE(updt_bblk);
}

}  // namespace
