#include "sim/tool/sp.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "flash/flashsp.h"
#include "os/file_access.h"
#include "os/os.h"
#include "platform/platform.h"
#include "sim/board/machine.h"
#include "sim/board/sp_regs.h"
#include "sim/host/simos.h"
#include "sim/store/dir_files.h"
#include "sim/store/machine_dir.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"
#include "tables/sha256.h"

namespace {

// The file the service-processor procedures read, in the working directory.
constexpr const char* SP_SOURCE_FILE = "LPCSPFW.BIN";

// ---- One run of a procedure ------------------------------------------------------
// The procedures end the process on failure, so what must happen after the run
// (trace, saving the service processor) is reachable from an exit handler.

struct SpRun {
    std::string dir;
    std::string tracePath;
    OutputFile trace;  // trace lines are streamed here as they happen
    MachineRecord record;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<DirLock> lock;  // the machine directory's, for the whole run
    SimOS* host = nullptr;
    bool finished = false;
};
SpRun* g_spRun = nullptr;

OS* createSpHost() {
    auto* host = new SimOS(*g_spRun->machine);
    host->setTracing(g_spRun->trace.isOpen());
    host->streamTraceTo(g_spRun->trace.stream());
    g_spRun->host = host;
    return host;
}

void destroySpHost(OS* os) {
    auto* host = static_cast<SimOS*>(os);
    if (!host) return;
    if (g_spRun->host == host) g_spRun->host = nullptr;
    delete host;
}

// Closes the trace and saves the machine; a trace or machine that could not be
// written is reported with how the procedure ended. False in that case.
bool finishSpRun(const std::string& ending) {
    if (!g_spRun || g_spRun->finished) return true;
    g_spRun->finished = true;
    std::cout.flush();
    std::fflush(stdout);
    std::string problem;
    if (g_spRun->trace.isOpen()) g_spRun->trace.commit(&problem);
    // The run began at power-on, clock 0, and wrote neither BIOS bank.
    MachineRecord& r = g_spRun->record;
    r.lastRunNs = g_spRun->machine->clock().ns;
    r.lastErasedBytes = r.lastProgrammedBytes = r.lastStatusWrites = 0;
    r.lastSectorErases = r.lastBlockErases = 0;
    std::string error;
    if (!saveMachineDir(g_spRun->dir, *g_spRun->machine, g_spRun->record, &error))
        problem += (problem.empty() ? "" : "; ") + ("the machine was not saved: " + error);
    if (problem.empty()) return true;
    std::cerr << "lromup-sim: " << ending << ", but " << problem << "\n";
    return false;
}

// The procedure ended the process from deep inside (exit).
void finishSpRunAtExit() {
    if (!finishSpRun("the procedure ended the process")) _exit(SIM_TOOL_FAILED);
}

}  // namespace

int cmdSp(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    if (args[1] != "flash" && args[1] != "compare")
        return toolUsage("sp: unknown procedure '" + args[1] + "'");
    const bool flash = args[1] == "flash";
    // Lives until the process ends once the exit handler can reach it.
    std::unique_ptr<SpRun> owned(new SpRun);
    SpRun* run = owned.get();
    run->dir = args[0];
    run->tracePath = request.tracePath;
    // The procedure writes the machine: never while another run owns it. The
    // lock is held until the process ends, past the save of the exit handler.
    std::string error;
    DirHandle dir;
    if (!dir.open(run->dir, false, &error)) return toolFailed(error);
    run->lock = std::make_unique<DirLock>();
    const DirLock::Result locked = run->lock->tryTake(dir, MACHINE_LOCK_FILE, &error);
    if (locked == DirLock::Busy) {
        std::cerr << "lromup-sim: " << run->dir << " is in use by a run; nothing was changed\n";
        return SIM_TOOL_BUSY;
    }
    if (!run->lock->held()) return toolFailed(error);
    run->machine = loadMachineDir(run->dir, run->record, &error);
    if (!run->machine) return toolFailed(error);
    if (!run->tracePath.empty()) {
        // Checked before anything runs, like run's trace.
        if (!outsideDirectory(dir, run->tracePath, "the trace", &error)) return toolFailed(error);
        if (sameFile(run->tracePath, SP_SOURCE_FILE))
            return toolFailed("the trace " + run->tracePath + " is " + SP_SOURCE_FILE +
                              ", the procedure's input");
        if (!run->trace.open(run->tracePath, &error)) return toolFailed(error);
    }
    Machine& m = *run->machine;
    applyFaults(request, m);
    m.powerOn();

    g_spRun = owned.release();
    std::atexit(finishSpRunAtExit);
    osSetHost(createSpHost, destroySpHost);
    OS* os = osInit();
    Platform* platform = platInit(os);
    const int status = flash ? FlashLPCSP(os, platform) : CompareServiceProcessorToSource(os, platform);
    delete platform;
    osDestroy(os);
    const bool saved = finishSpRun("the procedure ended with status " + std::to_string(status & 0xFF));
    osSetHost(nullptr, nullptr);
    return saved ? status & 0xFF : SIM_TOOL_FAILED;
}

int cmdSpImage(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    const std::vector<uint8_t> image = spApplicationImage(request.seed);
    std::string error;
    if (!writeUserFile(args[0], image, &error)) return toolFailed(error);
    return SIM_TOOL_OK;
}

void applySpNewOptions(Machine& m, const std::string& kernel, bool buildGiven, uint32_t build) {
    ServiceProcessor& sp = m.serviceProcessor();
    sp.installKernel(kernel.empty() ? sp.kernelRevision() : kernel,
                     buildGiven ? build : sp.kernelBuild());
}

void showServiceProcessor(Machine& m, std::ostream& out) {
    ServiceProcessor& sp = m.serviceProcessor();
    char build[16], profile[8];
    std::snprintf(build, sizeof build, "0x%04X", sp.kernelBuild());
    std::snprintf(profile, sizeof profile, "0x%02X", sp.profile());
    const uint8_t* app = sp.flash().data() + spsim::APP_START;
    out << "sp.kernel_revision: " << sp.kernelRevision() << "\n"
        << "sp.kernel_build: " << build << "\n"
        << "sp.profile: " << profile << "\n"
        << "sha256.sp_application: " << sha256Hex(app, spsim::FLASH_SIZE - spsim::APP_START)
        << "\n";
}
