// Physical memory of LinOS against the fake kernel: window mapping and
// caching, reads across windows and up to 4 GiB, store widths, fatal errors.
#include <gtest/gtest.h>
#include <unistd.h>

#include "os_fake_kernel.h"

namespace {

constexpr const char* PRIVILEGES =
    "\nDo you have sufficient privileges\\?  Try sudo or execute as root\n$";

std::vector<unsigned char> expectedBytes(unsigned int address, unsigned int length) {
    std::vector<unsigned char> bytes(length);
    for (unsigned int i = 0; i < length; ++i) {
        bytes[i] = physPattern(address + i);
    }
    return bytes;
}

Log opened(unsigned int base) {
    return {"open /dev/mem rw", fmt("mmap %#lx 0x10000", base), "close 7"};
}

Log join(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Memory : public ::testing::Test {
protected:
    void SetUp() override { resetFake(); }
    // Reads through the object and checks the bytes against the fake's pattern.
    void readAndCheck(unsigned int address, unsigned int length) {
        std::vector<unsigned char> got(length, 0xEE);
        os.memRead(address, length, got.data());
        EXPECT_EQ(got, expectedBytes(address, length));
    }
    LinOS os{fakeKernel()};
};

// --- windows and caching ---------------------------------------------------

TEST_F(Memory, WindowIsMappedOnceAndReused) {
    readAndCheck(0xFED1F804, 4);
    readAndCheck(0xFED1F900, 0x40);
    unsigned char value[4] = {1, 2, 3, 4};
    os.memWrite(0xFED1F808, 4, value);
    EXPECT_EQ(fake.log, join(opened(0xFED10000), {"poke32 0xfed1f808 0x4030201"}));
}

TEST_F(Memory, NewestWindowFirstAndAllUnmappedAtTheEnd) {
    {
        LinOS local(fakeKernel());
        unsigned char byte;
        local.memRead(0xF0000, 1, &byte);
        local.memRead(0xFED1F804, 1, &byte);
        ASSERT_NE(local.memWindows(), nullptr);
        EXPECT_EQ(local.memWindows()->base, 0xFED10000u);
        EXPECT_EQ(local.memWindows()->next->base, 0xF0000u);
        fake.log.clear();
    }
    EXPECT_EQ(fake.log, (Log{"munmap 0xfed10000 0x10000", "munmap 0xf0000 0x10000"}));
}

// --- reads -----------------------------------------------------------------

TEST_F(Memory, ReadSpanningTwoWindows) {
    readAndCheck(0xFFF0, 0x20);
    EXPECT_EQ(fake.log, join(opened(0), opened(0x10000)));
    EXPECT_EQ(fake.peeks, 0x20u);  // byte reads only
}

TEST_F(Memory, ReadOfWholeWindowMapsOnlyThatWindow) {
    readAndCheck(0xF0000, 0x10000);
    EXPECT_EQ(fake.log, opened(0xF0000));
}

TEST_F(Memory, ReadRunningToTopOfFourGiB) {
    readAndCheck(0xFFFF0000, 0x10000);
    EXPECT_EQ(fake.log, opened(0xFFFF0000));
}

TEST_F(Memory, ReadFromBelowTheLastWindowToTopOfFourGiB) {
    readAndCheck(0xFFFE8000, 0x18000);  // half a window, then the last one
    EXPECT_EQ(fake.log, join(opened(0xFFFE0000), opened(0xFFFF0000)));
}

TEST_F(Memory, ReadsThatCopyNothing) {
    unsigned char untouched[0x20];
    std::memset(untouched, 0xEE, sizeof untouched);
    os.memRead(0x1000, 0, untouched);
    os.memRead(0, 0, untouched);
    os.memRead(0xFFFFFFF0, 0x20, untouched);  // would wrap past 4 GiB
    for (unsigned char byte : untouched) {
        EXPECT_EQ(byte, 0xEE);
    }
    EXPECT_TRUE(fake.log.empty());
}

// --- writes ----------------------------------------------------------------

TEST_F(Memory, TwoAndFourByteWritesAreSingleStores) {
    unsigned char data[4] = {0x11, 0x22, 0x33, 0x44};
    os.memWrite(0xFED1F890, 2, data);
    os.memWrite(0xFED1F8A0, 4, data);
    os.memWrite(0xFED1F8B0, 3, data);
    os.memWrite(0xFED1F8C0, 1, data);
    fake.log.erase(fake.log.begin(), fake.log.begin() + 3);
    EXPECT_EQ(fake.log, (Log{"poke16 0xfed1f890 0x2211", "poke32 0xfed1f8a0 0x44332211",
                             "poke8 0xfed1f8b0 0x11", "poke8 0xfed1f8b1 0x22",
                             "poke8 0xfed1f8b2 0x33", "poke8 0xfed1f8c0 0x11"}));
    unsigned char back[4];
    os.memRead(0xFED1F8A0, 4, back);
    EXPECT_EQ(std::memcmp(back, data, 4), 0);
}

TEST_F(Memory, WriteLeavingItsWindowIsRefused) {
    unsigned char data[4] = {};
    ::testing::internal::CaptureStderr();
    os.memWrite(0x1FFFE, 4, data);
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(fake.log.empty());
    os.memWrite(0x1FFFC, 4, data);  // the last dword of the window is fine
    EXPECT_EQ(fake.log.back(), "poke32 0x1fffc 0");
}

// --- no physical memory -----------------------------------------------------

using MemoryDeathTest = Memory;

TEST_F(MemoryDeathTest, OpenFailureEndsTheRun) {
    fake.openErrno = EACCES;
    unsigned char byte;
    EXPECT_EXIT(os.memRead(0xF0000, 1, &byte), ::testing::ExitedWithCode(1),
                std::string("^Error opening /dev/mem\n") + PRIVILEGES);
    EXPECT_EXIT(os.memWrite(0xF0000, 1, &byte), ::testing::ExitedWithCode(1),
                std::string("^Error opening /dev/mem\n") + PRIVILEGES);
}

TEST_F(MemoryDeathTest, MapFailureEndsTheRunWithTheErrno) {
    fake.mmapErrno = EPERM;
    unsigned char byte;
    EXPECT_EXIT(os.memRead(0xF0000, 1, &byte), ::testing::ExitedWithCode(1),
                std::string("^Could not mmap, error 1") + PRIVILEGES);
}

TEST(MemoryRealKernelDeathTest, WithoutDevMemTheRunEndsWithStatusOne) {
    int fd = ::open("/dev/mem", O_RDWR);
    if (fd >= 0) {
        ::close(fd);
        GTEST_SKIP() << "/dev/mem can be opened here";
    }
    LinOS os;
    unsigned char byte;
    EXPECT_EXIT(os.memRead(0xF0000, 1, &byte), ::testing::ExitedWithCode(1),
                std::string("^Error opening /dev/mem\n") + PRIVILEGES);
}

}  // namespace
