// The switch scan: each argument is matched exactly against the table below,
// in table order; an image switch takes the next argument as its file name.
#include "flash/switches.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "flash/exit_status.h"
#include "flash/image_file.h"
#include "os/file_access.h"
#include "flash/report.h"
#include "flash/settings.h"

namespace {

constexpr const char* VERSION = "1.11";

// Firmware-volume header mark that tells an image of the BIOS region alone
// from a full flash image: the first two bytes of the firmware file system
// GUID, which the volume header carries at offset 0x10.
constexpr std::size_t REGION_PROBE_SIZE = 32;  // bytes read from the head of the file

enum class SwitchKind { Image, Mode, Help, BootBlock, Output, Verify };

// What an image switch records, and its text when the file name is missing.
struct ImageTarget {
    unsigned short modeBit;
    unsigned short regionBit;
    char* nameBuffer;
    const char* missingNameText;
};

const ImageTarget PRIMARY_IMAGE = {MODE_PRIMARY, IMAGE_PRIMARY_REGION, PBIOS_FNAME,
                                   "/p parameter should follow a rom file name."};
const ImageTarget BACKUP_IMAGE = {MODE_BACKUP, IMAGE_BACKUP_REGION, BBIOS_FNAME,
                                  "/bb parameter sholud follow a rom file name."};

// /verify FILE: the region mark of the file describes whichever bank it is
// compared with.
const ImageTarget VERIFY_IMAGE = {MODE_VERIFY, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION,
                                  VERIFY_FNAME, "/verify parameter should follow a rom file name."};

// A file the run writes, and the mode it asks for (0: none of its own).
struct OutputTarget {
    unsigned short modeBit;
    char* nameBuffer;
};
const OutputTarget DUMP_OUTPUT = {MODE_DUMP, DUMP_FNAME};
const OutputTarget REPORT_OUTPUT = {0, REPORT_FNAME};

struct SwitchRow {
    const char* spelling;
    SwitchKind kind;
    unsigned short modeBit;      // Mode
    const ImageTarget* image;    // Image, Verify
    const OutputTarget* output;  // Output
};

const SwitchRow SWITCHES[] = {
    {"/P", SwitchKind::Image, 0, &PRIMARY_IMAGE, nullptr},
    {"/p", SwitchKind::Image, 0, &PRIMARY_IMAGE, nullptr},
    {"/BB", SwitchKind::Image, 0, &BACKUP_IMAGE, nullptr},
    {"/bb", SwitchKind::Image, 0, &BACKUP_IMAGE, nullptr},
    {"/chg", SwitchKind::Mode, MODE_CHANGE_BANK, nullptr, nullptr},
    {"/lockEEP", SwitchKind::Mode, MODE_LOCK_EEPROM, nullptr, nullptr},
    {"/unlockEEP", SwitchKind::Mode, MODE_UNLOCK_EEPROM, nullptr, nullptr},
    {"/plat", SwitchKind::Mode, MODE_PLATFORM, nullptr, nullptr},
    {"-?", SwitchKind::Help, 0, nullptr, nullptr},
    {"--help", SwitchKind::Help, 0, nullptr, nullptr},
    {"--Help", SwitchKind::Help, 0, nullptr, nullptr},
    {"/bblk", SwitchKind::BootBlock, 0, nullptr, nullptr},
    {"/info", SwitchKind::Mode, MODE_INFO, nullptr, nullptr},
    {"/dump", SwitchKind::Output, 0, nullptr, &DUMP_OUTPUT},
    {"/verify", SwitchKind::Verify, 0, &VERIFY_IMAGE, nullptr},
    {"/report", SwitchKind::Output, 0, nullptr, &REPORT_OUTPUT},
};

const SwitchRow* findSwitch(const char* argument) {
    for (const SwitchRow& row : SWITCHES) {
        if (std::strcmp(row.spelling, argument) == 0) {
            return &row;
        }
    }
    return nullptr;
}

bool hasRegionMark(std::FILE* file) {
    unsigned char head[REGION_PROBE_SIZE] = {};  // bytes past a short file read as 0
    std::size_t got = std::fread(head, 1, sizeof head, file);
    return ::hasRegionMark(head, got);
}

// Records one image file; returns SCAN_CONTINUE or the exit status.
int takeImage(const ImageTarget& target, const char* name) {
    if (std::strlen(name) >= FNAME_SIZE) {
        std::fprintf(stderr, "File name too long (at most %u characters): %s\n", FNAME_SIZE - 1,
                     name);
        return EXIT_IMAGE_UNUSABLE;
    }
    std::strcpy(target.nameBuffer, name);

    ImageOpen opened = openImageFile(name);
    const int openError = errno;
    if (opened.notRegular != nullptr) {
        std::fprintf(stderr, "%s is a %s, not an image file; an image must be a regular file.\n",
                     name, opened.notRegular);
        return EXIT_IMAGE_UNUSABLE;
    }
    FileHandle& file = opened.file;
    if (!file) {
        std::printf("Open %s error.\n", name);
        std::printf("Please ready the rom file and try again.\n");
        explainRefusal("%s cannot be opened: %s", name, std::strerror(openError));
        return EXIT_IMAGE_UNUSABLE;
    }
    std::printf("Open %s successful!!\n", name);

    // The mark describes the file that will be written, so a repeated switch
    // replaces the earlier file's answer rather than adding to it.
    if (hasRegionMark(file.get())) {
        image_bios_type |= target.regionBit;
    } else {
        image_bios_type &= static_cast<unsigned short>(~target.regionBit);
    }
    flashmode |= target.modeBit;
    return SCAN_CONTINUE;
}

// Records a file the run will write, after checking that it can be written
// safely: before any work, so that a run is never done with its output lost.
int takeOutput(const char* spelling, const OutputTarget& target, const char* name) {
    if (std::strlen(name) >= FNAME_SIZE) {
        std::fprintf(stderr, "File name too long (at most %u characters): %s\n", FNAME_SIZE - 1,
                     name);
        return EXIT_OUTPUT_REFUSED;
    }
    std::string why;
    if (!checkOutputPath(name, &why)) {
        std::fprintf(stderr, "%s %s: the file cannot be written safely\n", spelling, name);
        explainRefusal("%s; name a regular file in a directory you may write", why.c_str());
        return EXIT_OUTPUT_REFUSED;
    }
    std::strcpy(target.nameBuffer, name);
    flashmode |= target.modeBit;
    return SCAN_CONTINUE;
}

bool isImageSwitch(const char* argument) {
    const SwitchRow* row = findSwitch(argument);
    return row != nullptr && row->kind == SwitchKind::Image;
}

// The report is taken first, so that a refusal of any later switch still
// ends with one.
int takeReportFirst(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        const SwitchRow* row = findSwitch(argv[i]);
        if (row == nullptr) continue;
        if (row->output == &REPORT_OUTPUT) return takeOutput(argv[i], REPORT_OUTPUT, argv[i + 1]);
        const bool takesName = row->kind == SwitchKind::Image || row->kind == SwitchKind::Output ||
                               (row->kind == SwitchKind::Verify && !isImageSwitch(argv[i + 1]));
        if (takesName) ++i;
    }
    return SCAN_CONTINUE;
}

}  // namespace

