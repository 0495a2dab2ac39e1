// The lromup-sim command line: make a simulated machine in a directory, give
// it new BIOS images, run the updater on it, and look at what it did.
#pragma once

// Exit statuses of the tool itself ("run" passes the updater's status through).
constexpr int SIM_TOOL_OK = 0;
constexpr int SIM_TOOL_FAILED = 1;      // a machine directory or file could not be used
constexpr int SIM_TOOL_USAGE = 2;       // bad arguments
constexpr int SIM_TOOL_POWER_CUT = 137;  // "run" ended by a simulated power failure

int simToolMain(int argc, char** argv);

// `lromup-sim reboot DIR` (sim/sim_reboot.cpp): args are what follows "reboot".
#include <string>
#include <vector>
int simRebootMain(const std::vector<std::string>& args);
