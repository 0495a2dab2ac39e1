// One lromup-sim command line as the option table (sim/tool/options.cpp)
// parsed it: the operands in order and every option's value, checked.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/board/board_image.h"

struct FaultRow;  // a row of the fault table of run or sp

// The options of `new` are the machine's own.
struct ToolRequest : MachineOptions {
    std::vector<std::string> operands;     // DIR, FILE, bank, procedure
    std::vector<std::string> updaterArgs;  // run: what follows "--"

    // new
    bool force = false;     // replace the machine (or write among other files) in DIR
    std::string spKernel;   // empty: the service processor's default kernel
    std::optional<uint32_t> spBuild;

    // image, sp image
    ImageKind imageKind = ImageKind::Accepted;
    uint32_t seed = 1;

    // run, sp: each fault with its number (0 for a fault that takes none)
    std::string tracePath;
    std::vector<std::pair<const FaultRow*, uint64_t>> faults;

    // reboot: the bank the bank-select jumper makes boot; -1 leaves the jumper.
    int bootBank = -1;
};

// Puts the request's faults into the machine, in the order given.
void applyFaults(const ToolRequest& request, Machine& m);
