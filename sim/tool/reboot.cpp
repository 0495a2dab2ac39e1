// `lromup-sim reboot DIR`: power-cycles a saved machine. Runs are warm (the
// chipset keeps what the previous run left); this is the cold start between
// them, after which the BIOS of the bank that boots is the running one.
#include <iostream>
#include <memory>

#include "sim/board/machine.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

// `--bank primary|backup` is the board's bank-select jumper: that bank is
// latched and boots, the way out when the selected bank does not boot.
int cmdReboot(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    // Rebooting writes the machine: never while a run owns it.
    std::string error;
    DirHandle dir;
    DirLock lock;
    if (dir.open(args[0], false, &error)) {
        const DirLock::Result locked = lock.tryTake(dir, MACHINE_LOCK_FILE, &error);
        if (locked == DirLock::Busy) {
            std::cerr << "lromup-sim: " << args[0] << " is in use by a run; nothing was changed\n";
            return SIM_TOOL_BUSY;
        }
    }
    MachineRecord record;
    std::unique_ptr<Machine> machine = lock.held() ? loadMachineDir(args[0], record, &error) : nullptr;
    if (machine) {
        machine->reboot(request.bootBank);
        if (saveMachineDir(args[0], *machine, record, &error)) {
            static const char* const NAMES[2] = {"primary", "backup"};
            if (!machine->bootFault().empty())
                std::cerr << "lromup-sim: the " << NAMES[machine->activeBank()]
                          << " bank does not boot: " << machine->bootFault()
                          << "; the other bank boots with: lromup-sim reboot " << args[0]
                          << " --bank " << NAMES[1 - machine->activeBank()] << "\n";
            return SIM_TOOL_OK;
        }
    }
    std::cerr << "lromup-sim: " << error << "\n";
    return SIM_TOOL_FAILED;
}
