// Every command, option and fault of lromup-sim is a row below: the parser, the
// usage text and the test that holds the manual page to them all read these
// rows. An option's row checks its value and stores it in the request; the
// command then works from the request alone.
#include "sim/tool/options.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/board/firmware_menus.h"
#include "sim/board/flash_part.h"
#include "sim/board/machine.h"
#include "sim/board/models.h"
#include "sim/board/service_processor.h"
#include "sim/board/sp_regs.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

// NAME, or NAME@NUMBER when number names the number ("ADDR", "N").
struct FaultRow {
    const char* command;
    const char* name;
    const char* number;
    uint64_t least, most;  // the number's range
    void (*apply)(Machine& m, uint64_t number);
};

void applyFaults(const ToolRequest& request, Machine& m) {
    for (const auto& [kind, number] : request.faults) kind->apply(m, number);
}

namespace {

constexpr char RUN[] = "run", SP[] = "sp";
constexpr uint64_t ANY_ADDRESS = 0xFFFFFFFFu, ANY_COUNT = UINT64_MAX;
constexpr uint64_t SP_ADDRESS = spsim::FLASH_SIZE - 1;
SpFaults& sp(Machine& m) { return m.serviceProcessor().faults; }

const FaultRow FAULTS[] = {
    {RUN, "hw-cycle-hang", nullptr, 0, 0, [](Machine& m, uint64_t) { m.spi().hwCycleHang = true; }},
    {RUN, "sw-cycle-hang", nullptr, 0, 0, [](Machine& m, uint64_t) { m.spi().swCycleHang = true; }},
    {RUN, "wp-stuck-low", nullptr, 0, 0, [](Machine& m, uint64_t) { m.setWpStuckLow(true); }},
    {RUN, "fcerr", "ADDR", 0, ANY_ADDRESS,
     [](Machine& m, uint64_t a) { m.spi().fcerrBlock = uint32_t(a); }},
    // The N-th erase or program operation of the run (from 1) does not happen.
    {RUN, "power-cut", "N", 1, ANY_COUNT,
     [](Machine& m, uint64_t n) { m.failPowerAtOperation(n - 1); }},
    // That byte of either part keeps its erased bits.
    {RUN, "bad-cell", "ADDR", 0, ANY_ADDRESS,
     [](Machine& m, uint64_t a) { m.bank(0).badCell = m.bank(1).badCell = uint32_t(a); }},
    // A part accepts its N-th page program (from 1) and changes nothing.
    {RUN, "drop-program", "N", 1, ANY_COUNT,
     [](Machine& m, uint64_t n) { m.bank(0).dropProgramAt = m.bank(1).dropProgramAt = n; }},
    {SP, "sp-kernel-silent", nullptr, 0, 0, [](Machine& m, uint64_t) { sp(m).kernelSilent = true; }},
    {SP, "sp-bad-checksum", "N", 1, 0xFFFFFFFF,
     [](Machine& m, uint64_t n) { sp(m).badChecksumEvery = unsigned(n); }},
    {SP, "sp-erase-error", nullptr, 0, 0, [](Machine& m, uint64_t) { sp(m).eraseErrors = -1; }},
    {SP, "sp-erase-error-once", nullptr, 0, 0, [](Machine& m, uint64_t) { sp(m).eraseErrors = 1; }},
    {SP, "sp-block-error", "ADDR", 1, SP_ADDRESS,
     [](Machine& m, uint64_t a) { sp(m).blockError = true; sp(m).blockErrorAt = uint32_t(a); }},
    {SP, "sp-weak-cell", "ADDR", 1, SP_ADDRESS,
     [](Machine& m, uint64_t a) { sp(m).weakCell = true; sp(m).weakCellAt = uint32_t(a); }},
    {SP, "sp-reset-fails", nullptr, 0, 0, [](Machine& m, uint64_t) { sp(m).resetFails = true; }},
    {SP, "sp-semaphore-held", nullptr, 0, 0, [](Machine& m, uint64_t) { sp(m).semaphoreHeld = true; }},
};

const struct CommandRow {
    const char* name;      // "sp image": the second word is a fixed operand
    const char* operands;  // as the usage names them, one word each
    bool updaterArgs;      // "-- ARG..." follows the options
    int (*run)(const ToolRequest& request);
    const char* what;
} COMMANDS[] = {
    {"new", "DIR", false, cmdNew, "make a machine in DIR, which must hold nothing (or --force)"},
    {"image", "DIR FILE", false, cmdImage, "write an image this machine accepts"},
    {RUN, "DIR", true, cmdRun, "run lromup ARG... on the machine"},
    {"show", "DIR", false, cmdShow, "print the machine as key: value lines"},
    {"read", "DIR primary|backup FILE", false, cmdRead, "copy a flash part into FILE"},
    {"reboot", "DIR", false, cmdReboot, "power-cycle the machine"},
    {SP, "DIR flash|compare", false, cmdSp,
     "run the service-processor update or compare in the current directory"},
    {"sp image", "FILE", false, cmdSpImage, "write a service-processor application image"},
};

using R = ToolRequest;
using M = MachineOptions;
using V = const std::string&;
constexpr int OK = SIM_TOOL_OK, BAD = SIM_TOOL_USAGE;

// The value kinds of options. Each checks and stores one value ("" for a flag
// that takes none): OK, or the status to end with and the reason in *why
// (none: the value is not one the option's row names).
template <typename Field, typename Value>
int store(Field& field, const Value& value) {
    field = value;
    return OK;
}
bool any(V) { return true; }
bool revision(V v) {
    return v.size() == spsim::REVISION_LENGTH &&
           std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 0x7F; });
}
// The value as it is, when accepts() takes it (find() of a board table does).
template <auto field, auto accepts = any>
int text(R& r, V v, std::string*) { return accepts(v) ? store(r.*field, v) : BAD; }
template <auto field, auto value = true>
int set(R& r, V, std::string*) { return store(r.*field, value); }
// TEXT, or "none" for no such field at all.
template <auto field, auto none>
int textOrNone(R& r, V v, std::string*) {
    r.*none = v == "none";
    return store(r.*field, r.*none ? "" : v);
}
template <auto field>
int bank(R& r, V v, std::string*) {
    return v == "primary" || v == "backup" ? store(r.*field, v == "backup") : BAD;
}
template <auto field>
int number(R& r, V v, std::string*) {
    uint64_t n = 0;
    return parseUnsigned(v, n) && n <= 0xFFFFFFFFu ? store(r.*field, uint32_t(n)) : BAD;
}
int hostBridge(R& r, V v, std::string*) {
    return parseHostBridge(v, r.hostBridgeId) && r.hostBridgeId != 0 ? OK : BAD;
}
int legacyArea(R& r, V v, std::string* why) {
    if (!readUserFile(v, LEGACY_AREA_SIZE, r.legacyArea, why)) return SIM_TOOL_FAILED;
    if (r.legacyArea.size() == LEGACY_AREA_SIZE) return OK;
    *why = v + ": a legacy area image must be 65536 bytes";
    return SIM_TOOL_FAILED;
}
// A run says what is wrong with a fault and takes one of each kind; sp knows
// a fault or does not.
template <const char* command>
int fault(R& r, V v, std::string* why) {
    const size_t at = v.find('@');
    const std::string name = v.substr(0, at);
    const FaultRow* kind = std::find_if(std::begin(FAULTS), std::end(FAULTS), [&](const FaultRow& row) {
        return row.command == command && name == row.name;
    });
    uint64_t n = 0;
    if (kind == std::end(FAULTS))
        *why = "unknown fault '" + v + "'";
    else if ((kind->number != nullptr) != (at != std::string::npos))
        *why = "fault '" + name + (kind->number ? "' needs @NUMBER" : "' takes no number");
    else if (kind->number && (!parseUnsigned(v.substr(at + 1), n) || n < kind->least || n > kind->most))
        *why = "fault '" + v + "': the number must be decimal or 0x-hexadecimal, at least " +
               std::to_string(kind->least);
    else if (command == RUN && std::any_of(r.faults.begin(), r.faults.end(),
                                           [&](auto& chosen) { return chosen.first == kind; }))
        *why = "fault '" + name + "' given twice (one of each kind per run)";
    else {
        r.faults.emplace_back(kind, n);
        return OK;
    }
    if (command == SP) *why = "unknown fault '" + v + "'";
    return BAD;
}

