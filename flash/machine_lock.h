// One updater at a time: two runs that both write the flash of one machine
// would interleave their cycles on one controller and brick it.
#pragma once
#include "flash/exit_status.h"

class OS;

// Takes the host's machine lock before anything touches the hardware.
// Returns 0, or EXIT_MACHINE_LOCKED after saying why on standard error.
int lockMachineOrRefuse(OS* os);
