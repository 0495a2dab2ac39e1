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
int realFlock(int fd, int operation) { return ::flock(fd, operation); }
int realMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int realFstat(int fd, struct stat* info) { return ::fstat(fd, info); }
int realUnlink(const char* path) { return ::unlink(path); }
uid_t realGeteuid() { return ::geteuid(); }

void* realDlopen(const char* file, int mode) { return ::dlopen(file, mode); }
void* realDlsym(void* handle, const char* symbol) { return ::dlsym(handle, symbol); }
std::time_t realTime(std::time_t* out) { return std::time(out); }
int realOpenMode(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t realWrite(int fd, const void* data, std::size_t length) {
    return ::write(fd, data, length);
}
off_t realLseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int realFsync(int fd) { return ::fsync(fd); }
int realClockGettime(clockid_t clock, struct timespec* now) { return ::clock_gettime(clock, now); }
int realSelect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
               struct timeval* timeout) {
    return ::select(count, readable, writable, failed, timeout);
}

// The output comes back through a pipe, so no file in a shared directory is
// ever written or read on the command's behalf.
int realRunCommand(const char* command, char* output, std::size_t capacity) {
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

const KernelCalls kProductionKernel = {
    realIopl,   realIoperm, realOpen,   realClose,  realMmap,   realMunmap,
    realInb,    realInw,    realInl,    realOutb,   realOutw,   realOutl,
    realPeek8,  realPoke8,  realPoke16, realPoke32, realSocket, realIoctl,
    realUsleep, realSystem, realDlopen, realDlsym, realTime, realOpenMode, realWrite,
    realLseek,  realFsync,  realSelect, realClockGettime, realRunCommand, realFlock,
    realMkdir,  realFstat,  realUnlink, realGeteuid,
};

}  // namespace

const KernelCalls& productionKernel() { return kProductionKernel; }
