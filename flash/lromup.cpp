#include "flash/lromup.h"

#include "flash/report.h"
#include "flash/runseq.h"

#include "flash/settings.h"
#include "flash/switches.h"

int lromupMain(int argc, char** argv) {
    resetSettings();
    startRunFacts();
    armReportAtExit();
    programName = argc > 0 ? argv[0] : "lromup";

    int status = scanSwitches(argc, argv);
    if (status != SCAN_CONTINUE) {
        return finishRunReport(status);  // nothing created yet, nothing to release
    }
    const char* image = VERIFY_FNAME[0] ? VERIFY_FNAME : PBIOS_FNAME[0] ? PBIOS_FNAME : BBIOS_FNAME;
    if (image[0] != '\0') noteImageFile(image);

    return finishRunReport(runSequence());
}
