// The lromup-sim command line: one table of its commands and their options,
// from which it is parsed and its usage printed.
#pragma once
#include <ostream>

// Parses argv, runs the command and returns the tool's exit status.
int simToolMain(int argc, char** argv);

// The usage: every command, option, fault and exit status, from the table.
void printToolUsage(std::ostream& out);
