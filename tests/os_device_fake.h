// A kernel for the device paths of LinOS: the recording fake of
// os_fake_kernel.h, with library loading, files, device requests, time and
// shell commands answered by hooks that a test sets. Every such call is
// logged as a line; without a hook a call fails as on a machine without the
// device.
#pragma once
#include <dlfcn.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "os_fake_kernel.h"

struct DeviceFake {
    std::function<void*(const std::string&)> dlopen;            // library name -> real handle
    std::function<int(const std::string&, int flags)> open;      // descriptor or -1
    std::function<int(int fd, unsigned long request, void*)> ioctl;
    std::function<std::string(const std::string&)> run;          // a command's output
    std::function<ssize_t(int fd, std::size_t length)> write;    // bytes written
    std::vector<std::string> written;                            // data of every write
    int selectResult = 1;
    std::time_t now = 1000;
};
inline DeviceFake dev;
inline void resetDevice() {
    resetFake();
    dev = DeviceFake();
}

inline int failWith(int error) {
    errno = error;
    return -1;
}

inline const KernelCalls& deviceKernel() {
    static const KernelCalls calls = [] {
        KernelCalls k = fakeKernel();
        k.open = [](const char* path, int flags) {
            fake.log.push_back(std::string("open ") + path);
            return dev.open ? dev.open(path, flags) : failWith(ENOENT);
        };
        k.ioctl = [](int fd, unsigned long request, void* argument) {
            return dev.ioctl ? dev.ioctl(fd, request, argument) : failWith(ENOTTY);
        };
        k.dlopen = [](const char* file, int mode) -> void* {
            fake.log.push_back(std::string("dlopen ") + file + (mode == RTLD_LAZY ? "" : " not-lazy"));
            return dev.dlopen ? dev.dlopen(file) : nullptr;
        };
        k.dlsym = [](void* handle, const char* symbol) {
            fake.log.push_back(std::string("dlsym ") + symbol);
            return ::dlsym(handle, symbol);
        };
        k.time = [](std::time_t* out) {
            if (out != nullptr) *out = dev.now;
            return dev.now;
        };
        k.openMode = [](const char* path, int flags, mode_t mode) {
            fake.log.push_back(std::string("openmode ") + path + fmt(" %#lx %#lo", flags, mode));
            return dev.open ? dev.open(path, flags) : failWith(ENOENT);
        };
        k.write = [](int fd, const void* data, std::size_t length) -> ssize_t {
            fake.log.push_back(fmt("write %lu %lu", fd, length));
            const ssize_t wrote = dev.write ? dev.write(fd, length) : ssize_t(length);
            if (wrote > 0) dev.written.emplace_back(static_cast<const char*>(data), std::size_t(wrote));
            return wrote;
        };
        k.lseek = [](int fd, off_t offset, int whence) -> off_t {
            return answer(fmt("lseek %lu %lu", fd, offset) + fmt(" %lu", whence), 0);
        };
        k.fsync = [](int fd) { return answer(fmt("fsync %lu", fd), 0); };
        k.select = [](int, fd_set*, fd_set*, fd_set*, struct timeval* timeout) {
            fake.log.push_back(fmt("select %lus", timeout != nullptr ? timeout->tv_sec : 0));
            return dev.selectResult;
        };
        k.runCommand = [](const char* command, char* output, std::size_t capacity) {
            fake.log.push_back(std::string("run ") + command);
            const std::string out = dev.run ? dev.run(command) : std::string();
            const std::size_t n = std::min(out.size(), capacity - 1);
            out.copy(output, n);
            output[n] = '\0';
            return 0;
        };
        return k;
    }();
    return calls;
}

// What a stand-in driver library recorded since last asked; the record is cleared.
inline std::string standinRecord(const char* library) {
    void* handle = ::dlopen(library, RTLD_LAZY);
    std::string text = reinterpret_cast<const char* (*)()>(::dlsym(handle, "standinRecord"))();
    reinterpret_cast<void (*)()>(::dlsym(handle, "standinClear"))();
    return text;
}
