#include "sim/sim_tool.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flash/lromup.h"
#include "os/os.h"
#include "sim/board_image.h"
#include "sim/firmware_menus.h"
#include "sim/machine.h"
#include "sim/machine_dir.h"
#include "sim/models.h"
#include "sim/sha256.h"
#include "sim/simos.h"
#include "sim/smbios_builder.h"
#include "sim/sp_tool.h"

namespace {

const char USAGE[] =
    "usage: lromup-sim new DIR [--model moro310|moro320|moro330] [--host-bridge pch|ich|0xHHHHHHHH]\n"
    "                          [--part NAME] [--bios-version TEXT] [--product TEXT] [--serial TEXT]\n"
    "                          [--mtm TEXT] [--uuid UUID] [--asset TEXT|none] [--oem TEXT|none]\n"
    "                          [--no-vpd] [--crtm] [--active-bank primary|backup] [--legacy-area FILE]\n"
    "                          [--firmware-menu standard|hostile|read-only] [--ble] [--flockdn]\n"
    "                          [--sp-kernel A8DSP021|A8DSP022|...] [--sp-build 0xNNNN]\n"
    "       lromup-sim image DIR FILE [--whole|--region] [--seed N]\n"
    "       lromup-sim run DIR [--trace FILE] [--fault FAULT]... -- ARG...\n"
    "         faults: hw-cycle-hang, sw-cycle-hang, fcerr@ADDR, wp-stuck-low, power-cut@N,\n"
    "                 bad-cell@ADDR, drop-program@N\n"
    "       lromup-sim show DIR\n"
    "       lromup-sim reboot DIR\n"
    "       lromup-sim read DIR primary|backup FILE\n";

int usage(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n" << USAGE << SP_TOOL_USAGE;
    return SIM_TOOL_USAGE;
}

int failed(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n";
    return SIM_TOOL_FAILED;
}


bool readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(out.flush());
}

// ---- new ----
int cmdNew(const std::vector<std::string>& args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) return usage("new: no machine directory");
    const std::string dir = args[0];
    MachineOptions o;
    SpNewOptions spOptions;
    std::string error;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& flag = args[i];
        if (flag == "--no-vpd") { o.noVpd = true; continue; }
        if (flag == "--crtm") { o.crtm = true; continue; }
        if (flag == "--ble") { o.biosLockEnable = true; continue; }
        if (flag == "--flockdn") { o.spiLockDown = true; continue; }
        if (i + 1 >= args.size()) return usage("new: " + flag + " needs a value");
        const std::string& v = args[++i];
        if (flag == "--model") {
            if (!findBoardModel(v)) return usage("new: unknown model '" + v + "'");
            o.model = v;
        } else if (flag == "--host-bridge") {
            if (!parseHostBridge(v, o.hostBridgeId) || o.hostBridgeId == 0)
                return usage("new: host bridge must be pch, ich or 0xHHHHHHHH, not '" + v + "'");
        } else if (flag == "--part") {
            if (!findFlashPart(v)) return usage("new: unknown flash part '" + v + "'");
            o.partName = v;
        } else if (flag == "--bios-version") {
            o.biosVersion = v;
        } else if (flag == "--product") {
            o.product = v;
        } else if (flag == "--serial") {
            o.serial = v;
        } else if (flag == "--mtm") {
            o.mtm = v;
        } else if (flag == "--uuid") {
            o.uuid = v;
        } else if (flag == "--asset") {
            if (v == "none") o.noAsset = true;
            else o.asset = v;
        } else if (flag == "--oem") {
            if (v == "none") o.noOem = true;
            else o.oem = v;
        } else if (flag == "--active-bank") {
            if (v == "primary") o.activeBank = 0;
            else if (v == "backup") o.activeBank = 1;
            else return usage("new: --active-bank takes primary or backup, not '" + v + "'");
        } else if (flag == "--firmware-menu") {
            if (!findFirmwareMenu(v)) return usage("new: unknown firmware menu '" + v + "'");
            o.firmwareMenu = v;
        } else if (flag == "--legacy-area") {
            if (!readWholeFile(v, o.legacyArea)) return failed("cannot read " + v);
            if (o.legacyArea.size() != LEGACY_AREA_SIZE)
                return failed(v + ": a legacy area image must be 65536 bytes");
        } else if (flag.rfind("--sp-", 0) == 0) {
            if (!parseSpNewOption(flag, v, spOptions, &error)) return usage("new: " + error);
        } else {
            return usage("new: unknown option '" + flag + "'");
        }
    }
    std::unique_ptr<Machine> m = buildMachine(o, &error);
    if (!m) return usage("new: " + error);
    applySpNewOptions(*m, spOptions);
    MachineRecord record;
    record.model = o.model;
    if (!saveMachineDir(dir, *m, record, &error) || !saveSpState(dir, *m, &error))
        return failed(error);
    return SIM_TOOL_OK;
}

