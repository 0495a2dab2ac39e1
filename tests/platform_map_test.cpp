#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "flash/settings.h"
#include "platform/x86qm.h"
#include "platform_board.h"

namespace {

struct FileRow {
    uint32_t offset, size;
};

struct MapCase {
    uint32_t hostBridge;
    unsigned short imageBiosType;
    uint32_t flashSize;
    FileRow primary, backup;
};

// Every generation against every combination of the two region-image bits.
const MapCase MAP_CASES[] = {
    {HOST_BRIDGE_ID_PCH, 0, 0x800000, {0, 0x800000}, {0, 0x800000}},
    {HOST_BRIDGE_ID_PCH, IMAGE_PRIMARY_REGION, 0x800000, {0x600000, 0x200000}, {0, 0x800000}},
    {HOST_BRIDGE_ID_PCH, IMAGE_BACKUP_REGION, 0x800000, {0, 0x800000}, {0x600000, 0x200000}},
    {HOST_BRIDGE_ID_ICH, 0, 0x200000, {0, 0x200000}, {0, 0x200000}},
    {HOST_BRIDGE_ID_ICH, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0x200000,
     {0x3000, 0x180000}, {0x3000, 0x180000}},
    // Neither generation: an empty map, nothing to erase or write.
    {0x12378086, 0, 0, {0, 0}, {0, 0}},
    {0x12378086, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0, {0, 0}, {0, 0}},
};

class FlashMapTest : public ::testing::TestWithParam<MapCase> {
protected:
    void TearDown() override { resetSettings(); }
};

TEST_P(FlashMapTest, LayoutFollowsGenerationAndImageKind) {
    const MapCase& c = GetParam();
    SimBoard board(c.hostBridge);
    resetSettings();
    image_bios_type = c.imageBiosType;
    x86QMPlatform platform(&board.os);
    s_FlashMap* map = platform.getFlashMap();

    EXPECT_EQ(map->flashSize, c.flashSize);
    EXPECT_EQ(map->blockSize, 0x10000u);
    ASSERT_EQ(map->descriptionCount, 4);
    const struct {
        uint32_t id;
        const char* name;
        FileRow file;
    } expected[] = {{0, "xv3LpoSa.ROM", c.primary},
                    {9, "LPCSPFW.BIN", {0x4000, 0xC000}},
                    {10, "SPFULL.BIN", {0, 0x10000}},
                    {1, "4qj9nusd.ROM", c.backup}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const s_FirmwareDescription* d = map->descriptions[i];
        EXPECT_EQ(d->id, expected[i].id);
        ASSERT_EQ(d->fileCount, 1);
        EXPECT_STREQ(d->files[0]->name, expected[i].name);
        EXPECT_EQ(d->files[0]->offset, expected[i].file.offset);
        EXPECT_EQ(d->files[0]->size, expected[i].file.size);
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, FlashMapTest, ::testing::ValuesIn(MAP_CASES));

TEST(FlashMapLifecycle, MapIsStableAndRenamedFilesAreSeenByLookups) {
    SimBoard board;
    std::unique_ptr<Platform> platform(platInit(&board.os));
    s_FlashMap* map = platform->getFlashMap();
    char userName[] = "user.rom";
    map->descriptions[0]->files[0]->name = userName;  // as the run sequence does

    EXPECT_EQ(platform->getFlashMap(), map);
    s_FirmwareDescription* primary = FindFirmware(&board.os, platform.get(), 0, "BIOS", nullptr);
    EXPECT_STREQ(primary->files[0]->name, "user.rom");
    EXPECT_EQ(FindFirmware(&board.os, platform.get(), 1, "Backup BIOS", "-2"),
              map->descriptions[3]);
    // Deleting through the interface releases only what the platform allocated.
}

// The lookup's failure path ends the process after giving the host back.
void reportDestroyed(OS*) { std::fputs("host destroyed\n", stderr); }

TEST(FindFirmwareDeathTest, MissingIdEndsWith254AfterReleasingHost) {
    SimBoard board;
    x86QMPlatform platform(&board.os);
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);  // both streams into the checked one
            osSetHost([]() -> OS* { return nullptr; }, reportDestroyed);
            FindFirmware(&board.os, &platform, 5, "Backup BIOS", "-2");
        },
        ::testing::ExitedWithCode(254),
        "^the firmware_description firmware information is Backup BIOS\n"
        "Could not find Backup BIOS firmware information\n"
        "\"-2\" is an invalid switch for this version of wromup/lromup.\n"
        "host destroyed\n$");
    EXPECT_EXIT(FindFirmware(nullptr, &platform, 7, "SP", nullptr),
                ::testing::ExitedWithCode(254), "^Could not find SP firmware information\n$");
}

}  // namespace
