// A kernel for LinOS tests: records every call as a line of text, can refuse
// iopl/ioperm/open/mmap with an errno, keeps a port space, and backs /dev/mem
// with one ordinary buffer per 64 KiB window whose bytes follow a known
// pattern of their physical address.
#pragma once
#include <fcntl.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "os/kernel.h"
#include "os/linos.h"

struct FakeKernel {
    std::vector<std::string> log;
    int ioplErrno = 0;    // non-zero: iopl refuses with this errno
    int iopermErrno = 0;  // non-zero: ioperm refuses
    int openErrno = 0;
    int mmapErrno = 0;
    int socketErrno = 0;
    int ioctlErrno = 0;
    int systemStatus = 0;
    unsigned long peeks = 0;  // byte reads of mapped memory (not logged)
    std::map<unsigned short, unsigned char> ports;               // unset ports float high
    std::map<unsigned int, std::vector<unsigned char>> windows;  // base -> backing
    unsigned char hwaddr[6] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    std::string ifreqName;
};

inline FakeKernel fake;

inline unsigned char physPattern(unsigned int address) {
    return static_cast<unsigned char>(address ^ (address >> 8) ^ (address >> 16) ^ (address >> 24) ^
                                      0x5A);
}

inline std::string fmt(const char* format, unsigned long a = 0, unsigned long b = 0,
                       unsigned long c = 0) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b, c);
    return line;
}

// Physical address of a pointer into one of the fake windows.
inline unsigned long fakePhys(const volatile void* p) {
    auto* byte = static_cast<const volatile unsigned char*>(p);
    for (auto& [base, bytes] : fake.windows) {
        if (byte >= bytes.data() && byte < bytes.data() + bytes.size()) {
            return base + static_cast<unsigned long>(byte - bytes.data());
        }
    }
    return 0xDEAD0000DEADul;
}

inline unsigned char fakePortByte(unsigned short port) {
    auto it = fake.ports.find(port);
    return it == fake.ports.end() ? 0xFF : it->second;
}
inline void fakeSetPort(unsigned short port, unsigned int value, unsigned int width) {
    for (unsigned int i = 0; i < width; ++i) {
        fake.ports[static_cast<unsigned short>(port + i)] =
            static_cast<unsigned char>(value >> (8 * i));
    }
}
inline unsigned int fakeGetPort(unsigned short port, unsigned int width) {
    unsigned int value = 0;
    for (unsigned int i = 0; i < width; ++i) {
        value |= static_cast<unsigned int>(fakePortByte(static_cast<unsigned short>(port + i)))
                 << (8 * i);
    }
    return value;
}

inline int refuseWith(int error) {
    errno = error;
    return -1;
}

inline const KernelCalls& fakeKernel() {
    static const KernelCalls calls = {
        [](int level) {
            fake.log.push_back(fmt("iopl %lu", static_cast<unsigned long>(level)));
            return fake.ioplErrno ? refuseWith(fake.ioplErrno) : 0;
        },
        [](unsigned long from, unsigned long count, int on) {
            fake.log.push_back(fmt("ioperm %#lx %lu %lu", from, count, static_cast<unsigned long>(on)));
            return fake.iopermErrno ? refuseWith(fake.iopermErrno) : 0;
        },
        [](const char* path, int flags) {
            fake.log.push_back(std::string("open ") + path +
                               ((flags & O_ACCMODE) == O_RDWR ? " rw" : " not-rw"));
            return fake.openErrno ? refuseWith(fake.openErrno) : 7;
        },
        [](int fd) {
            fake.log.push_back(fmt("close %lu", static_cast<unsigned long>(fd)));
            return 0;
        },
        [](void*, std::size_t length, int prot, int flags, int, off_t offset) -> void* {
            bool rwShared = prot == (PROT_READ | PROT_WRITE) && flags == MAP_SHARED;
            fake.log.push_back(fmt(rwShared ? "mmap %#lx %#lx" : "mmap %#lx %#lx bad-mode",
                                   static_cast<unsigned long>(offset), length));
            if (fake.mmapErrno) {
                errno = fake.mmapErrno;
                return MAP_FAILED;
            }
            auto base = static_cast<unsigned int>(offset);
            std::vector<unsigned char>& bytes = fake.windows[base];
            bytes.resize(length);
            for (std::size_t i = 0; i < length; ++i) {
                bytes[i] = physPattern(base + static_cast<unsigned int>(i));
            }
            return bytes.data();
        },
        [](void* address, std::size_t length) {
            fake.log.push_back(fmt("munmap %#lx %#lx", fakePhys(address), length));
            return 0;
        },
        [](unsigned short port) {
            fake.log.push_back(fmt("inb %#lx", port));
            return static_cast<unsigned char>(fakeGetPort(port, 1));
        },
        [](unsigned short port) {
            fake.log.push_back(fmt("inw %#lx", port));
            return static_cast<unsigned short>(fakeGetPort(port, 2));
        },
        [](unsigned short port) {
            fake.log.push_back(fmt("inl %#lx", port));
            return fakeGetPort(port, 4);
        },
        [](unsigned short port, unsigned char value) {
            fake.log.push_back(fmt("outb %#lx %#lx", port, value));
            fakeSetPort(port, value, 1);
        },
        [](unsigned short port, unsigned short value) {
            fake.log.push_back(fmt("outw %#lx %#lx", port, value));
            fakeSetPort(port, value, 2);
        },
        [](unsigned short port, unsigned int value) {
            fake.log.push_back(fmt("outl %#lx %#lx", port, value));
            fakeSetPort(port, value, 4);
        },
        [](const volatile void* address) {
            ++fake.peeks;
            return *static_cast<const volatile unsigned char*>(address);
        },
        [](volatile void* address, unsigned char value) {
            fake.log.push_back(fmt("poke8 %#lx %#lx", fakePhys(address), value));
            *static_cast<volatile unsigned char*>(address) = value;
        },
        [](volatile void* address, unsigned short value) {
            fake.log.push_back(fmt("poke16 %#lx %#lx", fakePhys(address), value));
            std::memcpy(const_cast<void*>(address), &value, sizeof value);
        },
        [](volatile void* address, unsigned int value) {
            fake.log.push_back(fmt("poke32 %#lx %#lx", fakePhys(address), value));
            std::memcpy(const_cast<void*>(address), &value, sizeof value);
        },
        [](int domain, int type, int protocol) {
            fake.log.push_back(fmt(domain == AF_INET && type == SOCK_DGRAM ? "socket inet dgram %lu"
                                                                           : "socket other %lu",
                                   static_cast<unsigned long>(protocol)));
            return fake.socketErrno ? refuseWith(fake.socketErrno) : 9;
        },
        [](int fd, unsigned long request, void* argument) {
            fake.log.push_back(fmt("ioctl %lu %#lx", static_cast<unsigned long>(fd), request));
            auto* req = static_cast<ifreq*>(argument);
            fake.ifreqName = req->ifr_name;
            if (fake.ioctlErrno) {
                return refuseWith(fake.ioctlErrno);
            }
            std::memcpy(req->ifr_hwaddr.sa_data, fake.hwaddr, sizeof fake.hwaddr);
            return 0;
        },
        [](unsigned int microseconds) {
            fake.log.push_back(fmt("usleep %lu", microseconds));
            return 0;
        },
        [](const char* command) {
            fake.log.push_back(std::string("system ") + command);
            return fake.systemStatus;
        },
    };
    return calls;
}

// Starts every test from a fresh fake.
inline void resetFake() { fake = FakeKernel(); }

using Log = std::vector<std::string>;
