#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "platform/vpd.h"
#include "platform/x86qm.h"
#include "platform_board.h"
#include "sim/board/board_image.h"

namespace {

uint8_t sum8(const uint8_t* p, size_t n) { return static_cast<uint8_t>(std::accumulate(p, p + n, 0)); }
void put16(uint8_t* at, uint32_t value) {  // little-endian, low 16 bits
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// A Moro 310 as the simulator's factory builds it, with a known identity, and a
// blank new image from its image builder.
const MachineOptions identity = [] {
    MachineOptions o;
    o.serial = "S1X2Y3Z", o.mtm = "7ABC1D2", o.uuid = "a0a1a2a3-b0b1-c0c1-d0d1-e0e1e2e3e4e5";
    o.asset = "ASSET-0042", o.oem = "Running OEM text";
    return o;
}();

class ModifyImage : public ::testing::Test {
protected:
    ModifyImage() : machine(buildMachine(identity)), os(*machine), platform(&os) {
        image = buildNewImage(*machine);
        vpd = image.data() + image.size() - IMAGE_TOP_SIZE + IMAGE_VPD_BLOCK;
        record = vpd + 0x57;
        std::copy_n(runningVpd() - RUNNING_UUID_BELOW_VPD, 16, runningUuid);
    }

    // The running VPD block in the legacy area, at offset k of the searched window.
    uint8_t* runningVpd() { return machine->legacyArea().data() + RUNNING_VPD_BASE + k; }
    void moveRunningVpd(uint32_t to) {  // with the UUID below it; the old place is wiped
        std::vector<uint8_t> block(runningVpd() - RUNNING_UUID_BELOW_VPD, runningVpd() + 0x30);
        std::fill(runningVpd() - RUNNING_UUID_BELOW_VPD, runningVpd() + 0x30, 0xFF);
        k = to;
        std::copy(block.begin(), block.end(), runningVpd() - RUNNING_UUID_BELOW_VPD);
    }
    // Runs modifyImage through the platform interface and returns standard output.
    std::string modify(unsigned char* mtm = nullptr, unsigned char* serial = nullptr,
                       unsigned char* assetTag = nullptr, s_UUIDStruc* uuid = nullptr) {
        s_FirmwareFile file{nullptr, 0, static_cast<uint32_t>(image.size())};
        testing::internal::CaptureStdout();
        static_cast<Platform&>(platform).modifyImage(image.data(), &file, mtm, serial, assetTag, uuid);
        return testing::internal::GetCapturedStdout();
    }

    std::unique_ptr<Machine> machine;
    SimOS os;
    x86QMPlatform platform;
    std::vector<uint8_t> image;
    uint8_t *vpd, *record;
    uint32_t k = RUNNING_VPD_SHIFT;
    uint8_t runningUuid[16];
};

// The running block is searched for at offsets 0 to 0x2B of its window and
// trusted when its checksum holds; without it the identity comes from an
// intact copy (the shadow's own block first), and with none anywhere the image
// is left exactly as read, whatever new values are given.
TEST_F(ModifyImage, RunningVpdFoundUpToOffset2BElseAnIntactCopyElseRefused) {
    // Moving the block about wipes the shadow's trailer too: the copy of the
    // bank being replaced is the first intact one.
    const char* const fromCopy =
        "The running BIOS's VPD block is missing or damaged; the copy in the bank being replaced "
        "is carried instead\n";
    const struct {
        uint32_t k;
        uint8_t signature;
        bool checksumHolds;
        const char* out;
    } cases[] = {{0, 0xAA, true, ""},        {0x2B, 0xAA, true, ""},        {0x2C, 0xAA, true, fromCopy},
                 {0x2B, 0x00, true, fromCopy}, {0x10, 0xAA, false, fromCopy}};
    const std::vector<uint8_t> blank = image;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.k);
        image = blank;
        moveRunningVpd(c.k);
        runningVpd()[0] = c.signature;
        runningVpd()[0x2F] ^= c.checksumHolds ? 0 : 1;
        EXPECT_EQ(modify(), c.out);
        EXPECT_EQ(platform.modifyImageResult(), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(vpd) + 0x16, 7), "S1X2Y3Z");
        EXPECT_TRUE(std::equal(runningUuid, runningUuid + 16, record + 9));
    }
    // An intact running block with a blank field: that field alone comes from a copy.
    image = blank;
    runningVpd()[0] = 0xAA;
    std::fill(runningVpd() + 0x16, runningVpd() + 0x1D, 0);
    runningVpd()[0x2F] = 0;
    runningVpd()[0x2F] = static_cast<uint8_t>(-sum8(runningVpd() + 0x0D, runningVpd()[5] - 0x0D));
    EXPECT_EQ(modify(), "The running BIOS's serial number is blank; the copy in the bank being replaced is "
                        "carried instead\n");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(vpd) + 0x16, 7), "S1X2Y3Z");
    // No intact VPD block in the shadow nor in either bank either.
    machine->legacyArea()[IMAGE_VPD_BLOCK] = 0;
    for (int b = 0; b < 2; ++b) {
        std::vector<uint8_t>& bank = machine->bank(b).array();
        bank[bank.size() - IMAGE_TOP_SIZE + IMAGE_VPD_BLOCK] = 0;
    }
    image = blank;
    s_UUIDStruc uuid{};
    testing::internal::CaptureStderr();
    modify(ownedText("ABC"), ownedText("S1"), ownedText("TAG"), &uuid);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("nothing was written"), std::string::npos);
    EXPECT_EQ(platform.modifyImageResult(), IDENTITY_LOST);
    EXPECT_TRUE(image == blank);
}

