// The service processor in the lromup-sim tool: its file in the machine
// directory, its options of "new", its lines of "show", and "sp DIR ...",
// which runs the service-processor update procedures on the machine.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Machine;

// The service processor's flash and profile are saved with the rest of the
// machine ("service_processor.bin", sim/machine_dir.cpp).

struct SpNewOptions {
    std::string kernel;  // empty: the default kernel
    bool buildGiven = false;
    uint32_t build = 0;
};
// Takes "--sp-kernel" and "--sp-build"; false with the reason in *error for a bad value.
bool parseSpNewOption(const std::string& flag, const std::string& value, SpNewOptions& o,
                      std::string* error);
void applySpNewOptions(Machine& m, const SpNewOptions& o);

void showServiceProcessor(Machine& m, std::ostream& out);

// lromup-sim sp DIR flash|compare [--trace FILE] [--fault FAULT]...
// lromup-sim sp image FILE [--seed N]   (an application image made from N)
int spToolMain(const std::vector<std::string>& args);

extern const char SP_TOOL_USAGE[];
