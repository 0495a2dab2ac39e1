#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/vpd.h"
#include "platform/x86qm.h"
#include "platform_board.h"
#include "sim/board_image.h"

namespace {

// Where the new images of these tests keep their blocks (offsets in the top 64 KiB).
constexpr uint32_t IMG_ASSET = 0x4000;
constexpr uint32_t IMG_VPD = 0x4300;
constexpr uint32_t IMG_OEM = 0x5452;
constexpr uint16_t IMG_UUID_RECORD_LENGTH = 0x19;

struct Image {
    std::vector<uint8_t> bytes;
    uint8_t* top() { return bytes.data() + bytes.size() - TOP64K; }
    uint8_t* vpd() { return top() + IMG_VPD; }
    uint8_t* record() { return vpd() + 0x57; }
    uint8_t* asset() { return top() + IMG_ASSET; }
    uint8_t* oem() { return top() + IMG_OEM; }
};

// A new image: arbitrary bytes, blank identity blocks, the trailer pointers.
Image newImage(uint32_t size, uint32_t seed = 7) {
    Image img;
    img.bytes.resize(size);
    std::mt19937 rng(seed);
    for (uint8_t& b : img.bytes) b = static_cast<uint8_t>(rng());
    std::memcpy(img.vpd(), "\xAA\x55VPD", 5);
    std::fill(img.vpd() + 0x16, img.vpd() + 0x30, 0);
    img.record()[7] = IMG_UUID_RECORD_LENGTH;
    img.record()[8] = 0;
    std::memcpy(img.asset(), "_ASSETID_", 9);
    std::fill(img.asset() + 0x0B, img.asset() + 0x2B, 0);
    std::memcpy(img.oem(), "_OEM_", 5);
    std::fill(img.oem() + 0x07, img.oem() + 0x27, 0);
    const uint16_t pointers[3] = {IMG_ASSET, IMG_VPD, IMG_OEM};
    for (int i = 0; i < 3; ++i) {
        img.top()[0xFFE2 + 2 * i] = static_cast<uint8_t>(pointers[i]);
        img.top()[0xFFE3 + 2 * i] = static_cast<uint8_t>(pointers[i] >> 8);
    }
    return img;
}

uint8_t sum8(const uint8_t* p, size_t n) {
    uint8_t s = 0;
    while (n--) s = static_cast<uint8_t>(s + *p++);
    return s;
}

uint16_t storedChecksum(const std::vector<uint8_t>& img) {
    return static_cast<uint16_t>(img[img.size() - 2] | img[img.size() - 1] << 8);
}

class ModifyImage : public ::testing::Test {
protected:
    ModifyImage() : board(HOST_BRIDGE_ID_ICH, "MX25L1606E"), platform(&board.os) {}

    // Runs modifyImage through the platform interface and returns standard output.
    std::string modify(Image& img, unsigned char* mtm = nullptr, unsigned char* serial = nullptr,
                       unsigned char* asset = nullptr, s_UUIDStruc* uuid = nullptr) {
        s_FirmwareFile file{nullptr, 0, static_cast<uint32_t>(img.bytes.size())};
        testing::internal::CaptureStdout();
        Platform& p = platform;
        p.modifyImage(img.bytes.data(), &file, mtm, serial, asset, uuid);
        return testing::internal::GetCapturedStdout();
    }

    // Every byte outside the given [offset, offset + length) ranges is unchanged.
    static void expectOnlyChanged(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                                  std::vector<std::pair<size_t, size_t>> ranges) {
        ASSERT_EQ(before.size(), after.size());
        std::vector<bool> mayChange(before.size(), false);
        for (auto& r : ranges)
            for (size_t i = r.first; i < r.first + r.second; ++i) mayChange[i] = true;
        for (size_t i = 0; i < before.size(); ++i)
            if (!mayChange[i]) {
                ASSERT_EQ(before[i], after[i]) << "offset " << std::hex << i;
            }
    }

    SimBoard board;
    x86QMPlatform platform;
    RunningIdentity running;
};

TEST_F(ModifyImage, CarriesEveryItemFromTheRunningBiosAndFixesAllChecksums) {
    running.length = 0x40;  // the checksum covers more than the named fields
    board.putRunning(running);
    Image img = newImage(0x200000);
    const std::vector<uint8_t> before = img.bytes;

    EXPECT_EQ(modify(img), "");

    EXPECT_EQ(fieldText(img.vpd() + 0x28, 7), running.mtm);
    EXPECT_EQ(fieldText(img.vpd() + 0x16, 7), running.serial);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(img.vpd() + 0x1D), 11), running.field1d);
    EXPECT_TRUE(std::equal(running.uuid, running.uuid + 16, img.record() + 9));
    EXPECT_EQ(fieldText(img.asset() + 0x0B, 32), running.asset);
    EXPECT_EQ(fieldText(img.oem() + 0x07, 32), running.oem);

    EXPECT_EQ(sum8(img.record(), IMG_UUID_RECORD_LENGTH), 0);
    EXPECT_EQ(sum8(img.vpd() + 0x0D, 0x40 - 0x0D), 0);
    EXPECT_EQ(storedChecksum(img.bytes), imageChecksum(img.bytes.data(), img.bytes.size()));

    const size_t top = img.bytes.size() - TOP64K;
    expectOnlyChanged(before, img.bytes,
                      {{top + IMG_VPD + 0x16, 0x1A},  // serial, 11-byte field, type/model, checksum
                       {top + IMG_VPD + 0x57 + 6, 1},
                       {top + IMG_VPD + 0x57 + 9, 16},
                       {top + IMG_ASSET + 0x0B, 32},
                       {top + IMG_OEM + 0x07, 32},
                       {img.bytes.size() - 2, 2}});
}

