// The service processor in the lromup-sim tool: its options of "new" and its
// lines of "show"; "sp DIR ..." (sim/tool/commands.h) runs the service-processor
// update procedures on the machine.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Machine;

// The service processor's flash and profile are saved with the rest of the
// machine ("service_processor.bin", sim/store/machine_dir.cpp).

// The kernel revision (empty: the default one) and build value of "new".
void applySpNewOptions(Machine& m, const std::string& kernel, bool buildGiven, uint32_t build);

void showServiceProcessor(Machine& m, std::ostream& out);
