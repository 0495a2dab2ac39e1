// The service processor in the lromup-sim tool: its file in the machine
// directory, its options of "new", its lines of "show", and "sp DIR ...",
// which runs the service-processor update procedures on the machine.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Machine;

// "service_processor.bin": the 64 KiB flash followed by the profile byte.
// A directory without it holds a service processor as the factory left it.
bool loadSpState(const std::string& dir, Machine& m, std::string* error);
bool saveSpState(const std::string& dir, Machine& m, std::string* error);

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
