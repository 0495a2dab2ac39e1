#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "flash/settings.h"
#include "platform/x86qm.h"
#include "platform_board.h"

namespace {

struct MapCase {
    uint32_t hostBridge;
    unsigned short imageBiosType;
    uint32_t flashSize, primaryOffset, primarySize, backupOffset, backupSize;
};

// Every generation against the region-image bits; neither generation gives an
// empty map, nothing to erase or write.
const MapCase MAP_CASES[] = {
    {HOST_BRIDGE_ID_PCH, 0, 0x800000, 0, 0x800000, 0, 0x800000},
    {HOST_BRIDGE_ID_PCH, IMAGE_PRIMARY_REGION, 0x800000, 0x600000, 0x200000, 0, 0x800000},
    {HOST_BRIDGE_ID_PCH, IMAGE_BACKUP_REGION, 0x800000, 0, 0x800000, 0x600000, 0x200000},
    {HOST_BRIDGE_ID_ICH, 0, 0x200000, 0, 0x200000, 0, 0x200000},
    {HOST_BRIDGE_ID_ICH, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0x200000, 0x3000, 0x180000,
     0x3000, 0x180000},
    {0x12378086, 0, 0, 0, 0, 0, 0},
    {0x12378086, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0, 0, 0, 0, 0},
};

TEST(FlashMap, LayoutFollowsGenerationAndImageKind) {
    for (const MapCase& c : MAP_CASES) {
        SCOPED_TRACE(testing::Message() << std::hex << c.hostBridge << " type " << c.imageBiosType);
        SimBoard board(c.hostBridge);
        resetSettings();
        image_bios_type = c.imageBiosType;
        x86QMPlatform platform(&board.os);
        s_FlashMap* map = platform.getFlashMap();
        EXPECT_EQ(platform.getFlashMap(), map);  // built once
        EXPECT_EQ(map->flashSize, c.flashSize);
        EXPECT_EQ(map->blockSize, 0x10000u);
        ASSERT_EQ(map->descriptionCount, 4);
        const struct {
            uint32_t id;
            const char* name;
            uint32_t offset, size;
        } expected[] = {{0, "xv3LpoSa.ROM", c.primaryOffset, c.primarySize},
                        {9, "LPCSPFW.BIN", 0x4000, 0xC000},
                        {10, "SPFULL.BIN", 0, 0x10000},
                        {1, "4qj9nusd.ROM", c.backupOffset, c.backupSize}};
        for (int i = 0; i < 4; ++i) {
            const s_FirmwareDescription* d = map->descriptions[i];
            EXPECT_EQ(d->id, expected[i].id);
            ASSERT_EQ(d->fileCount, 1);
            EXPECT_STREQ(d->files[0]->name, expected[i].name);
            EXPECT_EQ(d->files[0]->offset, expected[i].offset) << i;
            EXPECT_EQ(d->files[0]->size, expected[i].size) << i;
        }
        EXPECT_EQ(FindFirmware(&board.os, &platform, 1, "Backup BIOS", "-2"), map->descriptions[3]);
    }
    resetSettings();
}

// The lookup's failure path ends the process after giving the host back.
TEST(FindFirmwareDeathTest, MissingIdEndsWith254AfterReleasingHost) {
    SimBoard board;
    x86QMPlatform platform(&board.os);
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);  // both streams into the checked one
            osSetHost([]() -> OS* { return nullptr; },
                      [](OS*) { std::fputs("host destroyed\n", stderr); });
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
