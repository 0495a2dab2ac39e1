// The Linux host's machine lock against the fake kernel: one lock file,
// never opened through a link, locked without waiting, given back with the
// host object.
#include <gtest/gtest.h>
#include <sys/file.h>

#include "os_fake_kernel.h"

namespace {

const std::string CREATE = "create /run/lock/lromup.lock 0600";
const std::string OPEN = "open /run/lock/lromup.lock";
const std::string FLOCK = fmt("flock 9 %#lx", LOCK_EX | LOCK_NB);
// Opened, a regular file, locked, and still the file the name gives.
const Log LOCKED = {CREATE, "fstat 9", FLOCK, OPEN, "fstat 9", "close 9"};

// What the lock file is, who owns it, and who runs: only a regular file root
// owns alone is kept; only root creates one (and the directory). A lock taken
// is taken once and given back with the host; one held elsewhere is busy, and
// a refusal keeps its reason in errno for the message.
TEST(MachineLock, OnlyARootOwnedRegularFileIsTheLock) {
    const std::string REPLACE = "unlink /run/lock/lromup.lock";
    struct Case {
        const char* name;
        uid_t euid, lockUid;
        mode_t lockMode;
        bool noDirectory, noFile;
        int result, error;
        Log log;
        int createErrno = 0, flockErrno = 0;
    } const cases[] = {
        {"root's own file", 0, 0, S_IFREG | 0600, false, false, OS_LOCK_TAKEN, 0, LOCKED},
        {"no lock directory", 0, 0, S_IFREG | 0600, true, true, OS_LOCK_TAKEN, 0,
         Log{CREATE, "mkdir /run 0755", "mkdir /run/lock 0755"} + LOCKED},
        {"another user's file", 0, 1000, S_IFREG | 0600, false, false, OS_LOCK_TAKEN, 0,
         Log{CREATE, "fstat 9", FLOCK, OPEN, "fstat 9", "close 9", REPLACE, "close 9"} + LOCKED},
        {"open to others", 0, 0, S_IFREG | 0666, false, false, OS_LOCK_TAKEN, 0,
         Log{CREATE, "fstat 9", FLOCK, OPEN, "fstat 9", "close 9", REPLACE, "close 9"} + LOCKED},
        {"a FIFO", 0, 0, S_IFIFO | 0600, false, false, OS_LOCK_FAILED, 0, {CREATE, "fstat 9", "close 9"}},
        {"unprivileged, no file", 1000, 0, S_IFREG | 0600, false, true, OS_LOCK_FAILED, EACCES, {OPEN}},
        {"held elsewhere", 0, 0, S_IFREG | 0600, false, false, OS_LOCK_BUSY, EWOULDBLOCK,
         {CREATE, "fstat 9", FLOCK, "close 9"}, 0, EWOULDBLOCK},
        {"no locks", 0, 0, S_IFREG | 0600, false, false, OS_LOCK_FAILED, ENOLCK,
         {CREATE, "fstat 9", FLOCK, "close 9"}, 0, ENOLCK},
        {"a link planted in place of the file", 0, 0, S_IFREG | 0600, false, false, OS_LOCK_FAILED, ELOOP,
         {CREATE}, ELOOP, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetFake();
        fake.euid = c.euid;
        fake.lockUid = c.lockUid;
        fake.lockMode = c.lockMode;
        fake.noLockDirectory = c.noDirectory;
        fake.noLockFile = c.noFile;
        fake.createErrno = c.createErrno;
        fake.flockErrno = c.flockErrno;
        testing::internal::CaptureStderr();
        {
            LinOS os(fakeKernel());
            EXPECT_EQ(os.lockMachine(), c.result);
            const int why = errno;
            EXPECT_EQ(c.result == OS_LOCK_TAKEN ? 0 : why, c.error);
            if (c.result == OS_LOCK_TAKEN) {
                EXPECT_EQ(os.lockMachine(), OS_LOCK_TAKEN);  // already ours: no second lock file
            }
            EXPECT_EQ(fake.log, c.log);
        }
        EXPECT_EQ(fake.log, c.log + (c.result == OS_LOCK_TAKEN ? Log{"close 9"} : Log{}));  // nothing more
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.empty(), S_ISREG(c.lockMode)) << err;
    }
}

}  // namespace