// ---- image ----
int cmdImage(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage("image: needs DIR and FILE");
    ImageKind kind = ImageKind::Accepted;
    uint64_t seed = 1;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--whole") kind = ImageKind::Whole;
        else if (args[i] == "--region") kind = ImageKind::Region;
        else if (args[i] == "--seed" && i + 1 < args.size()) {
            if (!parseUnsigned(args[++i], seed) || seed > 0xFFFFFFFFu)
                return usage("image: --seed takes a number, not '" + args[i] + "'");
        } else {
            return usage("image: unknown option '" + args[i] + "'");
        }
    }
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m) return failed(error);
    std::vector<uint8_t> image = buildNewImage(*m, kind, uint32_t(seed));
    if (image.empty()) return failed("image: this machine's flash part is too small for an image");
    if (!writeWholeFile(args[1], image)) return failed("cannot write " + args[1]);
    return SIM_TOOL_OK;
}

// ---- show ----
std::string hexValue(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

int cmdShow(const std::vector<std::string>& args) {
    if (args.size() != 1) return usage("show: needs exactly DIR");
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m || !loadSpState(args[0], *m, &error)) return failed(error);
    const std::vector<uint8_t>& legacy = m->legacyArea();
    std::string version = findSmbiosBiosVersion(legacy.data(), legacy.size(), LEGACY_AREA_BASE);
    const FlashPartInfo& part = m->bank(0).info();
    char jedec[16];
    std::snprintf(jedec, sizeof jedec, "%02x %02x %02x", part.jedec[0], part.jedec[1],
                  part.jedec[2]);
    std::cout << "model: " << record.model << "\n"
              << "host_bridge: " << hexValue(m->config().hostBridgeId, 8) << "\n"
              << "bios_version: " << (version.empty() ? "unknown" : version) << "\n"
              << "flash_part: " << part.name << "\n"
              << "jedec_id: " << jedec << "\n"
              << "flash_size: " << hexValue(part.size, 1) << "\n"
              << "active_bank: " << (m->activeBank() ? "backup" : "primary") << "\n"
              << "flash_wp: " << (m->flashWriteProtectAsserted() ? "low" : "high") << "\n"
              << "eeprom_wp: " << (m->eepromWriteProtectHigh() ? "high" : "low") << "\n"
              << "bios_write_enable: " << (m->biosControl() & BIOS_CNTL_BIOSWE ? 1 : 0) << "\n";
    static const char* const BANK_NAMES[2] = {"primary", "backup"};
    for (int i = 0; i < 2; ++i)
        std::cout << "status_register." << BANK_NAMES[i] << ": "
                  << hexValue(m->bank(i).status(), 2) << "\n";
    for (int i = 0; i < 2; ++i) {
        const std::vector<uint8_t>& a = m->bank(i).array();
        std::cout << "sha256." << BANK_NAMES[i] << ": " << sha256Hex(a.data(), a.size()) << "\n";
    }
    std::cout << "last_run.virtual_ms: " << record.lastRunNs / SIM_NS_PER_MS << "\n"
              << "last_run.erased_bytes: " << record.lastErasedBytes << "\n"
              << "last_run.programmed_bytes: " << record.lastProgrammedBytes << "\n"
              << "last_run.status_writes: " << record.lastStatusWrites << "\n";
    showServiceProcessor(*m, std::cout);
    return SIM_TOOL_OK;
}

