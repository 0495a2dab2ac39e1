#include "flash/lromup.h"

#include "flash/runseq.h"

#include "flash/settings.h"
#include "flash/switches.h"

int lromupMain(int argc, char** argv) {
    resetSettings();
    programName = argc > 0 ? argv[0] : "lromup";

    int status = scanSwitches(argc, argv);
    if (status != SCAN_CONTINUE) {
        return status;  // nothing created yet, nothing to release
    }

    return runSequence();
}
