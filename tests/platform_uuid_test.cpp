#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "flash/settings.h"
#include "platform/vpd.h"
#include "platform/x86qm.h"
#include "platform_board.h"

namespace {

// ---- UUID records --------------------------------------------------------------

std::vector<uint8_t> bytesOf(const s_UUIDStruc* u) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(u);
    return std::vector<uint8_t>(p, p + 16);
}

std::vector<uint8_t> uuidFromText(OS* os, const char* text, std::string* printed = nullptr) {
    std::unique_ptr<unsigned char[]> copy(ownedText(text));
    testing::internal::CaptureStdout();
    std::unique_ptr<s_UUIDStruc> u(generateUUID(os, copy.get()));
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return bytesOf(u.get());
}

TEST(GenerateUuidText, HexPairsFillTheRecordInTextOrder) {
    SimBoard board;
    const std::vector<uint8_t> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                           0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    std::string printed;
    EXPECT_EQ(uuidFromText(&board.os, "00112233-4455-6677-8899-aabbccddeeff", &printed), expected);
    EXPECT_EQ(printed, "The uuidstr is :\n");
    EXPECT_EQ(uuidFromText(&board.os, "00112233445566778899AABBCCDDEEFF"), expected);
}

TEST(GenerateUuidText, ShortTextLeavesTheRestZero) {
    SimBoard board;
    std::vector<uint8_t> expected(16, 0);
    expected[0] = 0xDE, expected[1] = 0xAD, expected[2] = 0xBE, expected[3] = 0xEF;
    EXPECT_EQ(uuidFromText(&board.os, "deadbeef"), expected);
    // Only a pair that starts with fewer than two characters left ends the text;
    // a dash followed by one digit still gives a byte.
    EXPECT_EQ(uuidFromText(&board.os, "deadbeef1"), expected);
    expected[4] = 0x01;
    EXPECT_EQ(uuidFromText(&board.os, "deadbeef-1"), expected);
    expected[4] = 0x12;
    EXPECT_EQ(uuidFromText(&board.os, "deadbeef-12"), expected);
    EXPECT_EQ(uuidFromText(&board.os, ""), std::vector<uint8_t>(16, 0));
}

// ---- Generated UUIDs -----------------------------------------------------------

std::vector<uint32_t> clockReadings;
size_t clockNext = 0;
uint32_t scriptedClock() {
    const uint32_t t = clockReadings[std::min(clockNext, clockReadings.size() - 1)];
    ++clockNext;
    return t;
}

class GenerateUuidClock : public ::testing::Test {
protected:
    void SetUp() override { setUuidClock(scriptedClock); clockNext = 0; }
    void TearDown() override { setUuidClock(nullptr); }

    s_UUIDStruc generate(const char* word) {
        board.os.setTracing(true);
        board.os.clearTrace();
        std::unique_ptr<unsigned char[]> text(ownedText(word));
        testing::internal::CaptureStdout();
        std::unique_ptr<s_UUIDStruc> u(generateUUID(&board.os, text.get()));
        testing::internal::GetCapturedStdout();
        return *u;
    }
    size_t sleeps() const {
        return std::count_if(board.os.trace().begin(), board.os.trace().end(),
                             [](const TraceEntry& e) { return e.kind == TraceKind::Sleep; });
    }

    SimBoard board;
};

void expectTimeBased(const s_UUIDStruc& u, uint32_t seconds) {
    const uint64_t t = uint64_t{seconds} * 1000000u + 0x01B21DD213814000ull;
    EXPECT_EQ(u.timeLow, static_cast<uint32_t>(t));
    EXPECT_EQ(u.timeMid, static_cast<uint16_t>(t >> 32));
    EXPECT_EQ(u.timeHigh, static_cast<uint16_t>(t >> 48));
    const uint16_t seq = static_cast<uint16_t>((t & 0xFFFF) + (t >> 16 & 0xFFFF) +
                                               (t >> 32 & 0xFFFF) + (t >> 48));
    EXPECT_EQ(u.clockSeqHigh, seq >> 8);
    EXPECT_EQ(u.clockSeqLow, seq & 0xFF);
    EXPECT_TRUE(std::equal(u.node, u.node + 6, BOARD_MAC));
}

TEST_F(GenerateUuidClock, WordInAnyCaseBuildsFromClockAndAdapterAddress) {
    clockReadings = {1700000001};
    for (const char* word : {"generate", "GENERATE", "GeNeRaTe"}) {
        SCOPED_TRACE(word);
        clockNext = 0;
        expectTimeBased(generate(word), 1700000001);
        EXPECT_EQ(sleeps(), 0u);
    }
}

TEST_F(GenerateUuidClock, ZeroLowByteWaitsForTheClockToMove) {
    // Whole seconds that are multiples of 4 give a time-low ending in 00.
    clockReadings = {1700000000, 1700000000, 1700000002};
    expectTimeBased(generate("generate"), 1700000002);
    EXPECT_EQ(sleeps(), 2u);
}

TEST_F(GenerateUuidClock, StuckClockGivesUpAfterItsBound) {
    clockReadings = {1700000000};
    testing::internal::CaptureStderr();
    const s_UUIDStruc u = generate("generate");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no usable UUID time"), std::string::npos);
    EXPECT_EQ(u.timeLow & 0xFF, 0u);
    EXPECT_EQ(sleeps(), 29u);
}

// ---- Read-back of the primary BIOS range ---------------------------------------

class ReadBack : public ::testing::Test {
protected:
    void TearDown() override {
        g_VPD_Changes = false;
        resetSettings();
    }
};

TEST_F(ReadBack, WithChangesWritesTheRangeBackAndClosesFlashWrites) {
    SimBoard board(HOST_BRIDGE_ID_ICH, "MX25L1606E");
    image_bios_type = IMAGE_PRIMARY_REGION;
    g_VPD_Changes = true;
    x86QMPlatform platform(&board.os);
    std::vector<uint8_t>& array = board.machine.bank(0).array();
    for (size_t i = 0; i < array.size(); ++i) array[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    const std::vector<uint8_t> flash = array;

    testing::internal::CaptureStdout();
    EXPECT_EQ(GetVPDInfo(&board.os, &platform), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Chipset: ICH9M\nThe fwf->size is: 1572864\n"), 0u);
    EXPECT_NE(out.find("'the erorcode is:0xv3LpoSa.ROM: 3000 [180000]\n"), std::string::npos);
    EXPECT_NE(out.find("Next is program!!\n"), std::string::npos);
    EXPECT_EQ(board.machine.bank(0).array(), flash);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0) & 0x8000, 0u);
}

TEST(ReadBackDeathTest, NoChipsetEndsWith255) {
    SimBoard board(HOST_BRIDGE_ID_PCH, "unknown");
    x86QMPlatform platform(&board.os);
    EXPECT_EXIT(
        {
            osSetHost([]() -> OS* { return nullptr; }, [](OS*) {});
            testing::internal::CaptureStdout();
            GetVPDInfo(&board.os, &platform);
        },
        ::testing::ExitedWithCode(255), "^Flash chipset could not be identified\n$");
}

}  // namespace
