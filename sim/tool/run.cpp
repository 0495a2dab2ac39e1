// lromup-sim run DIR [--trace FILE] [--fault FAULT]... -- ARG...: runs the
// updater in this process on the machine kept in DIR.
//
// The machine is read without a lock (a save is atomic, so a reader sees one
// whole save). The run owns the machine from the moment the updater asks its
// host for the machine lock: the simulated host then locks DIR, and refuses
// when another run holds it or saved since this one read the machine. The
// lock is held until the process ends; the machine is saved only by a run
// that took it, however the run ends (return, exit deep inside the updater,
// simulated power cut).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "flash/lromup.h"
#include "os/file_access.h"
#include "os/os.h"
#include "sim/board/machine.h"
#include "sim/host/simos.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"

namespace {

struct RunState {
    std::string dir;
    DirHandle handle;
    DirLock lock;  // taken when the updater asks for the machine
    std::string tracePath;
    OutputFile trace;  // trace lines are streamed here as they happen
    MachineRecord record;
    std::unique_ptr<Machine> machine;
    uint64_t startNs = 0;  // the clock when the run began: runs are warm
    bool finished = false;
};
// Reachable from the exit handler and the flash parts' callbacks; lives until
// the process ends.
std::unique_ptr<RunState> g_run;

// The simulated host's answer to the updater's lockMachine.
int lockRunMachine() {
    RunState& run = *g_run;
    if (run.lock.held()) return OS_LOCK_TAKEN;
    std::string error;
    switch (run.lock.tryTake(run.handle, MACHINE_LOCK_FILE, &error)) {
    case DirLock::Taken: break;
    case DirLock::Busy: return OS_LOCK_BUSY;
    case DirLock::Failed:
        std::cerr << "lromup-sim: " << error << "\n";
        errno = 0;
        return OS_LOCK_FAILED;
    }
    // Another run saved between this one's read and now: what was read is
    // stale, and writing it back would lose that run's update.
    if (machineDirStamp(run.dir) != run.record.stamp) {
        run.lock.release();
        return OS_LOCK_BUSY;
    }
    return OS_LOCK_TAKEN;
}

OS* createRunHost() {
    auto* host = new SimOS(*g_run->machine);
    host->setTracing(g_run->trace.isOpen());
    host->streamTraceTo(g_run->trace.stream());
    host->setLockHook(lockRunMachine);
    return host;
}

void destroyRunHost(OS* os) { delete static_cast<SimOS*>(os); }

// Closes the trace and saves the machine when the run owned it. `ending` says
// how the run ended; a trace or machine that could not be written is reported
// together with it. Returns false in that case.
bool finishRun(const std::string& ending) {
    if (!g_run || g_run->finished) return true;
    RunState& run = *g_run;
    run.finished = true;
    std::cout.flush();
    std::fflush(stdout);
    std::string problem;
    if (run.trace.isOpen()) run.trace.commit(&problem);
    if (run.lock.held()) {
        Machine& m = *run.machine;
        run.record.savedRuns += 1;
        run.record.lastRunNs = m.clock().ns - run.startNs;
        run.record.lastErasedBytes = m.bank(0).erasedBytes() + m.bank(1).erasedBytes();
        run.record.lastProgrammedBytes = m.bank(0).programmedBytes() + m.bank(1).programmedBytes();
        run.record.lastStatusWrites = m.bank(0).statusWrites() + m.bank(1).statusWrites();
        run.record.lastSectorErases = m.bank(0).sectorErases() + m.bank(1).sectorErases();
        run.record.lastBlockErases = m.bank(0).blockErases() + m.bank(1).blockErases();
        // After a power failure the chipset and the parts have lost their
        // volatile state: the next run finds them as at power-on.
        if (m.powerLost()) m.powerOn();
        std::string error;
        if (!saveMachineDir(run.dir, m, run.record, &error))
            problem += (problem.empty() ? "" : "; ") + ("the machine was not saved: " + error);
    }
    if (problem.empty()) return true;
    std::cerr << "lromup-sim: " << ending << ", but " << problem << "\n";
    return false;
}

// The updater ended the process from deep inside (exit).
void finishRunAtExit() {
    if (!finishRun("the updater ended the process")) _exit(SIM_TOOL_FAILED);
}

// Cuts the run short when the machine reports that the power failed.
void armPowerCut(Machine& m) {
    for (int i = 0; i < 2; ++i) {
        FlashPart& part = m.bank(i);
        std::function<bool()> inner = part.onOperationStart;
        part.onOperationStart = [inner, &m] {
            killPoint("op");
            if (inner && inner()) return true;
            if (!m.powerLost()) return false;
            const bool saved = finishRun("the run ended by a simulated power cut");
            std::fflush(stderr);
            _exit(saved ? SIM_TOOL_POWER_CUT : SIM_TOOL_FAILED);
        };
    }
}

}  // namespace

int cmdRun(const ToolRequest& request) {
    g_run = std::make_unique<RunState>();
    RunState& run = *g_run;
    run.dir = request.operands[0];
    run.tracePath = request.tracePath;
    std::string error;
    if (!run.handle.open(run.dir, false, &error)) return toolFailed(error);
    run.machine = loadMachineDir(run.dir, run.record, &error);
    if (!run.machine) return toolFailed(error);
    // Nothing runs on a machine whose bank did not boot.
    if (!run.machine->bootFault().empty())
        return toolFailed(run.dir + " has no running BIOS (" + run.machine->bootFault() +
                          "): boot the other bank with 'lromup-sim reboot " + run.dir +
                          " --bank primary|backup'");
    if (!run.tracePath.empty()) {
        // Checked before anything runs: the trace must not land on the
        // machine or on a file the updater is given (it would replace it).
        if (!outsideDirectory(run.handle, run.tracePath, "the trace", &error)) return toolFailed(error);
        for (const std::string& arg : request.updaterArgs)
            if (sameFile(run.tracePath, arg))
                return toolFailed("the trace " + run.tracePath + " is " + arg +
                                  ", a file given to the updater");
        if (!run.trace.open(run.tracePath, &error)) return toolFailed(error);
    }
    // A warm run: the chipset, the GPIO lines and the parts' WEL are as the
    // previous run left them (`reboot` power-cycles the machine).
    Machine& m = *run.machine;
    run.startNs = m.clock().ns;
    applyFaults(request, m);
    armPowerCut(m);

    std::vector<std::string> updaterArgs = {"lromup"};
    updaterArgs.insert(updaterArgs.end(), request.updaterArgs.begin(), request.updaterArgs.end());
    std::vector<char*> argv;
    for (std::string& a : updaterArgs) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    static const bool atExitSet = std::atexit(finishRunAtExit) == 0;
    (void)atExitSet;
    osSetHost(createRunHost, destroyRunHost);
    const int status = lromupMain(int(updaterArgs.size()), argv.data()) & 0xFF;
    const bool saved = finishRun("the updater ended with status " + std::to_string(status));
    osSetHost(nullptr, nullptr);
    return saved ? status : SIM_TOOL_FAILED;
}
