// The production binding of KernelCalls: the real system calls and, on x86,
// the in/out instructions themselves.
#include "os/kernel.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define LROMUP_X86 1
#else
#define LROMUP_X86 0
#endif

namespace {

#if LROMUP_X86
int realIopl(int level) { return ::iopl(level); }
int realIoperm(unsigned long from, unsigned long count, int turnOn) {
    return ::ioperm(from, count, turnOn);
}

unsigned char realInb(unsigned short port) {
    unsigned char value;
    asm volatile("inb %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
unsigned short realInw(unsigned short port) {
    unsigned short value;
    asm volatile("inw %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
unsigned int realInl(unsigned short port) {
    unsigned int value;
    asm volatile("inl %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}
void realOutb(unsigned short port, unsigned char value) {
    asm volatile("outb %b0, %w1" : : "a"(value), "Nd"(port));
}
void realOutw(unsigned short port, unsigned short value) {
    asm volatile("outw %w0, %w1" : : "a"(value), "Nd"(port));
}
void realOutl(unsigned short port, unsigned int value) {
    asm volatile("outl %0, %w1" : : "a"(value), "Nd"(port));
}
#else
// No port I/O on this architecture: the kernel refuses and ports float high.
int realIopl(int) {
    errno = ENOSYS;
    return -1;
}
int realIoperm(unsigned long, unsigned long, int) {
    errno = ENOSYS;
    return -1;
}
unsigned char realInb(unsigned short) { return 0xFF; }
unsigned short realInw(unsigned short) { return 0xFFFF; }
unsigned int realInl(unsigned short) { return 0xFFFFFFFFu; }
void realOutb(unsigned short, unsigned char) {}
void realOutw(unsigned short, unsigned short) {}
void realOutl(unsigned short, unsigned int) {}
#endif

int realOpen(const char* path, int flags) { return ::open(path, flags); }
int realClose(int fd) { return ::close(fd); }
void* realMmap(void* address, std::size_t length, int protection, int flags, int fd,
               off_t offset) {
    return ::mmap(address, length, protection, flags, fd, offset);
}
int realMunmap(void* address, std::size_t length) { return ::munmap(address, length); }

unsigned char realPeek8(const volatile void* address) {
    return *static_cast<const volatile unsigned char*>(address);
}
void realPoke8(volatile void* address, unsigned char value) {
    *static_cast<volatile unsigned char*>(address) = value;
}
void realPoke16(volatile void* address, unsigned short value) {
    *static_cast<volatile unsigned short*>(address) = value;
}
void realPoke32(volatile void* address, unsigned int value) {
    *static_cast<volatile unsigned int*>(address) = value;
}

int realSocket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }
int realIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
int realUsleep(unsigned int microseconds) { return ::usleep(microseconds); }
int realSystem(const char* command) { return std::system(command); }
int realCreate(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int realFlock(int fd, int operation) { return ::flock(fd, operation); }

const KernelCalls kProductionKernel = {
    realIopl,   realIoperm, realOpen,   realClose,  realMmap,   realMunmap,
    realInb,    realInw,    realInl,    realOutb,   realOutw,   realOutl,
    realPeek8,  realPoke8,  realPoke16, realPoke32, realSocket, realIoctl,
    realUsleep, realSystem, realCreate, realFlock,
};

}  // namespace

const KernelCalls& productionKernel() { return kProductionKernel; }
