// The reader over tables built byte by byte: the entry-point search, the walk,
// the lookups and the strings, with firmware that lies about lengths and counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/smbios.h"
#include "tests/tables_fake_host.h"
#include "tests/tables_smbios_builder.h"

namespace {

constexpr uint32_t TABLE_AT = 0x9000;

// Three ordinary structures and End-of-Table.
SmbiosTableBuilder ordinaryTable() {
    SmbiosTableBuilder t;
    t.add(0, 0x0000, {1, 2, 0x00, 0xE8, 3, 0x0F}, {"Vendor", "61QM-1.0", "01/02/2010"})
        .add(1, 0x0100, {1, 2, 0, 0}, {"Maker", "Moro 310"})
        .add(2, 0x0200, {1, 0, 0, 0})  // one string number, but no strings at all
        .endOfTable();
    return t;
}

std::vector<uint8_t> types(SMBIOS& reader) {
    std::vector<uint8_t> out;
    for (uint16_t i = 0; reader.getStructure(i) != nullptr; ++i) {
        out.push_back(reader.getStructure(i)->type);
    }
    return out;
}

// --- Entry-point search ----------------------------------------------------

struct Anchor {
    bool sm;  // "_SM_" 2.x entry point, else a legacy "_DMI_" one
    uint32_t areaOffset;
    uint16_t handle;  // of the only structure in the table it points at
};

struct SearchCase {
    const char* name;
    std::vector<Anchor> anchors;
    int expectedHandle;  // -1: no table indexed
};

class SmbiosSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SmbiosSearch, FindsTheFirstAnchorOnA16ByteBoundary) {
    TablesFakeHost host;
    uint32_t tableAt = TABLE_AT;
    for (const Anchor& a : GetParam().anchors) {
        SmbiosTableBuilder t;
        t.add(3, a.handle, {}).endOfTable();
        host.load(tableAt, t.bytes.data(), t.size());
        if (a.sm) {
            placeEntryPoint(host, a.areaOffset, makeEntryPoint(tableAt, t.size(), 2));
        } else {
            placeDmiEntryPoint(host, a.areaOffset, tableAt, t.size(), 2);
        }
        tableAt += 0x100;
    }
    SMBIOS reader;
    EXPECT_EQ(reader.init(&host), 0);
    const s_SMBIOSHeader* first = reader.getStructure(0);
    if (GetParam().expectedHandle < 0) {
        EXPECT_EQ(first, nullptr);
        EXPECT_EQ(reader.getStructureByType(3, 1), nullptr);
        EXPECT_EQ(reader.getStructureByHandle(0), nullptr);
    } else {
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(+first->handle, GetParam().expectedHandle);
    }
    // The search reads the legacy area once, at its base.
    ASSERT_GE(host.reads.size(), 1u);
    EXPECT_EQ(host.reads[0].address, SMBIOS_SEARCH_BASE);
    EXPECT_EQ(host.reads[0].length, SMBIOS_SEARCH_LENGTH);
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, SmbiosSearch,
    ::testing::Values(
        SearchCase{"NoAnchor", {}, -1},
        SearchCase{"OffBoundary", {{true, 0x108, 0xA}, {false, 0x204, 0xB}}, -1},
        SearchCase{"DmiAlone", {{false, 0x4560, 0xA}}, 0xA},
        SearchCase{"DmiBeforeSm", {{false, 0x100, 0xA}, {true, 0x200, 0xB}}, 0xA},
        SearchCase{"SmBeforeDmi", {{true, 0x100, 0xA}, {false, 0x200, 0xB}}, 0xA},
        SearchCase{"DmiAtLastBoundary", {{false, 0xFFF0, 0xA}}, 0xA},
        // Only the first 16 bytes of a 2.x entry point fit there: no table fields.
        SearchCase{"SmAtLastBoundaryIsCut", {{true, 0xFFF0, 0xA}}, -1}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(SmbiosEntryPoint, CopiesWhatEachAnchorKindHolds) {
    SmbiosTableBuilder t = ordinaryTable();
    TablesFakeHost host;
    host.load(TABLE_AT, t.bytes.data(), t.size());

    // A legacy entry point lands at 0x10 of the record; the head stays zero.
    placeDmiEntryPoint(host, 0x40, TABLE_AT, t.size(), 4);
    SMBIOS dmi;
    dmi.init(&host);
    const auto* bytes = reinterpret_cast<const unsigned char*>(dmi.getEntryPoint());
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + SMBIOS_DMI_EPS_OFFSET),
              std::vector<unsigned char>(SMBIOS_DMI_EPS_OFFSET, 0));
    EXPECT_EQ(dmi.getEntryPoint()->tableAddress, TABLE_AT);
    EXPECT_EQ(dmi.getEntryPoint()->bcdRevision, 0x24);

