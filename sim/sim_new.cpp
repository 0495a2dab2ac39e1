// lromup-sim new DIR [OPTION]...: makes a machine in a directory that holds
// none. Options are rows of a table; each value must be non-empty.
#include <iostream>
#include <string>
#include <vector>

#include "sim/board_image.h"
#include "sim/dir_files.h"
#include "sim/firmware_menus.h"
#include "sim/flash_part.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "sim/models.h"
#include "sim/sim_commands.h"
#include "sim/sim_tool.h"
#include "sim/sp_tool.h"

namespace {

struct NewRequest {
    MachineOptions machine;
    bool force = false;  // replace the machine (or write among other files) in DIR
    SpNewOptions sp;     // the service processor's kernel revision and build
};

// Applies one option; returns SIM_TOOL_OK or the status to end with, the
// reason in *why.
using ApplyOption = int (*)(NewRequest& r, const std::string& value, std::string* why);

struct NewOption {
    const char* flag;
    bool takesValue;
    ApplyOption apply;
};

int refuse(std::string* why, const std::string& text) {
    *why = text;
    return SIM_TOOL_USAGE;
}

int setText(std::string& field, const std::string& value) {
    field = value;
    return SIM_TOOL_OK;
}

const NewOption NEW_OPTIONS[] = {
    {"--model", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (!findBoardModel(v)) return refuse(why, "unknown model '" + v + "'");
         return setText(r.machine.model, v);
     }},
    {"--host-bridge", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (!parseHostBridge(v, r.machine.hostBridgeId) || r.machine.hostBridgeId == 0)
             return refuse(why, "host bridge must be pch, ich or 0xHHHHHHHH, not '" + v + "'");
         return SIM_TOOL_OK;
     }},
    {"--part", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (!findFlashPart(v)) return refuse(why, "unknown flash part '" + v + "'");
         return setText(r.machine.partName, v);
     }},
    {"--bios-version", true,
     [](NewRequest& r, const std::string& v, std::string*) { return setText(r.machine.biosVersion, v); }},
    {"--product", true,
     [](NewRequest& r, const std::string& v, std::string*) { return setText(r.machine.product, v); }},
    {"--serial", true,
     [](NewRequest& r, const std::string& v, std::string*) { return setText(r.machine.serial, v); }},
    {"--mtm", true,
     [](NewRequest& r, const std::string& v, std::string*) { return setText(r.machine.mtm, v); }},
    {"--uuid", true,
     [](NewRequest& r, const std::string& v, std::string*) { return setText(r.machine.uuid, v); }},
    {"--asset", true,
     [](NewRequest& r, const std::string& v, std::string*) {
         r.machine.noAsset = v == "none";
         return setText(r.machine.asset, r.machine.noAsset ? "" : v);
     }},
    {"--oem", true,
     [](NewRequest& r, const std::string& v, std::string*) {
         r.machine.noOem = v == "none";
         return setText(r.machine.oem, r.machine.noOem ? "" : v);
     }},
    {"--active-bank", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (v != "primary" && v != "backup")
             return refuse(why, "--active-bank takes primary or backup, not '" + v + "'");
         r.machine.activeBank = v == "backup" ? 1 : 0;
         return SIM_TOOL_OK;
     }},
    {"--legacy-area", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (!readUserFile(v, LEGACY_AREA_SIZE, r.machine.legacyArea, why)) return SIM_TOOL_FAILED;
         if (r.machine.legacyArea.size() != LEGACY_AREA_SIZE) {
             *why = v + ": a legacy area image must be 65536 bytes";
             return SIM_TOOL_FAILED;
         }
         return SIM_TOOL_OK;
     }},
    {"--firmware-menu", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         if (!findFirmwareMenu(v)) return refuse(why, "unknown firmware menu '" + v + "'");
         return setText(r.machine.firmwareMenu, v);
     }},
    {"--ble", false,
     [](NewRequest& r, const std::string&, std::string*) {
         r.machine.biosLockEnable = true;
         return SIM_TOOL_OK;
     }},
    {"--flockdn", false,
     [](NewRequest& r, const std::string&, std::string*) {
         r.machine.spiLockDown = true;
         return SIM_TOOL_OK;
     }},
    {"--sp-kernel", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         return parseSpNewOption("--sp-kernel", v, r.sp, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
     }},
    {"--sp-build", true,
     [](NewRequest& r, const std::string& v, std::string* why) {
         return parseSpNewOption("--sp-build", v, r.sp, why) ? SIM_TOOL_OK : SIM_TOOL_USAGE;
     }},
    {"--no-vpd", false,
     [](NewRequest& r, const std::string&, std::string*) {
         r.machine.noVpd = true;
         return SIM_TOOL_OK;
     }},
    {"--crtm", false,
     [](NewRequest& r, const std::string&, std::string*) {
         r.machine.crtm = true;
         return SIM_TOOL_OK;
     }},
    {"--force", false,
     [](NewRequest& r, const std::string&, std::string*) {
         r.force = true;
         return SIM_TOOL_OK;
     }},
};

const NewOption* findOption(const std::string& flag) {
    for (const NewOption& o : NEW_OPTIONS)
        if (flag == o.flag) return &o;
    return nullptr;
}

// True when the directory holds nothing but possibly its lock file.
bool holdsNothing(const DirHandle& dir, std::string* error) {
    std::vector<std::string> names;
    if (!dir.list(names, error)) return false;
    for (const std::string& name : names)
        if (name != MACHINE_LOCK_FILE) return false;
    return true;
}

}  // namespace

int cmdNew(const ToolArgs& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) return toolUsage("new: no machine directory");
    if (args[0].empty()) return toolUsage("new: the machine directory name is empty");
    NewRequest request;
    for (size_t i = 1; i < args.size(); ++i) {
        const NewOption* option = findOption(args[i]);
        if (!option) return toolUsage("new: unknown option '" + args[i] + "'");
        std::string value;
        if (option->takesValue) {
            if (i + 1 >= args.size()) return toolUsage("new: " + args[i] + " needs a value");
            value = args[++i];
            if (value.empty()) return toolUsage("new: " + args[i - 1] + " needs a non-empty value");
        }
        std::string why;
        const int status = option->apply(request, value, &why);
        if (status == SIM_TOOL_USAGE) return toolUsage("new: " + why);
        if (status != SIM_TOOL_OK) return toolFailed(why);
    }

    std::string error;
    std::unique_ptr<Machine> m = buildMachine(request.machine, &error);
    if (!m) return toolUsage("new: " + error);
    applySpNewOptions(*m, request.sp);

    const std::string& dir = args[0];
    DirHandle handle;
    DirLock lock;
    if (!handle.open(dir, true, &error)) return toolFailed(error);
    switch (lock.tryTake(handle, MACHINE_LOCK_FILE, &error)) {
    case DirLock::Taken: break;
    case DirLock::Busy:
        std::cerr << "lromup-sim: " << dir << " is in use by a run; nothing was changed\n";
        return SIM_TOOL_BUSY;
    case DirLock::Failed: return toolFailed(error);
    }
    if (!request.force && !holdsNothing(handle, &error)) {
        return toolFailed(error.empty() ? dir + " already holds a machine or other files; nothing "
                                              "was changed (--force replaces the machine in it)"
                                        : error);
    }
    MachineRecord record;
    record.model = request.machine.model;
    if (!saveMachineDir(dir, *m, record, &error))
        return toolFailed(error);
    return SIM_TOOL_OK;
}
