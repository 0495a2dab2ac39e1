#include "flash/machine_lock.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "os/os.h"

int lockMachineOrRefuse(OS* os) {
    errno = 0;
    const int result = os->lockMachine();
    if (result == OS_LOCK_TAKEN) {
        return 0;
    }
    if (result == OS_LOCK_BUSY) {
        std::cerr << "Another lromup is working on this machine; nothing was done. "
                     "Run again when it has finished."
                  << std::endl;
    } else {
        const int why = errno;
        std::cerr << "The lock that keeps a second lromup off this machine cannot be taken"
                  << (why != 0 ? std::string(" (") + std::strerror(why) + ")" : std::string())
                  << "; nothing was done." << std::endl;
        // A user who may not open the lock file may not reach the hardware
        // either: say so as the first refused hardware access would.
        if (why == EACCES || why == EPERM) {
            std::cerr << "\nDo you have sufficient privileges?  Try sudo or execute as root"
                      << std::endl;
            return EXIT_NOT_PRIVILEGED;
        }
    }
    return EXIT_MACHINE_LOCKED;
}
