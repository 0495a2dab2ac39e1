#include "sim/machine_dir.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "sim/firmware_menus.h"
#include "sim/machine.h"
#include "sim/models.h"
#include "sim/sha256.h"

namespace {

const char FORMAT_TAG[] = "lromup-sim machine 1";
const char TEXT_FILE[] = "machine.txt";
const char* const BANK_FILES[2] = {"primary.bin", "backup.bin"};
const char LEGACY_FILE[] = "legacy.bin";
const char VOLATILE_FILE[] = "volatile.bin";
constexpr size_t VOLATILE_STATE_LIMIT = 1 << 20;  // far above what the chipset keeps

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

std::string joinPath(const std::string& dir, const char* name) { return dir + "/" + name; }

bool writeFileAtomic(const std::string& path, const void* data, size_t size, std::string* error) {
    std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return fail(error, "cannot write " + temp + ": " + std::strerror(errno));
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return fail(error, "cannot write " + path);
    }
    return true;
}

bool readFile(const std::string& path, std::vector<uint8_t>& out, size_t limit,
              std::string* error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return fail(error, "missing " + path);
    std::streamoff size = in.tellg();
    if (size < 0 || size_t(size) > limit) return fail(error, "unexpected size of " + path);
    out.resize(size_t(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(out.data()), size)) return fail(error, "cannot read " + path);
    return true;
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
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return fail(error, "cannot create " + dir + ": " + std::strerror(errno));

    std::ostringstream text;
    text << "format: " << FORMAT_TAG << "\n";
    text << "model: " << record.model << "\n";
    text << "host_bridge: " << hex(machine.config().hostBridgeId, 8) << "\n";
    text << "flash_part: " << machine.config().partName << "\n";
    text << "active_bank: " << machine.activeBank() << "\n";
    text << "firmware_menu: " << machine.config().firmwareMenu << "\n";
    text << "bios_lock_enable: " << int(machine.config().biosLockEnable) << "\n";
    text << "spi_lock_down: " << int(machine.config().spiLockDown) << "\n";
    for (int i = 0; i < 2; ++i) {
        const std::vector<uint8_t>& array = machine.bank(i).array();
        if (!writeFileAtomic(joinPath(dir, BANK_FILES[i]), array.data(), array.size(), error))
            return false;
        const uint8_t status = machine.bank(i).status() & ~spinor::SR_WIP;  // done by the next load
        text << "status_register." << i << ": " << hex(status, 2) << "\n";
        text << "sha256." << BANK_FILES[i] << ": " << digest(array) << "\n";
    }
    const std::vector<uint8_t>& legacy = machine.legacyArea();
    if (!writeFileAtomic(joinPath(dir, LEGACY_FILE), legacy.data(), legacy.size(), error))
        return false;
    text << "sha256." << LEGACY_FILE << ": " << digest(legacy) << "\n";
    const std::vector<uint8_t> state = machine.saveVolatileState();
    if (!writeFileAtomic(joinPath(dir, VOLATILE_FILE), state.data(), state.size(), error))
        return false;
    text << "sha256." << VOLATILE_FILE << ": " << digest(state) << "\n";
    text << "last_run.virtual_ns: " << record.lastRunNs << "\n";
    text << "last_run.erased_bytes: " << record.lastErasedBytes << "\n";
    text << "last_run.programmed_bytes: " << record.lastProgrammedBytes << "\n";
    text << "last_run.status_writes: " << record.lastStatusWrites << "\n";
    std::string body = text.str();
    body += "checksum: " + sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size()) +
            "\n";
    return writeFileAtomic(joinPath(dir, TEXT_FILE), body.data(), body.size(), error);
}

std::unique_ptr<Machine> loadMachineDir(const std::string& dir, MachineRecord& record,
                                        std::string* error) {
    std::vector<uint8_t> raw;
    if (!readFile(joinPath(dir, TEXT_FILE), raw, 1 << 16, error)) return nullptr;
    std::string text(raw.begin(), raw.end());
    size_t sumAt = text.rfind("checksum: ");
    if (sumAt == std::string::npos || (sumAt != 0 && text[sumAt - 1] != '\n')) {
        fail(error, dir + "/machine.txt: no checksum line");
        return nullptr;
    }
    std::string body = text.substr(0, sumAt);
    std::string expected =
        sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    if (text.substr(sumAt) != "checksum: " + expected + "\n") {
        fail(error, dir + "/machine.txt: checksum mismatch (file damaged)");
        return nullptr;
    }

    std::map<std::string, std::string> keys;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) {
        size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        keys[line.substr(0, colon)] = line.substr(colon + 2);
    }
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
        std::string path = joinPath(dir, name);
        if (!readFile(path, out, limit, error)) return false;
        if (size != 0 && out.size() != size) return fail(error, "unexpected size of " + path);
        std::string recorded;
        if (!need((std::string("sha256.") + name).c_str(), recorded)) return false;
        if (digest(out) != recorded) return fail(error, path + " does not match machine.txt");
        return true;
    };
    std::vector<uint8_t> arrays[2], legacy, state;
    if (!loadChecked(BANK_FILES[0], info->size, info->size, arrays[0]) ||
        !loadChecked(BANK_FILES[1], info->size, info->size, arrays[1]) ||
        !loadChecked(LEGACY_FILE, LEGACY_AREA_SIZE, LEGACY_AREA_SIZE, legacy) ||
        !loadChecked(VOLATILE_FILE, 0, VOLATILE_STATE_LIMIT, state))
        return nullptr;

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
        !optional("last_run.status_writes",
                  [&](const std::string& v) { return parseUnsigned(v, record.lastStatusWrites); })) {
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
    if (!machine->restoreVolatileState(state)) {
        fail(error, dir + "/volatile.bin: not a saved chipset state");
        return nullptr;
    }
    return machine;
}

bool parseUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}
