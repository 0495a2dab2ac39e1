// Identity carrying over a real firmware build, whose trailer bytes are code,
// not pointers: whatever they point at, nothing outside the image is written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/x86qm.h"
#include "sim/board_image.h"
#include "sim/simos.h"

namespace {

std::vector<uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(RealFirmwareImage, IdentityCarryingStaysInsideTheImage) {
    // A whole 2 MiB flash image as the firmware package lays it out:
    // the variable store, then the code volume.
    const std::vector<uint8_t> vars = readFile("/usr/share/OVMF/OVMF_VARS.fd");
    const std::vector<uint8_t> code = readFile("/usr/share/OVMF/OVMF_CODE.fd");
    if (vars.size() + code.size() != 0x200000) GTEST_SKIP() << "no 2 MiB firmware build installed";
    std::vector<uint8_t> image(vars);
    image.resize(0x200000);
    std::copy(code.begin(), code.end(), image.begin() + long(vars.size()));

    MachineOptions options;
    options.model = "moro320";  // ICH board: whole 0x200000 images
    std::unique_ptr<Machine> machine = buildMachine(options);
    SimOS os(*machine);
    x86QMPlatform platform(&os);

    constexpr size_t GUARD = 0x10000;
    std::vector<uint8_t> buffer(GUARD + image.size() + GUARD, 0x5A);
    std::fill_n(buffer.begin(), GUARD, 0xA5);
    std::copy(image.begin(), image.end(), buffer.begin() + GUARD);

    char name[] = "OVMF.fd";
    s_FirmwareFile file{name, 0, 0x200000};
    testing::internal::CaptureStdout();
    platform.modifyImage(buffer.data() + GUARD, &file, nullptr, nullptr, nullptr, nullptr);
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + GUARD),
              std::vector<uint8_t>(GUARD, 0xA5));
    EXPECT_EQ(std::vector<uint8_t>(buffer.end() - GUARD, buffer.end()),
              std::vector<uint8_t>(GUARD, 0x5A));
    // The running machine has identity data, so the image checksum was redone.
    const uint8_t* modified = buffer.data() + GUARD;
    EXPECT_EQ(modified[image.size() - 2] | modified[image.size() - 1] << 8,
              imageChecksum(modified, image.size()));
    // Below the top 64 KiB, where no trailer pointer can reach, nothing changed.
    EXPECT_TRUE(std::equal(image.begin(), image.end() - 0x10000, modified));
}
