// lromup-sim show DIR: prints the machine as key: value lines.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/board/machine.h"
#include "sim/board/smbios_builder.h"
#include "sim/store/machine_dir.h"
#include "tables/sha256.h"
#include "sim/tool/commands.h"
#include "sim/tool/report.h"
#include "sim/tool/request.h"
#include "sim/tool/sp.h"

namespace {

std::string hexValue(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

}  // namespace

int cmdShow(const ToolRequest& request) {
    const std::vector<std::string>& args = request.operands;
    MachineRecord record;
    std::string error;
    std::unique_ptr<Machine> m = loadMachineDir(args[0], record, &error);
    if (!m) return toolFailed(error);
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
