// The 64-bit arithmetic of the UUID clock on 32-bit halves, at the carries.
#include <gtest/gtest.h>

#include "tables/utils.h"

namespace {

uint64_t join(int64 v) { return (static_cast<uint64_t>(v.high) << 32) | v.low; }
int64 split(uint64_t v) { return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)}; }

TEST(WideArithmetic, ExactAcrossColumnCarriesAndTheTwoTo64Wrap) {
    const uint64_t products[][2] = {
        {0xFFFFFFFF, 0xFFFFFFFF}, {0x8000FFFF, 0xFFFF8000}, {0x12345678, 0x9ABCDEF0}};
    for (const auto& r : products) {
        SCOPED_TRACE(testing::Message() << std::hex << r[0] << " * " << r[1]);
        EXPECT_EQ(join(mult32(uint32_t(r[0]), uint32_t(r[1]))), r[0] * r[1]);
    }
    // One top bit, both top bits, the top bit set only by the sum, a 2^64 wrap.
    const uint64_t sums[][2] = {{0xFFFFFFFF, 1}, {0x80000000, 0x7FFFFFFF}, {0x780000000, 0x180000000},
                                {0x40000000, 0x40000000}, {0xFFFFFFFFFFFFFFFF, 1}};
    for (const auto& r : sums) {
        SCOPED_TRACE(testing::Message() << std::hex << r[0] << " + " << r[1]);
        EXPECT_EQ(join(add64(split(r[0]), split(r[1]))), r[0] + r[1]);
    }
}

}  // namespace
