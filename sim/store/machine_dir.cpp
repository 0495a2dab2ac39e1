#include "sim/store/machine_dir.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "sim/board/firmware_menus.h"
#include "sim/board/machine.h"
#include "sim/board/models.h"
#include "sim/board/sp_regs.h"
#include "sim/store/dir_files.h"
#include "tables/sha256.h"

namespace {

const char FORMAT_TAG[] = "lromup-sim machine 1";
const char TEXT_FILE[] = "machine.txt";
const char* const BANK_FILES[2] = {"primary.bin", "backup.bin"};
const char LEGACY_FILE[] = "legacy.bin";
const char VOLATILE_FILE[] = "volatile.bin";
// The service processor's flash, then its profile byte.
const char SP_FILE[] = "service_processor.bin";
constexpr size_t SP_STATE_SIZE = spsim::FLASH_SIZE + 1;
constexpr size_t VOLATILE_STATE_LIMIT = 1 << 20;  // far above what the chipset keeps

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

constexpr size_t TEXT_LIMIT = 1 << 16;
constexpr int LOAD_ATTEMPTS = 5;         // a reader racing saves reads again this often
constexpr useconds_t LOAD_RETRY_US = 20000;

// The index's body and its checksum line, when the checksum holds.
bool splitIndex(const std::string& dir, const std::string& text, std::string& body,
                std::string& sum, std::string* error) {
    size_t sumAt = text.rfind("checksum: ");
    if (sumAt == std::string::npos || (sumAt != 0 && text[sumAt - 1] != '\n'))
        return fail(error, dir + "/machine.txt: no checksum line");
    body = text.substr(0, sumAt);
    sum = sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    if (text.substr(sumAt) != "checksum: " + sum + "\n")
        return fail(error, dir + "/machine.txt: checksum mismatch (file damaged)");
    return true;
}

bool readIndex(const DirHandle& dir, std::string& text, std::string* error) {
    std::vector<uint8_t> raw;
    if (!readDirFile(dir, TEXT_FILE, TEXT_LIMIT, raw, error)) return false;
    text.assign(raw.begin(), raw.end());
    return true;
}

std::map<std::string, std::string> indexKeys(const std::string& body) {
    std::map<std::string, std::string> keys;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) {
        size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        keys[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return keys;
}

// The files the index records, with their digests (for settling a save).
std::vector<std::pair<std::string, std::string>> recordedFiles(const DirHandle& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    std::string text, body, sum;
    if (!readIndex(dir, text, nullptr) || !splitIndex(dir.path(), text, body, sum, nullptr))
        return files;
    const std::string prefix = "sha256.";
    for (const auto& [key, value] : indexKeys(body))
        if (key.rfind(prefix, 0) == 0) files.emplace_back(key.substr(prefix.size()), value);
    return files;
}

std::string hex(uint64_t value, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return buf;
}


std::string digest(const std::vector<uint8_t>& data) { return sha256Hex(data.data(), data.size()); }

}  // namespace

bool saveMachineDir(const std::string& dir, Machine& machine, const MachineRecord& record,
                    std::string* error) {
    DirHandle handle;
    if (!handle.open(dir, true, error) || !settleFileSet(handle, recordedFiles(handle), error))
        return false;

    // The binary files, in the order they are saved; each gets its digest line.
    const std::vector<uint8_t> state = machine.saveVolatileState();
    std::vector<uint8_t> spState(machine.serviceProcessor().flash());
    spState.push_back(machine.serviceProcessor().profile());
    const std::vector<SavedFile> files = {
        {BANK_FILES[0], &machine.bank(0).array()},
        {BANK_FILES[1], &machine.bank(1).array()},
        {LEGACY_FILE, &machine.legacyArea()},
        {VOLATILE_FILE, &state},
        {SP_FILE, &spState},
    };

    std::ostringstream text;
    text << "format: " << FORMAT_TAG << "\n";
    text << "model: " << record.model << "\n";
    text << "host_bridge: " << hex(machine.config().hostBridgeId, 8) << "\n";
    text << "flash_part: " << machine.config().partName << "\n";
    text << "active_bank: " << machine.activeBank() << "\n";
    text << "firmware_menu: " << machine.config().firmwareMenu << "\n";
    text << "bios_lock_enable: " << int(machine.config().biosLockEnable) << "\n";
    text << "spi_lock_down: " << int(machine.config().spiLockDown) << "\n";
    text << "product: " << machine.config().product << "\n";
    text << "boot_fault: " << (machine.bootFault().empty() ? "none" : machine.bootFault()) << "\n";
    for (int i = 0; i < 2; ++i) {
        const uint8_t status = machine.bank(i).status() & ~spinor::SR_WIP;  // done by the next load
        text << "status_register." << i << ": " << hex(status, 2) << "\n";
    }
    for (const SavedFile& f : files) text << "sha256." << f.name << ": " << digest(*f.bytes) << "\n";
    text << "saved_runs: " << record.savedRuns << "\n";
    text << "last_run.virtual_ns: " << record.lastRunNs << "\n";
    text << "last_run.erased_bytes: " << record.lastErasedBytes << "\n";
    text << "last_run.programmed_bytes: " << record.lastProgrammedBytes << "\n";
    text << "last_run.status_writes: " << record.lastStatusWrites << "\n";
    text << "last_run.erases_4k: " << record.lastSectorErases << "\n";
    text << "last_run.erases_64k: " << record.lastBlockErases << "\n";
    std::string body = text.str();
    body += "checksum: " + sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size()) +
            "\n";
    return commitFileSet(handle, files, TEXT_FILE, body, error);
}

