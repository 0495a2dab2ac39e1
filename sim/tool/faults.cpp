#include "sim/tool/faults.h"

#include "sim/board/machine.h"
#include "sim/board/service_processor.h"
#include "sim/board/sp_regs.h"
#include "sim/store/machine_dir.h"

namespace {

constexpr uint64_t ANY_ADDRESS = 0xFFFFFFFFu;
constexpr uint64_t ANY_COUNT = UINT64_MAX;

const FaultKind FAULTS[] = {
    {"hw-cycle-hang", nullptr, 0, 0, [](Machine& m, uint64_t) { m.spi().hwCycleHang = true; }},
    {"sw-cycle-hang", nullptr, 0, 0, [](Machine& m, uint64_t) { m.spi().swCycleHang = true; }},
    {"wp-stuck-low", nullptr, 0, 0, [](Machine& m, uint64_t) { m.setWpStuckLow(true); }},
    {"fcerr", "ADDR", 0, ANY_ADDRESS,
     [](Machine& m, uint64_t address) { m.spi().fcerrBlock = uint32_t(address); }},
    // The N-th erase or program operation of the run (from 1) does not happen.
    {"power-cut", "N", 1, ANY_COUNT,
     [](Machine& m, uint64_t n) { m.failPowerAtOperation(n - 1); }},
    // That byte of either part keeps its erased bits.
    {"bad-cell", "ADDR", 0, ANY_ADDRESS,
     [](Machine& m, uint64_t address) {
         for (int b = 0; b < 2; ++b) m.bank(b).badCell = uint32_t(address);
     }},
    // A part accepts its N-th page program (from 1) and changes nothing.
    {"drop-program", "N", 1, ANY_COUNT,
     [](Machine& m, uint64_t n) {
         for (int b = 0; b < 2; ++b) m.bank(b).dropProgramAt = n;
     }},
};

struct SpFaultKind {
    const char* name;
    const char* number;  // as in FaultKind
    uint64_t most;       // largest number accepted after '@' (from 1)
    void (*apply)(SpFaults& f, uint64_t n);
};

const SpFaultKind SP_FAULTS[] = {
    {"sp-kernel-silent", nullptr, 0, [](SpFaults& f, uint64_t) { f.kernelSilent = true; }},
    {"sp-bad-checksum", "N", 0xFFFFFFFF,
     [](SpFaults& f, uint64_t n) { f.badChecksumEvery = unsigned(n); }},
    {"sp-erase-error", nullptr, 0, [](SpFaults& f, uint64_t) { f.eraseErrors = -1; }},
    {"sp-erase-error-once", nullptr, 0, [](SpFaults& f, uint64_t) { f.eraseErrors = 1; }},
    {"sp-block-error", "ADDR", spsim::FLASH_SIZE - 1,
     [](SpFaults& f, uint64_t n) { f.blockError = true; f.blockErrorAt = uint32_t(n); }},
    {"sp-weak-cell", "ADDR", spsim::FLASH_SIZE - 1,
     [](SpFaults& f, uint64_t n) { f.weakCell = true; f.weakCellAt = uint32_t(n); }},
    {"sp-reset-fails", nullptr, 0, [](SpFaults& f, uint64_t) { f.resetFails = true; }},
    {"sp-semaphore-held", nullptr, 0, [](SpFaults& f, uint64_t) { f.semaphoreHeld = true; }},
};

template <typename Row>
std::string namesOf(const Row& rows) {
    std::string names;
    for (const auto& kind : rows) {
        if (!names.empty()) names += ", ";
        names += kind.name;
        if (kind.number) names += std::string("@") + kind.number;
    }
    return names;
}

}  // namespace

bool parseSpFault(const std::string& text, SpFaults& faults, std::string* why) {
    const size_t at = text.find('@');
    for (const SpFaultKind& kind : SP_FAULTS) {
        if (text.substr(0, at) != kind.name || (kind.number != nullptr) != (at != std::string::npos))
            continue;
        uint64_t n = 0;
        if (kind.number && (!parseUnsigned(text.substr(at + 1), n) || n == 0 || n > kind.most))
            break;
        kind.apply(faults, n);
        return true;
    }
    *why = "unknown fault '" + text + "'";
    return false;
}

std::string spFaultNames() { return namesOf(SP_FAULTS); }

bool parseFault(const std::string& text, std::vector<ChosenFault>& chosen, std::string* why) {
    const size_t at = text.find('@');
    const std::string name = text.substr(0, at);
    for (const FaultKind& kind : FAULTS) {
        if (name != kind.name) continue;
        uint64_t number = 0;
        const bool takesNumber = kind.number != nullptr;
        if (takesNumber != (at != std::string::npos)) {
            *why = takesNumber ? "fault '" + name + "' needs @NUMBER"
                                    : "fault '" + name + "' takes no number";
            return false;
        }
        if (takesNumber && (!parseUnsigned(text.substr(at + 1), number) ||
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

std::string faultNames() { return namesOf(FAULTS); }
