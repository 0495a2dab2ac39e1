// Drives the IPMI fallback and the USB drive paths of the production LinOS on
// a real kernel, for a machine (or virtual machine) that has the devices. Not
// run by the tests: it loads kernel modules and, with --write, writes a drive.
//   host_devices ipmi                           open, ask Get Device ID, close
//   host_devices usb VENDOR PRODUCT [--write FILE]
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "os/linos.h"

namespace {
constexpr unsigned char NETFN_APP_REQUEST = 0x06 << 2;  // as the bridge callers pass it
constexpr unsigned char CMD_GET_DEVICE_ID = 0x01;
constexpr int EXIT_USAGE = 2;

int ipmi(LinOS& os) {
    void* handle = nullptr;
    const int opened = os.bmcOpenSP6Driver(&handle, nullptr);
    std::printf("bmcOpenSP6Driver: %d\n", opened);
    if (opened != 0) return 1;
    unsigned char response[64] = {};
    unsigned short length = sizeof response;
    unsigned char cc = 0xFF;
    const int sent = os.bmcSendSP6Request(handle, NETFN_APP_REQUEST, CMD_GET_DEVICE_ID, nullptr, 0,
                                          0, response, &length, &cc, nullptr);
    std::printf("bmcSendSP6Request: %d completion 0x%02x length %u:", sent, cc, length);
    for (unsigned i = 0; i < length && i < sizeof response; ++i) std::printf(" %02x", response[i]);
    std::printf("\nbmcCloseSP6Driver: %d\n", os.bmcCloseSP6Driver(handle, nullptr));
    return sent == 0 && cc == 0 ? 0 : 1;
}

int usb(LinOS& os, char* vendor, char* product, const char* file) {
    const int found = os.UsbDrive_FindDevice(vendor, product);
    std::printf("UsbDrive_FindDevice: %d\n", found);
    if (found == 0 || file == nullptr) return found ? 0 : 1;
    std::ifstream in(file, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return 1;
    const int opened = os.UsbDrive_Open(vendor, product);
    const int wrote = opened ? os.UsbDrive_Write(data.data(), data.size()) : 0;
    std::printf("UsbDrive_Open: %d UsbDrive_Write: %d (%zu bytes) UsbDrive_Close: %d\n", opened,
                wrote, data.size(), os.UsbDrive_Close());
    return wrote ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    LinOS os;
    if (argc == 2 && std::strcmp(argv[1], "ipmi") == 0) return ipmi(os);
    if (argc == 4 && std::strcmp(argv[1], "usb") == 0) return usb(os, argv[2], argv[3], nullptr);
    if (argc == 6 && std::strcmp(argv[1], "usb") == 0 && std::strcmp(argv[4], "--write") == 0) {
        return usb(os, argv[2], argv[3], argv[5]);
    }
    std::fprintf(stderr, "usage: host_devices ipmi | usb VENDOR PRODUCT [--write FILE]\n");
    return EXIT_USAGE;
}