// ---- read ----
int cmdRead(const std::vector<std::string>& args) {
    if (args.size() != 3) return usage("read: needs DIR, primary|backup and FILE");
    int bank;
    if (args[1] == "primary") bank = 0;
    else if (args[1] == "backup") bank = 1;
    else return usage("read: bank must be primary or backup, not '" + args[1] + "'");
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m) return failed(error);
    if (!writeWholeFile(args[2], m->bank(bank).array())) return failed("cannot write " + args[2]);
    return SIM_TOOL_OK;
}

// ---- run ----
// One run of the updater on a loaded machine. The updater may end the process
// from deep inside (exit) and the power may fail in the middle of a flash
// operation; either way the machine must be saved as it stands, so the run's
// state is reachable from an exit handler and from the part callbacks.
struct RunState {
    std::string dir;
    std::string tracePath;
    MachineRecord record;
    std::unique_ptr<Machine> machine;
    uint64_t startNs = 0;   // the clock when the run began: runs are warm
    SimOS* host = nullptr;  // the live host object, while the updater holds one
    bool traceWritten = false;
    bool finished = false;
};
RunState* g_run = nullptr;

void writeRunTrace(SimOS& host) {
    if (g_run->tracePath.empty() || g_run->traceWritten) return;
    g_run->traceWritten = true;
    if (!host.writeTrace(g_run->tracePath))
        std::cerr << "lromup-sim: cannot write the trace to " << g_run->tracePath << "\n";
}

OS* createRunHost() {
    auto* host = new SimOS(*g_run->machine);
    host->setTracing(!g_run->tracePath.empty());
    g_run->host = host;
    return host;
}

void destroyRunHost(OS* os) {
    auto* host = static_cast<SimOS*>(os);
    if (!host) return;
    writeRunTrace(*host);
    if (g_run->host == host) g_run->host = nullptr;
    delete host;
}

// Saves the machine after the run, however it ended. Returns false when the
// directory could not be written.
bool finishRun() {
    if (!g_run || g_run->finished) return true;
    g_run->finished = true;
    std::cout.flush();
    std::fflush(stdout);
    if (g_run->host) writeRunTrace(*g_run->host);
    if (!g_run->tracePath.empty() && !g_run->traceWritten) {
        // The updater ended before it made a host object: no host calls.
        g_run->traceWritten = true;
        if (!writeTraceFile(g_run->tracePath, {}))
            std::cerr << "lromup-sim: cannot write the trace to " << g_run->tracePath << "\n";
    }
    Machine& m = *g_run->machine;
    g_run->record.lastRunNs = m.clock().ns - g_run->startNs;
    g_run->record.lastErasedBytes = m.bank(0).erasedBytes() + m.bank(1).erasedBytes();
    g_run->record.lastProgrammedBytes = m.bank(0).programmedBytes() + m.bank(1).programmedBytes();
    g_run->record.lastStatusWrites = m.bank(0).statusWrites() + m.bank(1).statusWrites();
    // After a power failure the chipset and the parts have lost their volatile
    // state: the next run finds them as at power-on.
    if (m.powerLost()) m.powerOn();
    std::string error;
    if (!saveMachineDir(g_run->dir, m, g_run->record, &error)) {
        std::cerr << "lromup-sim: " << error << "\n";
        return false;
    }
    return true;
}

void finishRunAtExit() { finishRun(); }

// Cuts the run short when the machine reports that the power failed.
void armPowerCut(Machine& m) {
    for (int i = 0; i < 2; ++i) {
        FlashPart& part = m.bank(i);
        std::function<bool()> inner = part.onOperationStart;
        part.onOperationStart = [inner, &m] {
            if (inner && inner()) return true;
            if (!m.powerLost()) return false;
            finishRun();
            std::fflush(stderr);
            _exit(SIM_TOOL_POWER_CUT);
        };
    }
}

struct Faults {
    bool hwHang = false, swHang = false, wpStuck = false;
    bool fcerr = false;
    uint32_t fcerrAddress = 0;
    bool powerCut = false;
    uint64_t powerCutAt = 0;  // 1-based operation number
    std::optional<uint32_t> badCell;  // flash address, in either bank's part
    uint64_t dropProgramAt = 0;       // 1-based page program of a part; 0: none
};

