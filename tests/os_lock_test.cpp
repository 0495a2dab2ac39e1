// The Linux host's machine lock against the fake kernel: one lock file,
// never opened through a link, locked without waiting, given back with the
// host object.
#include <gtest/gtest.h>
#include <sys/file.h>

#include "os_fake_kernel.h"

namespace {

const std::string CREATE = "create /run/lock/lromup.lock 0600";
const std::string FLOCK = fmt("flock 9 %#lx", LOCK_EX | LOCK_NB);

TEST(MachineLock, TakenOnceWithoutWaitingAndGivenBackWithTheHost) {
    resetFake();
    {
        LinOS os(fakeKernel());
        EXPECT_EQ(os.lockMachine(), OS_LOCK_TAKEN);
        EXPECT_EQ(os.lockMachine(), OS_LOCK_TAKEN);  // already ours: no second lock file
        EXPECT_EQ(fake.log, (Log{CREATE, FLOCK}));
    }
    EXPECT_EQ(fake.log.back(), "close 9");

    // A system without a lock directory gets one, root's only, and the lock.
    resetFake();
    fake.noLockDirectory = true;
    {
        LinOS os(fakeKernel());
        EXPECT_EQ(os.lockMachine(), OS_LOCK_TAKEN);
        EXPECT_EQ(fake.log, (Log{CREATE, "mkdir /run 0755", "mkdir /run/lock 0755", CREATE, FLOCK}));
    }
}

TEST(MachineLock, HeldElsewhereIsBusyAnUnusableLockFileIsAFailure) {
    struct Case {
        int createErrno, flockErrno, result;
        Log log;
    } const cases[] = {
        {0, EWOULDBLOCK, OS_LOCK_BUSY, {CREATE, FLOCK, "close 9"}},
        {0, ENOLCK, OS_LOCK_FAILED, {CREATE, FLOCK, "close 9"}},
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
