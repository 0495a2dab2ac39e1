// A kernel for LinOS tests: records every call as a line of text, can refuse
// iopl/ioperm with an errno, keeps the last value written to each port, backs
// /dev/mem with one buffer per 64 KiB window patterned by address, and models
// the machine lock's file. Device nodes (once a test sets `open`), device
// requests and shell commands are answered by hooks a test sets.
#pragma once
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "os/kernel.h"
#include "os/linos.h"

using Log = std::vector<std::string>;
inline Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FakeKernel {
    Log log;
    int ioplErrno = 0, iopermErrno = 0;                          // non-zero: refuse
    int createErrno = 0, flockErrno = 0;                         // non-zero: refuse
    bool noLockDirectory = false;                                // until mkdir makes it
    bool noLockFile = false;                                     // until created
    mode_t lockMode = S_IFREG | 0600;                            // the lock file as fstat sees it
    uid_t lockUid = 0, euid = 0;
    unsigned long peeks = 0;                                     // byte reads (not logged)
    std::map<unsigned short, unsigned int> ports;                // last value written
    std::map<unsigned int, std::vector<unsigned char>> windows;  // base -> backing
    std::function<int(const std::string&, int flags)> open;      // set: a device node's descriptor or -1
    std::function<int(int fd, unsigned long request, void*)> ioctl;
    std::function<std::string(const std::string&)> run;          // a command's output
    std::function<ssize_t(int fd, std::size_t length)> write;    // bytes written
    std::vector<std::string> written;                            // data of every write
    int selectResult = 1;
};
inline FakeKernel fake;
inline void resetFake() { fake = FakeKernel(); }

// The log lines that begin with one of the prefixes, in order.
inline Log only(const Log& log, std::initializer_list<const char*> prefixes) {
    Log kept;
    std::copy_if(log.begin(), log.end(), std::back_inserter(kept), [&](const std::string& line) {
        const auto starts = [&](const char* p) { return line.rfind(p, 0) == 0; };
        return std::any_of(prefixes.begin(), prefixes.end(), starts);
    });
    return kept;
}

inline unsigned char physPattern(unsigned int a) {
    return static_cast<unsigned char>(a ^ (a >> 8) ^ (a >> 16) ^ (a >> 24) ^ 0x5A);
}

inline std::string fmt(const char* format, unsigned long a = 0, unsigned long b = 0) {
    char line[96];
    std::snprintf(line, sizeof line, format, a, b);
    return line;
}

inline int failWith(int error) {
    errno = error;
    return -1;
}

