#include "sim/sim_faults.h"

#include "sim/machine.h"
#include "sim/machine_dir.h"

namespace {

constexpr uint64_t ANY_ADDRESS = 0xFFFFFFFFu;
constexpr uint64_t ANY_COUNT = UINT64_MAX;

const FaultKind FAULTS[] = {
    {"hw-cycle-hang", false, 0, 0, [](Machine& m, uint64_t) { m.spi().hwCycleHang = true; }},
    {"sw-cycle-hang", false, 0, 0, [](Machine& m, uint64_t) { m.spi().swCycleHang = true; }},
    {"wp-stuck-low", false, 0, 0, [](Machine& m, uint64_t) { m.setWpStuckLow(true); }},
    {"fcerr", true, 0, ANY_ADDRESS,
     [](Machine& m, uint64_t address) { m.spi().fcerrBlock = uint32_t(address); }},
    // The N-th erase or program operation of the run (from 1) does not happen.
    {"power-cut", true, 1, ANY_COUNT,
     [](Machine& m, uint64_t n) { m.failPowerAtOperation(n - 1); }},
    // That byte of either part keeps its erased bits.
    {"bad-cell", true, 0, ANY_ADDRESS,
     [](Machine& m, uint64_t address) {
         for (int b = 0; b < 2; ++b) m.bank(b).badCell = uint32_t(address);
     }},
    // A part accepts its N-th page program (from 1) and changes nothing.
    {"drop-program", true, 1, ANY_COUNT,
     [](Machine& m, uint64_t n) {
         for (int b = 0; b < 2; ++b) m.bank(b).dropProgramAt = n;
     }},
};

}  // namespace

bool parseFault(const std::string& text, std::vector<ChosenFault>& chosen, std::string* why) {
    const size_t at = text.find('@');
    const std::string name = text.substr(0, at);
    for (const FaultKind& kind : FAULTS) {
        if (name != kind.name) continue;
        uint64_t number = 0;
        if (kind.takesNumber != (at != std::string::npos)) {
            *why = kind.takesNumber ? "fault '" + name + "' needs @NUMBER"
                                    : "fault '" + name + "' takes no number";
            return false;
        }
        if (kind.takesNumber && (!parseUnsigned(text.substr(at + 1), number) ||
                                 number < kind.least || number > kind.most)) {
            *why = "fault '" + text + "': the number must be decimal or 0x-hexadecimal, at least " +
                   std::to_string(kind.least);
            return false;
        }
        for (const ChosenFault& c : chosen) {
            if (c.kind == &kind) {
                *why = "fault '" + name + "' given twice (one of each kind per run)";
                return false;
            }
        }
        chosen.push_back({&kind, number});
        return true;
    }
    *why = "unknown fault '" + text + "'";
    return false;
}

std::string faultNames() {
    std::string names;
    for (const FaultKind& kind : FAULTS) {
        if (!names.empty()) names += ", ";
        names += kind.name;
        if (kind.takesNumber) names += "@N";
    }
    return names;
}
