#include "flash/settings.h"

#include <cstring>

unsigned short flashmode = 0;
unsigned short image_bios_type = 0;
bool updt_bblk = false;
bool vpdonly = false;
bool do_reboot = false;
const char* programName = nullptr;
char PBIOS_FNAME[FNAME_SIZE] = {};
char BBIOS_FNAME[FNAME_SIZE] = {};

void resetSettings() {
    flashmode = 0;
    image_bios_type = 0;
    updt_bblk = false;
    vpdonly = false;
    do_reboot = false;
    programName = nullptr;
    std::memset(PBIOS_FNAME, 0, sizeof PBIOS_FNAME);
    std::memset(BBIOS_FNAME, 0, sizeof BBIOS_FNAME);
}
