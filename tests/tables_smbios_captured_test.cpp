// The reader over inputs kept on disk: a legacy BIOS area dumped from a virtual
// machine, checked against what a standard decoder printed for the same table,
// and every input the SMBIOS fuzzer kept (a placeholder file is an empty input),
// so a fixed fault stays fixed in builds without the fuzzer.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/smbios_fuzz_case.h"
#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(SeaBiosTable, ReadsOnceFindsWhatTheDecoderPrintedAndDumpsByteExact) {
    const std::string area = readFile(LROMUP_SMBIOS_TESTDATA "/seabios-i440fx.legacy.bin");
    ASSERT_EQ(area.size(), SMBIOS_SEARCH_LENGTH);
    TablesFakeHost host;
    host.load(SMBIOS_SEARCH_BASE, area.data(), area.size());
    SMBIOS reader;
    reader.init(&host);
    // One read of the legacy area for the search, one of the table.
    ASSERT_NE(reader.getEntryPoint(), nullptr);
    const std::vector<std::pair<uint32_t, uint32_t>> reads = {
        {SMBIOS_SEARCH_BASE, SMBIOS_SEARCH_LENGTH}, {reader.getEntryPoint()->tableAddress, 388}};
    EXPECT_EQ(host.reads, reads);

    // Each structure the decoder printed, in order, with its strings among its fields.
    std::istringstream text(readFile(LROMUP_SMBIOS_TESTDATA "/seabios-i440fx.dmidecode.txt"));
    std::string line;
    uint16_t index = 0;
    unsigned int strings = 0;
    while (std::getline(text, line)) {
        unsigned int handle = 0, type = 0, length = 0;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &handle, &type,
                        &length) != 3) {
            continue;
        }
        SCOPED_TRACE(line);
        std::string block;  // the decoder's lines for this structure
        for (std::string field; std::getline(text, field) && !field.empty();) {
            block += field + "\n";
        }
        const s_SMBIOSHeader* header = reader.getStructure(index++);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(+header->handle, handle);
        EXPECT_EQ(header->type, type);
        EXPECT_EQ(header->length, length);
        // Every string is one the decoder printed as a field of this structure.
        for (uint8_t n = 1; smbiosStr(header, n) != nullptr; ++n, ++strings) {
            EXPECT_NE(block.find(std::string(": ") + smbiosStr(header, n) + "\n"), std::string::npos)
                << +n;
        }
    }
    EXPECT_EQ(index, 9);  // "9 structures occupying 388 bytes."
    EXPECT_EQ(strings, 13u);  // none lost, none invented
    EXPECT_EQ(reader.getStructureCount(), index);

    std::ostringstream bios, eps;
    bios << reader.getStructureByType(SMBIOS_TYPE_BIOS_INFORMATION, 1);
    EXPECT_EQ(bios.str(),
              "Type: 0x0\n"
              "Length: 0x18\n"
              "Handle: 0x0\n"
              "Vendor: SeaBIOS\n"
              "BIOS Version: 1.16.2-debian-1.16.2-1\n"
              "BIOS Starting Address Segment: e800\n"
              "BIOS Release Date: 04/01/2014\n"
              "BIOS ROM Size: 64K\n"
              "BIOS Characteristics: 08 00 00 00 00 00 00 00 \n"
              "Raw Data: 00 18 00 00 01 02 00 e8 03 00 08 00 00 00 00 00 ................\n"
              "          00 00 00 04 00 00 ff ff                         ........\n"
              "\n");
    eps << reader.getEntryPoint();
    EXPECT_EQ(eps.str(), std::string("Anchor string                 : _SM_\n"
                                     "Entry Point Structure Checksum: 0x28\n"
                                     "Entry Point Length            : 0x1f\n"
                                     "SMBIOS Major Version          : 0x2\n"
                                     "SMBIOS Minor Version          : 0x8\n"
                                     "Maximum Structure Size        : 0x51\n"
                                     "Entry Point Revision          : 0x0\n"
                                     "Formatted Area                : ") +
                             std::string(5, '\0') +
                             "\n"
                             "Intermediate Anchor String    : _DMI_\n"
                             "Intermediate Checksum         : 0x39\n"
                             "Structure Table Length        : 0x184\n"
                             "Structure Table Address       : 0xf5a10\n"
                             "Number of SMBIOS Structures   : 0x9\n"
                             "SMBIOS BCD Revision           : 0x28\n"
                             "\n");
}

TEST(SmbiosFuzzRegressions, EveryKeptInputRuns) {
    size_t replayed = 0;
    for (const char* dir : {LROMUP_FUZZ_REGRESSIONS, LROMUP_FUZZ_CORPUS}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            const std::string data = readFile(entry.path().string());
            smbios_fuzz::runCase(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}

}  // namespace
