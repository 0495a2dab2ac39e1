// Every command and option of lromup-sim is a row below: the parser, the usage
// text and the test that holds the manual page to them all read these rows.
// An option's row checks its value and stores it in the request; the command
// then works from the request alone.
#include "sim/tool_options.h"

#include <cstring>
#include <iostream>
#include <string>

#include "sim/dir_files.h"
#include "sim/firmware_menus.h"
#include "sim/flash_part.h"
#include "sim/machine_dir.h"
#include "sim/models.h"
#include "sim/sim_commands.h"
#include "sim/sp_regs.h"
#include "sim/tool_report.h"
#include "sim/tool_request.h"

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
// returns SIM_TOOL_OK or the status to end with, the reason in *why.
using ApplyOption = int (*)(ToolRequest& r, const std::string& value, std::string* why);

// An option stores its value as given in `text`, sets `flag`, or goes through
// `apply`, which checks it.
struct OptionRow {
    const char* command;
    const char* flag;
    const char* value;  // the value's name in the usage; nullptr: takes none
    bool repeats;       // may be given more than once
    ApplyOption apply;
    std::string MachineOptions::*text = nullptr;
    bool MachineOptions::*set = nullptr;
};

int refuse(std::string* why, const std::string& text) {
    *why = text;
    return SIM_TOOL_USAGE;
}
int setText(std::string& field, const std::string& value) {
    field = value;
    return SIM_TOOL_OK;
}
int setFlag(bool& field) {
    field = true;
    return SIM_TOOL_OK;
}
int setSeed(ToolRequest& r, const std::string& v, std::string* why) {
    uint64_t seed = 0;
    if (!parseUnsigned(v, seed) || seed > 0xFFFFFFFFu)
        return refuse(why, "--seed takes a number, not '" + v + "'");
    r.seed = uint32_t(seed);
    return SIM_TOOL_OK;
}
int setTrace(ToolRequest& r, const std::string& v, std::string*) { return setText(r.tracePath, v); }

const OptionRow OPTIONS[] = {
    {"new", "--model", "moro310|moro320|moro330", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (!findBoardModel(v)) return refuse(why, "unknown model '" + v + "'");
         return setText(r.machine.model, v);
     }},
    {"new", "--host-bridge", "pch|ich|0xHHHHHHHH", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (!parseHostBridge(v, r.machine.hostBridgeId) || r.machine.hostBridgeId == 0)
             return refuse(why, "host bridge must be pch, ich or 0xHHHHHHHH, not '" + v + "'");
         return SIM_TOOL_OK;
     }},
    {"new", "--part", "NAME|unknown", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (!findFlashPart(v)) return refuse(why, "unknown flash part '" + v + "'");
         return setText(r.machine.partName, v);
     }},
    {"new", "--bios-version", "TEXT", false, nullptr, &MachineOptions::biosVersion},
    {"new", "--product", "TEXT", false, nullptr, &MachineOptions::product},
    {"new", "--serial", "TEXT", false, nullptr, &MachineOptions::serial},
    {"new", "--mtm", "TEXT", false, nullptr, &MachineOptions::mtm},
    {"new", "--uuid", "8-4-4-4-12", false, nullptr, &MachineOptions::uuid},
    {"new", "--asset", "TEXT|none", false,
     [](ToolRequest& r, const std::string& v, std::string*) {
         r.machine.noAsset = v == "none";
         return setText(r.machine.asset, r.machine.noAsset ? "" : v);
     }},
    {"new", "--oem", "TEXT|none", false,
     [](ToolRequest& r, const std::string& v, std::string*) {
         r.machine.noOem = v == "none";
         return setText(r.machine.oem, r.machine.noOem ? "" : v);
     }},
    {"new", "--no-vpd", nullptr, false, nullptr, nullptr, &MachineOptions::noVpd},
    {"new", "--crtm", nullptr, false, nullptr, nullptr, &MachineOptions::crtm},
    {"new", "--active-bank", "primary|backup", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (v != "primary" && v != "backup")
             return refuse(why, "--active-bank takes primary or backup, not '" + v + "'");
         r.machine.activeBank = v == "backup" ? 1 : 0;
         return SIM_TOOL_OK;
     }},
    {"new", "--legacy-area", "FILE", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (!readUserFile(v, LEGACY_AREA_SIZE, r.machine.legacyArea, why)) return SIM_TOOL_FAILED;
         if (r.machine.legacyArea.size() == LEGACY_AREA_SIZE) return SIM_TOOL_OK;
         *why = v + ": a legacy area image must be 65536 bytes";
         return SIM_TOOL_FAILED;
     }},
    {"new", "--firmware-menu", "standard|hostile|read-only", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (!findFirmwareMenu(v)) return refuse(why, "unknown firmware menu '" + v + "'");
         return setText(r.machine.firmwareMenu, v);
     }},
    {"new", "--ble", nullptr, false, nullptr, nullptr, &MachineOptions::biosLockEnable},
    {"new", "--flockdn", nullptr, false, nullptr, nullptr, &MachineOptions::spiLockDown},
    {"new", "--sp-kernel", "REVISION", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         bool printable = v.size() == spsim::REVISION_LENGTH;
         for (char c : v) printable = printable && c > ' ' && c < 0x7F;
         if (!printable)
             return refuse(why, "--sp-kernel takes 8 printable characters (e.g. A8DSP021), not '" + v + "'");
         return setText(r.spKernel, v);
     }},
    {"new", "--sp-build", "0xNNNN", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         uint64_t n = 0;
         if (!parseUnsigned(v, n) || n > 0xFFFFFFFFu)
             return refuse(why, "--sp-build takes a number (e.g. 0x9D00), not '" + v + "'");
         r.spBuild = uint32_t(n);
         return setFlag(r.spBuildGiven);
     }},
    {"new", "--force", nullptr, false,
     [](ToolRequest& r, const std::string&, std::string*) { return setFlag(r.force); }},
    {"image", "--whole", nullptr, false,
     [](ToolRequest& r, const std::string&, std::string*) {
         r.imageKind = ImageKind::Whole;
         return SIM_TOOL_OK;
     }},
    {"image", "--region", nullptr, false,
     [](ToolRequest& r, const std::string&, std::string*) {
         r.imageKind = ImageKind::Region;
         return SIM_TOOL_OK;
     }},
    {"image", "--seed", "N", false, setSeed},
    {"run", "--trace", "FILE", false, setTrace},
    {"run", "--fault", "FAULT", true,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         return parseFault(v, r.faults, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
     }},
    {"reboot", "--bank", "primary|backup", false,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         if (v != "primary" && v != "backup")
             return refuse(why, "--bank takes primary or backup, not '" + v + "'");
         r.bootBank = v == "backup" ? 1 : 0;
         return SIM_TOOL_OK;
     }},
    {"sp", "--trace", "FILE", false, setTrace},
    {"sp", "--fault", "FAULT", true,
     [](ToolRequest& r, const std::string& v, std::string* why) {
         return parseSpFault(v, r.spFaults, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
     }},
    {"sp image", "--seed", "N", false, setSeed},
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
        int status = SIM_TOOL_OK;
        if (option->text) r.machine.*option->text = value;
        else if (option->set) r.machine.*option->set = true;
        else status = option->apply(r, value, &why);
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
