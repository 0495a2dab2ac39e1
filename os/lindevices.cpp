// LinOS operations for devices this build does not drive yet: the
// service-processor driver bridges, the H8 controller and the USB drive.
// Each reports its device as unavailable, quietly.
#include "os/linos.h"

unsigned int LinOS::spOpenSPDriver(void**, unsigned int, unsigned int) {
    return SP_STATUS_UNAVAILABLE;
}
unsigned int LinOS::spOpenSPDriverNode(void**, unsigned int, unsigned int, unsigned int*,
                                       unsigned int) {
    return SP_STATUS_UNAVAILABLE;
}
unsigned int LinOS::spSystemDataIO(void*, unsigned char*, unsigned int) {
    return SP_STATUS_UNAVAILABLE;
}
unsigned int LinOS::spCloseSPDriver(void*, unsigned int) { return SP_STATUS_UNAVAILABLE; }
int LinOS::bmcOpenSP6Driver(void**, void*) { return SP6_OPEN_FAILED; }
int LinOS::bmcCloseSP6Driver(void*, void*) { return SP6_CLOSE_DONE; }
int LinOS::bmcSendSP6Request(void*, unsigned char, unsigned char, unsigned char*, unsigned short,
                             unsigned char, unsigned char*, unsigned short*, unsigned char*,
                             void*) {
    return SP6_REQUEST_UNAVAILABLE;
}

int LinOS::h8init() { return H8_UNAVAILABLE; }
int LinOS::h8destroy() { return H8_NOTHING_TO_CLOSE; }
int LinOS::h8readcommand(H8cmd_s*) { return H8_UNAVAILABLE; }
int LinOS::h8writecommand(H8cmd_s*) { return H8_UNAVAILABLE; }
int LinOS::h8pollcommand(H8cmd_s*) { return H8_UNAVAILABLE; }

int LinOS::UsbDrive_FindDevice(char*, char*) { return USB_NOT_FOUND; }
int LinOS::UsbDrive_Open(char*, char*) { return USB_NOT_FOUND; }
int LinOS::UsbDrive_Close() { return USB_CLOSED; }
int LinOS::UsbDrive_Write(char*, unsigned long) { return USB_NOT_FOUND; }
