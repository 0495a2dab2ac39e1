// LinOS port I/O. Permission is asked for lazily, one port at a time: ioperm
// for the low ports, one iopl for everything above them. Granted low ports are
// remembered as runs so that later accesses make no kernel call.
#include <cerrno>

#include "os/linos.h"

namespace {
constexpr unsigned int BYTE_PORTS = 1;
constexpr unsigned int WORD_PORTS = 2;
constexpr unsigned int DWORD_PORTS = 4;
constexpr int IOPERM_ON = 1;
constexpr int IOPERM_OFF = 0;
}  // namespace

void LinOS::privateIoportInit() {
    ioportRanges = nullptr;
    ioplRaised = 0;
}

int LinOS::privateIoportCheckPerm(unsigned short port) {
    if (port > IOPERM_LAST_PORT) {
        if (ioplRaised != 0) {
            return 0;
        }
        if (kernel->iopl(IOPL_USER_IO) != 0) {
            return -errno;
        }
        ioplRaised = 1;
        return 0;
    }

    for (const s_IoportRange* r = ioportRanges; r != nullptr; r = r->next) {
        if (r->first <= port && port < r->first + r->count) {
            return 0;
        }
    }

    // Grow the first run (newest first) that the port touches from below or
    // above. Runs that become adjacent are left as two records.
    for (s_IoportRange* r = ioportRanges; r != nullptr; r = r->next) {
        bool below = r->first == port + 1;
        bool above = r->first + r->count == port;
        if (!below && !above) {
            continue;
        }
        if (kernel->ioperm(port, 1, IOPERM_ON) != 0) {
            return -errno;
        }
        if (below) {
            r->first = port;
        }
        ++r->count;
        return 0;
    }

    if (kernel->ioperm(port, 1, IOPERM_ON) != 0) {
        return -errno;
    }
    ioportRanges = new s_IoportRange{port, 1, ioportRanges};
    return 0;
}

// Checks every port an access of the given width covers, in ascending order
// with 16-bit wrap-around; stops at the first refusal.
int LinOS::privateCheckPorts(unsigned short port, unsigned int width) {
    for (unsigned int i = 0; i < width; ++i) {
        int result = privateIoportCheckPerm(static_cast<unsigned short>(port + i));
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

unsigned char LinOS::privateInportByte(unsigned short port) {
    if (privateCheckPorts(port, BYTE_PORTS) != 0) {
        return 0xFF;
    }
    return kernel->inb(port);
}

unsigned short LinOS::privateInportWord(unsigned short port) {
    if (privateCheckPorts(port, WORD_PORTS) != 0) {
        return 0xFFFF;
    }
    return kernel->inw(port);
}

unsigned int LinOS::privateInportDword(unsigned short port) {
    if (privateCheckPorts(port, DWORD_PORTS) != 0) {
        return 0xFFFFFFFFu;
    }
    return kernel->inl(port);
}

void LinOS::privateOutportByte(unsigned short port, unsigned char value) {
    if (privateCheckPorts(port, BYTE_PORTS) == 0) {
        kernel->outb(port, value);
    }
}

void LinOS::privateOutportWord(unsigned short port, unsigned short value) {
    if (privateCheckPorts(port, WORD_PORTS) == 0) {
        kernel->outw(port, value);
    }
}

void LinOS::privateOutportDword(unsigned short port, unsigned int value) {
    if (privateCheckPorts(port, DWORD_PORTS) == 0) {
        kernel->outl(port, value);
    }
}

void LinOS::privateIoportCleanup() {
    while (ioportRanges != nullptr) {
        s_IoportRange* r = ioportRanges;
        kernel->ioperm(r->first, r->count, IOPERM_OFF);  // nothing to do if refused
        ioportRanges = r->next;
        delete r;
    }
    if (ioplRaised != 0) {
        kernel->iopl(IOPL_NONE);
        ioplRaised = 0;
    }
}
