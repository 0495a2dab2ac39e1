// The faults `lromup-sim run --fault` can put into a machine for one run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class Machine;

// One row of the fault table: NAME, or NAME@NUMBER when takesNumber.
struct FaultKind {
    const char* name;
    bool takesNumber;
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
