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
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    int fd = kernel->openMode(MACHINE_LOCK_PATH, flags, MACHINE_LOCK_MODE);
    if (fd < 0 && errno == ENOENT) {
        // A rescue system's initramfs may have no /run/lock: make it (an existing
        // one is left as it is) rather than refuse to run there.
        for (const char* dir : MACHINE_LOCK_DIRS) {
            kernel->mkdir(dir, MACHINE_LOCK_DIR_MODE);
        }
        fd = kernel->openMode(MACHINE_LOCK_PATH, flags, MACHINE_LOCK_MODE);
    }
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
