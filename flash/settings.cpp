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
char DUMP_FNAME[FNAME_SIZE] = {};
char VERIFY_FNAME[FNAME_SIZE] = {};
char REPORT_FNAME[FNAME_SIZE] = {};

void resetSettings() {
    flashmode = 0;
    image_bios_type = 0;
    updt_bblk = false;
    vpdonly = false;
    do_reboot = false;
    programName = nullptr;
    std::memset(PBIOS_FNAME, 0, sizeof PBIOS_FNAME);
    std::memset(BBIOS_FNAME, 0, sizeof BBIOS_FNAME);
    std::memset(DUMP_FNAME, 0, sizeof DUMP_FNAME);
    std::memset(VERIFY_FNAME, 0, sizeof VERIFY_FNAME);
    std::memset(REPORT_FNAME, 0, sizeof REPORT_FNAME);
}
