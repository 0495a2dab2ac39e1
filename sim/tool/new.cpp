// lromup-sim new DIR [OPTION]...: makes a machine in a directory that holds
// none.
#include <iostream>
#include <string>
#include <vector>

#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"
#include "sim/tool/sp.h"

namespace {

// True when the directory holds nothing but possibly its lock file.
bool holdsNothing(const DirHandle& dir, std::string* error) {
    std::vector<std::string> names;
    if (!dir.list(names, error)) return false;
    for (const std::string& name : names)
        if (name != MACHINE_LOCK_FILE) return false;
    return true;
}

}  // namespace

int cmdNew(const ToolRequest& request) {
    std::string error;
    std::unique_ptr<Machine> m = buildMachine(request, &error);
    if (!m) return toolUsage("new: " + error);
    applySpNewOptions(*m, request.spKernel, request.spBuild.has_value(),
                      request.spBuild.value_or(0));

    const std::string& dir = request.operands[0];
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
    record.model = request.model;
    if (!saveMachineDir(dir, *m, record, &error))
        return toolFailed(error);
    return SIM_TOOL_OK;
}
