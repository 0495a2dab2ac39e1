// What a run did, gathered as it goes: the summary line after an update, the
// line that explains a refusal, and the JSON report of /report FILE.
#pragma once
#include <cstdint>
#include <string>

#include "platform/update_stats.h"

class OS;
class Chipset;

constexpr int BANK_NONE = -1;  // banks: 0 primary, 1 backup

struct RunFacts {
    std::string product, family, biosVersion, part;  // the machine, as far as it was read
    std::string imageName, imageSha256;
    uint64_t imageSize = 0;
    int bank = BANK_NONE;              // the bank the run wrote or compared
    int activeAtStart = BANK_NONE;     // the bank that booted before the run
    int activeAtEnd = BANK_NONE;       // the bank that will boot after it
    int eepromAtStart = -1, eepromAtEnd = -1;  // EEPROM write-protect level, -1 unknown
    VerifyResult verify = VerifyResult::NotRun;
    UpdateStats stats;                 // summed over the run's chipset objects
    std::string message;               // the refusal's explanation
};

// The facts of the current run (reset by startRunFacts).
RunFacts& runFacts();
void startRunFacts();

// Adds one chipset object's counts to the run's.
void addChipsetStats(const UpdateStats& stats);

// Adds a chipset object's counts to the run's when it goes out of scope:
// declared right after the object, it sees every count the object made.
class ChipsetStatsCollector {
public:
    explicit ChipsetStatsCollector(const Chipset* chipset) : counted(chipset) {}
    ~ChipsetStatsCollector();
    ChipsetStatsCollector(const ChipsetStatsCollector&) = delete;
    ChipsetStatsCollector& operator=(const ChipsetStatsCollector&) = delete;

private:
    const Chipset* counted;
};

// The image file the run works with: name, length and SHA-256.
void noteImageFile(const char* name);

// The bank and EEPROM line as the run finds them, and as it leaves them.
void noteMachineStart(OS* os);
void noteMachineEnd(OS* os);

// Prints one line to standard error, after the message of a refusal, saying
// why and what to do next; the run report keeps it as its message.
void explainRefusal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The line on standard error after an update of `bank`: what was written and
// left alone, the verify result, the bank that will boot and the time taken.
void printUpdateSummary(OS* os, int bank);

// "primary", "backup", or "none".
const char* bankName(int bank);

// Ends the run: writes the report when /report asked for one and returns the
// status the process ends with.
int finishRunReport(int status);

// Writes the report from an exit handler when the process ends before
// finishRunReport: with the status given here by code about to end it, or 1 (what
// the host layer ends with when /dev/mem cannot be mapped).
void armReportAtExit();
void noteEarlyExit(int status);
