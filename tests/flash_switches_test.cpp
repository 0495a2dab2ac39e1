// The switch scan: what each argument records, the texts it prints and the
// status a run ends with.
#include "chipset_rig.h"
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
std::string noSuchFile(const std::string& name) {
    return name + " cannot be opened: No such file or directory\n";
}
std::string notUnderstood(const std::string& name) {
    return "The switch '" + name +
           "' is not understood (switches are case-sensitive); lromup(8) lists every switch\n";
}

struct Scan {
    int status;
    std::string out, err;
};

// Runs the scan as the entry point does: fresh settings, program name first.
Scan scan(std::vector<std::string> args) {
    args.insert(args.begin(), "lromup");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    resetSettings();
    programName = argv[0];
    Scan r;
    r.status = quietly([&] { return scanSwitches(int(argv.size()), argv.data()); }, &r.out, &r.err);
    return r;
}

// Image heads in a fresh directory: the region mark is D9 54 at offset 0x10,
// so 18 bytes are just long enough to carry it.
class Switches : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string zeros(0x10, '\0');
        std::ofstream("region.rom", std::ios::binary) << zeros << "\xD9\x54";
        std::ofstream("plain.rom", std::ios::binary) << zeros << "\xD9\x55";
        std::ofstream("short.rom", std::ios::binary) << zeros << "\xD9";
        std::filesystem::create_symlink("plain.rom", "link");
    }
    ScratchDir dir;
};

TEST_F(Switches, EachArgumentListEndsWithItsStatusTextAndSettings) {
    const std::string region = "region.rom", plain = "plain.rom";
    const std::string shortFile = "short.rom", longName(FNAME_SIZE, 'x');
    const std::string fits(FNAME_SIZE - 1, 'x');
    const unsigned short PB = MODE_PRIMARY | MODE_BACKUP;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        unsigned short mode = 0, region = 0;
        bool bootBlock = false;
        std::string err = "";
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
        {{"/Bblk"}, 2, USAGE, 0, 0, false, notUnderstood("/Bblk")},
        {{"--HELP"}, 2, USAGE, 0, 0, false, notUnderstood("--HELP")},
        {{"/chg", "/p"}, 2, "/p parameter should follow a rom file name.\n" + AGAIN,
         MODE_CHANGE_BANK},
        {{"/BB"}, 2, "/bb parameter sholud follow a rom file name.\n" + AGAIN},
        // The scan stops at an unopenable file; the next argument is always a name.
        {{"/p", "-?"}, 3, notOpened("-?"), 0, 0, false, noSuchFile("-?")},
        {{"/bb", fits}, 3, notOpened(fits), 0, 0, false, noSuchFile(fits)},
        {{"/p", longName}, 3, "", 0, 0, false,
         "File name too long (at most 79 characters): " + longName + "\n"},
        {{"/bblk"}, 2, USAGE},
        {{"/bblk", "/chg"}, SCAN_CONTINUE, "", MODE_CHANGE_BANK, 0, true},
        // The looking modes (driven end to end by e2e_operator): /verify /bb FILE
        // describes the backup.
        {{"/verify", "/bb", region}, SCAN_CONTINUE, opened(region), MODE_VERIFY | MODE_BACKUP,
         IMAGE_BACKUP_REGION},
        {{"/dump"}, 2, "/dump parameter should follow an output file name.\n" + AGAIN},
        // An output that is not a regular file is refused before anything else.
        {{"/x", "/report", "link"}, 12, "", 0, 0, false,
         "/report link: the file cannot be written safely\n"
         "link is a symbolic link, not a regular file; nothing was written to it; name a "
             "regular file in a directory you may write\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Scan r = scan(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(flashmode, c.mode);
        EXPECT_EQ(image_bios_type, c.region);
        EXPECT_EQ(updt_bblk, c.bootBlock);
    }
}

TEST_F(Switches, TheLastFileNameCounts) {
    scan({"/p", "region.rom", "/p", "plain.rom"});
    EXPECT_EQ(std::string(PBIOS_FNAME), "plain.rom");
}

}  // namespace
