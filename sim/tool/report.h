// What the lromup-sim commands share to end: the tool's own exit statuses and
// its messages on standard error.
#pragma once
#include <string>

constexpr int SIM_TOOL_OK = 0;
constexpr int SIM_TOOL_FAILED = 1;      // a machine directory or file could not be used
constexpr int SIM_TOOL_USAGE = 2;       // bad arguments
constexpr int SIM_TOOL_BUSY = 75;       // "new", "reboot", "sp": a run holds the machine directory
// "run" ended by a simulated power failure: not 128 + a signal number, so it is
// never mistaken for the tool being killed.
constexpr int SIM_TOOL_POWER_CUT = 99;

// Prints "lromup-sim: why" and returns SIM_TOOL_USAGE; the usage text follows
// when the command has returned: toolUsagePending() says so once.
int toolUsage(const std::string& why);
bool toolUsagePending();
// Prints "lromup-sim: why" and returns SIM_TOOL_FAILED.
int toolFailed(const std::string& why);
