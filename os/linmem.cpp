// LinOS physical memory: 64 KiB windows of /dev/mem, mapped on first use and
// kept for the rest of the run. Reads copy byte by byte; writes of 2 and 4
// bytes are single stores of that width, as the SPI registers require.
#include <fcntl.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "os/linos.h"

namespace {
constexpr unsigned int WORD_STORE = 2;
constexpr unsigned int DWORD_STORE = 4;
constexpr int EXIT_NO_PHYS_MEM = 1;
// Why the last open of /dev/mem failed: a kernel without the device needs
// another kernel, not more privileges.
int physMemOpenError = 0;

unsigned int windowBase(unsigned int address) { return address & ~MMAP_WINDOW_MASK; }
unsigned int windowOffset(unsigned int address) { return address & MMAP_WINDOW_MASK; }
}  // namespace

void LinOS::privateMemInit() { mmapWindows = nullptr; }

unsigned char* LinOS::privateGetMmap(unsigned int base) {
    for (const s_MmapWindow* w = mmapWindows; w != nullptr; w = w->next) {
        if (w->base == base) {
            return w->mapping;
        }
    }

    // O_SYNC keeps the mapping uncached: it holds device registers.
    int fd = kernel->open(PHYS_MEM_DEVICE, O_RDWR | O_SYNC);
    if (fd < 0) {
        physMemOpenError = errno;
        std::fprintf(stderr, "Error opening /dev/mem\n");
        return nullptr;
    }
    void* mapping = kernel->mmap(nullptr, MMAP_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED,
                                 fd, static_cast<off_t>(base));
    if (mapping == MAP_FAILED) {
        std::fprintf(stderr, "Could not mmap, error %d", errno);
        kernel->close(fd);
        return nullptr;
    }
    kernel->close(fd);  // the mapping outlives the descriptor
    mmapWindows =
        new s_MmapWindow{base, MMAP_WINDOW_SIZE, static_cast<unsigned char*>(mapping), mmapWindows};
    return mmapWindows->mapping;
}

// Callers of memRead/memWrite never see a failure: without the window the
// process cannot do its job, so it ends here.
unsigned char* LinOS::privateGetMmapOrDie(unsigned int base) {
    unsigned char* window = privateGetMmap(base);
    if (window == nullptr) {
        if (physMemOpenError == ENOENT)
            std::fprintf(stderr, "no /dev/mem on this kernel: boot a kernel that provides it "
                                 "(CONFIG_DEVMEM) and run lromup as root\n");
        else
            std::fprintf(stderr, "\nDo you have sufficient privileges?  Try sudo or execute as root\n");
        std::exit(EXIT_NO_PHYS_MEM);
    }
    return window;
}

void LinOS::privateMemWrite(unsigned int address, unsigned int length, unsigned char* source) {
    unsigned int offset = windowOffset(address);
    if (length > MMAP_WINDOW_SIZE - offset) {
        // Would run past the mapping: a caller fault, never worth a stray store.
        std::fprintf(stderr, "Memory write of %u bytes at %08X leaves its 64 KiB window; not written\n",
                     length, address);
        return;
    }
    unsigned char* window = privateGetMmapOrDie(windowBase(address));
    volatile unsigned char* target = window + offset;
    if (length == WORD_STORE) {
        kernel->poke16(target, static_cast<unsigned short>(source[0] | source[1] << 8));
    } else if (length == DWORD_STORE) {
        unsigned int value = static_cast<unsigned int>(source[0]) |
                             static_cast<unsigned int>(source[1]) << 8 |
                             static_cast<unsigned int>(source[2]) << 16 |
                             static_cast<unsigned int>(source[3]) << 24;
        kernel->poke32(target, value);
    } else {
        for (unsigned int i = 0; i < length; ++i) {
            kernel->poke8(target + i, source[i]);
        }
    }
}

void LinOS::privateMemRead(unsigned int address, unsigned int length, unsigned char* destination) {
    // 32-bit arithmetic: end is 0 when the range ends exactly at 4 GiB, and a
    // range that would wrap past 4 GiB has end <= address and copies nothing.
    const unsigned int end = address + length;
    unsigned int cursor = address;
    while (end > cursor || (address != 0 && end == 0 && cursor != 0)) {
        unsigned int base = windowBase(cursor);
        unsigned int offset = windowOffset(cursor);
        const unsigned char* window = privateGetMmapOrDie(base);
        unsigned int done = cursor - address;
        unsigned int count;
        if (windowBase(end) == base) {
            count = length - done;  // the range ends in this window
        } else {
            count = MMAP_WINDOW_SIZE - offset;
        }
        for (unsigned int i = 0; i < count; ++i) {
            destination[done + i] = kernel->peek8(window + offset + i);
        }
        cursor += count;  // 0 after the last window below 4 GiB
    }
}

void LinOS::privateMemCleanup() {
    while (mmapWindows != nullptr) {
        s_MmapWindow* w = mmapWindows;
        kernel->munmap(w->mapping, w->size);
        mmapWindows = w->next;
        delete w;
    }
}
