// One updater at a time: the run asks its host for the machine lock before
// anything else and ends at once, untouched hardware, when it is refused.
#include <gtest/gtest.h>

#include <cerrno>

#include <string>
#include <vector>

#include "flash/lromup.h"
#include "flash/machine_lock.h"
#include "sim/board/board_image.h"
#include "sim/host/simos.h"

namespace {

std::unique_ptr<Machine> g_machine;
SimOS* g_host = nullptr;
int g_lockAnswer = OS_LOCK_TAKEN;
int g_lockErrno = 0;  // the reason a refused lock leaves in errno
std::vector<std::string> g_trace;

OS* createHost() {
    g_host = new SimOS(*g_machine);
    g_host->setTracing(true);
    g_host->setLockHook([] {
        errno = g_lockErrno;
        return g_lockAnswer;
    });
    return g_host;
}

void destroyHost(OS* os) {
    for (const TraceEntry& e : g_host->trace()) g_trace.push_back(formatTraceEntry(e));
    delete static_cast<SimOS*>(os);
}

int runUpdater(std::vector<std::string> args) {
    g_machine = buildMachine(MachineOptions());
    g_machine->powerOn();
    g_trace.clear();
    args.insert(args.begin(), "lromup");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    osSetHost(createHost, destroyHost);
    const int status = lromupMain(int(argv.size()), argv.data());
    osSetHost(nullptr, nullptr);
    return status;
}

TEST(MachineLock, RefusedRunEndsBeforeAnyHardwareAccess) {
    for (int answer : {OS_LOCK_BUSY, OS_LOCK_FAILED}) {
        SCOPED_TRACE(answer);
        g_lockAnswer = answer;
        testing::internal::CaptureStderr();
        EXPECT_EQ(runUpdater({"/chg"}), EXIT_MACHINE_LOCKED);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("nothing was done"), std::string::npos) << err;
        EXPECT_EQ(g_trace, std::vector<std::string>{"lockmachine"});
        EXPECT_EQ(g_machine->activeBank(), 0);
    }
}

TEST(MachineLock, ALockFileThisUserMayNotOpenAsksForPrivileges) {
    g_lockAnswer = OS_LOCK_FAILED;
    g_lockErrno = EACCES;
    testing::internal::CaptureStderr();
    EXPECT_EQ(runUpdater({"/plat"}), EXIT_NOT_PRIVILEGED);
    const std::string err = testing::internal::GetCapturedStderr();
    g_lockErrno = 0;
    EXPECT_NE(err.find("(Permission denied); nothing was done.\n\nDo you have sufficient "
                       "privileges?  Try sudo or execute as root\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(g_trace, std::vector<std::string>{"lockmachine"});
}

TEST(MachineLock, TakenBeforeTheFirstHardwareAccess) {
    g_lockAnswer = OS_LOCK_TAKEN;
    EXPECT_EQ(runUpdater({"/plat"}), 61);
    ASSERT_GT(g_trace.size(), 1u);
    EXPECT_EQ(g_trace[0], "lockmachine");
}

}  // namespace
