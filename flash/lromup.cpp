#include "flash/lromup.h"

#include "flash/settings.h"
#include "os/os.h"

int lromupMain(int argc, char** argv) {
    resetSettings();
    programName = argc > 0 ? argv[0] : "lromup";
    OS* os = osInit();
    osDestroy(os);
    return 0;
}
