// The run sequence: start-up, the compatibility gate, the requested modes in
// their fixed order, and the process exit status.
#pragma once

class OS;

// Model numbers of the machine families, as the run reports them.
constexpr int MODEL_61QM = 61;     // Moro 310, Moro 320
constexpr int MODEL_62QM = 62;     // Moro 330
constexpr int MODEL_UNKNOWN = 5;   // neither family
constexpr unsigned int PLATFORM_TEXT_SIZE = 32;  // identify_plat's text buffer

// Image lengths each family accepts.
constexpr long IMAGE_SIZE_61QM = 0x200000;
constexpr long IMAGE_SIZE_62QM = 0x180000;

// Positions in the flash map of the two BIOS descriptions the run points at
// the user's files.
constexpr int PRIMARY_DESCRIPTION_INDEX = 0;
constexpr int BACKUP_DESCRIPTION_INDEX = 3;

// Copies the BIOS Version string into text (PLATFORM_TEXT_SIZE bytes, always
// terminated; longer versions are cut) and returns 61, 62 or 5 from its first
// two characters.
int identify_plat(OS* os, char* text);

// Runs the modes that the switch scan recorded and returns the exit status.
int runSequence();
