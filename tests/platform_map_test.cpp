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
    {HOST_BRIDGE_ID_PCH, IMAGE_PRIMARY_REGION, 0x800000, 0x600000, 0x200000, 0, 0x800000},
    {HOST_BRIDGE_ID_PCH, IMAGE_BACKUP_REGION, 0x800000, 0, 0x800000, 0x600000, 0x200000},
    {HOST_BRIDGE_ID_ICH, 0, 0x200000, 0, 0x200000, 0, 0x200000},
    {HOST_BRIDGE_ID_ICH, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0x200000, 0x3000, 0x180000,
     0x3000, 0x180000},
    {0x12378086, 0, 0, 0, 0, 0, 0},
    {0x12378086, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0, 0, 0, 0, 0},
};

TEST(FlashMap, BiosFilesFollowGenerationAndImageKind) {
    for (const MapCase& c : MAP_CASES) {
        SCOPED_TRACE(testing::Message() << std::hex << c.hostBridge << " type " << c.imageBiosType);
        SimBoard board(c.hostBridge);
        resetSettings();
        image_bios_type = c.imageBiosType;
        x86QMPlatform platform(&board.os);
        const s_FlashMap* map = platform.getFlashMap();
        EXPECT_EQ(map->flashSize, c.flashSize);
        EXPECT_EQ(map->blockSize, 0x10000u);
        ASSERT_EQ(map->descriptionCount, 4);
        const s_FirmwareFile* primary = map->descriptions[0]->files[0];
        const s_FirmwareFile* backup = map->descriptions[3]->files[0];
        EXPECT_STREQ(primary->name, "xv3LpoSa.ROM");
        EXPECT_STREQ(backup->name, "4qj9nusd.ROM");
        EXPECT_EQ(primary->offset, c.primaryOffset);
        EXPECT_EQ(primary->size, c.primarySize);
        EXPECT_EQ(backup->offset, c.backupOffset);
        EXPECT_EQ(backup->size, c.backupSize);
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
}

}  // namespace