const struct OptionRow {
    const char* command;
    const char* flag;
    const char* value;  // the value's name in the usage; nullptr: takes none
    bool repeats;       // may be given more than once
    int (*apply)(R& r, V value, std::string* why);
} OPTIONS[] = {
    {"new", "--model", "moro310|moro320|moro330", false, text<&M::model, findBoardModel>},
    {"new", "--host-bridge", "pch|ich|0xHHHHHHHH", false, hostBridge},
    {"new", "--part", "NAME|unknown", false, text<&M::partName, findFlashPart>},
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
     text<&M::firmwareMenu, findFirmwareMenu>},
    {"new", "--ble", nullptr, false, set<&M::biosLockEnable>},
    {"new", "--flockdn", nullptr, false, set<&M::spiLockDown>},
    {"new", "--sp-kernel", "REVISION", false, text<&R::spKernel, revision>},
    {"new", "--sp-build", "0xNNNN", false, number<&R::spBuild>},
    {"new", "--force", nullptr, false, set<&R::force>},
    {"image", "--whole", nullptr, false, set<&R::imageKind, ImageKind::Whole>},
    {"image", "--region", nullptr, false, set<&R::imageKind, ImageKind::Region>},
    {"image", "--seed", "N", false, number<&R::seed>},
    {RUN, "--trace", "FILE", false, text<&R::tracePath>},
    {RUN, "--fault", "FAULT", true, fault<RUN>},
    {"reboot", "--bank", "primary|backup", false, bank<&R::bootBank>},
    {SP, "--trace", "FILE", false, text<&R::tracePath>},
    {SP, "--fault", "FAULT", true, fault<SP>},
    {"sp image", "--seed", "N", false, number<&R::seed>},
};