    // A 2.x entry point claiming 255 bytes: 32 are copied.
    s_SMBIOSeps eps = makeEntryPoint(TABLE_AT, t.size(), 4);
    eps.length = 0xFF;
    eps.reserved = 0x5A;
    host.load(SMBIOS_SEARCH_BASE + 0x40, &eps, sizeof(eps));
    SMBIOS longer;
    longer.init(&host);
    ASSERT_NE(longer.getEntryPoint(), nullptr);
    EXPECT_EQ(longer.getEntryPoint()->reserved, 0x5A);
    EXPECT_EQ(longer.getStructureCount(), 4);

    // One claiming 0x10 bytes: the table fields are not copied.
    eps.length = 0x10;
    host.load(SMBIOS_SEARCH_BASE + 0x40, &eps, sizeof(eps));
    SMBIOS shorter;
    shorter.init(&host);
    ASSERT_NE(shorter.getEntryPoint(), nullptr);
    EXPECT_EQ(shorter.getEntryPoint()->tableAddress, 0u);
    EXPECT_EQ(shorter.getStructure(0), nullptr);
}

// --- Structure walk --------------------------------------------------------

struct WalkCase {
    const char* name;
    std::vector<uint8_t> table;
    uint16_t tableLength;  // as announced
    uint16_t count;        // as announced
    std::vector<uint8_t> expectedTypes;
};

class SmbiosWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(SmbiosWalk, IndexesWhatTheTableHolds) {
    const WalkCase& c = GetParam();
    TablesFakeHost host;
    host.load(TABLE_AT, c.table.data(), c.table.size());
    placeEntryPoint(host, 0x10, makeEntryPoint(TABLE_AT, c.tableLength, c.count));
    SMBIOS reader;
    reader.init(&host);
    EXPECT_EQ(types(reader), c.expectedTypes);
    EXPECT_EQ(reader.getStructureCount(), c.expectedTypes.size());
    // Every indexed structure starts inside the table copy's announced length.
    for (uint16_t i = 0; i < reader.getStructureCount(); ++i) {
        const auto* first = reinterpret_cast<const unsigned char*>(reader.getStructure(0));
        const auto* here = reinterpret_cast<const unsigned char*>(reader.getStructure(i));
        EXPECT_LE(here - first + sizeof(s_SMBIOSHeader), c.tableLength);
    }
}

std::vector<uint8_t> tableWithTwoTrailing() {
    SmbiosTableBuilder t = ordinaryTable();
    t.add(5, 0x0500, {}).add(6, 0x0600, {});
    return t.bytes;
}

const uint16_t ORDINARY = ordinaryTable().size();