TEST_F(ModifyImage, NewValuesReplaceRunningOnesWithTheirMessages) {
    board.putRunning(running);
    Image img = newImage(0x180000);
    unsigned char uuidText[] = "00112233-4455-6677-8899-aabbccddeeff";
    testing::internal::CaptureStdout();
    s_UUIDStruc* uuid = generateUUID(&board.os, uuidText);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(modify(img, ownedText("ABC"), ownedText("S12"), ownedText("NEWTAG"), uuid),
              "Merging in new machine type/model number ABC\n"
              "Merging in new serial number S12\n"
              "Merging in new UUID 33221100-5544-7766-8899-aabbccddeeff\n"
              "Merging in new asset tag NEWTAG\n");

    const uint8_t mtm[7] = {'A', 'B', 'C', 0, 0, 0, 0};
    const uint8_t serial[7] = {'S', '1', '2', 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(mtm, mtm + 7, img.vpd() + 0x28));
    EXPECT_TRUE(std::equal(serial, serial + 7, img.vpd() + 0x16));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(img.record()[9 + i], i * 0x11) << i;
    EXPECT_EQ(fieldText(img.asset() + 0x0B, 32), "NEWTAG");
    EXPECT_EQ(fieldText(img.oem() + 0x07, 32), running.oem);  // no argument for OEM text
    EXPECT_EQ(sum8(img.record(), IMG_UUID_RECORD_LENGTH), 0);
    EXPECT_EQ(sum8(img.vpd() + 0x0D, running.length - 0x0D), 0);
    EXPECT_EQ(storedChecksum(img.bytes), imageChecksum(img.bytes.data(), img.bytes.size()));
    delete uuid;
}

// The running block is searched for at offsets 0 to 0x2B of its window.
TEST_F(ModifyImage, RunningBlockIsFoundUpToOffset2BOnly) {
    for (uint32_t k : {0u, 0x2Bu}) {
        SCOPED_TRACE(k);
        board.machine.legacyArea().assign(LEGACY_AREA_SIZE, 0xFF);
        running.k = k;
        board.putRunning(running);
        Image img = newImage(0x20000);
        modify(img);
        EXPECT_EQ(fieldText(img.vpd() + 0x16, 7), running.serial);
        EXPECT_TRUE(std::equal(running.uuid, running.uuid + 16, img.record() + 9));
    }
    board.machine.legacyArea().assign(LEGACY_AREA_SIZE, 0xFF);
    running.k = 0x2C;
    board.putRunning(running);
    Image img = newImage(0x20000);
    const std::vector<uint8_t> before = img.bytes;
    EXPECT_EQ(modify(img, ownedText("ABC")), "");
    EXPECT_EQ(img.bytes, before);
}

TEST_F(ModifyImage, WithoutRunningVpdTheImageIsLeftExactlyAsRead) {
    running.hasVpd = false;
    board.putRunning(running);
    Image img = newImage(0x20000);
    const std::vector<uint8_t> before = img.bytes;
    s_UUIDStruc uuid{};
    EXPECT_EQ(modify(img, ownedText("ABC"), ownedText("S1"), ownedText("TAG"), &uuid), "");
    EXPECT_EQ(img.bytes, before);
}

TEST_F(ModifyImage, AbsentOrUnsignedRunningBlocksKeepTheImagesOwnText) {
    running.hasAsset = false;  // pointer 0xFFFF
    board.putRunning(running);
    std::memcpy(board.runningTop(RUN_OEM_AT), "_OEX_", 5);  // no signature
    Image img = newImage(0x20000);
    SimBoard::putText(img.asset() + 0x0B, "IMAGE TAG", 32);
    SimBoard::putText(img.oem() + 0x07, "IMAGE OEM", 32);
    modify(img);
    EXPECT_EQ(fieldText(img.asset() + 0x0B, 32), "IMAGE TAG");
    EXPECT_EQ(fieldText(img.oem() + 0x07, 32), "IMAGE OEM");

    // A running pointer whose block would run past 4 GiB is treated as absent.
    board.putPointer(RUN_ASSET_PTR_AT, 0xFFF0);
    board.putPointer(RUN_OEM_PTR_AT, 0xFFE0);
    modify(img);
    EXPECT_EQ(fieldText(img.asset() + 0x0B, 32), "IMAGE TAG");
    EXPECT_EQ(fieldText(img.oem() + 0x07, 32), "IMAGE OEM");
    EXPECT_EQ(storedChecksum(img.bytes), imageChecksum(img.bytes.data(), img.bytes.size()));
}

