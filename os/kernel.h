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

    // Driver libraries loaded at run time.
    void* (*dlopen)(const char* file, int mode);
    void* (*dlsym)(void* handle, const char* symbol);

    // Wall-clock seconds (the service-processor notice interval).
    std::time_t (*time)(std::time_t* out);

    // Files and devices beyond /dev/mem: the USB drive and the IPMI device.
    int (*openMode)(const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t length);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*fsync)(int fd);
    int (*select)(int count, fd_set* readable, fd_set* writable, fd_set* failed,
                  struct timeval* timeout);

    // Monotonic time, for bounds on waits.
    int (*clock_gettime)(clockid_t clock, struct timespec* now);

    // Runs a shell command and hands back its standard output and error, never
    // through a file: at most capacity - 1 bytes, NUL-terminated, the rest
    // read and dropped. Returns the command's wait status, -1 if it did not run.
    int (*runCommand)(const char* command, char* output, std::size_t capacity);

    // The machine lock: flock(2) on a file opened with openMode, in a directory
    // made with mkdir(2) where the system has none (a rescue system's /run).
    int (*flock)(int fd, int operation);
    int (*mkdir)(const char* path, mode_t mode);
    // What the lock file is and who owns it; the lock file of another owner
    // is removed (by root) and made anew; only root creates it.
    int (*fstat)(int fd, struct stat* info);
    int (*unlink)(const char* path);
    uid_t (*geteuid)();
};

// The table bound to the real kernel calls and x86 instructions.
const KernelCalls& productionKernel();
