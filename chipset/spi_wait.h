// The one polling loop of the SPI chipset code. Every wait on the controller
// or the flash part runs through pollUntil with one of the named bounds below,
// so no wait can spin for ever.
#pragma once
#include "os/os.h"

struct PollBound {
    unsigned long spinPolls;   // polls made back to back (each at least one bus access)
    unsigned long sleepPolls;  // further polls, each followed by a 1 ms sleep
};

// Software cycle done (CDS): a plain count of status reads. At a microsecond a
// read this covers the longest operation of any part (a 50 s chip erase).
constexpr PollBound SW_CYCLE_DONE_BOUND = {0x4000000, 0};

// Cycle start (SCIP clear) and hardware cycle done (FDONE): the hardware
// sequencer holds FDONE until the part's own busy time has passed, up to a
// 4 KiB erase (tens of ms). Spin briefly so that 64-byte writes are not slowed,
// then poll once a millisecond for 120 s, more than twice the slowest chip
// erase of any supported part.
constexpr unsigned long SPI_CYCLE_SPIN_POLLS = 10000;
constexpr unsigned long SPI_CYCLE_TIMEOUT_MS = 120000;
constexpr PollBound SPI_CYCLE_BOUND = {SPI_CYCLE_SPIN_POLLS, SPI_CYCLE_TIMEOUT_MS};

// Flash busy bit, one read-status cycle per poll and 1 ms between polls.
constexpr PollBound FLASH_BUSY_BOUND = {0, 65535};

// readSpiByte's waits for SSFS to read exactly "cycle done".
constexpr PollBound SPI_BYTE_READ_BOUND = {1024, 0};

// Polls done() until it returns true or the bound is used up; true when done.
template <typename Done>
bool pollUntil(OS* os, const PollBound& bound, Done done) {
    const unsigned long total = bound.spinPolls + bound.sleepPolls;
    for (unsigned long poll = 0; poll < total; ++poll) {
        if (done()) return true;
        if (poll >= bound.spinPolls) os->sleep(1);
    }
    return false;
}
