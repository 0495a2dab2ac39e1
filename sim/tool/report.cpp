#include "sim/tool/report.h"

#include <iostream>

namespace {
bool usagePending = false;
}

int toolUsage(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n";
    usagePending = true;
    return SIM_TOOL_USAGE;
}

bool toolUsagePending() {
    const bool pending = usagePending;
    usagePending = false;
    return pending;
}

int toolFailed(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n";
    return SIM_TOOL_FAILED;
}
