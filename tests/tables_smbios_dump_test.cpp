// Text of structures and entry points, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"
#include "tests/tables_smbios_builder.h"

namespace {

constexpr uint32_t TABLE_AT = 0x9000;

class SeaBiosDump : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(std::string(LROMUP_SMBIOS_TESTDATA) + "/seabios-i440fx.legacy.bin",
                         std::ios::binary);
        const std::vector<unsigned char> area((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        ASSERT_EQ(area.size(), SMBIOS_SEARCH_LENGTH);
        host.load(SMBIOS_SEARCH_BASE, area.data(), area.size());
        reader.init(&host);
    }
    TablesFakeHost host;
    SMBIOS reader;
};

TEST_F(SeaBiosDump, BiosInformation) {
    std::ostringstream out;
    out << reader.getStructureByType(SMBIOS_TYPE_BIOS_INFORMATION, 1);
    EXPECT_EQ(out.str(),
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
}

TEST_F(SeaBiosDump, SystemInformation) {
    std::ostringstream out;
    out << reader.getStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1);
    EXPECT_EQ(out.str(),
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
}

TEST_F(SeaBiosDump, EntryPoint) {
    std::ostringstream out;
    out << reader.getEntryPoint();
    EXPECT_EQ(out.str(), std::string("Anchor string                 : _SM_\n"
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

// Structures built here, dumped through a reader that indexed them.
class BuiltDump : public ::testing::Test {
protected:
    std::string dump(const SmbiosTableBuilder& table) {
        host.load(TABLE_AT, table.bytes.data(), table.size());
        placeEntryPoint(host, 0, makeEntryPoint(TABLE_AT, table.size(), 1));
        reader.init(&host);
        std::ostringstream out;
        out << reader.getStructure(0);
        return out.str();
    }
    TablesFakeHost host;
    SMBIOS reader;
};

TEST_F(BuiltDump, RawRowsFillersAndCharacterColumn) {
    // Formatted length 0x12: a full row, then 2 bytes and 14 fillers. The
    // character column shows 0x20..0x7F as they are and dots otherwise.
    SmbiosTableBuilder t;
    t.add(0x80, 0xBEEF, {'A', 'z', 0x1F, 0x20, 0x7F, 0x80, 0xFF, '~', '0', '1', '2', '3', 'b', 'c'},
          {"unused"});
    EXPECT_EQ(dump(t),
              "Type: 0x80\n"
              "Length: 0x12\n"
              "Handle: 0xbeef\n"
              "Raw Data: 80 12 ef be 41 7a 1f 20 7f 80 ff 7e 30 31 32 33 ....Az. \x7f..~0123\n"
              "          62 63                                           bc\n"
              "\n");
}

TEST_F(BuiltDump, RomSizeIsDecimalAndStreamStaysHex) {
    SmbiosTableBuilder t;
    t.add(0, 0x10, {1, 0, 0x00, 0xF0, 0, 0x0F, 0x90, 0xA0, 0, 0, 0, 0, 0, 0x01}, {"V"});
    const std::string text = dump(t);
    EXPECT_NE(text.find("\nBIOS ROM Size: 1024K\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nBIOS Starting Address Segment: f000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nBIOS Characteristics: 90 a0 00 00 00 00 00 01 \n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\nVendor: V\nBIOS Version: \n"), std::string::npos) << text;

    std::ostringstream out;
    out << reader.getStructure(0) << 255;
    EXPECT_EQ(out.str().substr(out.str().size() - 2), "ff");
}

TEST_F(BuiltDump, FieldsWithoutAValuePrintOnlyTheirLabel) {
    // An early System Information structure of 8 bytes has no UUID or wake-up
    // type; the bytes after it are its strings, not fields.
    SmbiosTableBuilder early;
    early.add(1, 0x100, {1, 2, 0, 0}, {"Maker", "Box"});
    std::string text = dump(early);
    EXPECT_NE(text.find("\nProductName: Box\nVersion: \nSerial Number: \nUUID: \nWake-up Type: \n"),
              std::string::npos)
        << text;

    // A wake-up type past the named ones.
    SmbiosTableBuilder later;
    std::vector<uint8_t> formatted(SYSTEM_INFO_WAKEUP_TYPE - sizeof(s_SMBIOSHeader) + 1, 0);
    formatted.back() = 9;
    later.add(1, 0x100, formatted);
    text = dump(later);
    EXPECT_NE(text.find("\nWake-up Type: \nRaw Data: "), std::string::npos) << text;
}

TEST(DumpNull, NullPointersPrintNothing) {
    std::ostringstream out;
    out << static_cast<const s_SMBIOSHeader*>(nullptr) << static_cast<const s_SMBIOSeps*>(nullptr);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
