#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flash/settings.h"
#include "platform/vpd.h"
#include "platform/x86qm.h"
#include "platform_board.h"

namespace {

// The record's 16 bytes in memory order as lower-case hex.
std::string uuidHex(OS* os, const char* text) {
    std::unique_ptr<unsigned char[]> copy(ownedText(text));
    testing::internal::CaptureStdout();
    std::unique_ptr<s_UUIDStruc> u(generateUUID(os, copy.get()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "The uuidstr is :\n");
    std::string hex;
    for (size_t i = 0; i < sizeof *u; ++i)
        for (int shift : {4, 0}) hex += "0123456789abcdef"[reinterpret_cast<uint8_t*>(u.get())[i] >> shift & 0xF];
    return hex;
}

TEST(GenerateUuid, HexPairsFillTheRecordInTextOrderAndTheRestStaysZero) {
    const struct {
        const char* text;
        std::string bytes;  // padded with zeros to 16 bytes
    } cases[] = {
        {"00112233-4455-6677-8899-aabbccddeeff", "00112233445566778899aabbccddeeff"},
        {"00112233445566778899AABBCCDDEEFF", "00112233445566778899aabbccddeeff"},
        {"deadbeef", "deadbeef"},
        {"deadbeef1", "deadbeef"},      // a lone last digit is no pair
        {"deadbeef-1", "deadbeef01"},   // but a dash and one digit still give a byte
    };
    SimBoard board;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(uuidHex(&board.os, c.text), c.bytes + std::string(32 - c.bytes.size(), '0'));
    }
}

std::vector<uint32_t> clockReadings;
size_t clockNext = 0;
uint32_t scriptedClock() { return clockReadings[std::min(clockNext++, clockReadings.size() - 1)]; }

// "generate" builds a time-based record from the clock (microseconds since 1582 in
// the time fields, their 16-bit sum as clock sequence) and the adapter's address;
// a time-low ending in 00 waits for the clock to move, up to a bound.
TEST(GenerateUuid, GenerateWordBuildsFromClockAndAdapterAddress) {
    const std::string mac = "024c524f4d01";
    const struct {
        const char* word;
        std::vector<uint32_t> clock;
        std::string bytes;
        size_t sleeps;
        const char* warning;
    } cases[] = {
        {"generate", {1700000001}, "40c2ae2bf627b801179c" + mac, 0, ""},
        {"GeNeRaTe", {1700000001}, "40c2ae2bf627b801179c" + mac, 0, ""},
        {"generate", {1700000000, 1700000000, 1700000002}, "8004be2bf627b80159ec" + mac, 2, ""},
        {"generate", {1700000000}, "00", 29,  // stuck clock: gives up
         "The clock gave no usable UUID time after 30 tries; using the last one\n"},
    };
    setUuidClock(scriptedClock);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word + std::to_string(c.clock.size()));
        SimBoard board;
        board.os.setTracing(true);
        clockReadings = c.clock;
        clockNext = 0;
        testing::internal::CaptureStderr();
        const std::string hex = uuidHex(&board.os, c.word);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
        EXPECT_EQ(hex.compare(0, c.bytes.size(), c.bytes), 0) << hex;
        EXPECT_EQ(std::count_if(board.os.trace().begin(), board.os.trace().end(),
                                [](const TraceEntry& e) { return e.kind == TraceKind::Sleep; }),
                  static_cast<long>(c.sleeps));
    }
    setUuidClock(nullptr);
}

TEST(ReadBack, WithChangesWritesTheRangeBackAndClosesFlashWrites) {
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
    g_VPD_Changes = false;
    resetSettings();
    EXPECT_EQ(out.find("Chipset: ICH9M\nThe fwf->size is: 1572864\n"), 0u);
    EXPECT_NE(out.find("'the erorcode is:0xv3LpoSa.ROM: 3000 [180000]\n"), std::string::npos);
    EXPECT_NE(out.find("Next is program!!\n"), std::string::npos);
    EXPECT_EQ(board.machine.bank(0).array(), flash);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0) & 0x8000, 0u);
}

}  // namespace
