// The reader and the text dumps over a legacy BIOS area dumped from a virtual
// machine, checked against what a standard decoder printed for the same table.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

namespace {

std::string readFile(const char* name) {
    std::ifstream in(std::string(LROMUP_SMBIOS_TESTDATA) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SeaBiosTable : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string area = readFile("seabios-i440fx.legacy.bin");
        ASSERT_EQ(area.size(), SMBIOS_SEARCH_LENGTH);
        host.load(SMBIOS_SEARCH_BASE, area.data(), area.size());
        decoded = readFile("seabios-i440fx.dmidecode.txt");
        ASSERT_FALSE(decoded.empty());
        reader.init(&host);
    }

    TablesFakeHost host;
    SMBIOS reader;
    std::string decoded;  // the decoder's text
};

TEST_F(SeaBiosTable, ReadsAreaAndTableOnceAndFindsWhatTheDecoderPrinted) {
    // One read of the legacy area for the search, one of the table.
    ASSERT_NE(reader.getEntryPoint(), nullptr);
    const std::vector<std::pair<uint32_t, uint32_t>> reads = {
        {SMBIOS_SEARCH_BASE, SMBIOS_SEARCH_LENGTH}, {reader.getEntryPoint()->tableAddress, 388}};
    EXPECT_EQ(host.reads, reads);
    std::istringstream text(decoded);
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
    EXPECT_EQ(reader.getStructure(index), nullptr);
}

TEST_F(SeaBiosTable, DumpsOfStructuresAndEntryPointAreByteExact) {
    std::ostringstream bios, system, eps;
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
    // System Information: the fields the BIOS dump has no counterpart for.
    system << reader.getStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1);
    EXPECT_NE(system.str().find("\nSerial Number: \nUUID: 00 00 00 00 00 00 00 00 00 00 00 00 "
                                "00 00 00 00 \nWake-up Type: Power Switch\nRaw Data: "),
              std::string::npos) << system.str();
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

}  // namespace
