// The reader over tables built byte by byte: the entry-point search, the walk,
// the lookups and the strings, with firmware that lies about lengths and
// counts; and every input the fuzzer kept.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/smbios_fuzz_case.h"
#include "tables/smbios.h"
#include "tests/tables_fake_host.h"

namespace {

constexpr uint32_t TEST_TABLE_AT = 0x9000;

class SmbiosTableBuilder {
public:
    // A structure: header, the formatted bytes after the header, then the
    // string set (two NULs when there are no strings).
    SmbiosTableBuilder& add(uint8_t type, uint16_t handle, const std::vector<uint8_t>& formatted,
                            const std::vector<std::string>& strings = {}) {
        raw({type, static_cast<uint8_t>(sizeof(s_SMBIOSHeader) + formatted.size()),
             static_cast<uint8_t>(handle & 0xFF), static_cast<uint8_t>(handle >> 8)});
        raw(formatted);
        for (const std::string& s : strings) {
            bytes.insert(bytes.end(), s.c_str(), s.c_str() + s.size() + 1);
        }
        return raw(strings.empty() ? std::vector<uint8_t>{0, 0} : std::vector<uint8_t>{0});
    }
    SmbiosTableBuilder& raw(const std::vector<uint8_t>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    uint16_t size() const { return static_cast<uint16_t>(bytes.size()); }

    std::vector<uint8_t> bytes;
};

// Places an entry point at an offset of the legacy area: a 2.x "_SM_" record
// claiming `length` bytes, or (legacy) only its 15-byte "_DMI_" part.
void placeEntryPoint(TablesFakeHost& host, uint32_t areaOffset, uint32_t tableAddress,
                     uint16_t tableLength, uint16_t structureCount, uint8_t length = 0x1F,
                     bool legacy = false) {
    s_SMBIOSeps eps{};
    std::memcpy(eps.anchor, "_SM_", 4);
    eps.length = length;
    std::memcpy(eps.intermediateAnchor, "_DMI_", 5);
    eps.tableLength = tableLength;
    eps.tableAddress = tableAddress;
    eps.structureCount = structureCount;
    const auto* record = reinterpret_cast<const unsigned char*>(&eps);
    host.load(SMBIOS_SEARCH_BASE + areaOffset, legacy ? record + SMBIOS_DMI_EPS_OFFSET : record,
              legacy ? SMBIOS_DMI_EPS_LENGTH : sizeof(eps));
}

// Places table bytes and a 2.x entry point announcing them.
void placeTable(TablesFakeHost& host, const std::vector<uint8_t>& table, uint16_t tableLength,
                uint16_t count, uint32_t tableAt = TEST_TABLE_AT) {
    host.load(tableAt, table.data(), table.size());
    placeEntryPoint(host, 0x10, tableAt, tableLength, count);
}

std::vector<uint8_t> types(SMBIOS& reader) {
    std::vector<uint8_t> out;
    for (uint16_t i = 0; reader.getStructure(i) != nullptr; ++i) {
        out.push_back(reader.getStructure(i)->type);
    }
    EXPECT_EQ(reader.getStructureCount(), out.size());
    return out;
}

// --- Entry-point search ----------------------------------------------------

TEST(SmbiosSearch, TakesTheFirstAnchorOnA16ByteBoundaryAndCopiesOnlyWhatIsThere) {
    struct Anchor {
        bool legacy;  // a 15-byte "_DMI_" entry point, else a 2.x "_SM_" one
        uint32_t areaOffset;
        uint8_t length;  // what a 2.x entry point claims
    };
    const struct {
        const char* name;
        std::vector<Anchor> anchors;  // each points at a table of one structure of type 10 + i
        std::vector<uint8_t> expectedTypes;
    } rows[] = {
        {"off boundary", {{false, 0x108, 0x1F}, {true, 0x204, 0x1F}}, {}},
        {"_DMI_ first", {{true, 0x100, 0x1F}, {false, 0x200, 0x1F}}, {10}},
        {"_SM_ first", {{false, 0x100, 0x1F}, {true, 0x200, 0x1F}}, {10}},
        {"_DMI_ at the last boundary", {{true, 0xFFF0, 0x1F}}, {10}},
        // Only the first 16 bytes of a 2.x entry point fit there: no table fields.
        {"_SM_ at the last boundary is cut", {{false, 0xFFF0, 0x1F}}, {}},
        {"_SM_ claiming 255 bytes", {{false, 0x40, 0xFF}}, {10}},
        {"_SM_ claiming 16 bytes", {{false, 0x40, 0x10}}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TablesFakeHost host;
        for (uint8_t i = 0; i < row.anchors.size(); ++i) {
            const uint32_t tableAt = TEST_TABLE_AT + 0x100 * i;
            const Anchor& a = row.anchors[i];
            host.load(tableAt, SmbiosTableBuilder().add(10 + i, 1, {}).bytes.data(), 6);
            placeEntryPoint(host, a.areaOffset, tableAt, 6, 1, a.length, a.legacy);
        }
        SMBIOS reader;
        EXPECT_EQ(reader.init(&host), 0);
        EXPECT_EQ(types(reader), row.expectedTypes);
    }
}

// --- Structure walk --------------------------------------------------------

TEST(SmbiosWalk, StopsAtEndOfTableTheCountOrTheCopyWhicheverComesFirst) {
    SmbiosTableBuilder ordinary;  // three structures and End-of-Table
    ordinary.add(0, 0x0000, {1, 2, 0x00, 0xE8, 3, 0x0F}, {"Vendor", "61QM-1.0", "01/02/2010"})
        .add(1, 0x0100, {1, 2, 0, 0}, {"Maker", "Moro 310"})
        .add(2, 0x0200, {1, 0, 0, 0})  // one string number, but no strings at all
        .add(SMBIOS_TYPE_END_OF_TABLE, 0x7F00, {});
    const uint16_t size = ordinary.size();
    const struct {
        const char* name;
        std::vector<uint8_t> table;
        uint16_t tableLength;  // as announced
        uint16_t count;        // as announced
        std::vector<uint8_t> expectedTypes;
        uint32_t tableAt = TEST_TABLE_AT;
    } rows[] = {
        {"End-of-Table before the count", SmbiosTableBuilder(ordinary).add(5, 5, {}).bytes,
         static_cast<uint16_t>(size + 6), 5, {0, 1, 2, 127}},
        {"count before End-of-Table", ordinary.bytes, size, 2, {0, 1}},
        // End-of-Table's 4-byte header is indexed only when all of it is in the copy.
        {"header cut by the length", ordinary.bytes, static_cast<uint16_t>(size - 4), 4, {0, 1, 2}},
        {"header ends the copy", ordinary.bytes, static_cast<uint16_t>(size - 2), 4, {0, 1, 2, 127}},
        {"formatted length past the copy (indexed, ends the walk)",
         SmbiosTableBuilder().add(3, 3, {}).raw({9, 0xF0, 9, 0, 'x', 'y'}).bytes, 12, 5, {3, 9}},
        {"unterminated string set",
         SmbiosTableBuilder().add(3, 3, {}).raw({4, 5, 4, 0, 1, 'a', 'b', 'c'}).bytes, 14, 5,
         {3, 4}},
        // A table that would wrap past 4 GiB is not read (open bus would index 0xFF).
        {"address wraps", {}, 0x200, 4, {}, 0xFFFFFF00},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TablesFakeHost host;
        placeTable(host, row.table, row.tableLength, row.count, row.tableAt);
        SMBIOS reader;
        reader.init(&host);
        EXPECT_EQ(types(reader), row.expectedTypes);
    }
}

// --- Lookups and strings ---------------------------------------------------

TEST(SmbiosLookup, ByTypeFieldsAndStringsStayInsideTheirStructure) {
    SmbiosTableBuilder table;
    table.add(4, 0x0040, {1, 0}, {"CPU 0"})
        .add(7, 0x0070, {})
        .add(4, 0x0041, {1, 0}, {"CPU 1"})
        .add(17, 0x0100, {1, 2, 3}, {"DIMM 0", "Maker"})
        .raw({5, 5, 0x50, 0, 1, 'e', 'n', 'd'});  // the copy ends inside its string set
    TablesFakeHost host;
    placeTable(host, table.bytes, table.size(), 5);
    SMBIOS reader;
    reader.init(&host);
    // Handles are packed fields: compare through a copy.
    const auto handle = [](const s_SMBIOSHeader* h) { return h ? +h->handle : -1; };
    EXPECT_EQ(handle(reader.getStructureByType(4, 2)), 0x0041);
    EXPECT_EQ(handle(reader.getStructureByType(4, 1)), 0x0040);
    EXPECT_EQ(reader.getStructureByType(4, 3), nullptr);
    EXPECT_EQ(reader.getStructureByType(4, 0), nullptr);
    const s_SMBIOSHeader* cpu = reader.getStructureByType(4, 1);  // formatted length 6
    EXPECT_EQ(smbiosByte(cpu, 4), 1);
    EXPECT_EQ(smbiosByte(cpu, 6), 0);  // first string byte 'C' lies past the formatted area
    EXPECT_EQ(smbiosWord(cpu, 5), 0);  // straddles the end
    EXPECT_EQ(smbiosByte(nullptr, 0), 0);

    const s_SMBIOSHeader* dimm = reader.getStructureByType(17, 1);
    const struct {
        const s_SMBIOSHeader* header;
        uint8_t number;
        const char* expected;  // nullptr: no string (STREQ tells it from "")
    } rows[] = {
        {dimm, 0, nullptr}, {dimm, 1, "DIMM 0"}, {dimm, 2, "Maker"}, {dimm, 3, nullptr},
        {cpu, 3, nullptr},  // not the header of the next structure
        {reader.getStructureByType(7, 1), 1, nullptr},  // no strings at all
        {nullptr, 1, nullptr},
        // The structure after a string-less one starts right after its two NULs.
        {reader.getStructureByType(4, 2), 1, "CPU 1"},
        // No double NUL before the copy ends: the string stops there.
        {reader.getStructureByType(5, 1), 1, "end"}, {reader.getStructureByType(5, 1), 2, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "string " << +row.number);
        EXPECT_STREQ(smbiosStr(row.header, row.number), row.expected);
    }
}

// Every input the SMBIOS fuzzer kept (a placeholder file is an empty input)
// runs through the reader and its text dumps, so a fixed fault stays fixed in
// builds without the fuzzer.
TEST(SmbiosFuzzRegressions, EveryKeptInputRuns) {
    size_t replayed = 0;
    for (const char* dir : {LROMUP_FUZZ_REGRESSIONS, LROMUP_FUZZ_CORPUS}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            SCOPED_TRACE(entry.path().string());
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            smbios_fuzz::runCase(reinterpret_cast<const uint8_t*>(data.data()), data.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}

}  // namespace
