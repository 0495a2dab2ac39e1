// One updater at a time: two runs that both write the flash of one machine
// would interleave their cycles on one controller and brick it.
#pragma once

class OS;

// Exit status of a run refused because the machine lock is not ours.
constexpr int STATUS_MACHINE_LOCKED = 75;

// Takes the host's machine lock before anything touches the hardware.
// Returns 0, or STATUS_MACHINE_LOCKED after saying why on standard error.
int lockMachineOrRefuse(OS* os);
