// One lromup-sim command line as the option table (sim/tool/options.cpp)
// parsed it: the operands in order and every option's value, checked.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/board_image.h"
#include "sim/board/service_processor.h"
#include "sim/tool/faults.h"

// The options of `new` are the machine's own.
struct ToolRequest : MachineOptions {
    std::vector<std::string> operands;     // DIR, FILE, bank, procedure
    std::vector<std::string> updaterArgs;  // run: what follows "--"

    // new
    bool force = false;     // replace the machine (or write among other files) in DIR
    std::string spKernel;   // empty: the service processor's default kernel
    bool spBuildGiven = false;
    uint32_t spBuild = 0;

    // image, sp image
    ImageKind imageKind = ImageKind::Accepted;
    uint32_t seed = 1;

    // run, sp
    std::string tracePath;
    std::vector<ChosenFault> faults;
    SpFaults spFaults;

    // reboot: the bank the bank-select jumper makes boot; -1 leaves the jumper.
    int bootBank = -1;
};
