// LinOS lifecycle and the operations that are complete in themselves: the
// empty hooks, delays, reboot and the network hardware address.
#include "os/linos.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

namespace {
// usleep takes a 32-bit count of microseconds; longer delays are split.
constexpr unsigned int USEC_PER_MSEC = 1000;
constexpr unsigned int MAX_MSEC_PER_USLEEP = 0xFFFFFFFFu / USEC_PER_MSEC;
constexpr int RAND_BYTE_MASK = 0xFF;
}  // namespace

LinOS::LinOS() : LinOS(productionKernel()) {}

LinOS::LinOS(const KernelCalls& kernelCalls) : kernel(&kernelCalls) {
    privateIoportInit();
    privateMemInit();
    smbusBase = 0;
    spNoticeTime = 0;
    spDriverHandle = nullptr;
    spLibs = s_SpLibraries();
    curr_seq = 0;
    usb = s_UsbDrive();
}

LinOS::~LinOS() {
    privateIoportCleanup();
    privateMemCleanup();
}

void LinOS::preexec() {}
void LinOS::pipelineStart() {}
void LinOS::pipelineEnd() {}

unsigned char LinOS::inportByte(unsigned short port) { return privateInportByte(port); }
unsigned short LinOS::inportWord(unsigned short port) { return privateInportWord(port); }
unsigned int LinOS::inportDword(unsigned short port) { return privateInportDword(port); }
void LinOS::outportByte(unsigned short port, unsigned char value) {
    privateOutportByte(port, value);
}
void LinOS::outportWord(unsigned short port, unsigned short value) {
    privateOutportWord(port, value);
}
void LinOS::outportDword(unsigned short port, unsigned int value) {
    privateOutportDword(port, value);
}

void LinOS::memRead(unsigned int address, unsigned int length, unsigned char* destination) {
    privateMemRead(address, length, destination);
}
void LinOS::memWrite(unsigned int address, unsigned int length, unsigned char* source) {
    privateMemWrite(address, length, source);
}

void LinOS::sleep(unsigned int milliseconds) {
    // One usleep for any delay the updater asks for; only absurdly long ones
    // (over an hour) are cut into pieces so the microsecond count cannot wrap.
    do {
        unsigned int chunk =
            milliseconds < MAX_MSEC_PER_USLEEP ? milliseconds : MAX_MSEC_PER_USLEEP;
        kernel->usleep(chunk * USEC_PER_MSEC);
        milliseconds -= chunk;
    } while (milliseconds != 0);
}

int LinOS::reboot() { return kernel->system("reboot"); }

void LinOS::getMACAddress(unsigned char* mac) {
    // Pseudo-random bytes first, so that the buffer is filled even when there
    // is no such interface (the caller only wants a UUID node field).
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    for (unsigned int i = 0; i < MAC_ADDRESS_SIZE; ++i) {
        mac[i] = static_cast<unsigned char>(std::rand() & RAND_BYTE_MASK);
    }

    int fd = kernel->socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return;
    }
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.ifr_name, MAC_INTERFACE, sizeof request.ifr_name - 1);
    if (kernel->ioctl(fd, SIOCGIFHWADDR, &request) == 0) {
        std::memcpy(mac, request.ifr_hwaddr.sa_data, MAC_ADDRESS_SIZE);
    }
    kernel->close(fd);
}
