// Physical memory of LinOS against the fake kernel: window mapping and
// caching, reads across windows and up to 4 GiB, store widths, fatal errors.
#include <cerrno>
#include <string>
#include <gtest/gtest.h>
#include <unistd.h>

#include "os_fake_kernel.h"

namespace {

// The log of mapping the 64 KiB windows at the given bases, in order.
Log mapped(const std::vector<unsigned int>& bases) {
    Log log;
    for (unsigned int base : bases) {
        log.insert(log.end(), {"open /dev/mem rw", fmt("mmap %#lx 0x10000", base), "close 7"});
    }
    return log;
}

TEST(MemoryReads, CopyBytewiseAcrossWindowsUpToTheTopOfFourGiB) {
    resetFake();
    LinOS os(fakeKernel());
    std::vector<unsigned char> got(0x18001, 0xEE), want(got);
    os.memRead(0xFFFE8000, 0x18000, got.data());
    for (unsigned int i = 0; i < 0x18000; ++i) want[i] = physPattern(0xFFFE8000 + i);
    EXPECT_EQ(got, want);
    // A read that would wrap past 4 GiB copies nothing, not even from a window at hand.
    std::vector<unsigned char> wrapped(0x21, 0xEE);
    os.memRead(0xFFFFFFF0, 0x20, wrapped.data());
    EXPECT_EQ(wrapped, std::vector<unsigned char>(0x21, 0xEE));
    EXPECT_EQ(fake.peeks, 0x18000u);
    EXPECT_EQ(fake.log, mapped({0xFFFE0000, 0xFFFF0000}));
}

// Two- and four-byte writes are single stores (registers take them whole),
// others go bytewise; a write never leaves its window. Windows are mapped
// once, reused, and unmapped newest first.
TEST(MemoryWindows, StoresByWidthInsideCachedWindowsUnmappedNewestFirst) {
    resetFake();
    {
        LinOS os(fakeKernel());
        unsigned char bytes[4], data[4] = {0x11, 0x22, 0x33, 0x44};
        os.memRead(0xF0000, 1, bytes);
        os.memRead(0xFED1F804, 4, bytes);
        os.memWrite(0xFED1F890, 2, data);
        os.memWrite(0xFED1F8A0, 4, data);
        os.memWrite(0xFED1F8B0, 3, data);
        os.memWrite(0xFED1FFFC, 4, data);  // the last dword of the window
        ::testing::internal::CaptureStderr();
        os.memWrite(0xFED1FFFE, 4, data);  // would leave the window: refused
        EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
        Log want = mapped({0xF0000, 0xFED10000});
        want.insert(want.end(), {"poke16 0xfed1f890 0x2211", "poke32 0xfed1f8a0 0x44332211",
                                 "poke8 0xfed1f8b0 0x11", "poke8 0xfed1f8b1 0x22",
                                 "poke8 0xfed1f8b2 0x33", "poke32 0xfed1fffc 0x44332211"});
        EXPECT_EQ(fake.log, want);
        fake.log.clear();
    }
    EXPECT_EQ(fake.log, (Log{"munmap 0xfed10000 0x10000", "munmap 0xf0000 0x10000"}));
}

// Without a window the run ends with status 1: /dev/mem does not open on
// this machine (skipped where it does). A kernel without the device is told
// apart from a refusal.
TEST(MemoryRealKernelDeathTest, WithoutDevMemTheRunEndsWithStatusOne) {
    int fd = ::open("/dev/mem", O_RDWR);
    if (fd >= 0) {
        ::close(fd);
        GTEST_SKIP() << "/dev/mem can be opened here";
    }
    const char* why = errno == ENOENT
                          ? "no /dev/mem on this kernel: boot a kernel that provides it "
                            "\\(CONFIG_DEVMEM\\) and run lromup as root\n$"
                          : "\nDo you have sufficient privileges\\?  Try sudo or execute as root\n$";
    LinOS os;
    unsigned char byte;
    EXPECT_EXIT(os.memRead(0xF0000, 1, &byte), ::testing::ExitedWithCode(1),
                std::string("^Error opening /dev/mem\n") + why);
}

}  // namespace
