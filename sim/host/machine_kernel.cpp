#include "sim/host/machine_kernel.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <string_view>
#include <memory>
#include <vector>

namespace {
constexpr int MEM_FD = 3;
constexpr uint64_t NS_PER_S = 1000 * SIM_NS_PER_MS;

// Every instruction costs a microsecond of machine time, as on SimOS.
struct Bound {
    Machine* machine = nullptr;
    std::map<const unsigned char*, std::pair<uint32_t, size_t>> windows;  // start -> base, size
    std::vector<std::unique_ptr<unsigned char[]>> storage;
};
Bound bound;

void tick() { bound.machine->clock().advance(SIM_NS_PER_US); }

uint32_t physOf(const volatile void* address) {
    auto* p = static_cast<const unsigned char*>(const_cast<const void*>(address));
    auto it = bound.windows.upper_bound(p);
    if (it == bound.windows.begin()) return 0;
    --it;
    return it->second.first + uint32_t(p - it->first);
}

uint32_t portIn(unsigned short port, unsigned width) {
    tick();
    return bound.machine->portRead(port, width);
}
void portOut(unsigned short port, unsigned width, uint32_t value) {
    tick();
    bound.machine->portWrite(port, width, value);
}
template <typename T>
void store(volatile void* address, T value) {
    tick();
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = uint8_t(value >> (8 * i));
    bound.machine->memWrite(physOf(address), sizeof(T), bytes);
}
int refuse(int error) {
    errno = error;
    return -1;
}

// Calls the board has no counterpart for keep the refusing defaults.
KernelCalls makeMachineKernel() {
    KernelCalls k = refusingKernel();
    k.iopl = [](int) { return 0; };
    k.ioperm = [](unsigned long, unsigned long, int) { return 0; };
    k.open = [](const char* path, int) {
        return std::string_view(path) == "/dev/mem" ? MEM_FD : refuse(ENOENT);
    };
    k.close = [](int) { return 0; };
    k.mmap = [](void*, std::size_t length, int, int, int fd, off_t offset) -> void* {
        if (fd != MEM_FD) return MAP_FAILED;
        bound.storage.push_back(std::make_unique<unsigned char[]>(length));
        bound.windows[bound.storage.back().get()] = {uint32_t(offset), length};
        return bound.storage.back().get();
    };
    k.munmap = [](void*, std::size_t) { return 0; };
    k.inb = [](unsigned short port) { return static_cast<unsigned char>(portIn(port, 1)); };
    k.inw = [](unsigned short port) { return static_cast<unsigned short>(portIn(port, 2)); };
    k.inl = [](unsigned short port) { return portIn(port, 4); };
    k.outb = [](unsigned short port, unsigned char value) { portOut(port, 1, value); };
    k.outw = [](unsigned short port, unsigned short value) { portOut(port, 2, value); };
    k.outl = [](unsigned short port, unsigned int value) { portOut(port, 4, value); };
    k.peek8 = [](const volatile void* address) {
        tick();
        uint8_t byte = 0;
        bound.machine->memRead(physOf(address), 1, &byte);
        return byte;
    };
    k.poke8 = [](volatile void* address, unsigned char value) { store(address, value); };
    k.poke16 = [](volatile void* address, unsigned short value) { store(address, value); };
    k.poke32 = [](volatile void* address, unsigned int value) { store(address, value); };
    k.socket = [](int, int, int) { return refuse(EAFNOSUPPORT); };
    k.ioctl = [](int, unsigned long, void*) { return refuse(ENOTTY); };
    k.usleep = [](unsigned int microseconds) {
        bound.machine->clock().advance(uint64_t(microseconds) * SIM_NS_PER_US);
        return 0;
    };
    k.system = [](const char*) { return -1; };
    k.time = [](std::time_t* out) {
        const std::time_t now = BOARD_EPOCH + std::time_t(bound.machine->clock().ns / NS_PER_S);
        if (out != nullptr) *out = now;
        return now;
    };
    k.openMode = [](const char*, int, mode_t) { return refuse(ENOENT); };
    k.write = [](int, const void*, std::size_t) -> ssize_t { return refuse(EBADF); };
    k.lseek = [](int, off_t, int) -> off_t { return refuse(EBADF); };
    k.fsync = [](int) { return refuse(EBADF); };
    k.select = [](int, fd_set*, fd_set*, fd_set*, struct timeval*) { return refuse(EBADF); };
    k.clock_gettime = [](clockid_t, struct timespec* now) {
        const uint64_t ns = bound.machine->clock().ns;
        now->tv_sec = time_t(ns / NS_PER_S);
        now->tv_nsec = long(ns % NS_PER_S);
        return 0;
    };
    k.runCommand = [](const char*, char* output, std::size_t capacity) {
        if (capacity != 0) output[0] = '\0';
        return -1;
    };
    k.flock = [](int, int) { return refuse(EBADF); };  // the machine lock belongs to SimOS
    k.mkdir = [](const char*, mode_t) { return refuse(EROFS); };
    k.fstat = [](int, struct stat*) { return refuse(EBADF); };
    k.unlink = [](const char*) { return refuse(EROFS); };
    k.geteuid = []() -> uid_t { return 0; };
    return k;
}
}  // namespace

const KernelCalls& machineKernel(Machine& machine) {
    if (bound.machine != &machine) {
        bound.windows.clear();
        bound.storage.clear();
        bound.machine = &machine;
    }
    static const KernelCalls calls = makeMachineKernel();
    return calls;
}
