#include "sim/sp_tool.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "flash/flashsp.h"
#include "os/file_access.h"
#include "os/os.h"
#include "platform/platform.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "tables/sha256.h"
#include "sim/dir_files.h"
#include "sim/sim_tool.h"
#include "sim/simos.h"
#include "sim/sp_regs.h"

const char SP_TOOL_USAGE[] =
    "       lromup-sim sp DIR flash|compare [--trace FILE] [--fault FAULT]...\n"
    "         faults: sp-kernel-silent, sp-bad-checksum@N, sp-erase-error, sp-erase-error-once,\n"
    "                 sp-block-error@ADDR, sp-weak-cell@ADDR, sp-reset-fails, sp-semaphore-held\n"
    "       lromup-sim sp image FILE [--seed N]\n";

namespace {

// The file the service-processor procedures read, in the working directory.
constexpr const char* SP_SOURCE_FILE = "LPCSPFW.BIN";

int usage(const std::string& why) {
    std::cerr << "lromup-sim: sp: " << why << "\n" << SP_TOOL_USAGE;
    return SIM_TOOL_USAGE;
}

int failed(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n";
    return SIM_TOOL_FAILED;
}

// ---- Faults -------------------------------------------------------------------

struct SpFaultRow {
    const char* name;  // "name" or "name@" when a number follows
    void (*apply)(SpFaults& f, uint64_t n);
    uint64_t limit;    // largest number accepted after '@'
};

const SpFaultRow SP_FAULTS[] = {
    {"sp-kernel-silent", [](SpFaults& f, uint64_t) { f.kernelSilent = true; }, 0},
    {"sp-bad-checksum@", [](SpFaults& f, uint64_t n) { f.badChecksumEvery = unsigned(n); }, 0xFFFFFFFF},
    {"sp-erase-error", [](SpFaults& f, uint64_t) { f.eraseErrors = -1; }, 0},
    {"sp-erase-error-once", [](SpFaults& f, uint64_t) { f.eraseErrors = 1; }, 0},
    {"sp-block-error@", [](SpFaults& f, uint64_t n) { f.blockError = true; f.blockErrorAt = uint32_t(n); }, spsim::FLASH_SIZE - 1},
    {"sp-weak-cell@", [](SpFaults& f, uint64_t n) { f.weakCell = true; f.weakCellAt = uint32_t(n); }, spsim::FLASH_SIZE - 1},
    {"sp-reset-fails", [](SpFaults& f, uint64_t) { f.resetFails = true; }, 0},
    {"sp-semaphore-held", [](SpFaults& f, uint64_t) { f.semaphoreHeld = true; }, 0},
};

bool parseSpFault(const std::string& text, SpFaults& f) {
    for (const SpFaultRow& row : SP_FAULTS) {
        const std::string name = row.name;
        if (name.back() != '@') {
            if (text != name) continue;
            row.apply(f, 0);
            return true;
        }
        uint64_t n = 0;
        if (text.rfind(name, 0) != 0 || !parseUnsigned(text.substr(name.size()), n)) continue;
        if (n == 0 || n > row.limit) return false;
        row.apply(f, n);
        return true;
    }
    return false;
}

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

int runProcedure(const std::vector<std::string>& args) {
    const bool flash = args[1] == "flash";
    // Lives until the process ends once the exit handler can reach it.
    std::unique_ptr<SpRun> owned(new SpRun);
    SpRun* run = owned.get();
    run->dir = args[0];
    SpFaults faults;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--trace" && i + 1 < args.size()) run->tracePath = args[++i];
        else if (args[i] == "--fault" && i + 1 < args.size()) {
            if (!parseSpFault(args[++i], faults)) return usage("unknown fault '" + args[i] + "'");
        } else {
            return usage("unknown option '" + args[i] + "'");
        }
    }
    // The procedure writes the machine: never while another run owns it. The
    // lock is held until the process ends, past the save of the exit handler.
    std::string error;
    DirHandle dir;
    if (!dir.open(run->dir, false, &error)) return failed(error);
    run->lock = std::make_unique<DirLock>();
    const DirLock::Result locked = run->lock->tryTake(dir, MACHINE_LOCK_FILE, &error);
    if (locked == DirLock::Busy) {
        std::cerr << "lromup-sim: " << run->dir << " is in use by a run; nothing was changed\n";
        return SIM_TOOL_BUSY;
    }
    if (!run->lock->held()) return failed(error);
    run->machine = loadMachineDir(run->dir, run->record, &error);
    if (!run->machine) return failed(error);
    if (!run->tracePath.empty()) {
        // Checked before anything runs, like run's trace.
        if (!outsideDirectory(dir, run->tracePath, "the trace", &error)) return failed(error);
        if (sameFile(run->tracePath, SP_SOURCE_FILE))
            return failed("the trace " + run->tracePath + " is " + SP_SOURCE_FILE + ", the procedure's input");
        if (!run->trace.open(run->tracePath, &error)) return failed(error);
    }
    Machine& m = *run->machine;
    m.serviceProcessor().faults = faults;
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

int writeImage(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage("image needs FILE");
    uint64_t seed = 1;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--seed" && i + 1 < args.size() && parseUnsigned(args[i + 1], seed) &&
            seed <= 0xFFFFFFFFu) {
            ++i;
            continue;
        }
        return usage("unknown option '" + args[i] + "'");
    }
    const std::vector<uint8_t> image = spApplicationImage(uint32_t(seed));
    std::string error;
    if (!writeUserFile(args[1], image, &error)) return failed(error);
    return SIM_TOOL_OK;
}

}  // namespace

bool parseSpNewOption(const std::string& flag, const std::string& value, SpNewOptions& o,
                      std::string* error) {
    if (flag == "--sp-kernel") {
        bool printable = value.size() == spsim::REVISION_LENGTH;
        for (char c : value) printable = printable && c > ' ' && c < 0x7F;
        if (!printable) {
            *error = "--sp-kernel takes 8 printable characters (e.g. A8DSP021), not '" + value + "'";
            return false;
        }
        o.kernel = value;
        return true;
    }
    uint64_t n = 0;
    if (flag == "--sp-build" && parseUnsigned(value, n) && n <= 0xFFFFFFFFu) {
        o.buildGiven = true;
        o.build = uint32_t(n);
        return true;
    }
    *error = flag == "--sp-build" ? "--sp-build takes a number (e.g. 0x9D00), not '" + value + "'"
                                  : "unknown option '" + flag + "'";
    return false;
}

void applySpNewOptions(Machine& m, const SpNewOptions& o) {
    ServiceProcessor& sp = m.serviceProcessor();
    sp.installKernel(o.kernel.empty() ? sp.kernelRevision() : o.kernel,
                     o.buildGiven ? o.build : sp.kernelBuild());
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

int spToolMain(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "image") return writeImage(args);
    if (args.size() < 2) return usage("needs DIR and flash or compare");
    if (args[1] == "flash" || args[1] == "compare") return runProcedure(args);
    return usage("unknown action '" + args[1] + "'");
}