// Arbitrary trailers, record lengths and running pointers: nothing is ever
// written outside the image, whatever its size.
TEST_F(ModifyImage, NeverWritesOutsideTheImageBuffer) {
    constexpr size_t GUARD = 0x10100;
    constexpr uint8_t GUARD_BYTE = 0x5A;
    std::mt19937 rng(12345);
    const uint32_t sizes[] = {0, 1, 2, 3, 0x1A, 0x1E, 0x20, 0x100, 0xFFFF, 0x10000, 0x10020};
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const uint32_t size = round < 44 ? sizes[round % 11] : 0x10000 + rng() % 0x400 - 0x200;
        running.length = static_cast<uint8_t>(rng());
        running.k = rng() % 0x2C;
        board.machine.legacyArea().assign(LEGACY_AREA_SIZE, 0xFF);
        board.putRunning(running);
        board.putPointer(RUN_ASSET_PTR_AT, static_cast<uint16_t>(rng()));
        board.putPointer(RUN_OEM_PTR_AT, static_cast<uint16_t>(rng()));

        std::vector<uint8_t> buffer(GUARD + size + GUARD, GUARD_BYTE);
        for (size_t i = GUARD; i < GUARD + size; ++i) buffer[i] = static_cast<uint8_t>(rng());
        // Pointers near the top of the window put blocks and fields across the end.
        if (size >= 0x20)
            for (uint32_t at : {0x1Eu, 0x1Cu, 0x1Au}) {
                const uint16_t p = static_cast<uint16_t>(rng() % 2 ? 0xFF80 + rng() % 0x80 : rng());
                buffer[GUARD + size - at] = static_cast<uint8_t>(p);
                buffer[GUARD + size - at + 1] = static_cast<uint8_t>(p >> 8);
            }
        s_FirmwareFile file{nullptr, 0, size};
        s_UUIDStruc uuid{};
        testing::internal::CaptureStdout();
        platform.modifyImage(buffer.data() + GUARD, &file, round % 2 ? ownedText("MTM") : nullptr,
                             nullptr, round % 3 ? nullptr : ownedText("TAG"),
                             round % 5 ? nullptr : &uuid);
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(std::all_of(buffer.begin(), buffer.begin() + GUARD,
                                [](uint8_t b) { return b == GUARD_BYTE; }));
        ASSERT_TRUE(std::all_of(buffer.end() - GUARD, buffer.end(),
                                [](uint8_t b) { return b == GUARD_BYTE; }));
    }
}

}  // namespace

namespace {

// The same carrying on a board as the simulator's factory builds it, with a
// new image from its image builder.
TEST(ModifyImageOnFactoryBoard, NewImageReceivesTheBoardsIdentity) {
    for (const char* model : {"moro310", "moro330"}) {
        SCOPED_TRACE(model);
        MachineOptions options;
        options.model = model;
        options.serial = "SN4711";
        options.mtm = "4242ABC";
        options.uuid = "0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9";
        options.asset = "FACTORY ASSET";
        options.oem = "FACTORY OEM";
        std::string error;
        std::unique_ptr<Machine> machine = buildMachine(options, &error);
        ASSERT_NE(machine, nullptr) << error;
        SimOS os(*machine);
        x86QMPlatform platform(&os);
        ASSERT_EQ(platform.identify(), 1);

        std::vector<uint8_t> image = buildNewImage(*machine);
        ASSERT_FALSE(image.empty());
        uint8_t runningUuid[16];
        machine->memRead(0xFFF90 + RUNNING_VPD_SHIFT - RUNNING_UUID_BELOW_VPD, 16, runningUuid);

        s_FirmwareFile file{nullptr, 0, static_cast<uint32_t>(image.size())};
        testing::internal::CaptureStdout();
        platform.modifyImage(image.data(), &file, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

        const uint8_t* top = image.data() + image.size() - IMAGE_TOP_SIZE;
        const uint8_t* vpd = top + IMAGE_VPD_BLOCK;
        EXPECT_EQ(fieldText(vpd + 0x16, 7), "SN4711");
        EXPECT_EQ(fieldText(vpd + 0x28, 7), "4242ABC");
        EXPECT_TRUE(std::equal(runningUuid, runningUuid + 16, vpd + 0x57 + 9));
        EXPECT_EQ(fieldText(top + IMAGE_ASSET_BLOCK + 0x0B, 32), "FACTORY ASSET");
        EXPECT_EQ(fieldText(top + IMAGE_OEM_BLOCK + 0x07, 32), "FACTORY OEM");
        const uint16_t recordLength = static_cast<uint16_t>(vpd[0x57 + 7] | vpd[0x57 + 8] << 8);
        EXPECT_EQ(sum8(vpd + 0x57, recordLength), 0);
        EXPECT_EQ(storedChecksum(image), imageChecksum(image.data(), image.size()));
    }
}

}  // namespace