// Arbitrary trailers, record lengths and running pointers: nothing is ever
// written outside the image's top 64 KiB, whatever its size.
TEST_F(ModifyImage, NeverWritesOutsideTheImageBuffer) {
    constexpr size_t GUARD = 0x10100;
    std::mt19937 rng(12345);
    const uint32_t sizes[] = {0, 1, 2, 3, 0x1A, 0x1E, 0x20, 0x100, 0xFFFF, 0x10000, 0x10020};
    std::vector<uint8_t>& bank = machine->bank(machine->activeBank()).array();
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const uint32_t size = round < 44 ? sizes[round % 11] : 0x10000 + rng() % 0x400 - 0x200;
        moveRunningVpd(rng() % 0x2C);
        runningVpd()[5] = static_cast<uint8_t>(rng());
        put16(&bank[bank.size() - IMAGE_TOP_SIZE + TRAILER_ASSET_PTR], rng());
        put16(&bank[bank.size() - IMAGE_TOP_SIZE + TRAILER_OEM_PTR], rng());

        std::vector<uint8_t> buffer(GUARD + size + GUARD, 0x5A);
        for (size_t i = GUARD; i < GUARD + size; ++i) buffer[i] = static_cast<uint8_t>(rng());
        // Pointers near the top of the window put blocks and fields across the end.
        if (size >= 0x20)
            for (uint32_t at : {0x1Eu, 0x1Cu, 0x1Au})
                put16(&buffer[GUARD + size - at], rng() % 2 ? 0xFF80 + rng() % 0x80 : rng());
        s_FirmwareFile file{nullptr, 0, size};
        s_UUIDStruc uuid{};
        const std::vector<uint8_t> before = buffer;
        testing::internal::CaptureStdout();
        platform.modifyImage(buffer.data() + GUARD, &file, round % 2 ? ownedText("MTM") : nullptr,
                             nullptr, round % 3 ? nullptr : ownedText("TAG"),
                             round % 5 ? nullptr : &uuid);
        testing::internal::GetCapturedStdout();
        // Only the image's top 64 KiB, where the trailer pointers reach, may change.
        const size_t top = GUARD + size - std::min<size_t>(size, 0x10000);
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + top, before.begin()));
        ASSERT_TRUE(std::equal(buffer.end() - GUARD, buffer.end(), before.end() - GUARD));
    }
}

}  // namespace
