// lromup-sim read DIR primary|backup FILE: copies a flash part into a file.
#include <memory>
#include <string>
#include <vector>

#include "sim/board/machine.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

int cmdRead(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    int bank;
    if (args[1] == "primary") bank = 0;
    else if (args[1] == "backup") bank = 1;
    else return toolUsage("read: bank must be primary or backup, not '" + args[1] + "'");
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m) return toolFailed(error);
    if (!writeOutsideMachine(args[0], args[2], "the bank's copy", m->bank(bank).array(), &error))
        return toolFailed(error);
    return SIM_TOOL_OK;
}

