#include "sim/sp_tool.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

#include "flash/flashsp.h"
#include "os/os.h"
#include "platform/platform.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "tables/sha256.h"
#include "sim/dir_files.h"
#include "sim/sim_commands.h"
#include "sim/tool_report.h"
#include "sim/tool_request.h"
#include "sim/simos.h"
#include "sim/sp_regs.h"

namespace {

// ---- One run of a procedure ------------------------------------------------------
// The procedures end the process on failure, so what must happen after the run
// (trace, saving the service processor) is reachable from an exit handler.

struct SpRun {
    std::string dir;
    std::string tracePath;
    MachineRecord record;
    std::unique_ptr<Machine> machine;
    std::unique_ptr<DirLock> lock;  // the machine directory's, for the whole run
    SimOS* host = nullptr;
    bool finished = false;
};
SpRun* g_spRun = nullptr;

void writeTrace(SimOS& host) {
    if (g_spRun->tracePath.empty()) return;
    if (!host.writeTrace(g_spRun->tracePath))
        std::cerr << "lromup-sim: cannot write the trace to " << g_spRun->tracePath << "\n";
    g_spRun->tracePath.clear();
}

OS* createSpHost() {
    auto* host = new SimOS(*g_spRun->machine);
    host->setTracing(!g_spRun->tracePath.empty());
    g_spRun->host = host;
    return host;
}

void destroySpHost(OS* os) {
    auto* host = static_cast<SimOS*>(os);
    if (!host) return;
    writeTrace(*host);
    if (g_spRun->host == host) g_spRun->host = nullptr;
    delete host;
}

bool finishSpRun() {
    if (!g_spRun || g_spRun->finished) return true;
    g_spRun->finished = true;
    std::cout.flush();
    std::fflush(stdout);
    if (g_spRun->host) writeTrace(*g_spRun->host);
    // The run began at power-on, clock 0, and wrote neither BIOS bank.
    MachineRecord& r = g_spRun->record;
    r.lastRunNs = g_spRun->machine->clock().ns;
    r.lastErasedBytes = r.lastProgrammedBytes = r.lastStatusWrites = 0;
    r.lastSectorErases = r.lastBlockErases = 0;
    std::string error;
    if (!saveMachineDir(g_spRun->dir, *g_spRun->machine, g_spRun->record, &error)) {
        std::cerr << "lromup-sim: " << error << "\n";
        return false;
    }
    return true;
}

void finishSpRunAtExit() { finishSpRun(); }

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
    Machine& m = *run->machine;
    m.serviceProcessor().faults = request.spFaults;
    m.powerOn();

    g_spRun = owned.release();
    std::atexit(finishSpRunAtExit);
    osSetHost(createSpHost, destroySpHost);
    OS* os = osInit();
    Platform* platform = platInit(os);
    const int status = flash ? FlashLPCSP(os, platform) : CompareServiceProcessorToSource(os, platform);
    delete platform;
    osDestroy(os);
    const bool saved = finishSpRun();
    osSetHost(nullptr, nullptr);
    return saved ? status & 0xFF : SIM_TOOL_FAILED;
}

int cmdSpImage(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    const std::vector<uint8_t> image = spApplicationImage(request.seed);
    std::ofstream out(args[0], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    if (!out.flush()) return toolFailed("cannot write " + args[0]);
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
