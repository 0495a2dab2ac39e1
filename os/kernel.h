// The one seam between the Linux host object and the kernel: every system call
// and every raw hardware access LinOS makes goes through a KernelCalls table.
// Production code uses productionKernel(); tests bind a table of their own that
// records calls, refuses them or backs /dev/mem with ordinary memory.
#pragma once
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

// Every call, listed once; the table, the production binding (kernel.cpp) and
// the refusing defaults that fakes start from are generated from these lists.
// Adding a call is one row here (and, for an own call, its production code).
//
// Calls bound in production to the C library function of the same name:
// X(return type, name, (parameters), (arguments)).
#define LROMUP_KERNEL_LIBRARY_CALLS(X)                                                      \
    /* Files and mappings (for /dev/mem). */                                                \
    X(int, open, (const char* path, int flags), (path, flags))                              \
    X(int, close, (int fd), (fd))                                                           \
    X(void*, mmap, (void* address, std::size_t length, int protection, int flags, int fd,   \
                    off_t offset), (address, length, protection, flags, fd, offset))        \
    X(int, munmap, (void* address, std::size_t length), (address, length))                  \
    /* Network hardware address lookup, delays and the shell. */                            \
    X(int, socket, (int domain, int type, int protocol), (domain, type, protocol))          \
    X(int, ioctl, (int fd, unsigned long request, void* argument), (fd, request, argument)) \
    X(int, usleep, (unsigned int microseconds), (microseconds))                             \
    X(int, system, (const char* command), (command))                                        \
    /* Driver libraries loaded at run time. */                                              \
    X(void*, dlopen, (const char* file, int mode), (file, mode))                            \
    X(void*, dlsym, (void* handle, const char* symbol), (handle, symbol))                   \
    /* Wall-clock seconds (the service-processor notice interval). */                       \
    X(std::time_t, time, (std::time_t* out), (out))                                         \
    /* Files and devices beyond /dev/mem: the USB drive and the IPMI device. */             \
    X(ssize_t, write, (int fd, const void* data, std::size_t length), (fd, data, length))   \
    X(off_t, lseek, (int fd, off_t offset, int whence), (fd, offset, whence))               \
    X(int, fsync, (int fd), (fd))                                                           \
    X(int, select, (int count, fd_set* readable, fd_set* writable, fd_set* failed,          \
                    struct timeval* timeout), (count, readable, writable, failed, timeout)) \
    /* Monotonic time, for bounds on waits. */                                              \
    X(int, clock_gettime, (clockid_t clock, struct timespec* now), (clock, now))            \
    /* The machine lock: flock(2) on a file opened with openMode, in a directory */         \
    /* made with mkdir(2) where the system has none (a rescue system's /run). */            \
    X(int, flock, (int fd, int operation), (fd, operation))                                 \
    X(int, mkdir, (const char* path, mode_t mode), (path, mode))                            \
    /* The lock file's type and owner, and its removal when it is not root's own. */        \
    X(int, fstat, (int fd, struct stat* info), (fd, info))                                  \
    X(int, unlink, (const char* path), (path))                                              \
    X(uid_t, geteuid, (), ())

// Calls with production code of their own in kernel.cpp: X(return type, name,
// (parameters)).
#define LROMUP_KERNEL_OWN_CALLS(X)                                                          \
    /* I/O privilege: iopl(level), ioperm(first port, count, turn on). */                   \
    X(int, iopl, (int level))                                                               \
    X(int, ioperm, (unsigned long from, unsigned long count, int turnOn))                   \
    /* One x86 in/out instruction of the named width. */                                    \
    X(unsigned char, inb, (unsigned short port))                                            \
    X(unsigned short, inw, (unsigned short port))                                           \
    X(unsigned int, inl, (unsigned short port))                                             \
    X(void, outb, (unsigned short port, unsigned char value))                               \
    X(void, outw, (unsigned short port, unsigned short value))                              \
    X(void, outl, (unsigned short port, unsigned int value))                                \
    /* One access of the named width to mapped device memory. */                            \
    X(unsigned char, peek8, (const volatile void* address))                                 \
    X(void, poke8, (volatile void* address, unsigned char value))                           \
    X(void, poke16, (volatile void* address, unsigned short value))                         \
    X(void, poke32, (volatile void* address, unsigned int value))                           \
    /* open(2) with a mode, for files it may create. */                                     \
    X(int, openMode, (const char* path, int flags, mode_t mode))                            \
    /* Runs a shell command and hands back its standard output and error, never */          \
    /* through a file: at most capacity - 1 bytes, NUL-terminated, the rest read */         \
    /* and dropped. Returns the command's wait status, -1 if it did not run. */             \
    X(int, runCommand, (const char* command, char* output, std::size_t capacity))

struct KernelCalls {
#define LROMUP_KERNEL_MEMBER(type, name, parameters, ...) type(*name) parameters;
    LROMUP_KERNEL_LIBRARY_CALLS(LROMUP_KERNEL_MEMBER)
    LROMUP_KERNEL_OWN_CALLS(LROMUP_KERNEL_MEMBER)
#undef LROMUP_KERNEL_MEMBER
};

// A table in which every call fails as a kernel without the facility would:
// errno ENOSYS and -1 (MAP_FAILED from mmap), a null pointer, all ones from a
// port. Tables for tests and for the simulated machine start from it and bind
// by name the calls they model, so a new call needs nothing from them.
const KernelCalls& refusingKernel();

// The table bound to the real kernel calls and x86 instructions.
const KernelCalls& productionKernel();
