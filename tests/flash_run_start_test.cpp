// How a run starts on the machine: the machine lock before anything else, and
// the chipset's base registers before any write. A refused start ends with
// its status and touches no hardware it should not.
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chipset_rig.h"
#include "flash/exit_status.h"
#include "flash/lromup.h"
#include "sim/board/board_image.h"
#include "sim/host/simos.h"

namespace {

std::unique_ptr<Machine> g_machine;
int g_lockAnswer = OS_LOCK_TAKEN;
int g_lockErrno = 0;  // the reason a refused lock leaves in errno
std::vector<TraceEntry> g_trace;
SimOS* g_host = nullptr;

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
    g_trace = g_host->trace();
    delete static_cast<SimOS*>(os);
}

// Runs the updater on a fresh machine, after `prepare`; keeps standard error.
int runUpdater(std::vector<std::string> args, std::string* err, const std::function<void(Machine&)>& prepare = {}) {
    g_machine = buildMachine(MachineOptions());
    g_machine->powerOn();
    if (prepare) prepare(*g_machine);
    args.insert(args.begin(), "lromup");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    osSetHost(createHost, destroyHost);
    const int status = quietly([&] { return lromupMain(int(argv.size()), argv.data()); }, nullptr, err);
    osSetHost(nullptr, nullptr);
    return status;
}

// A base register that points nowhere: the run writes to no port but the PCI
// configuration address, and no memory, for every mode that would write; the
// platform report still answers.
TEST(RunStart, ABaseThatPointsNowhereRefusesEveryWritingMode) {
    constexpr unsigned LPC_DEV = 31, GPIOBASE_REG = 0x48, RCBA_REG = 0xF0;
    constexpr uint32_t PCI_CONFIG_ADDRESS_PORT = 0xCF8;
    struct Base { const char* what; unsigned reg; uint32_t value; };
    const Base bases[] = {{"GPIO base 0", GPIOBASE_REG, 0x00000001},
                          {"GPIO base all ones", GPIOBASE_REG, 0xFFFFFFFF},
                          {"GPIO base over legacy ports", GPIOBASE_REG, 0x00000081},
                          {"root-complex base 0", RCBA_REG, 0x00000001}};
    struct Mode { std::vector<std::string> args; int status; };
    const Mode modes[] = {{{"/chg"}, EXIT_BAD_CHIPSET_BASE},      {{"/lockEEP"}, EXIT_BAD_CHIPSET_BASE},
                          {{"/unlockEEP"}, EXIT_BAD_CHIPSET_BASE}, {{}, EXIT_BAD_CHIPSET_BASE},
                          {{"/chg", "/plat"}, EXIT_BAD_CHIPSET_BASE}, {{"/plat"}, 61}};
    for (const Base& base : bases)
        for (const Mode& mode : modes) {
            SCOPED_TRACE(std::string(base.what) + " " + (mode.args.empty() ? "" : mode.args[0]));
            std::string err;
            const int status = runUpdater(mode.args, &err, [&](Machine& m) { m.pciWrite(0, LPC_DEV, 0, base.reg, base.value); });
            EXPECT_EQ(status, mode.status);
            if (status == EXIT_BAD_CHIPSET_BASE) {
                EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
            }
            for (const TraceEntry& e : g_trace) {
                EXPECT_FALSE(e.kind == TraceKind::Out && e.address != PCI_CONFIG_ADDRESS_PORT)
                    << formatTraceEntry(e);
                EXPECT_NE(e.kind, TraceKind::MemW) << formatTraceEntry(e);
            }
            EXPECT_EQ(g_machine->activeBank(), 0);
        }
}

TEST(RunStart, TheMachineLockComesFirstAndARefusalEndsThere) {
    struct Case { int answer, error; const char* mode; int status; const char* message; };
    const Case cases[] = {
        {OS_LOCK_BUSY, 0, "/chg", EXIT_MACHINE_LOCKED, "nothing was done"},
        {OS_LOCK_FAILED, 0, "/chg", EXIT_MACHINE_LOCKED, "nothing was done"},
        {OS_LOCK_FAILED, EACCES, "/plat", EXIT_NOT_PRIVILEGED,
         "(Permission denied); nothing was done.\n\nDo you have sufficient privileges?  Try sudo or "
         "execute as root\n"},
        {OS_LOCK_TAKEN, 0, "/plat", 61, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.answer) + " " + c.mode);
        g_lockAnswer = c.answer;
        g_lockErrno = c.error;
        std::string err;
        EXPECT_EQ(runUpdater({c.mode}, &err), c.status);
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        ASSERT_FALSE(g_trace.empty());
        EXPECT_EQ(formatTraceEntry(g_trace[0]), "lockmachine");
        EXPECT_EQ(g_trace.size() == 1, c.answer != OS_LOCK_TAKEN);
        EXPECT_EQ(g_machine->activeBank(), 0);
    }
    g_lockAnswer = OS_LOCK_TAKEN;
    g_lockErrno = 0;
}

}  // namespace
