// Numeric and string helpers at their edge values.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tables/utils.h"

namespace {

uint64_t join(int64 v) { return (static_cast<uint64_t>(v.high) << 32) | v.low; }
int64 split(uint64_t v) { return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)}; }

TEST(Axtoi, ReadsAtMostEightHexDigitsUpToTheFirstNonDigit) {
    EXPECT_EQ(axtoi("1A2b"), 0x1A2Bu);
    EXPECT_EQ(axtoi("123456789"), 0x12345678u);
    // 0x2A..0x3F count by their low four bits: '*' is 10 and '?' is 15.
    EXPECT_EQ(axtoi("*?"), 0xAFu);
    EXPECT_EQ(axtoi("1)"), 0x1u);  // 0x29 is just below the digit range
    EXPECT_EQ(axtoi("@"), 0u);     // 0x40, just above it
}

TEST(WideArithmetic, Mult32IsExactAcrossColumnCarries) {
    const uint32_t rows[][2] = {
        {0xFFFFFFFF, 0xFFFFFFFF}, {0x8000FFFF, 0xFFFF8000}, {0x12345678, 0x9ABCDEF0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r[0] << " * " << r[1]);
        EXPECT_EQ(join(mult32(r[0], r[1])), static_cast<uint64_t>(r[0]) * r[1]);
    }
}

TEST(WideArithmetic, Add64CarriesOnlyWhenTheLowWordOverflowsAndWraps) {
    // One top bit, both top bits, the top bit set only by the sum, a 2^64 wrap.
    const uint64_t rows[][2] = {{0xFFFFFFFF, 1}, {0x80000000, 0x7FFFFFFF}, {0x780000000, 0x180000000},
                                {0x40000000, 0x40000000}, {0xFFFFFFFFFFFFFFFF, 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r[0] << " + " << r[1]);
        EXPECT_EQ(join(add64(split(r[0]), split(r[1]))), r[0] + r[1]);
    }
}

TEST(Version2l, PacksMinorIntoBits12To19FromNumbersOrText) {
    EXPECT_EQ(version2l(1, 2, 3), 0x01002003u);
    EXPECT_EQ(version2l("1.2.3"), 0x01002003u);
    EXPECT_EQ(version2l("4.5"), 0x04005000u);
    EXPECT_EQ(version2l(""), 0u);
    EXPECT_EQ(version2l("1.x.3b"), 0x01000003u);  // leading digits only; none counts as 0
    EXPECT_EQ(version2l("1.2.3.4"), 0x01002003u);  // a fourth part is ignored
    // Parts are summed, not masked: a large minor spills into the major's bits.
    EXPECT_EQ(version2l("0.4096.0"), 0x01000000u);
    // Only the first 255 characters are looked at.
    const std::string text = "1.2." + std::string(251, '0');
    EXPECT_EQ(version2l((text + "7").c_str()), 0x01002000u);
}

TEST(XTscancodes, UsLayoutKeysAndNoKeyElsewhere) {
    const struct {
        char c;
        uint8_t code;
    } keys[] = {{' ', 0x39}, {'1', 0x02}, {'!', 0x02}, {')', 0x0B}, {'a', 0x1E}, {'A', 0x1E},
                {'q', 0x10}, {'m', 0x32}, {'"', 0x28}, {'~', 0x29}, {'|', 0x2B}, {'?', 0x35}};
    for (const auto& key : keys) {
        EXPECT_EQ(XTscancodes[static_cast<unsigned char>(key.c)], key.code) << key.c;
    }
    for (unsigned int c = 0; c < 256; ++c) {
        const bool printable = c >= 0x20 && c <= 0x7E;
        EXPECT_EQ(XTscancodes[c] != XT_NO_KEY, printable) << std::hex << c;
    }
}

}  // namespace
