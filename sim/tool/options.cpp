// Every command and option of lromup-sim is a row below: the parser, the usage
// text and the test that holds the manual page to them all read these rows.
// An option's row checks its value and stores it in the request; the command
// then works from the request alone.
#include "sim/tool/options.h"

#include <cstring>
#include <iostream>
#include <string>

#include "sim/board/firmware_menus.h"
#include "sim/board/flash_part.h"
#include "sim/board/models.h"
#include "sim/board/sp_regs.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

namespace {

struct CommandRow {
    const char* name;      // "sp image": the second word is a fixed operand
    const char* operands;  // as the usage names them
    size_t operandCount;
    bool updaterArgs;      // "-- ARG..." follows the options
    int (*run)(const ToolRequest& request);
    const char* what;
};

const CommandRow COMMANDS[] = {
    {"new", "DIR", 1, false, cmdNew,
     "make a machine in DIR, which must hold nothing (or --force)"},
    {"image", "DIR FILE", 2, false, cmdImage, "write an image this machine accepts"},
    {"run", "DIR", 1, true, cmdRun, "run lromup ARG... on the machine"},
    {"show", "DIR", 1, false, cmdShow, "print the machine as key: value lines"},
    {"read", "DIR primary|backup FILE", 3, false, cmdRead, "copy a flash part into FILE"},
    {"reboot", "DIR", 1, false, cmdReboot, "power-cycle the machine"},
    {"sp", "DIR flash|compare", 2, false, cmdSp,
     "run the service-processor update or compare in the current directory"},
    {"sp image", "FILE", 1, false, cmdSpImage, "write a service-processor application image"},
};

// Checks and stores one option's value ("" for a flag that takes none);
// returns SIM_TOOL_OK or the status to end with, the reason in *why (none:
// the value is not one the row's value names).
using ApplyOption = int (*)(ToolRequest& r, const std::string& value, std::string* why);

struct OptionRow {
    const char* command;
    const char* flag;
    const char* value;  // the value's name in the usage; nullptr: takes none
    bool repeats;       // may be given more than once
    ApplyOption apply;
};

template <auto field>
int text(ToolRequest& r, const std::string& v, std::string*) {
    r.*field = v;
    return SIM_TOOL_OK;
}
template <auto field, auto value = true>
int set(ToolRequest& r, const std::string&, std::string*) {
    r.*field = value;
    return SIM_TOOL_OK;
}
// A name that find() knows (a row of one of the board's tables).
template <auto field, auto find>
int known(ToolRequest& r, const std::string& v, std::string*) {
    if (!find(v)) return SIM_TOOL_USAGE;
    return text<field>(r, v, nullptr);
}
// TEXT, or "none" for no such field at all.
template <auto field, auto none>
int textOrNone(ToolRequest& r, const std::string& v, std::string*) {
    r.*none = v == "none";
    r.*field = r.*none ? "" : v;
    return SIM_TOOL_OK;
}
template <auto field>
int bank(ToolRequest& r, const std::string& v, std::string*) {
    if (v != "primary" && v != "backup") return SIM_TOOL_USAGE;
    r.*field = v == "backup" ? 1 : 0;
    return SIM_TOOL_OK;
}
template <auto field, uint64_t most>
int number(ToolRequest& r, const std::string& v, std::string*) {
    uint64_t n = 0;
    if (!parseUnsigned(v, n) || n > most) return SIM_TOOL_USAGE;
    r.*field = uint32_t(n);
    return SIM_TOOL_OK;
}
int legacyArea(ToolRequest& r, const std::string& v, std::string* why) {
    if (!readUserFile(v, LEGACY_AREA_SIZE, r.legacyArea, why)) return SIM_TOOL_FAILED;
    if (r.legacyArea.size() == LEGACY_AREA_SIZE) return SIM_TOOL_OK;
    *why = v + ": a legacy area image must be 65536 bytes";
    return SIM_TOOL_FAILED;
}
int spKernel(ToolRequest& r, const std::string& v, std::string*) {
    bool printable = v.size() == spsim::REVISION_LENGTH;
    for (char c : v) printable = printable && c > ' ' && c < 0x7F;
    return printable ? text<&ToolRequest::spKernel>(r, v, nullptr) : SIM_TOOL_USAGE;
}
int spBuild(ToolRequest& r, const std::string& v, std::string*) {
    r.spBuildGiven = true;
    return number<&ToolRequest::spBuild, 0xFFFFFFFFu>(r, v, nullptr);
}
int hostBridge(ToolRequest& r, const std::string& v, std::string*) {
    return parseHostBridge(v, r.hostBridgeId) && r.hostBridgeId != 0 ? SIM_TOOL_OK : SIM_TOOL_USAGE;
}
int runFault(ToolRequest& r, const std::string& v, std::string* why) {
    return parseFault(v, r.faults, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
}
int spFault(ToolRequest& r, const std::string& v, std::string* why) {
    return parseSpFault(v, r.spFaults, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
}

using M = MachineOptions;
using R = ToolRequest;
constexpr uint64_t ANY_32_BITS = 0xFFFFFFFFu;

const OptionRow OPTIONS[] = {
    {"new", "--model", "moro310|moro320|moro330", false, known<&M::model, findBoardModel>},
    {"new", "--host-bridge", "pch|ich|0xHHHHHHHH", false, hostBridge},
    {"new", "--part", "NAME|unknown", false, known<&M::partName, findFlashPart>},
    {"new", "--bios-version", "TEXT", false, text<&M::biosVersion>},
    {"new", "--product", "TEXT", false, text<&M::product>},
    {"new", "--serial", "TEXT", false, text<&M::serial>},
    {"new", "--mtm", "TEXT", false, text<&M::mtm>},
    {"new", "--uuid", "8-4-4-4-12", false, text<&M::uuid>},
    {"new", "--asset", "TEXT|none", false, textOrNone<&M::asset, &M::noAsset>},
    {"new", "--oem", "TEXT|none", false, textOrNone<&M::oem, &M::noOem>},
    {"new", "--no-vpd", nullptr, false, set<&M::noVpd>},
    {"new", "--crtm", nullptr, false, set<&M::crtm>},
    {"new", "--active-bank", "primary|backup", false, bank<&M::activeBank>},
    {"new", "--legacy-area", "FILE", false, legacyArea},
    {"new", "--firmware-menu", "standard|hostile|read-only", false,
     known<&M::firmwareMenu, findFirmwareMenu>},
    {"new", "--ble", nullptr, false, set<&M::biosLockEnable>},
    {"new", "--flockdn", nullptr, false, set<&M::spiLockDown>},
    {"new", "--sp-kernel", "REVISION", false, spKernel},
    {"new", "--sp-build", "0xNNNN", false, spBuild},
    {"new", "--force", nullptr, false, set<&R::force>},
    {"image", "--whole", nullptr, false, set<&R::imageKind, ImageKind::Whole>},
    {"image", "--region", nullptr, false, set<&R::imageKind, ImageKind::Region>},
    {"image", "--seed", "N", false, number<&R::seed, ANY_32_BITS>},
    {"run", "--trace", "FILE", false, text<&R::tracePath>},
    {"run", "--fault", "FAULT", true, runFault},
    {"reboot", "--bank", "primary|backup", false, bank<&R::bootBank>},
    {"sp", "--trace", "FILE", false, text<&R::tracePath>},
    {"sp", "--fault", "FAULT", true, spFault},
    {"sp image", "--seed", "N", false, number<&R::seed, ANY_32_BITS>},
};

struct StatusRow {
    int status;
    const char* meaning;
};
const StatusRow STATUSES[] = {
    {SIM_TOOL_OK, "done"},
    {SIM_TOOL_FAILED, "a missing or damaged machine directory, an input that is not a regular file, "
                      "or a file that cannot be written"},
    {SIM_TOOL_USAGE, "bad arguments"},
    {SIM_TOOL_BUSY, "new, reboot or sp on a machine a run holds"},
    {SIM_TOOL_POWER_CUT, "a run ended by power-cut@N"},
};

const CommandRow* findCommand(int argc, char** argv) {
    const CommandRow* found = nullptr;
    for (const CommandRow& row : COMMANDS) {
        const char* space = std::strchr(row.name, ' ');
        if (space == nullptr) {
            if (found == nullptr && argv[1] == std::string(row.name)) found = &row;
        } else if (std::string(argv[1]) == std::string(row.name, space) && argc > 2 &&
                   argv[2] == std::string(space + 1)) {
            return &row;
        }
    }
    return found;
}

// The command's words, options and operands; SIM_TOOL_OK or the usage status.
int parse(const CommandRow& command, int argc, char** argv, ToolRequest& r) {
    const std::string name = command.name;
    int i = name.find(' ') == std::string::npos ? 2 : 3;
    std::vector<const OptionRow*> given;
    bool dashes = false;
    for (; i < argc; ++i) {
        const std::string word = argv[i];
        if (command.updaterArgs && word == "--") {
            r.updaterArgs.assign(argv + i + 1, argv + argc);
            dashes = true;
            break;
        }
        if (word.size() <= 2 || word.compare(0, 2, "--") != 0) {
            if (word.empty()) return toolUsage(name + ": an operand is empty");
            r.operands.push_back(word);
            continue;
        }
        const OptionRow* option = nullptr;
        for (const OptionRow& row : OPTIONS)
            if (name == row.command && word == row.flag) option = &row;
        if (option == nullptr)
            return toolUsage(name + ": unknown option '" + word + "'" +
                             (command.updaterArgs ? " (updater arguments follow --)" : ""));
        for (const OptionRow* earlier : given)
            if (earlier == option && !option->repeats) return toolUsage(name + ": " + word + " given twice");
        given.push_back(option);
        std::string value;
        if (option->value != nullptr) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return toolUsage(name + ": " + word + " needs a non-empty value");
            value = argv[++i];
        }
        std::string why;
        const int status = option->apply(r, value, &why);
        if (status == SIM_TOOL_USAGE && why.empty())
            return toolUsage(name + ": " + word + " takes " + option->value + ", not '" + value + "'");
        if (status == SIM_TOOL_USAGE) return toolUsage(name + ": " + why);
        if (status != SIM_TOOL_OK) return toolFailed(why);
    }
    if (r.operands.size() != command.operandCount)
        return toolUsage(name + ": needs " + command.operands);
    if (command.updaterArgs && !dashes)
        return toolUsage(name + ": the updater's arguments must follow --");
    return SIM_TOOL_OK;
}

}  // namespace

void printToolUsage(std::ostream& out) {
    out << "Usage: lromup-sim COMMAND OPERAND... [OPTION]...\n";
    for (const CommandRow& command : COMMANDS) {
        std::string options;
        for (const OptionRow& option : OPTIONS) {
            if (std::strcmp(option.command, command.name) != 0) continue;
            options += std::string("      ") + option.flag +
                       (option.value ? std::string(" ") + option.value : "") +
                       (option.repeats ? " (repeatable)" : "") + "\n";
        }
        out << "  lromup-sim " << command.name << " " << command.operands
            << (options.empty() ? "" : " [OPTION]...") << (command.updaterArgs ? " -- ARG..." : "")
            << "\n    " << command.what << "\n" << options;
    }
    out << "Faults of run: " << faultNames() << "\n"
        << "Faults of sp: " << spFaultNames() << "\n"
        << "Numbers are decimal or 0x-hexadecimal.\n"
        << "Exit status (run and sp end with the updater's own status otherwise):\n";
    for (const StatusRow& row : STATUSES) out << "  " << row.status << "  " << row.meaning << "\n";
}

int simToolMain(int argc, char** argv) {
    int status = SIM_TOOL_USAGE;
    toolUsagePending();  // what an earlier command in this process left
    if (argc < 2) {
        toolUsage("no command");
    } else if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-?") ||
               !std::strcmp(argv[1], "-h")) {
        printToolUsage(std::cout);
        return SIM_TOOL_OK;
    } else if (const CommandRow* command = findCommand(argc, argv)) {
        ToolRequest request;
        status = parse(*command, argc, argv, request);
        if (status == SIM_TOOL_OK) status = command->run(request);
    } else {
        toolUsage(std::string("unknown command '") + argv[1] + "'");
    }
    if (toolUsagePending()) printToolUsage(std::cerr);
    return status;
}
