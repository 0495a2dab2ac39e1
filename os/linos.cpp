// Provisional host object: complete port I/O and /dev/mem access come next.
#include "os/linos.h"

#include <unistd.h>

#include <cstdlib>

LinOS::LinOS() = default;
LinOS::~LinOS() = default;

void LinOS::preexec() {}
unsigned char LinOS::inportByte(unsigned short) { return 0xFF; }
unsigned short LinOS::inportWord(unsigned short) { return 0xFFFF; }
unsigned int LinOS::inportDword(unsigned short) { return 0xFFFFFFFFu; }
void LinOS::outportByte(unsigned short, unsigned char) {}
void LinOS::outportWord(unsigned short, unsigned short) {}
void LinOS::outportDword(unsigned short, unsigned int) {}
void LinOS::memRead(unsigned int, unsigned int, unsigned char*) {}
void LinOS::memWrite(unsigned int, unsigned int, unsigned char*) {}
void LinOS::pipelineStart() {}
void LinOS::pipelineEnd() {}
unsigned int LinOS::spOpenSPDriver(void**, unsigned int, unsigned int) { return 0xFFFFFFFFu; }
unsigned int LinOS::spOpenSPDriverNode(void**, unsigned int, unsigned int, unsigned int*,
                                       unsigned int) {
    return 0xFFFFFFFFu;
}
unsigned int LinOS::spSystemDataIO(void*, unsigned char*, unsigned int) { return 0xFFFFFFFFu; }
unsigned int LinOS::spCloseSPDriver(void*, unsigned int) { return 0xFFFFFFFFu; }
int LinOS::bmcOpenSP6Driver(void**, void*) { return -1; }
int LinOS::bmcCloseSP6Driver(void*, void*) { return 0; }
int LinOS::bmcSendSP6Request(void*, unsigned char, unsigned char, unsigned char*, unsigned short,
                             unsigned char, unsigned char*, unsigned short*, unsigned char*,
                             void*) {
    return 8;
}
void LinOS::sleep(unsigned int milliseconds) { usleep(milliseconds * 1000u); }
int LinOS::h8init() { return -1; }
int LinOS::h8destroy() { return 0; }
int LinOS::h8readcommand(H8cmd_s*) { return -1; }
int LinOS::h8writecommand(H8cmd_s*) { return -1; }
int LinOS::h8pollcommand(H8cmd_s*) { return -1; }
int LinOS::reboot() { return std::system("reboot"); }
void LinOS::getMACAddress(unsigned char*) {}
int LinOS::UsbDrive_FindDevice(char*, char*) { return 0; }
int LinOS::UsbDrive_Open(char*, char*) { return 0; }
int LinOS::UsbDrive_Close() { return 1; }
int LinOS::UsbDrive_Write(char*, unsigned long) { return 0; }
