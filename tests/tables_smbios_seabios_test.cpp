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

    // The decoder's block for a handle: from its "Handle" line to the blank line.
    std::string decodedBlock(unsigned int handle) const {
        char head[32];
        std::snprintf(head, sizeof(head), "Handle 0x%04X,", handle);
        const size_t at = decoded.find(head);
        return at == std::string::npos ? "" : decoded.substr(at, decoded.find("\n\n", at) - at);
    }

    TablesFakeHost host;
    SMBIOS reader;
    std::string decoded;  // the decoder's text
};

TEST_F(SeaBiosTable, ReadsAreaAndTableOnceAndWalksAsTheDecoderDid) {
    // One read of the legacy area for the search, one of the table.
    ASSERT_NE(reader.getEntryPoint(), nullptr);
    const std::vector<std::pair<uint32_t, uint32_t>> reads = {
        {SMBIOS_SEARCH_BASE, SMBIOS_SEARCH_LENGTH}, {reader.getEntryPoint()->tableAddress, 388}};
    EXPECT_EQ(host.reads, reads);
    std::istringstream text(decoded);
    std::string line;
    uint16_t index = 0;
    while (std::getline(text, line)) {
        unsigned int handle = 0, type = 0, length = 0;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &handle, &type,
                        &length) != 3) {
            continue;
        }
        SCOPED_TRACE(line);
        const s_SMBIOSHeader* header = reader.getStructure(index++);
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(+header->handle, handle);
        EXPECT_EQ(header->type, type);
        EXPECT_EQ(header->length, length);
    }
    EXPECT_EQ(index, 9);  // "9 structures occupying 388 bytes."
    EXPECT_EQ(reader.getStructureCount(), index);
    EXPECT_EQ(reader.getStructure(index), nullptr);
}

TEST_F(SeaBiosTable, StringsMatchDecoder) {
    const struct {
        uint16_t handle;
        unsigned int offset;
        const char* label;
    } rows[] = {
        {0x0000, BIOS_INFO_RELEASE_DATE, "Release Date"},
        {0x0100, SYSTEM_INFO_PRODUCT_NAME, "Product Name"},
        {0x0300, 0x04, "Manufacturer"},
        {0x0400, 0x04, "Socket Designation"},
        {0x0400, 0x10, "Version"},
        {0x1100, 0x10, "Locator"},
        {0x1100, 0x17, "Manufacturer"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.handle << " " << row.label);
        const s_SMBIOSHeader* header = reader.getStructureByHandle(row.handle);
        const char* got = smbiosStr(header, smbiosByte(header, row.offset));
        ASSERT_NE(got, nullptr);
        EXPECT_NE(decodedBlock(row.handle).find("\n\t" + std::string(row.label) + ": " + got + "\n"),
                  std::string::npos);
    }
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
    system << reader.getStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1);
    EXPECT_EQ(system.str(),
              "Type: 0x1\n"
              "Length: 0x1b\n"
              "Handle: 0x100\n"
              "Manufacturer: QEMU\n"
              "ProductName: Standard PC (i440FX + PIIX, 1996)\n"
              "Version: pc-i440fx-7.2\n"
              "Serial Number: \n"
              "UUID: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n"
              "Wake-up Type: Power Switch\n"
              "Raw Data: 01 1b 00 01 01 02 03 00 00 00 00 00 00 00 00 00 ................\n"
              "          00 00 00 00 00 00 00 00 06 00 00                ...........\n"
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

}  // namespace
