// `lromup-sim reboot DIR`: power-cycles a saved machine. Runs are warm (the
// chipset keeps what the previous run left); this is the cold start between
// them, after which the BIOS of the bank that boots is the running one.
#include <iostream>
#include <memory>

#include "sim/dir_files.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_tool.h"

// `--bank primary|backup` is the board's bank-select jumper: that bank is
// latched and boots, the way out when the selected bank does not boot.
int simRebootMain(const std::vector<std::string>& args) {
    int bank = -1;
    if (args.size() == 3 && args[1] == "--bank" && (args[2] == "primary" || args[2] == "backup"))
        bank = args[2] == "backup" ? 1 : 0;
    else if (args.size() != 1) {
        std::cerr << "lromup-sim: reboot: needs DIR [--bank primary|backup]\n";
        return SIM_TOOL_USAGE;
    }
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
        machine->reboot(bank);
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
