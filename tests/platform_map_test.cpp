#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

#include "flash/settings.h"
#include "platform/vpd.h"
#include "platform_board.h"

namespace {

// Every generation against the region-image bits; neither generation gives an
// empty map, nothing to erase or write.
TEST(FlashMap, BiosFilesFollowGenerationAndImageKind) {
    const struct {
        uint32_t hostBridge;
        unsigned short imageBiosType;
        uint32_t flashSize, primaryOffset, primarySize, backupOffset, backupSize;
    } cases[] = {
        {HOST_BRIDGE_ID_PCH, IMAGE_PRIMARY_REGION, 0x800000, 0x600000, 0x200000, 0, 0x800000},
        {HOST_BRIDGE_ID_PCH, IMAGE_BACKUP_REGION, 0x800000, 0, 0x800000, 0x600000, 0x200000},
        {HOST_BRIDGE_ID_ICH, 0, 0x200000, 0, 0x200000, 0, 0x200000},
        {HOST_BRIDGE_ID_ICH, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0x200000, 0x3000, 0x180000,
         0x3000, 0x180000},
        {0x12378086, IMAGE_PRIMARY_REGION | IMAGE_BACKUP_REGION, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.hostBridge << " type " << c.imageBiosType);
        resetSettings();
        image_bios_type = c.imageBiosType;
        SimBoard board(c.hostBridge);
        const s_FlashMap* map = board.platform.getFlashMap();
        EXPECT_EQ(map->flashSize, c.flashSize);
        ASSERT_EQ(map->descriptionCount, 4);
        const s_FirmwareFile* primary = map->descriptions[0]->files[0];
        const s_FirmwareFile* backup = map->descriptions[3]->files[0];
        EXPECT_STREQ(primary->name, "xv3LpoSa.ROM");
        EXPECT_STREQ(backup->name, "4qj9nusd.ROM");
        EXPECT_EQ(primary->offset, c.primaryOffset);
        EXPECT_EQ(primary->size, c.primarySize);
        EXPECT_EQ(backup->offset, c.backupOffset);
        EXPECT_EQ(backup->size, c.backupSize);
        EXPECT_EQ(FindFirmware(&board.os, &board.platform, 1, "Backup BIOS", "-2"), map->descriptions[3]);
    }
    resetSettings();
}

// Refusals that end the run release the host first, with their own status.
TEST(PlatformRefusalDeathTest, MissingFirmwareIs254NoChipsetIs255) {
    const struct {
        const char* part;
        int (*call)(SimBoard&);
        int status;
        const char* out;
    } cases[] = {
        {"MX25L6445E",
         [](SimBoard& b) { return FindFirmware(&b.os, &b.platform, 5, "Backup BIOS", "-2") != nullptr ? 0 : 1; },
         254,
         "^the firmware_description firmware information is Backup BIOS\n"
         "Could not find Backup BIOS firmware information\n"
         "\"-2\" is an invalid switch for this version of wromup/lromup.\n"
         "host destroyed\n$"},
        {"unknown", [](SimBoard& b) { return GetVPDInfo(&b.os, &b.platform); }, 255,
         "Chipset ID incorrect! 00 00 00\n\r+Flash chipset could not be identified\nhost destroyed\n$"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        SimBoard board(HOST_BRIDGE_ID_PCH, c.part);
        EXPECT_EXIT(
            {
                dup2(STDERR_FILENO, STDOUT_FILENO);  // both streams into the checked one
                osSetHost([]() -> OS* { return nullptr; },
                          [](OS*) { std::fputs("host destroyed\n", stderr); });
                c.call(board);
            },
            ::testing::ExitedWithCode(c.status), c.out);
    }
}

}  // namespace