const std::pair<int, const char*> STATUSES[] = {
    {SIM_TOOL_OK, "done"},
    {SIM_TOOL_FAILED, "a missing or damaged machine directory, an input that is not a regular file, "
                      "or a file that cannot be written"},
    {SIM_TOOL_USAGE, "bad arguments"},
    {SIM_TOOL_BUSY, "new, reboot or sp on a machine a run holds"},
    {SIM_TOOL_POWER_CUT, "a run ended by power-cut@N"},
};

// Parses the command's options and operands and runs it: its status, or the one
// the command line ends with.
int parseAndRun(const CommandRow& command, int argc, char** argv) {
    R r;
    const std::string name = command.name, operands = command.operands;
    std::vector<const OptionRow*> given;
    bool dashes = false;
    for (int i = name.find(' ') == std::string::npos ? 2 : 3; i < argc && !dashes; ++i) {
        const std::string word = argv[i];
        const OptionRow* option = std::find_if(std::begin(OPTIONS), std::end(OPTIONS), [&](auto& row) {
            return name == row.command && word == row.flag;
        });
        if (command.updaterArgs && word == "--") {
            r.updaterArgs.assign(argv + i + 1, argv + argc);
            dashes = true;
        } else if (word.size() <= 2 || word.compare(0, 2, "--") != 0) {
            if (word.empty()) return toolUsage(name + ": an operand is empty");
            r.operands.push_back(word);
        } else if (option == std::end(OPTIONS)) {
            return toolUsage(name + ": unknown option '" + word + "'" +
                             (command.updaterArgs ? " (updater arguments follow --)" : ""));
        } else if (!option->repeats && std::count(given.begin(), given.end(), option)) {
            return toolUsage(name + ": " + word + " given twice");
        } else if (option->value && (i + 1 >= argc || argv[i + 1][0] == '\0')) {
            return toolUsage(name + ": " + word + " needs a non-empty value");
        } else {
            given.push_back(option);
            const std::string value = option->value ? argv[++i] : "";
            std::string why;
            const int status = option->apply(r, value, &why);
            if (status == BAD && why.empty())
                why = word + " takes " + option->value + ", not '" + value + "'";
            if (status != OK) return status == BAD ? toolUsage(name + ": " + why) : toolFailed(why);
        }
    }
    if (r.operands.size() != size_t(std::count(operands.begin(), operands.end(), ' ') + 1))
        return toolUsage(name + ": needs " + operands);
    if (command.updaterArgs && !dashes)
        return toolUsage(name + ": the updater's arguments must follow --");
    return command.run(r);
}

// The usage: every command, option, fault and exit status, from the tables.
void printToolUsage(std::ostream& out) {
    out << "Usage: lromup-sim COMMAND OPERAND... [OPTION]...\n";
    for (const CommandRow& command : COMMANDS) {
        std::string options;
        for (const OptionRow& option : OPTIONS)
            if (!std::strcmp(option.command, command.name))
                options += std::string("      ") + option.flag +
                           (option.value ? std::string(" ") + option.value : "") +
                           (option.repeats ? " (repeatable)" : "") + "\n";
        out << "  lromup-sim " << command.name << " " << command.operands
            << (options.empty() ? "" : " [OPTION]...") << (command.updaterArgs ? " -- ARG..." : "")
            << "\n    " << command.what << "\n" << options;
    }
    for (const char* command : {RUN, SP}) {
        std::string names;
        for (const FaultRow& kind : FAULTS)
            if (kind.command == command)
                names += (names.empty() ? "" : ", ") + std::string(kind.name) +
                         (kind.number ? std::string("@") + kind.number : "");
        out << "Faults of " << command << ": " << names << "\n";
    }
    out << "Numbers are decimal or 0x-hexadecimal.\n"
        << "Exit status (run and sp end with the updater's own status otherwise):\n";
    for (const auto& [status, meaning] : STATUSES) out << "  " << status << "  " << meaning << "\n";
}

}  // namespace

int simToolMain(int argc, char** argv) {
    toolUsagePending();  // what an earlier command in this process left
    const std::string first = argc < 2 ? "" : argv[1];
    if (first == "--help" || first == "-?" || first == "-h") {
        printToolUsage(std::cout);
        return SIM_TOOL_OK;
    }
    // "sp image" comes after "sp": the row of both words wins.
    const CommandRow* command = nullptr;
    for (const CommandRow& row : COMMANDS) {
        const bool twoWords = std::strchr(row.name, ' ') != nullptr;
        if (twoWords ? argc > 2 && first + " " + argv[2] == row.name : first == row.name) command = &row;
    }
    const int status = argc < 2          ? toolUsage("no command")
                       : command == nullptr ? toolUsage("unknown command '" + first + "'")
                                            : parseAndRun(*command, argc, argv);
    if (toolUsagePending()) printToolUsage(std::cerr);
    return status;
}
