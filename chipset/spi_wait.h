// The waits of the SPI chipset code. Every wait on the controller or the
// flash part runs through pollUntil (chipset/poll_wait.h) with one of the named
// bounds below, so no wait can spin for ever.
#pragma once
#include "chipset/poll_wait.h"

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
