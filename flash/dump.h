// Diagnostic modes: copy the flash into a file, or compare it with a file.
// No switch of the command line reaches them. Each returns 0 or 1.
#pragma once

class OS;
class Platform;

int ReadBiosToFile(OS* os, Platform* platform);
int DumpBiosToFile(OS* os, Platform* platform);
int EraseBiosToFile(OS* os, Platform* platform);
int CompareBiosToSource(OS* os, Platform* platform);
