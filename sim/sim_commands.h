// The lromup-sim subcommands, each in its own file, and what they share.
#pragma once
#include <string>
#include <vector>

using ToolArgs = std::vector<std::string>;

int cmdNew(const ToolArgs& args);    // sim/sim_new.cpp
int cmdRun(const ToolArgs& args);    // sim/sim_run.cpp

// Print "lromup-sim: why" (and the usage for usage errors) on standard error
// and return the tool's status for it.
int toolUsage(const std::string& why);
int toolFailed(const std::string& why);
