// libFuzzer entry: arbitrary legacy areas and structure tables for the SMBIOS
// reader, its lookups, its strings and its text dumps.
#include <cstddef>
#include <cstdint>

#include "fuzz/smbios_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    smbios_fuzz::runCase(data, size);
    return 0;
}
