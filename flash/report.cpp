#include "flash/report.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <nlohmann/json.hpp>

#include "chipset/ich10spi.h"
#include "flash/exit_status.h"
#include "flash/image_file.h"
#include "os/file_access.h"
#include "flash/settings.h"
#include "tables/sha256.h"

namespace {

// Image files are 2 MiB or less; anything far larger is not hashed.
constexpr uint64_t HASH_LIMIT = 64u << 20;
constexpr size_t MESSAGE_SIZE = 512;

RunFacts facts;
// Lines are sensed only on a machine whose GPIO base was found usable: a
// bogus base would point these reads at other devices. Per run, like facts.
bool linesSensed = false;
constexpr int HOST_LAYER_EXIT = 1;
bool reportPending = false;
int earlyExitStatus = HOST_LAYER_EXIT;

void writeReportAtExit() {
    if (!reportPending) return;
    if (facts.message.empty())
        facts.message = "the run ended early with status " + std::to_string(earlyExitStatus);
    finishRunReport(earlyExitStatus);
}
std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

double secondsSinceStart() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

VerifyResult combined(VerifyResult a, VerifyResult b) {
    if (a == VerifyResult::Failed || b == VerifyResult::Failed) return VerifyResult::Failed;
    if (a == VerifyResult::Ok || b == VerifyResult::Ok) return VerifyResult::Ok;
    return VerifyResult::NotRun;
}

const char* verifyName(VerifyResult result) {
    switch (result) {
    case VerifyResult::Ok: return "ok";
    case VerifyResult::Failed: return "failed";
    case VerifyResult::NotRun: break;
    }
    return "not run";
}

nlohmann::json bankJson(int bank) {
    return bank == BANK_NONE ? nlohmann::json(nullptr) : nlohmann::json(bankName(bank));
}

bool changed() {
    return facts.stats.erasedBytes != 0 || facts.stats.programmedBytes != 0 ||
           facts.activeAtStart != facts.activeAtEnd || facts.eepromAtStart != facts.eepromAtEnd;
}

nlohmann::json reportJson(int status) {
    const UpdateStats& s = facts.stats;
    return {
        {"status", status & 0xFF},  // what the shell sees: -8 ends the process with 248
        {"changed", changed()},
        {"bank", bankJson(facts.bank)},
        {"active_bank", bankJson(facts.activeAtEnd)},
        {"erased_bytes", s.erasedBytes},
        {"programmed_bytes", s.programmedBytes},
        {"erased_blocks", s.erasedBlocks},
        {"programmed_blocks", s.programmedBlocks},
        {"unchanged_blocks", s.unchangedBlocks},
        {"big_erases", s.bigErases},
        {"big_erase_fallbacks", s.bigEraseFallbacks},
        {"verify", verifyName(combined(s.verify, facts.verify))},
        {"seconds", secondsSinceStart()},
        {"machine",
         {{"product", facts.product},
          {"family", facts.family},
          {"bios_version", facts.biosVersion},
          {"part", facts.part}}},
        {"image",
         {{"name", facts.imageName}, {"size", facts.imageSize}, {"sha256", facts.imageSha256}}},
        {"message", facts.message},
    };
}

}  // namespace

RunFacts& runFacts() { return facts; }

void startRunFacts() {
    facts = RunFacts{};
    linesSensed = false;
    started = std::chrono::steady_clock::now();
}

void addChipsetStats(const UpdateStats& stats) {
    UpdateStats& sum = facts.stats;
    sum.erasedBytes += stats.erasedBytes;
    sum.programmedBytes += stats.programmedBytes;
    sum.erasedBlocks += stats.erasedBlocks;
    sum.programmedBlocks += stats.programmedBlocks;
    sum.unchangedBlocks += stats.unchangedBlocks;
    sum.bigErases += stats.bigErases;
    sum.bigEraseFallbacks += stats.bigEraseFallbacks;
    sum.verify = combined(sum.verify, stats.verify);
}

ChipsetStatsCollector::~ChipsetStatsCollector() {
    if (counted != nullptr) addChipsetStats(counted->getStats());
}

void noteImageFile(const char* name) {
    facts.imageName = name;
    ImageOpen opened = openImageFile(name);
    if (!opened.file) return;
    Sha256 hash;
    std::vector<uint8_t> chunk(1u << 16);
    uint64_t total = 0;
    size_t got = 0;
    while (total < HASH_LIMIT && (got = std::fread(chunk.data(), 1, chunk.size(), opened.file.get())) > 0) {
        hash.update(chunk.data(), got);
        total += got;
    }
    facts.imageSize = total;
    if (total >= HASH_LIMIT) return;
    uint8_t digest[32];
    hash.final(digest);
    char hex[2 * sizeof digest + 1];
    for (size_t i = 0; i < sizeof digest; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    facts.imageSha256 = hex;
}

void noteMachineStart(OS* os) {
    linesSensed = true;
    facts.activeAtStart = facts.activeAtEnd = senseActiveBank(os) != 0;
    facts.eepromAtStart = facts.eepromAtEnd = eepromLineLevel(os);
}

void noteMachineEnd(OS* os) {
    if (!linesSensed) return;
    facts.activeAtEnd = senseActiveBank(os) != 0;
    facts.eepromAtEnd = eepromLineLevel(os);
}

void explainRefusal(const char* format, ...) {
    char text[MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text);
    facts.message = text;
}

const char* bankName(int bank) {
    return bank == 0 ? "primary" : bank == 1 ? "backup" : "none";
}

void printUpdateSummary(OS* os, int bank) {
    const UpdateStats& s = facts.stats;
    std::fflush(stdout);
    std::fprintf(stderr,
                 "Summary: wrote the %s bank; the %s bank will boot; blocks erased %u, programmed "
                 "%u, unchanged %u; 64 KiB erases %u, fallbacks %u; verify %s; %.1f s\n",
                 bankName(bank), bankName(senseActiveBank(os) != 0), unsigned(s.erasedBlocks),
                 unsigned(s.programmedBlocks), unsigned(s.unchangedBlocks), unsigned(s.bigErases),
                 unsigned(s.bigEraseFallbacks), verifyName(s.verify), secondsSinceStart());
}

void armReportAtExit() {
    static const bool armed = std::atexit(writeReportAtExit) == 0;
    reportPending = armed;
    earlyExitStatus = HOST_LAYER_EXIT;
}

void noteEarlyExit(int status) { earlyExitStatus = status; }

int finishRunReport(int status) {
    reportPending = false;
    if (REPORT_FNAME[0] == '\0') return status;
    // A refusal whose own text has no explanation line still says how it ended.
    if (status != 0 && facts.message.empty())
        facts.message = "the run ended with status " + std::to_string(status & 0xFF);
    const std::string text = reportJson(status).dump(2) + "\n";
    std::string why;
    if (!writeOutputFile(REPORT_FNAME, text.data(), text.size(), &why)) {
        std::fprintf(stderr, "The run report %s could not be written: %s\n", REPORT_FNAME,
                     why.c_str());
        // The run's own refusal says more than the report's.
        return status != 0 ? status : EXIT_OUTPUT_REFUSED;
    }
    return status;
}
