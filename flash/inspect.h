// The modes that look at the machine and write no flash: /info, /dump FILE
// and /verify FILE. Each returns the status the run ends with.
#pragma once

class OS;
class Platform;
class Chipset;

// The image length of the family the BIOS version names; 0 for neither.
unsigned long familyImageSize(int family);

// Product, family, BIOS version and flash part into the run's facts.
void readMachineFacts(OS* os, const Chipset* probe);

// Prints the machine's state, one "key: value" line each; 0.
int showInfo(OS* os, const Chipset* probe);

// Writes the active bank's BIOS range, in the layout of an image file of the
// family, to DUMP_FNAME. 0, or EXIT_OUTPUT_REFUSED.
int dumpActiveBank(OS* os, Chipset* probe);

// Compares a bank with VERIFY_FNAME (or the /p or /bb file) as an update would
// have written it. 0 when they match, EXIT_VERIFY_DIFFERS when they do not.
int verifyBank(OS* os, Platform* platform, Chipset* probe);
