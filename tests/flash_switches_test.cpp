// The switch scan: what each argument records, the texts it prints and the
// status a run ends with.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

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
const std::string AGAIN = "Please type the command lromup(wromup) -? to show the usage.\n";

std::string opened(const std::string& name) { return "Open " + name + " successful!!\n"; }
std::string notOpened(const std::string& name) {
    return "Open " + name + " error.\nPlease ready the rom file and try again.\n";
}

struct Scan {
    int status;
    std::string out, err;
};

// Runs the scan as the entry point does: fresh settings, program name first.
Scan scan(std::vector<std::string> args) {
    args.insert(args.begin(), "lromup");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    resetSettings();
    programName = argv[0];
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int status = scanSwitches(static_cast<int>(argv.size()), argv.data());
    std::string out = ::testing::internal::GetCapturedStdout();
    return {status, out, ::testing::internal::GetCapturedStderr()};
}

// Image files: the region mark is D9 54 at offset 0x10, so 18 bytes are just
// long enough to carry it.
class Switches : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string pattern = ::testing::TempDir() + "lromup-switches-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
        std::string head(0x12, '\0');
        head[0x10] = '\xD9';
        head[0x11] = '\x54';
        std::ofstream(dir + REGION, std::ios::binary) << head;
        std::ofstream(dir + SHORT, std::ios::binary) << head.substr(0, 0x11);
        head[0x11] = '\x55';
        std::ofstream(dir + PLAIN, std::ios::binary) << head;
    }
    static void TearDownTestSuite() {
        for (const char* name : {REGION, SHORT, PLAIN}) {
            std::remove((dir + name).c_str());
        }
        rmdir(dir.c_str());
    }
    static constexpr const char *REGION = "region.rom", *SHORT = "short.rom", *PLAIN = "plain.rom";
    static inline std::string dir;
};

TEST_F(Switches, EachArgumentListEndsWithItsStatusTextAndSettings) {
    const std::string region = dir + REGION, plain = dir + PLAIN, shortFile = dir + SHORT;
    const std::string missing = dir + "missing.rom";
    const unsigned short PB = MODE_PRIMARY | MODE_BACKUP;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        unsigned short mode = 0, region = 0;
        bool bootBlock = false;
    } const cases[] = {
        {{"/chg", "/lockEEP", "/unlockEEP", "/plat"}, SCAN_CONTINUE, "",
         MODE_CHANGE_BANK | MODE_LOCK_EEPROM | MODE_UNLOCK_EEPROM | MODE_PLATFORM},
        // Region mark: D9 54 marks the file, D9 55 or a file too short does not.
        {{"/P", region, "/BB", plain}, SCAN_CONTINUE, opened(region) + opened(plain), PB,
         IMAGE_PRIMARY_REGION},
        {{"/p", plain, "/bb", region}, SCAN_CONTINUE, opened(plain) + opened(region), PB,
         IMAGE_BACKUP_REGION},
        {{"/p", shortFile}, SCAN_CONTINUE, opened(shortFile), MODE_PRIMARY},
        // A repeated switch: the mark belongs to the file that is written.
        {{"/p", region, "/p", plain}, SCAN_CONTINUE, opened(region) + opened(plain), MODE_PRIMARY},
        {{"-?"}, 0, USAGE}, {{"--help"}, 0, USAGE}, {{"--Help"}, 0, USAGE},
        {{"/p", plain, "-?"}, 0, opened(plain) + USAGE, MODE_PRIMARY},
        {{"/chg", "/PLAT"}, 2, USAGE, MODE_CHANGE_BANK},
        {{"/Bblk"}, 2, USAGE}, {{"/Bb"}, 2, USAGE}, {{"/lockeep"}, 2, USAGE},
        {{"--HELP"}, 2, USAGE}, {{"p"}, 2, USAGE}, {{""}, 2, USAGE},
        {{"/chg", "/p"}, 2, "/p parameter should follow a rom file name.\n" + AGAIN,
         MODE_CHANGE_BANK},
        {{"/BB"}, 2, "/bb parameter sholud follow a rom file name.\n" + AGAIN},
        // The scan stops at an unopenable file; the next argument is always a name.
        {{"/bb", missing, "-?"}, 3, notOpened(missing)},
        {{"/p", "-?"}, 3, notOpened("-?")},
        {{"/bblk"}, 2, USAGE},
        {{"/bblk", "/chg"}, SCAN_CONTINUE, "", MODE_CHANGE_BANK, 0, true},
        {{"/chg", "/bblk"}, SCAN_CONTINUE, "", MODE_CHANGE_BANK, 0, true},
    };
    for (const Case& c : cases) {
        std::string args;
        for (const std::string& arg : c.args) {
            args += " '" + arg + "'";
        }
        SCOPED_TRACE(args);
        Scan r = scan(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(flashmode, c.mode);
        EXPECT_EQ(image_bios_type, c.region);
        EXPECT_EQ(updt_bblk, c.bootBlock);
    }
}

TEST_F(Switches, FileNamesAreKeptWholeAndTheLastOneCounts) {
    scan({"/p", dir + REGION, "/p", dir + PLAIN, "/bb", "-?"});
    EXPECT_EQ(std::string(PBIOS_FNAME), dir + PLAIN);
    EXPECT_EQ(std::string(BBIOS_FNAME), "-?");

    std::string longName(FNAME_SIZE, 'x');
    Scan r = scan({"/p", longName});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "File name too long (at most 79 characters): " + longName + "\n");
    EXPECT_EQ(PBIOS_FNAME[0], '\0');

    std::string fits(FNAME_SIZE - 1, 'x');  // 79 characters: looked for, not refused
    EXPECT_EQ(scan({"/bb", fits}).out, notOpened(fits));
    EXPECT_EQ(std::string(BBIOS_FNAME), fits);
}

}  // namespace
