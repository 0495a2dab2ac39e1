// The production binding of KernelCalls: the real system calls and, on x86,
// the in/out instructions themselves.
#include "os/kernel.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define LROMUP_X86 1
#else
#define LROMUP_X86 0
#endif

// The production binding, in the order of the lists in kernel.h: the library
// calls forward to the function of the same name, the others are below.
namespace real {

#define LROMUP_KERNEL_FORWARD(type, name, parameters, arguments) \
    type name parameters { return ::name arguments; }
LROMUP_KERNEL_LIBRARY_CALLS(LROMUP_KERNEL_FORWARD)
#undef LROMUP_KERNEL_FORWARD

#if LROMUP_X86
int iopl(int level) { return ::iopl(level); }
int ioperm(unsigned long from, unsigned long count, int turnOn) {
    return ::ioperm(from, count, turnOn);
}

unsigned char inb(unsigned short port) {
    unsigned char value;
    asm volatile("inb %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
unsigned short inw(unsigned short port) {
    unsigned short value;
    asm volatile("inw %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
unsigned int inl(unsigned short port) {
    unsigned int value;
    asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
void outb(unsigned short port, unsigned char value) {
    asm volatile("outb %b0, %w1" : : "a"(value), "Nd"(port));
}
void outw(unsigned short port, unsigned short value) {
    asm volatile("outw %w0, %w1" : : "a"(value), "Nd"(port));
}
void outl(unsigned short port, unsigned int value) {
    asm volatile("outl %0, %w1" : : "a"(value), "Nd"(port));
}
#else
// No port I/O on this architecture: the kernel refuses and ports float high.
int iopl(int) {
    errno = ENOSYS;
    return -1;
}
int ioperm(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}
unsigned char inb(unsigned short) { return 0xFF; }
unsigned short inw(unsigned short) { return 0xFFFF; }
unsigned int inl(unsigned short) { return 0xFFFFFFFFu; }
void outb(unsigned short, unsigned char) {}
void outw(unsigned short, unsigned short) {}
void outl(unsigned short, unsigned int) {}
#endif

unsigned char peek8(const volatile void* address) {
    return *static_cast<const volatile unsigned char*>(address);
}
void poke8(volatile void* address, unsigned char value) {
    *static_cast<volatile unsigned char*>(address) = value;
}
void poke16(volatile void* address, unsigned short value) {
    *static_cast<volatile unsigned short*>(address) = value;
}
void poke32(volatile void* address, unsigned int value) {
    *static_cast<volatile unsigned int*>(address) = value;
}

int openMode(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

// The output comes back through a pipe, so no file in a shared directory is
// ever written or read on the command's behalf.
int runCommand(const char* command, char* output, std::size_t capacity) {
    if (capacity != 0) output[0] = '\0';
    const std::string withErrors = std::string(command) + " 2>&1";
    FILE* pipe = ::popen(withErrors.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::size_t kept = 0;
    char chunk[256];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) != 0;) {
        for (std::size_t i = 0; i < got && kept + 1 < capacity; ++i) output[kept++] = chunk[i];
    }
    if (capacity != 0) output[kept] = '\0';
    return ::pclose(pipe);
}

}  // namespace real

namespace {

#define LROMUP_KERNEL_ROW(type, name, ...) real::name,
const KernelCalls kProductionKernel = {
    LROMUP_KERNEL_LIBRARY_CALLS(LROMUP_KERNEL_ROW) LROMUP_KERNEL_OWN_CALLS(LROMUP_KERNEL_ROW)};
#undef LROMUP_KERNEL_ROW

// Fails as a kernel without the facility would, whatever the call returns.
template <typename Call>
struct Refusal;
template <typename Result, typename... Arguments>
struct Refusal<Result (*)(Arguments...)> {
    static Result call(Arguments...) {
        errno = ENOSYS;
        if constexpr (std::is_void_v<Result>) return;
        else if constexpr (std::is_pointer_v<Result>) return nullptr;
        else if constexpr (std::is_unsigned_v<Result>) return Result(~Result(0));  // a floating bus
        else return Result(-1);
    }
};

KernelCalls makeRefusingKernel() {
#define LROMUP_KERNEL_ROW(type, name, ...) &Refusal<decltype(KernelCalls::name)>::call,
    KernelCalls calls = {
        LROMUP_KERNEL_LIBRARY_CALLS(LROMUP_KERNEL_ROW) LROMUP_KERNEL_OWN_CALLS(LROMUP_KERNEL_ROW)};
#undef LROMUP_KERNEL_ROW
    calls.mmap = [](void*, std::size_t, int, int, int, off_t) -> void* {
        errno = ENOSYS;
        return MAP_FAILED;
    };
    return calls;
}

}  // namespace

const KernelCalls& productionKernel() { return kProductionKernel; }
const KernelCalls& refusingKernel() {
    static const KernelCalls calls = makeRefusingKernel();  // built on first use, whatever the order
    return calls;
}