INSTANTIATE_TEST_SUITE_P(
    Tables, SmbiosWalk,
    ::testing::Values(
        WalkCase{"Ordinary", ordinaryTable().bytes, ORDINARY, 4, {0, 1, 2, 127}},
        // End-of-Table ends the walk although more are announced and present.
        WalkCase{"EndOfTableBeforeCount", tableWithTwoTrailing(),
                 static_cast<uint16_t>(tableWithTwoTrailing().size()), 6, {0, 1, 2, 127}},
        WalkCase{"CountBeforeEndOfTable", ordinaryTable().bytes, ORDINARY, 2, {0, 1}},
        WalkCase{"ZeroCount", ordinaryTable().bytes, ORDINARY, 0, {}},
        WalkCase{"ZeroLength", ordinaryTable().bytes, 0, 4, {}},
        // Count larger than the structures present: the copy's end stops it.
        WalkCase{"CountPastTheTable", SmbiosTableBuilder().add(3, 3, {}).add(4, 4, {}).bytes,
                 12, 0xFFFF, {3, 4}},
        // Table length ends inside End-of-Table's header: it is not indexed.
        WalkCase{"HeaderCutByLength", ordinaryTable().bytes,
                 static_cast<uint16_t>(ORDINARY - 4), 4, {0, 1, 2}},
        // A formatted length past the copy: indexed, and the walk ends there.
        WalkCase{"FormattedLengthPastCopy",
                 SmbiosTableBuilder().add(3, 3, {}).raw({9, 0xF0, 9, 0, 'x', 'y'}).bytes, 12, 5,
                 {3, 9}},
        // A string set without its double NUL runs to the end of the copy.
        WalkCase{"UnterminatedStrings",
                 SmbiosTableBuilder().add(3, 3, {}).raw({4, 5, 4, 0, 1, 'a', 'b', 'c'}).bytes, 14,
                 5, {3, 4}},
        // Formatted lengths below the header size still move the walk on.
        WalkCase{"FormattedLengthZero",
                 SmbiosTableBuilder().raw({8, 0, 8, 8, 0, 0}).add(9, 9, {}).bytes, 12, 3, {8, 9}}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(SmbiosWalkMemory, TableThatWouldWrapTheAddressSpaceIsNotRead) {
    TablesFakeHost host;
    placeEntryPoint(host, 0x10, makeEntryPoint(0xFFFFFF00, 0x200, 4));
    SMBIOS reader;
    reader.init(&host);
    EXPECT_EQ(reader.getStructure(0), nullptr);
    EXPECT_EQ(host.reads.size(), 1u);
}

TEST(SmbiosWalkMemory, TableOverOpenBusEndsAtTheCopy) {
    TablesFakeHost host;  // above 1 MiB every byte reads 0xFF: no double NUL anywhere
    placeEntryPoint(host, 0x10, makeEntryPoint(0xFFF00000, 0x400, 100));
    SMBIOS reader;
    reader.init(&host);
    ASSERT_NE(reader.getStructure(0), nullptr);
    EXPECT_EQ(reader.getStructure(0)->type, 0xFF);
    EXPECT_EQ(reader.getStructure(1), nullptr);
    // The first string runs to the end of the copy and no further.
    ASSERT_NE(smbiosStr(reader.getStructure(0), 1), nullptr);
    EXPECT_EQ(std::string(smbiosStr(reader.getStructure(0), 1)), std::string(0x400 - 0xFF, '\xFF'));
    EXPECT_EQ(smbiosStr(reader.getStructure(0), 2), nullptr);
}

// --- Lookups and strings ---------------------------------------------------

class SmbiosLookup : public ::testing::Test {
protected:
    void SetUp() override {
        table.add(4, 0x0040, {1, 0}, {"CPU 0"})
            .add(7, 0x0070, {})
            .add(4, 0x0041, {1, 0}, {"CPU 1"})
            .add(16, 0x0041, {})  // duplicate handle
            .add(17, 0x0100, {1, 2, 3}, {"DIMM 0", "Maker"})
            .endOfTable();
        host.load(TABLE_AT, table.bytes.data(), table.size());
        placeEntryPoint(host, 0x800, makeEntryPoint(TABLE_AT, table.size(), 6));
        reader.init(&host);
    }
    SmbiosTableBuilder table;
    TablesFakeHost host;
    SMBIOS reader;
};

TEST_F(SmbiosLookup, ByTypeCountsInstancesInTableOrder) {
    ASSERT_NE(reader.getStructureByType(4, 2), nullptr);
    EXPECT_EQ(+reader.getStructureByType(4, 2)->handle, 0x0041);
    EXPECT_EQ(+reader.getStructureByType(4, 1)->handle, 0x0040);
    EXPECT_EQ(reader.getStructureByType(4, 3), nullptr);
    EXPECT_EQ(reader.getStructureByType(4, 0), nullptr);
    EXPECT_EQ(reader.getStructureByType(4, 255), nullptr);
    EXPECT_EQ(reader.getStructureByType(99, 1), nullptr);
}

TEST_F(SmbiosLookup, ByHandleReturnsTheFirstMatch) {
    ASSERT_NE(reader.getStructureByHandle(0x0041), nullptr);
    EXPECT_EQ(reader.getStructureByHandle(0x0041)->type, 4);
    EXPECT_EQ(reader.getStructureByHandle(0x7F00)->type, SMBIOS_TYPE_END_OF_TABLE);
    EXPECT_EQ(reader.getStructureByHandle(0x0042), nullptr);
}

TEST_F(SmbiosLookup, StringsByNumber) {
    const s_SMBIOSHeader* dimm = reader.getStructureByType(17, 1);
    EXPECT_EQ(smbiosStr(dimm, 0), nullptr);
    EXPECT_STREQ(smbiosStr(dimm, 1), "DIMM 0");
    EXPECT_STREQ(smbiosStr(dimm, 2), "Maker");
    EXPECT_EQ(smbiosStr(dimm, 3), nullptr);    // past the last string
    EXPECT_EQ(smbiosStr(dimm, 255), nullptr);  // does not walk into the next structure
    EXPECT_EQ(smbiosStr(reader.getStructureByType(7, 1), 1), nullptr);  // no strings at all
    EXPECT_EQ(smbiosStr(nullptr, 1), nullptr);
    // The structure after a string-less one starts right after its two NULs.
    EXPECT_STREQ(smbiosStr(reader.getStructureByType(4, 2), 1), "CPU 1");
}

TEST_F(SmbiosLookup, FieldsAreBoundedByTheFormattedLength) {
    const s_SMBIOSHeader* cpu = reader.getStructureByType(4, 1);  // formatted length 6
    EXPECT_EQ(smbiosByte(cpu, 4), 1);
    EXPECT_EQ(smbiosByte(cpu, 6), 0);  // first string byte 'C' lies past the formatted area
    EXPECT_EQ(smbiosWord(cpu, 2), 0x0040);
    EXPECT_EQ(smbiosWord(cpu, 5), 0);  // straddles the end
    EXPECT_EQ(smbiosByte(nullptr, 0), 0);
}

}  // namespace
