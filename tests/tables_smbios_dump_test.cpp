// Text of structures built here, dumped through a reader that indexed them:
// raw rows, fields the structure is too short for, values without a name.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"
#include "tests/tables_smbios_builder.h"

namespace {

// The text of the only structure of a table; the stream must stay hexadecimal.
std::string dump(const SmbiosTableBuilder& table) {
    TablesFakeHost host;
    placeTable(host, table.bytes, table.size(), 1);
    SMBIOS reader;
    reader.init(&host);
    std::ostringstream out;
    out << reader.getStructure(0) << 255;
    const std::string text = out.str();
    EXPECT_EQ(text.substr(text.size() - 2), "ff");
    return text.substr(0, text.size() - 2);
}

TEST(SmbiosDump, RawRowsFillersAndCharacterColumn) {
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

TEST(SmbiosDump, FieldsWithoutAValuePrintOnlyTheirLabel) {
    // An early System Information structure of 8 bytes has no UUID or wake-up
    // type; the bytes after it are its strings, not fields.
    SmbiosTableBuilder early;
    early.add(1, 0x100, {1, 2, 0, 0}, {"Maker", "Box"});
    std::string text = dump(early);
    EXPECT_NE(text.find("\nProductName: Box\nVersion: \nSerial Number: \nUUID: \nWake-up Type: \n"),
              std::string::npos)
        << text;

    // A wake-up type past the named ones; a BIOS structure too short for its characteristics.
    std::vector<uint8_t> formatted(SYSTEM_INFO_WAKEUP_TYPE - sizeof(s_SMBIOSHeader) + 1, 0);
    formatted.back() = 9;
    text = dump(SmbiosTableBuilder().add(1, 0x100, formatted));
    EXPECT_NE(text.find("\nWake-up Type: \nRaw Data: "), std::string::npos) << text;
    text = dump(SmbiosTableBuilder().add(0, 0x10, {0, 0, 0, 0, 0, 0x0F}));
    EXPECT_NE(text.find("\nBIOS ROM Size: 1024K\nBIOS Characteristics: \n"), std::string::npos)
        << text;
}

TEST(SmbiosDump, NullPointersPrintNothing) {
    std::ostringstream out;
    out << static_cast<const s_SMBIOSHeader*>(nullptr) << static_cast<const s_SMBIOSeps*>(nullptr);
    EXPECT_EQ(out.str(), "");
}

}  // namespace
