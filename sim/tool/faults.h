// The faults `lromup-sim run --fault` can put into a machine for one run, and
// those `lromup-sim sp --fault` can put into its service processor.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class Machine;

struct SpFaults;

// One row of the fault table: NAME, or NAME@NUMBER when number names the
// number ("ADDR", "N").
struct FaultKind {
    const char* name;
    const char* number;
    uint64_t least, most;  // the number's range
    void (*apply)(Machine& m, uint64_t number);
};

struct ChosenFault {
    const FaultKind* kind;
    uint64_t number;
};

// Adds the fault `text` names to chosen. False, with the reason in *why, for
// an unknown fault, a bad number, or a kind already chosen (one of each).
bool parseFault(const std::string& text, std::vector<ChosenFault>& chosen, std::string* why);

// The fault names for the usage text, e.g. "hw-cycle-hang, fcerr@ADDR".
std::string faultNames();

// Sets the service-processor fault `text` names; false with the reason in *why.
bool parseSpFault(const std::string& text, SpFaults& faults, std::string* why);
std::string spFaultNames();
