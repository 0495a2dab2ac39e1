// The one polling loop of the SPI chipset code. Every wait on the controller
// or the flash part runs through pollUntil with one of the named bounds below,
// so no wait can spin for ever. A bound is a time: after a short run of polls
// back to back, the wait polls once a millisecond and counts the milliseconds
// it has slept through the host, so a wait ends after the same time however
// fast or slow each register read happens to be.
#pragma once
#include "os/os.h"

struct PollBound {
    unsigned long spinPolls;  // polls made back to back before the first sleep
    unsigned long timeoutMs;  // then one poll per 1 ms sleep, until this much was slept
};

// Slowest operations of any supported part (datasheet maxima, rounded up), and
// how long past them a wait goes on before it gives up.
constexpr unsigned long SLOWEST_STATUS_WRITE_MS = 100;
constexpr unsigned long SLOWEST_SECTOR_ERASE_MS = 400;    // 4 KiB erase
constexpr unsigned long SLOWEST_BLOCK_ERASE_MS = 3000;    // 64 KiB erase
constexpr unsigned long SLOWEST_CHIP_ERASE_MS = 100000;
constexpr unsigned long WAIT_MARGIN_MS = 2000;

// Polls made back to back first: a 64-byte write or a status read is done
// well within them, so short cycles are not slowed by a 1 ms sleep.
constexpr unsigned long SPI_CYCLE_SPIN_POLLS = 10000;

// Software cycle done (CDS). The longest software cycle of the update path is
// an atomic write status, which includes the part's busy time.
constexpr PollBound SW_CYCLE_DONE_BOUND = {SPI_CYCLE_SPIN_POLLS,
                                           SLOWEST_STATUS_WRITE_MS + WAIT_MARGIN_MS};
// The same for the atomic chip erase.
constexpr PollBound CHIP_ERASE_DONE_BOUND = {SPI_CYCLE_SPIN_POLLS,
                                             SLOWEST_CHIP_ERASE_MS + WAIT_MARGIN_MS};
// The atomic 64 KiB erase.
constexpr PollBound BLOCK_ERASE_DONE_BOUND = {SPI_CYCLE_SPIN_POLLS,
                                              SLOWEST_BLOCK_ERASE_MS + WAIT_MARGIN_MS};
// Cycle start (SCIP clear): an earlier software cycle still running.
constexpr PollBound SW_CYCLE_START_BOUND = SW_CYCLE_DONE_BOUND;
// Hardware cycle done (FDONE or FCERR): the hardware sequencer holds FDONE
// until the part's own busy time has passed, up to a 4 KiB erase.
constexpr PollBound HW_CYCLE_DONE_BOUND = {SPI_CYCLE_SPIN_POLLS,
                                           SLOWEST_SECTOR_ERASE_MS + WAIT_MARGIN_MS};
// Flash busy bit, one read-status cycle per poll.
constexpr PollBound FLASH_BUSY_BOUND = {0, SLOWEST_SECTOR_ERASE_MS + WAIT_MARGIN_MS};

// readSpiByte's waits for SSFS to read exactly "cycle done": a one-byte
// read takes microseconds.
constexpr PollBound SPI_BYTE_READ_BOUND = {1024, 0};

// Polls done() until it returns true or the bound is used up; true when done.
template <typename Done>
bool pollUntil(OS* os, const PollBound& bound, Done done) {
    for (unsigned long poll = 0; poll < bound.spinPolls; ++poll)
        if (done()) return true;
    for (unsigned long slept = 0; slept < bound.timeoutMs; ++slept) {
        if (done()) return true;
        os->sleep(1);
    }
    return bound.timeoutMs != 0 && done();
}
