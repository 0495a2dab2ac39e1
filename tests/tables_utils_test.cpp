// Numeric and string helpers at their edge values.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "tables/utils.h"

namespace {

TEST(Axtoi, ReadsAtMostEightHexDigitsUpToTheFirstNonDigit) {
    EXPECT_EQ(axtoi("1A2b"), 0x1A2Bu);
    EXPECT_EQ(axtoi("123456789"), 0x12345678u);
    EXPECT_EQ(axtoi("FFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(axtoi("12G4"), 0x12u);
    EXPECT_EQ(axtoi(""), 0u);
    EXPECT_EQ(axtoi("x12"), 0u);
    // 0x2A..0x3F count by their low four bits, so ':' is 10 and '*' is 10.
    EXPECT_EQ(axtoi("1:"), 0x1Au);
    EXPECT_EQ(axtoi("*?"), 0xAFu);
    EXPECT_EQ(axtoi("1)"), 0x1u);  // 0x29 is just below the digit range
    EXPECT_EQ(axtoi("@"), 0u);     // 0x40, just above it
}

TEST(Mult32, ExactProductAcrossColumnCarries) {
    struct Case {
        uint32_t a, b;
    };
    const Case cases[] = {{0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFF, 0xFFFF}, {0x8000FFFF, 0xFFFF8000},
                          {0x12345678, 0x9ABCDEF0}, {0, 0xFFFFFFFF}};
    for (const Case& c : cases) {
        const uint64_t expected = static_cast<uint64_t>(c.a) * c.b;
        const int64 p = mult32(c.a, c.b);
        EXPECT_EQ(p.low, static_cast<uint32_t>(expected)) << std::hex << c.a << " " << c.b;
        EXPECT_EQ(p.high, static_cast<uint32_t>(expected >> 32)) << std::hex << c.a << " " << c.b;
    }
}

TEST(Add64, CarriesFromTheLowWordOnlyWhenItOverflows) {
    int64 sum = add64({0xFFFFFFFF, 0}, {1, 0});
    EXPECT_EQ(sum.low, 0u);
    EXPECT_EQ(sum.high, 1u);

    sum = add64({0x80000000, 0}, {0x7FFFFFFF, 0});
    EXPECT_EQ(sum.low, 0xFFFFFFFFu);
    EXPECT_EQ(sum.high, 0u);

    sum = add64({0x80000000, 7}, {0x80000000, 1});  // both top bits set
    EXPECT_EQ(sum.low, 0u);
    EXPECT_EQ(sum.high, 9u);

    sum = add64({0xFFFFFFFF, 0xFFFFFFFF}, {1, 0});  // wraps modulo 2^64
    EXPECT_EQ(sum.low, 0u);
    EXPECT_EQ(sum.high, 0u);

    sum = add64({0x40000000, 0}, {0x40000000, 0});  // top bit set by the sum: no carry
    EXPECT_EQ(sum.low, 0x80000000u);
    EXPECT_EQ(sum.high, 0u);
}

TEST(Allocstr, CopiesIntoOwnedArray) {
    const char original[] = "61QM flash";
    char* copy = allocstr(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    EXPECT_STREQ(copy, original);
    delete[] copy;

    char* empty = allocstr("");
    EXPECT_EQ(empty[0], '\0');
    delete[] empty;
}

TEST(Version2l, PacksMinorIntoBits12To19) {
    EXPECT_EQ(version2l(1, 2, 3), 0x01002003u);
    EXPECT_EQ(version2l(0xFF, 0xFF, 0xFF), 0xFF0FF0FFu);

    EXPECT_EQ(version2l("1.2.3"), 0x01002003u);
    EXPECT_EQ(version2l("255.255.255"), 0xFF0FF0FFu);
    EXPECT_EQ(version2l("4.5"), 0x04005000u);
    EXPECT_EQ(version2l(""), 0u);
    EXPECT_EQ(version2l("1.x.3"), 0x01000003u);  // non-numeric part counts as 0
    EXPECT_EQ(version2l("1.2b.3c"), 0x01002003u);  // leading digits only
    EXPECT_EQ(version2l("1.2.3.4"), 0x01002003u);  // a fourth part is ignored
    // Parts are summed, not masked: a large minor spills into the major's bits.
    EXPECT_EQ(version2l("0.4096.0"), 0x01000000u);
}

TEST(Version2l, LooksAtTheFirst255CharactersOnly) {
    std::string text = "1.2." + std::string(251, '0');  // 255 characters
    EXPECT_EQ(version2l(text.c_str()), 0x01002000u);
    text += "7";  // the 256th character is not looked at
    EXPECT_EQ(version2l(text.c_str()), 0x01002000u);
}

TEST(XTscancodes, UsLayoutKeysAndNoKeyElsewhere) {
    const struct {
        char c;
        uint8_t code;
    } keys[] = {{' ', 0x39}, {'1', 0x02},  {'!', 0x02}, {'0', 0x0B}, {')', 0x0B},
                {'a', 0x1E}, {'A', 0x1E},  {'q', 0x10}, {'z', 0x2C}, {'m', 0x32},
                {'\'', 0x28}, {'"', 0x28},  {'`', 0x29}, {'~', 0x29}, {'\\', 0x2B},
                {'|', 0x2B}, {'/', 0x35},  {'?', 0x35}, {'=', 0x0D}, {'+', 0x0D}};
    for (const auto& key : keys) {
        EXPECT_EQ(XTscancodes[static_cast<unsigned char>(key.c)], key.code) << key.c;
    }

    for (unsigned int c = 0; c < 256; ++c) {
        const bool printable = c >= 0x20 && c <= 0x7E;
        if (printable) {
            EXPECT_NE(XTscancodes[c], XT_NO_KEY) << std::hex << c;
        } else {
            EXPECT_EQ(XTscancodes[c], XT_NO_KEY) << std::hex << c;
        }
        if (std::isalpha(static_cast<int>(c))) {
            EXPECT_EQ(XTscancodes[c], XTscancodes[std::tolower(static_cast<int>(c))]);
        }
    }
}

}  // namespace