// Logs the call, then sets errno and returns -1 when error is non-zero.
inline int answer(const std::string& call, int error, int result = 0) {
    fake.log.push_back(call);
    errno = error;
    return error ? -1 : result;
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

inline unsigned int portIn(const char* name, unsigned short port) {
    fake.log.push_back(fmt(name, port));
    return fake.ports[port];
}
inline void portOut(const char* name, unsigned short port, unsigned int value) {
    fake.log.push_back(fmt(name, port, value));
    fake.ports[port] = value;
}
template <typename T>
void poke(const char* name, volatile void* address, T value) {
    fake.log.push_back(fmt(name, fakePhys(address), value));
    std::memcpy(const_cast<void*>(address), &value, sizeof value);
}

inline const KernelCalls& fakeKernel() {
    using u16 = unsigned short;
    static const KernelCalls calls = [] {
        KernelCalls k = refusingKernel();
        k.iopl = [](int level) { return answer(fmt("iopl %lu", level), fake.ioplErrno); };
        k.ioperm = [](unsigned long from, unsigned long count, int on) {
            return answer(fmt("ioperm %#lx %lu", from, count) + fmt(" %lu", on), fake.iopermErrno);
        };
        k.open = [](const char* path, int flags) {
            if (fake.open) {  // a device node
                fake.log.push_back(std::string("open ") + path);
                return fake.open(path, flags);
            }
            bool rw = (flags & O_ACCMODE) == O_RDWR;  // /dev/mem
            return answer(std::string("open ") + path + (rw ? " rw" : " not-rw"), 0, 7);
        };
        k.close = [](int fd) { return answer(fmt("close %lu", fd), 0); };
        k.mmap = [](void*, std::size_t length, int prot, int flags, int, off_t offset) -> void* {
            bool rwShared = prot == (PROT_READ | PROT_WRITE) && flags == MAP_SHARED;
            answer(fmt("mmap %#lx %#lx", offset, length) + (rwShared ? "" : " bad-mode"), 0);
            auto base = static_cast<unsigned int>(offset);
            std::vector<unsigned char>& bytes = fake.windows[base];
            for (unsigned int i = 0; i < length; ++i) {
                bytes.push_back(physPattern(base + i));
            }
            return bytes.data();
        };
        k.munmap = [](void* address, std::size_t length) {
            return answer(fmt("munmap %#lx %#lx", fakePhys(address), length), 0);
        };
        k.inb = [](u16 port) { return static_cast<unsigned char>(portIn("inb %#lx", port)); };
        k.inw = [](u16 port) { return static_cast<u16>(portIn("inw %#lx", port)); };
        k.inl = [](u16 port) { return portIn("inl %#lx", port); };
        k.outb = [](u16 port, unsigned char value) { portOut("outb %#lx %#lx", port, value); };
        k.outw = [](u16 port, u16 value) { portOut("outw %#lx %#lx", port, value); };
        k.outl = [](u16 port, unsigned int value) { portOut("outl %#lx %#lx", port, value); };
        k.peek8 = [](const volatile void* address) {
            ++fake.peeks;
            return *static_cast<const volatile unsigned char*>(address);
        };
        k.poke8 = [](volatile void* address, unsigned char value) { poke("poke8 %#lx %#lx", address, value); };
        k.poke16 = [](volatile void* address, u16 value) { poke("poke16 %#lx %#lx", address, value); };
        k.poke32 = [](volatile void* address, unsigned int value) { poke("poke32 %#lx %#lx", address, value); };
        k.usleep = [](unsigned int microseconds) { return answer(fmt("usleep %lu", microseconds), 0); };
        k.openMode = [](const char* path, int flags, mode_t mode) {
            if (fake.open) {  // a device node
                fake.log.push_back(std::string("openmode ") + path + fmt(" %#lx %#lo", flags, mode));
                return fake.open(path, flags);
            }
            const bool safe = (flags & O_NOFOLLOW) && (flags & O_NONBLOCK) && (flags & O_CLOEXEC);
            const bool create = flags & O_CREAT;
            const bool missing = fake.noLockDirectory || (fake.noLockFile && !create);
            if (create && !fake.noLockDirectory) fake.noLockFile = false;
            return answer((create ? std::string("create ") + path + fmt(" %#lo", mode)
                                  : std::string("open ") + path) +
                              (safe ? "" : " follows-links"),
                          missing ? ENOENT : fake.createErrno, 9);
        };
        k.flock = [](int fd, int operation) {
            return answer(fmt("flock %lu %#lx", fd, operation), fake.flockErrno);
        };
        k.mkdir = [](const char* path, mode_t mode) {
            if (std::string(path) == "/run/lock") fake.noLockDirectory = false;
            return answer(std::string("mkdir ") + path + fmt(" %#lo", mode), 0);
        };
        k.fstat = [](int fd, struct stat* info) {
            *info = {};
            info->st_mode = fake.lockMode;
            info->st_uid = fake.lockUid;
            info->st_ino = 1;
            return answer(fmt("fstat %lu", fd), 0);
        };
        k.unlink = [](const char* path) {
            fake.lockMode = S_IFREG | 0600;  // what root creates next
            fake.lockUid = 0;
            fake.noLockFile = true;
            return answer(std::string("unlink ") + path, 0);
        };
        k.geteuid = []() { return fake.euid; };
        k.ioctl = [](int fd, unsigned long request, void* argument) {
            return fake.ioctl ? fake.ioctl(fd, request, argument) : failWith(ENOTTY);
        };
        k.write = [](int fd, const void* data, std::size_t length) -> ssize_t {
            fake.log.push_back(fmt("write %lu %lu", fd, length));
            const ssize_t wrote = fake.write ? fake.write(fd, length) : ssize_t(length);
            if (wrote > 0) fake.written.emplace_back(static_cast<const char*>(data), std::size_t(wrote));
            return wrote;
        };
        k.lseek = [](int fd, off_t offset, int whence) -> off_t {
            return answer(fmt("lseek %lu %lu", fd, offset) + fmt(" %lu", whence), 0);
        };
        k.fsync = [](int fd) { return answer(fmt("fsync %lu", fd), 0); };
        k.select = [](int, fd_set*, fd_set*, fd_set*, struct timeval* timeout) {
            fake.log.push_back(fmt("select %lus", timeout != nullptr ? timeout->tv_sec : 0));
            return fake.selectResult;
        };
        k.runCommand = [](const char* command, char* output, std::size_t capacity) {
            fake.log.push_back(std::string("run ") + command);
            const std::string out = fake.run ? fake.run(command) : std::string();
            const std::size_t n = std::min(out.size(), capacity - 1);
            out.copy(output, n);
            output[n] = '\0';
            return 0;
        };
        return k;
    }();
    return calls;
}
