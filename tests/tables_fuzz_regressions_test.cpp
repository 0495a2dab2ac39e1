// Replays every input the SMBIOS fuzzer kept (a placeholder file is just an
// empty input), so a fixed fault stays fixed in builds without the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/smbios_fuzz_case.h"

namespace {

TEST(SmbiosFuzzRegressions, EveryKeptInputRuns) {
    size_t replayed = 0;
    for (const char* dir : {LROMUP_FUZZ_REGRESSIONS, LROMUP_FUZZ_CORPUS}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
            smbios_fuzz::runCase(data.data(), data.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}

}  // namespace
