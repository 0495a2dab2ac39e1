// The updater's entry point as a function, so that the simulated machine and
// the tests can run the whole program in-process.
#pragma once

// Scans the switches, runs the requested modes and returns the exit status
// (the process takes its low 8 bits). A few fatal errors end the process from
// deep inside with exit().
int lromupMain(int argc, char** argv);