std::string machineDirStamp(const std::string& dir) {
    DirHandle handle;
    std::string text, body, sum;
    if (!handle.open(dir, false, nullptr) || !readIndex(handle, text, nullptr) ||
        !splitIndex(dir, text, body, sum, nullptr))
        return "";
    return sum;
}

namespace {

std::unique_ptr<Machine> loadOnce(const DirHandle& handle, MachineRecord& record,
                                  std::string* error) {
    const std::string& dir = handle.path();
    std::string text, body;
    if (!readIndex(handle, text, error) || !splitIndex(dir, text, body, record.stamp, error))
        return nullptr;
    std::map<std::string, std::string> keys = indexKeys(body);

    auto need = [&](const char* key, std::string& out) {
        auto it = keys.find(key);
        if (it == keys.end()) return fail(error, dir + "/machine.txt: no '" + key + "'");
        out = it->second;
        return true;
    };
    std::string format, hostBridge, part, bank, status[2], runNs, erased, programmed;
    if (!need("format", format) || !need("model", record.model) ||
        !need("host_bridge", hostBridge) || !need("flash_part", part) ||
        !need("active_bank", bank) || !need("status_register.0", status[0]) ||
        !need("status_register.1", status[1]) || !need("last_run.virtual_ns", runNs) ||
        !need("last_run.erased_bytes", erased) || !need("last_run.programmed_bytes", programmed))
        return nullptr;
    if (format != FORMAT_TAG) {
        fail(error, dir + "/machine.txt: unsupported format '" + format + "'");
        return nullptr;
    }
    uint64_t hostId = 0, bankNo = 0, sr[2] = {0, 0};
    const FlashPartInfo* info = findFlashPart(part);
    if (!parseUnsigned(hostBridge, hostId) || hostId > 0xFFFFFFFFu || !info ||
        !parseUnsigned(bank, bankNo) || bankNo > 1 || !parseUnsigned(status[0], sr[0]) ||
        sr[0] > 0xFF || !parseUnsigned(status[1], sr[1]) || sr[1] > 0xFF ||
        !parseUnsigned(runNs, record.lastRunNs) || !parseUnsigned(erased, record.lastErasedBytes) ||
        !parseUnsigned(programmed, record.lastProgrammedBytes)) {
        fail(error, dir + "/machine.txt: a value is malformed");
        return nullptr;
    }

    // Binary files: right size and the digest machine.txt recorded.
    auto loadChecked = [&](const char* name, size_t size, size_t limit,
                           std::vector<uint8_t>& out) {
        std::string recorded;
        if (!need((std::string("sha256.") + name).c_str(), recorded) ||
            !readRecordedFile(handle, name, recorded, limit, out, error))
            return false;
        if (size != 0 && out.size() != size)
            return fail(error, "unexpected size of " + handle.pathOf(name));
        return true;
    };
    std::vector<uint8_t> arrays[2], legacy, state;
    if (!loadChecked(BANK_FILES[0], info->size, info->size, arrays[0]) ||
        !loadChecked(BANK_FILES[1], info->size, info->size, arrays[1]) ||
        !loadChecked(LEGACY_FILE, LEGACY_AREA_SIZE, LEGACY_AREA_SIZE, legacy) ||
        !loadChecked(VOLATILE_FILE, 0, VOLATILE_STATE_LIMIT, state))
        return nullptr;
    // Machines saved before the board had a service processor have the factory's.
    std::vector<uint8_t> spState;
    const bool hasSp = keys.count(std::string("sha256.") + SP_FILE) != 0;
    if (hasSp && !loadChecked(SP_FILE, SP_STATE_SIZE, SP_STATE_SIZE, spState)) return nullptr;

    // What the firmware does at power-on; machines saved without it had the defaults.
    BoardConfig cfg;
    auto optional = [&](const char* key, auto apply) {
        auto it = keys.find(key);
        return it == keys.end() || apply(it->second);
    };
    auto flag = [](bool& out) {
        return [&out](const std::string& v) { out = v == "1"; return v == "0" || v == "1"; };
    };
    if (!optional("firmware_menu",
                  [&](const std::string& v) { cfg.firmwareMenu = v; return findFirmwareMenu(v) != nullptr; }) ||
        !optional("bios_lock_enable", flag(cfg.biosLockEnable)) ||
        !optional("spi_lock_down", flag(cfg.spiLockDown)) ||
        !optional("product", [&](const std::string& v) { cfg.product = v; return true; }) ||
        !optional("saved_runs", [&](const std::string& v) { return parseUnsigned(v, record.savedRuns); }) ||
        !optional("last_run.status_writes",
                  [&](const std::string& v) { return parseUnsigned(v, record.lastStatusWrites); }) ||
        !optional("last_run.erases_4k",
                  [&](const std::string& v) { return parseUnsigned(v, record.lastSectorErases); }) ||
        !optional("last_run.erases_64k",
                  [&](const std::string& v) { return parseUnsigned(v, record.lastBlockErases); })) {
        fail(error, dir + "/machine.txt: a value is malformed");
        return nullptr;
    }
    cfg.hostBridgeId = uint32_t(hostId);
    cfg.partName = part;
    cfg.activeBank = int(bankNo);
    auto machine = std::make_unique<Machine>(cfg);
    for (int i = 0; i < 2; ++i) {
        machine->bank(i).array() = std::move(arrays[i]);
        machine->bank(i).setStatus(uint8_t(sr[i]));
    }
    machine->setActiveBank(int(bankNo));
    machine->legacyArea() = std::move(legacy);
    auto fault = keys.find("boot_fault");
    if (fault != keys.end() && fault->second != "none") machine->setBootFault(fault->second);
    if (hasSp) {
        ServiceProcessor& sp = machine->serviceProcessor();
        std::copy(spState.begin(), spState.begin() + spsim::FLASH_SIZE, sp.flash().begin());
        sp.setProfile(spState[spsim::FLASH_SIZE]);
    }
    if (!machine->restoreVolatileState(state)) {
        fail(error, dir + "/volatile.bin: not a saved chipset state");
        return nullptr;
    }
    return machine;
}

}  // namespace

std::unique_ptr<Machine> loadMachineDir(const std::string& dir, MachineRecord& record,
                                        std::string* error) {
    DirHandle handle;
    if (!handle.open(dir, false, error)) return nullptr;
    for (int attempt = 1;; ++attempt) {
        std::string why;
        std::unique_ptr<Machine> machine = loadOnce(handle, record, &why);
        if (machine) return machine;
        // A save committed while the files were read: read the new one.
        if (attempt == LOAD_ATTEMPTS || machineDirStamp(dir) == record.stamp) {
            fail(error, why);
            return nullptr;
        }
        ::usleep(LOAD_RETRY_US);
    }
}

bool parseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex && !std::isxdigit(static_cast<unsigned char>(text[2]))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}
