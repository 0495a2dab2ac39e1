// The command-line switch scan and the usage text.
#pragma once

// scanSwitches returns this when the run goes on with the recorded settings.
constexpr int SCAN_CONTINUE = -1;

// Exit statuses the scan ends a run with.
constexpr int EXIT_USAGE_SHOWN = 0;     // -?, --help, --Help
constexpr int EXIT_BAD_SWITCH = 2;      // unknown switch, missing file name, /bblk alone
constexpr int EXIT_IMAGE_UNUSABLE = 3;  // image file cannot be opened or named, or is no regular file

// Scans argv[1..argc-1] into the program-wide settings (flash/settings.h),
// opening each named image file once to check it and look for the region
// mark. Returns SCAN_CONTINUE, or the exit status the run ends with.
// Expects resetSettings() and programName to be set up.
int scanSwitches(int argc, char** argv);

// Prints the usage text to standard output.
void usage();