bool parseFault(const std::string& fault, Faults& f) {
    uint64_t n = 0;
    if (fault == "hw-cycle-hang") f.hwHang = true;
    else if (fault == "sw-cycle-hang") f.swHang = true;
    else if (fault == "wp-stuck-low") f.wpStuck = true;
    else if (fault.rfind("fcerr@", 0) == 0 && parseUnsigned(fault.substr(6), n) && n <= 0xFFFFFFFFu) {
        f.fcerr = true;
        f.fcerrAddress = uint32_t(n);
    } else if (fault.rfind("power-cut@", 0) == 0 && parseUnsigned(fault.substr(10), n) && n >= 1) {
        f.powerCut = true;
        f.powerCutAt = n;
    } else if (fault.rfind("bad-cell@", 0) == 0 && parseUnsigned(fault.substr(9), n) && n <= 0xFFFFFFFFu) {
        f.badCell = uint32_t(n);
    } else if (fault.rfind("drop-program@", 0) == 0 && parseUnsigned(fault.substr(13), n) && n >= 1) {
        f.dropProgramAt = n;
    } else {
        return false;
    }
    return true;
}

int cmdRun(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "--") return usage("run: no machine directory");
    RunState* run = new RunState;  // lives until the process ends: exit handlers use it
    run->dir = args[0];
    Faults faults;
    size_t i = 1;
    for (; i < args.size() && args[i] != "--"; ++i) {
        if (args[i] == "--trace" && i + 1 < args.size()) {
            run->tracePath = args[++i];
        } else if (args[i] == "--fault" && i + 1 < args.size()) {
            if (!parseFault(args[++i], faults)) return usage("run: unknown fault '" + args[i] + "'");
        } else {
            return usage("run: unknown option '" + args[i] + "' (updater arguments follow --)");
        }
    }
    if (i >= args.size()) return usage("run: the updater's arguments must follow --");

    std::string error;
    run->machine = loadMachineDir(run->dir, run->record, &error);
    if (!run->machine) return failed(error);
    // A warm run: the chipset, the GPIO lines and the parts' WEL are as the
    // previous run left them (`reboot` power-cycles the machine).
    Machine& m = *run->machine;
    run->startNs = m.clock().ns;
    if (faults.hwHang) m.spi().hwCycleHang = true;
    if (faults.swHang) m.spi().swCycleHang = true;
    if (faults.fcerr) m.spi().fcerrBlock = faults.fcerrAddress;
    if (faults.wpStuck) m.setWpStuckLow(true);
    if (faults.powerCut) m.failPowerAtOperation(faults.powerCutAt - 1);
    for (int b = 0; b < 2; ++b) {
        m.bank(b).badCell = faults.badCell;
        m.bank(b).dropProgramAt = faults.dropProgramAt;
    }
    armPowerCut(m);

    std::vector<std::string> updaterArgs = {"lromup"};
    updaterArgs.insert(updaterArgs.end(), args.begin() + long(i) + 1, args.end());
    std::vector<char*> argv;
    for (std::string& a : updaterArgs) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    g_run = run;
    std::atexit(finishRunAtExit);
    osSetHost(createRunHost, destroyRunHost);
    int status = lromupMain(int(updaterArgs.size()), argv.data());
    bool saved = finishRun();
    osSetHost(nullptr, nullptr);
    if (!saved) return SIM_TOOL_FAILED;
    return status & 0xFF;
}

}  // namespace

int simToolMain(int argc, char** argv) {
    if (argc < 2) return usage("no command");
    std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "new") return cmdNew(args);
    if (command == "image") return cmdImage(args);
    if (command == "run") return cmdRun(args);
    if (command == "show") return cmdShow(args);
    if (command == "read") return cmdRead(args);
    if (command == "sp") return spToolMain(args);
    if (command == "reboot") return simRebootMain(args);
    if (command == "-h" || command == "--help") {
        std::cout << USAGE << SP_TOOL_USAGE;
        return SIM_TOOL_OK;
    }
    return usage("unknown command '" + command + "'");
}
