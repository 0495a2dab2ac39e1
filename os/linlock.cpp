// The machine lock of the Linux host: one lock file for the whole machine,
// whatever image or bank a run writes, locked with flock so that the kernel
// gives it back when the process ends however it ends.
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "os/linos.h"

int LinOS::lockMachine() {
    if (machineLockFd >= 0) {
        return OS_LOCK_TAKEN;
    }
    // Never through a link: the directory is writable by every user.
    const int fd = kernel->openMode(MACHINE_LOCK_PATH, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                                  MACHINE_LOCK_MODE);
    if (fd < 0) {
        return OS_LOCK_FAILED;
    }
    if (kernel->flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        kernel->close(fd);
        errno = why;
        return why == EWOULDBLOCK ? OS_LOCK_BUSY : OS_LOCK_FAILED;
    }
    machineLockFd = fd;
    return OS_LOCK_TAKEN;
}
