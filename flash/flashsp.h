// Writing and checking the service processor's firmware application over the
// LPC mailbox (the SPLPCChipset), beside the BIOS update procedure.
#pragma once

class OS;
class Platform;

// Writes the file of firmware id 9 into the service processor's application
// area. Returns 0 when the update completed; every failure ends the process
// with 255 (254 when the flash map has no id 9).
int FlashLPCSP(OS* os, Platform* platform);

// Compares the application area with "LPCSPFW.BIN" in the current directory.
// 0 when they match; 1 when the file cannot be opened or a word differs, in
// which case the flash contents are written to "SPROM.ERR".
int CompareServiceProcessorToSource(OS* os, Platform* platform);
