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
// is taken once and given back with the host.
TEST(MachineLock, OnlyARootOwnedRegularFileIsTheLock) {
    const std::string REPLACE = "unlink /run/lock/lromup.lock";
    struct Case {
        const char* name;
        uid_t euid, lockUid;
        mode_t lockMode;
        bool noDirectory, noFile;
        int result, error;
        Log log;
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetFake();
        fake.euid = c.euid;
        fake.lockUid = c.lockUid;
        fake.lockMode = c.lockMode;
        fake.noLockDirectory = c.noDirectory;
        fake.noLockFile = c.noFile;
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
        if (c.result == OS_LOCK_TAKEN) {
            EXPECT_EQ(fake.log, c.log + Log{"close 9"});
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.empty(), S_ISREG(c.lockMode)) << err;
    }
}

TEST(MachineLock, HeldElsewhereIsBusyAnUnusableLockFileIsAFailure) {
    struct Case {
        int createErrno, flockErrno, result;
        Log log;
    } const cases[] = {
        {0, EWOULDBLOCK, OS_LOCK_BUSY, {CREATE, "fstat 9", FLOCK, "close 9"}},
        {0, ENOLCK, OS_LOCK_FAILED, {CREATE, "fstat 9", FLOCK, "close 9"}},
        {ELOOP, 0, OS_LOCK_FAILED, {CREATE}},  // a link planted in place of the file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        resetFake();
        fake.createErrno = c.createErrno;
        fake.flockErrno = c.flockErrno;
        {
            LinOS os(fakeKernel());
            EXPECT_EQ(os.lockMachine(), c.result);
            EXPECT_EQ(errno, c.createErrno + c.flockErrno);  // the reason stays for the message
        }
        EXPECT_EQ(fake.log, c.log);  // nothing more to give back
    }
}

}  // namespace
