// `lromup-sim reboot DIR`: power-cycles a saved machine. Runs are warm (the
// chipset keeps what the previous run left); this is the cold start between
// them, after which the BIOS of the bank that boots is the running one.
#include <iostream>
#include <memory>

#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "sim/sim_tool.h"

int simRebootMain(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "lromup-sim: reboot: needs exactly DIR\n";
        return SIM_TOOL_USAGE;
    }
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> machine = loadMachineDir(args[0], record, &error);
    if (machine) {
        machine->reboot();
        if (saveMachineDir(args[0], *machine, record, &error)) return SIM_TOOL_OK;
    }
    std::cerr << "lromup-sim: " << error << "\n";
    return SIM_TOOL_FAILED;
}
