// The machine lock of the Linux host: one lock file for the whole machine,
// whatever image or bank a run writes, locked with flock so that the kernel
// gives it back when the process ends however it ends.
//
// The directory is writable by every user, so the lock file is trusted only
// as a regular file that root owns and only root may open: anything else could be
// held by another user against every update. Only root creates it (a run
// that will be refused the hardware leaves nothing behind), and root replaces
// a lock file of another owner or mode, holding its lock while doing so.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "os/file_access.h"
#include "os/linos.h"

namespace {

constexpr uid_t ROOT = 0;
constexpr mode_t OTHERS_ACCESS = 0077;  // any of it lets another user hold the lock
// Tries to open, lock and check the lock file: a replacement made meanwhile
// by another run costs one more.
constexpr int MACHINE_LOCK_ATTEMPTS = 3;

}  // namespace

int LinOS::lockMachine() {
    if (machineLockFd >= 0) {
        return OS_LOCK_TAKEN;
    }
    const bool root = kernel->geteuid() == ROOT;
    // Never through a link; never waiting on a FIFO planted in its place.
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (root ? O_CREAT : 0);
    for (int attempt = 0; attempt < MACHINE_LOCK_ATTEMPTS; ++attempt) {
        int fd = kernel->openMode(MACHINE_LOCK_PATH, flags, MACHINE_LOCK_MODE);
        if (fd < 0 && errno == ENOENT && root) {
            // A rescue system's initramfs may have no /run/lock: make it (an
            // existing one is left as it is) rather than refuse to run there.
            for (const char* dir : MACHINE_LOCK_DIRS) {
                kernel->mkdir(dir, MACHINE_LOCK_DIR_MODE);
            }
            fd = kernel->openMode(MACHINE_LOCK_PATH, flags, MACHINE_LOCK_MODE);
        }
        if (fd < 0) {
            // Only root may create the lock: to anyone else a missing one is
            // a lack of permission, like the hardware it guards.
            if (errno == ENOENT && !root) errno = EACCES;
            return OS_LOCK_FAILED;
        }
        struct stat held {};
        if (kernel->fstat(fd, &held) != 0) {
            const int why = errno;
            kernel->close(fd);
            errno = why;
            return OS_LOCK_FAILED;
        }
        if (!S_ISREG(held.st_mode)) {
            kernel->close(fd);
            std::fprintf(stderr, "%s is a %s, not a regular file.\n", MACHINE_LOCK_PATH,
                         fileKindName(held.st_mode));
            errno = 0;
            return OS_LOCK_FAILED;
        }
        if (kernel->flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            kernel->close(fd);
            errno = why;
            return why == EWOULDBLOCK ? OS_LOCK_BUSY : OS_LOCK_FAILED;
        }
        // The name may have been given to a new file between our open and
        // lock (a run replacing a foreign lock file): lock what it names now.
        const int named = kernel->openMode(MACHINE_LOCK_PATH, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
        struct stat now {};
        const bool same = named >= 0 && kernel->fstat(named, &now) == 0 &&
                          now.st_dev == held.st_dev && now.st_ino == held.st_ino;
        if (named >= 0) kernel->close(named);
        const bool trusted = held.st_uid == ROOT && (held.st_mode & OTHERS_ACCESS) == 0;
        if (same && (trusted || !root)) {
            machineLockFd = fd;
            return OS_LOCK_TAKEN;
        }
        if (same) kernel->unlink(MACHINE_LOCK_PATH);  // replaced by root's own next attempt
        kernel->close(fd);
    }
    errno = EAGAIN;
    return OS_LOCK_FAILED;
}
