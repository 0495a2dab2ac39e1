// Replays every input the SMBIOS fuzzer kept, so a fixed fault stays fixed in
// builds without the fuzzer.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/smbios_fuzz_case.h"

namespace {

std::vector<std::string> inputFiles(const std::string& dir) {
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return files;
    }
    while (const dirent* entry = readdir(d)) {
        if (entry->d_name[0] != '.') {
            files.push_back(dir + "/" + entry->d_name);
        }
    }
    closedir(d);
    return files;
}

TEST(SmbiosFuzzRegressions, EveryKeptInputRuns) {
    for (const char* dir : {LROMUP_FUZZ_REGRESSIONS, LROMUP_FUZZ_CORPUS}) {
        for (const std::string& path : inputFiles(dir)) {
            std::ifstream in(path, std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
            SCOPED_TRACE(path);
            smbios_fuzz::runCase(data.data(), data.size());
        }
    }
}

}  // namespace
