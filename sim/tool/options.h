// The lromup-sim command line: one table of its commands and their options,
// from which it is parsed and its usage printed.
#pragma once

// Parses argv, runs the command and returns the tool's exit status.
int simToolMain(int argc, char** argv);
