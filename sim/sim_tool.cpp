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
#include "sim/dir_files.h"
#include "sim/machine_dir.h"
#include "sim/models.h"
#include "tables/sha256.h"
#include "sim/sim_commands.h"
#include "sim/sim_faults.h"
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
    "                          [--force]\n"
    "       lromup-sim image DIR FILE [--whole|--region] [--seed N]\n"
    "       lromup-sim show DIR\n"
    "       lromup-sim reboot DIR [--bank primary|backup]\n"
    "       lromup-sim read DIR primary|backup FILE\n"
    "       lromup-sim run DIR [--trace FILE] [--fault FAULT]... -- ARG...\n";

std::string usageText() {
    return std::string(USAGE) + "         faults: " + faultNames() + "\n";
}

int usage(const std::string& why) { return toolUsage(why); }
int failed(const std::string& why) { return toolFailed(why); }


// Writes an output of the tool, never into the machine directory.
bool writeOutsideMachine(const std::string& dir, const std::string& path, const std::string& what,
                         const std::vector<uint8_t>& bytes, std::string* error) {
    DirHandle handle;
    return handle.open(dir, false, error) && outsideDirectory(handle, path, what, error) &&
           writeUserFile(path, bytes, error);
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
    if (!writeOutsideMachine(args[0], args[1], "the image", image, &error)) return failed(error);
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
    if (!m) return failed(error);
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
              << "boots: " << (m->bootFault().empty() ? "yes" : "no: " + m->bootFault()) << "\n"
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
    std::cout << "saved_runs: " << record.savedRuns << "\n"
              << "last_run.virtual_ms: " << record.lastRunNs / SIM_NS_PER_MS << "\n"
              << "last_run.erased_bytes: " << record.lastErasedBytes << "\n"
              << "last_run.programmed_bytes: " << record.lastProgrammedBytes << "\n"
              << "last_run.status_writes: " << record.lastStatusWrites << "\n"
              << "last_run.erases_4k: " << record.lastSectorErases << "\n"
              << "last_run.erases_64k: " << record.lastBlockErases << "\n";
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
    if (!writeOutsideMachine(args[0], args[2], "the bank's copy", m->bank(bank).array(), &error))
        return failed(error);
    return SIM_TOOL_OK;
}

}  // namespace

int toolUsage(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n" << usageText() << SP_TOOL_USAGE;
    return SIM_TOOL_USAGE;
}

int toolFailed(const std::string& why) {
    std::cerr << "lromup-sim: " << why << "\n";
    return SIM_TOOL_FAILED;
}

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
        std::cout << usageText();
        return SIM_TOOL_OK;
    }
    return usage("unknown command '" + command + "'");
}
