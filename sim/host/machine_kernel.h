// A binding of the Linux host object's kernel seam to a simulated machine, so
// that the production LinOS itself runs over the board: port instructions
// reach the machine's port decode, /dev/mem windows reach its physical
// memory, usleep moves its clock and time() counts from BOARD_EPOCH with it.
// Nothing else exists on the board: no libraries, no shell, no other files.
#pragma once
#include <ctime>

#include "os/kernel.h"
#include "sim/board/machine.h"

constexpr std::time_t BOARD_EPOCH = 1262304000;  // 2010-01-01 00:00:00 UTC

// The table for this machine. One machine is bound at a time: binding another
// rebinds the table. Windows mapped through it stay valid while it is bound.
const KernelCalls& machineKernel(Machine& machine);