void usage() {
    std::printf("Varn Tessel OS-based flash update utility %s\n", VERSION);
    std::printf("Usage: %s <mode> <file>\n", programName != nullptr ? programName : "");
    std::printf("  <mode>\n");
    std::printf("\t-?: Help\n");
    std::printf("\t--help: Help\n");
    std::printf("\t/p: Update the Primary BIOS\n");
    std::printf("\t/bb: Update the backup BIOS\n");
    std::printf("\t/bblk: Update boot block only\n");
}

int scanSwitches(int argc, char** argv) {
    const int report = takeReportFirst(argc, argv);
    if (report != SCAN_CONTINUE) return report;
    for (int i = 1; i < argc; ++i) {
        const SwitchRow* row = findSwitch(argv[i]);
        if (row == nullptr) {
            usage();
            explainRefusal("The switch '%s' is not understood (switches are case-sensitive); "
                           "lromup(8) lists every switch", argv[i]);
            return EXIT_BAD_SWITCH;
        }
        switch (row->kind) {
        case SwitchKind::Image: {
            if (i + 1 >= argc) {
                std::printf("%s\n", row->image->missingNameText);
                std::printf("Please type the command lromup(wromup) -? to show the usage.\n");
                return EXIT_BAD_SWITCH;
            }
            int status = takeImage(*row->image, argv[++i]);
            if (status != SCAN_CONTINUE) {
                return status;
            }
            break;
        }
        case SwitchKind::Mode:
            flashmode |= row->modeBit;
            break;
        case SwitchKind::Output: {
            if (i + 1 >= argc) {
                std::printf("%s parameter should follow an output file name.\n", row->spelling);
                std::printf("Please type the command lromup(wromup) -? to show the usage.\n");
                return EXIT_BAD_SWITCH;
            }
            const char* name = argv[++i];
            if (row->output == &REPORT_OUTPUT) break;  // taken before the scan
            const int status = takeOutput(row->spelling, *row->output, name);
            if (status != SCAN_CONTINUE) return status;
            break;
        }
        case SwitchKind::Verify: {
            flashmode |= MODE_VERIFY;
            // /verify /p FILE, /verify /bb FILE: that bank, that file.
            if (i + 1 < argc && isImageSwitch(argv[i + 1])) break;
            if (i + 1 >= argc) {
                std::printf("%s\n", row->image->missingNameText);
                std::printf("Please type the command lromup(wromup) -? to show the usage.\n");
                return EXIT_BAD_SWITCH;
            }
            const int status = takeImage(*row->image, argv[++i]);
            if (status != SCAN_CONTINUE) return status;
            break;
        }
        case SwitchKind::Help:
            usage();
            return EXIT_USAGE_SHOWN;
        case SwitchKind::BootBlock:
            updt_bblk = true;
            if (i == 1 && argc == 2) {
                // Boot block of what? Alone it names no work to do.
                updt_bblk = false;
                usage();
                return EXIT_BAD_SWITCH;
            }
            break;
        }
    }
    return SCAN_CONTINUE;
}
