// The reader over a legacy BIOS area dumped from a virtual machine, checked
// against what a standard decoder printed for the same table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

namespace {

const std::string DATA_DIR = LROMUP_SMBIOS_TESTDATA;

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

// One "Handle 0x...., DMI type N, L bytes" block of the decoder's text.
struct DecodedStructure {
    unsigned int handle = 0;
    unsigned int type = 0;
    unsigned int length = 0;
    std::vector<std::string> lines;  // the block's lines, leading tabs removed

    std::string value(const std::string& label) const {
        const std::string prefix = label + ": ";
        for (const std::string& line : lines) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                return line.substr(prefix.size());
            }
        }
        return "<no " + label + ">";
    }
};

std::vector<DecodedStructure> readDecoderText(const std::string& path) {
    std::ifstream in(path);
    std::vector<DecodedStructure> blocks;
    std::string line;
    while (std::getline(in, line)) {
        DecodedStructure block;
        if (std::sscanf(line.c_str(), "Handle 0x%x, DMI type %u, %u bytes", &block.handle,
                        &block.type, &block.length) == 3) {
            blocks.push_back(block);
        } else if (!blocks.empty() && !line.empty() && line[0] == '\t') {
            blocks.back().lines.push_back(line.substr(line.find_first_not_of('\t')));
        }
    }
    return blocks;
}

class SeaBiosTable : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<unsigned char> area = readFile(DATA_DIR + "/seabios-i440fx.legacy.bin");
        ASSERT_EQ(area.size(), SMBIOS_SEARCH_LENGTH);
        host.load(SMBIOS_SEARCH_BASE, area.data(), area.size());
        decoded = readDecoderText(DATA_DIR + "/seabios-i440fx.dmidecode.txt");
        ASSERT_EQ(decoded.size(), 9u);
        reader.init(&host);
    }

    const char* str(uint16_t handle, unsigned int offset) {
        const s_SMBIOSHeader* header = reader.getStructureByHandle(handle);
        return header == nullptr ? nullptr : smbiosStr(header, smbiosByte(header, offset));
    }

    TablesFakeHost host;
    SMBIOS reader;
    std::vector<DecodedStructure> decoded;
};

TEST_F(SeaBiosTable, EntryPointIsFoundAndTableReadOnce) {
    const s_SMBIOSeps* eps = reader.getEntryPoint();
    ASSERT_NE(eps, nullptr);
    EXPECT_EQ(std::string(eps->anchor, 4), "_SM_");
    EXPECT_EQ(std::string(eps->intermediateAnchor, 5), "_DMI_");
    EXPECT_EQ(eps->majorVersion, 2);  // "SMBIOS 2.8 present."
    EXPECT_EQ(eps->minorVersion, 8);
    EXPECT_EQ(eps->tableLength, 388);  // "9 structures occupying 388 bytes."
    EXPECT_EQ(eps->structureCount, 9);

    // One read of the legacy area for the search, one of the table.
    const std::vector<TablesFakeHost::Read> expected = {
        {SMBIOS_SEARCH_BASE, SMBIOS_SEARCH_LENGTH}, {eps->tableAddress, 388}};
    EXPECT_EQ(host.reads, expected);
    EXPECT_GE(eps->tableAddress, SMBIOS_SEARCH_BASE);
}

TEST_F(SeaBiosTable, WalkMatchesDecoderHandlesTypesAndLengths) {
    ASSERT_EQ(reader.getStructureCount(), decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
        const s_SMBIOSHeader* header = reader.getStructure(static_cast<uint16_t>(i));
        ASSERT_NE(header, nullptr) << i;
        EXPECT_EQ(+header->handle, decoded[i].handle) << i;
        EXPECT_EQ(header->type, decoded[i].type) << i;
        EXPECT_EQ(header->length, decoded[i].length) << i;
        EXPECT_EQ(reader.getStructureByHandle(header->handle), header) << i;
    }
    EXPECT_EQ(reader.getStructure(static_cast<uint16_t>(decoded.size())), nullptr);
    EXPECT_EQ(reader.getStructure(0xFFFF), nullptr);
    ASSERT_NE(reader.getStructureByType(SMBIOS_TYPE_END_OF_TABLE, 1), nullptr);
    EXPECT_EQ(+reader.getStructureByType(SMBIOS_TYPE_END_OF_TABLE, 1)->handle, 0x7F00);
    EXPECT_EQ(reader.getStructureByType(4, 2), nullptr);  // one processor
    EXPECT_EQ(reader.getStructureByHandle(0x0200), nullptr);
}

TEST_F(SeaBiosTable, StringsMatchDecoder) {
    struct Expect {
        uint16_t handle;
        unsigned int offset;
        const char* label;
    };
    const Expect strings[] = {
        {0x0000, BIOS_INFO_VENDOR, "Vendor"},
        {0x0000, BIOS_INFO_VERSION, "Version"},
        {0x0000, BIOS_INFO_RELEASE_DATE, "Release Date"},
        {0x0100, SYSTEM_INFO_MANUFACTURER, "Manufacturer"},
        {0x0100, SYSTEM_INFO_PRODUCT_NAME, "Product Name"},
        {0x0100, SYSTEM_INFO_VERSION, "Version"},
        {0x0300, 0x04, "Manufacturer"},
        {0x0300, 0x06, "Version"},
        {0x0400, 0x04, "Socket Designation"},
        {0x0400, 0x07, "Manufacturer"},
        {0x0400, 0x10, "Version"},
        {0x1100, 0x10, "Locator"},
        {0x1100, 0x17, "Manufacturer"},
    };
    for (const Expect& e : strings) {
        const auto block = std::find_if(decoded.begin(), decoded.end(),
                                        [&](const DecodedStructure& d) { return d.handle == e.handle; });
        ASSERT_NE(block, decoded.end());
        const char* got = str(e.handle, e.offset);
        ASSERT_NE(got, nullptr) << e.label;
        EXPECT_EQ(got, block->value(e.label)) << std::hex << e.handle;
    }
    // "Not Specified" is the decoder's text for string number 0.
    EXPECT_EQ(str(0x0100, SYSTEM_INFO_SERIAL_NUMBER), nullptr);
    // Past the last of the BIOS structure's three strings.
    EXPECT_EQ(smbiosStr(reader.getStructureByType(SMBIOS_TYPE_BIOS_INFORMATION, 1), 4), nullptr);
}

}  // namespace
