// The one seam between the Linux host object and the kernel: every system call
// and every raw hardware access LinOS makes goes through a KernelCalls table.
// Production code uses productionKernel(); tests bind a table of their own that
// records calls, refuses them or backs /dev/mem with ordinary memory.
#pragma once
#include <sys/types.h>

#include <cstddef>

struct KernelCalls {
    // I/O privilege: iopl(level), ioperm(first port, count, turn on).
    int (*iopl)(int level);
    int (*ioperm)(unsigned long from, unsigned long count, int turnOn);

    // Files and mappings (for /dev/mem).
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    void* (*mmap)(void* address, std::size_t length, int protection, int flags, int fd,
                  off_t offset);
    int (*munmap)(void* address, std::size_t length);

    // One x86 in/out instruction of the named width.
    unsigned char (*inb)(unsigned short port);
    unsigned short (*inw)(unsigned short port);
    unsigned int (*inl)(unsigned short port);
    void (*outb)(unsigned short port, unsigned char value);
    void (*outw)(unsigned short port, unsigned short value);
    void (*outl)(unsigned short port, unsigned int value);

    // One access of the named width to mapped device memory.
    unsigned char (*peek8)(const volatile void* address);
    void (*poke8)(volatile void* address, unsigned char value);
    void (*poke16)(volatile void* address, unsigned short value);
    void (*poke32)(volatile void* address, unsigned int value);

    // Network hardware address lookup, delays and the shell.
    int (*socket)(int domain, int type, int protocol);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*usleep)(unsigned int microseconds);
    int (*system)(const char* command);

    // The machine lock: a file created if missing, then flock(2) on it.
    int (*create)(const char* path, int flags, mode_t mode);
    int (*flock)(int fd, int operation);
};

// The table bound to the real kernel calls and x86 instructions.
const KernelCalls& productionKernel();
