#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flash/settings.h"
#include "platform/vpd.h"
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

std::vector<uint32_t> clockReadings;
size_t clockNext = 0;
uint32_t scriptedClock() { return clockReadings[std::min(clockNext++, clockReadings.size() - 1)]; }

// A text gives its hex pairs in text order, the rest of the record zero. The word
// "generate" builds a time-based record from the clock (microseconds since 1582 in
// the time fields, their 16-bit sum as clock sequence) and the adapter's address;
// a time-low ending in 00 waits for the clock to move, up to a bound.
TEST(GenerateUuid, FromHexPairsOrFromClockAndAdapterAddress) {
    const std::string mac = "024c524f4d01";
    const struct {
        const char* text;
        std::vector<uint32_t> clock;  // readings in turn, the last one repeated
        std::string bytes;            // padded with zeros to 16 bytes
        size_t sleeps;
        const char* warning;
    } cases[] = {
        {"00112233-4455-6677-8899-aabbccddeeff", {0}, "00112233445566778899aabbccddeeff", 0, ""},
        {"00112233445566778899AABBCCDDEEFF", {0}, "00112233445566778899aabbccddeeff", 0, ""},
        {"deadbeef1", {0}, "deadbeef", 0, ""},     // a lone last digit is no pair
        {"deadbeef-1", {0}, "deadbeef01", 0, ""},  // but a dash and one digit still give a byte
        {"GeNeRaTe", {1700000001}, "40c2ae2bf627b801179c" + mac, 0, ""},
        {"generate", {1700000000, 1700000000, 1700000002}, "8004be2bf627b80159ec" + mac, 2, ""},
        {"generate", {1700000000}, "00809f2bf627b801d54d" + mac, 29,  // stuck clock: gives up
         "The clock gave no usable UUID time after 30 tries; using the last one\n"},
    };
    setUuidClock(scriptedClock);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + std::to_string(c.clock.size()));
        SimBoard board;
        board.os.setTracing(true);
        clockReadings = c.clock;
        clockNext = 0;
        testing::internal::CaptureStderr();
        EXPECT_EQ(uuidHex(&board.os, c.text), c.bytes + std::string(32 - c.bytes.size(), '0'));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
        EXPECT_EQ(std::count_if(board.os.trace().begin(), board.os.trace().end(),
                                [](const TraceEntry& e) { return e.kind == TraceKind::Sleep; }),
                  static_cast<long>(c.sleeps));
    }
    setUuidClock(nullptr);
}

TEST(ReadBack, WithChangesWritesTheRangeBackAndClosesFlashWrites) {
    image_bios_type = IMAGE_PRIMARY_REGION;
    g_VPD_Changes = true;
    SimBoard board(HOST_BRIDGE_ID_ICH, "MX25L1606E");
    std::vector<uint8_t>& array = board.machine.bank(0).array();
    for (size_t i = 0; i < array.size(); ++i) array[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    const std::vector<uint8_t> flash = array;

    testing::internal::CaptureStdout();
    EXPECT_EQ(GetVPDInfo(&board.os, &board.platform), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("'the erorcode is:0xv3LpoSa.ROM: 3000 [180000]\n"),
              std::string::npos);
    g_VPD_Changes = false;
    resetSettings();
    // The range goes back as it was read: read before write leaves it alone.
    EXPECT_EQ(board.machine.bank(0).erasedBytes() + board.machine.bank(0).programmedBytes(), 0u);
    EXPECT_EQ(board.machine.bank(0).array(), flash);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0) & 0x8000, 0u);
}

}  // namespace
