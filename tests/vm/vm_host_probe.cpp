// Runs inside the test machine and drives the Linux host object where only a
// real kernel can answer:
//   vm_host_probe ipmi                 opens the SP6 bridge (no driver library
//                                      there, so the IPMI driver fallback) and
//                                      sends Get Device ID; the kernel reports
//                                      a 2.6 release to this process and the
//                                      commands it runs, since the driver rules
//                                      refuse every modern release
//   vm_host_probe usb VENDOR PRODUCT   finds the drive by INQUIRY and writes
//                                      USB_PATTERN raw from its first byte
// Results go to standard output as "name: value" lines; status 0 when every
// step succeeded.
#include <sys/personality.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "os/os.h"

namespace {
constexpr unsigned char NETFN_APP_LUN0 = 0x06 << 2;  // the bridge takes NetFn/LUN
constexpr unsigned char CMD_GET_DEVICE_ID = 0x01;
constexpr unsigned int USB_PATTERN_BYTES = 4096;
constexpr const char* USB_PATTERN_LINE = "lromup raw write\n";

int probeIpmi(OS* os) {
    personality(PER_LINUX | UNAME26);
    void* handle = nullptr;
    const int opened = os->bmcOpenSP6Driver(&handle, nullptr);
    std::printf("open: %d\n", opened);
    if (opened != 0) return 1;
    unsigned char response[64] = {};
    unsigned short length = sizeof response;
    unsigned char completion = 0xFF;
    const int sent = os->bmcSendSP6Request(handle, NETFN_APP_LUN0, CMD_GET_DEVICE_ID, nullptr, 0,
                                           0, response, &length, &completion, nullptr);
    std::printf("send: %d\ncompletion: 0x%02x\ndata:", sent, completion);
    for (unsigned int i = 0; i < length && i < sizeof response; ++i) std::printf(" %02x", response[i]);
    std::printf("\nclose: %d\n", os->bmcCloseSP6Driver(handle, nullptr));
    return sent == 0 && completion == 0 ? 0 : 1;
}

int probeUsb(OS* os, char* vendor, char* product) {
    const int opened = os->UsbDrive_Open(vendor, product);
    std::printf("open: %d\n", opened);
    if (opened != 1) return 1;
    std::string pattern;
    while (pattern.size() < USB_PATTERN_BYTES) pattern += USB_PATTERN_LINE;
    pattern.resize(USB_PATTERN_BYTES);
    const int wrote = os->UsbDrive_Write(&pattern[0], pattern.size());
    std::printf("write: %d\nclose: %d\n", wrote, os->UsbDrive_Close());
    return wrote == 1 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    OS* os = osInit();
    int status = 2;
    if (argc == 2 && std::strcmp(argv[1], "ipmi") == 0) {
        status = probeIpmi(os);
    } else if (argc == 4 && std::strcmp(argv[1], "usb") == 0) {
        status = probeUsb(os, argv[2], argv[3]);
    } else {
        std::fprintf(stderr, "usage: vm_host_probe ipmi | usb VENDOR PRODUCT\n");
    }
    osDestroy(os);
    return status;
}
