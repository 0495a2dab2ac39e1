// LinOS: the host object for Linux on x86 (port I/O, /dev/mem, sockets).
#pragma once
#include <ctime>

#include "os/os.h"

class LinOS final : public OS {
public:
    LinOS();
    ~LinOS();
    LinOS(const LinOS&) = delete;
    LinOS& operator=(const LinOS&) = delete;

    void preexec() override;
    unsigned char inportByte(unsigned short port) override;
    unsigned short inportWord(unsigned short port) override;
    unsigned int inportDword(unsigned short port) override;
    void outportByte(unsigned short port, unsigned char value) override;
    void outportWord(unsigned short port, unsigned short value) override;
    void outportDword(unsigned short port, unsigned int value) override;
    void memRead(unsigned int address, unsigned int length, unsigned char* destination) override;
    void memWrite(unsigned int address, unsigned int length, unsigned char* source) override;
    void pipelineStart() override;
    void pipelineEnd() override;
    unsigned int spOpenSPDriver(void** handle, unsigned int a, unsigned int b) override;
    unsigned int spOpenSPDriverNode(void** handle, unsigned int a, unsigned int b,
                                    unsigned int* c, unsigned int d) override;
    unsigned int spSystemDataIO(void* handle, unsigned char* buffer, unsigned int a) override;
    unsigned int spCloseSPDriver(void* handle, unsigned int a) override;
    int bmcOpenSP6Driver(void** handle, void* arg) override;
    int bmcCloseSP6Driver(void* handle, void* arg) override;
    int bmcSendSP6Request(void* handle, unsigned char netfn, unsigned char cmd,
                          unsigned char* request, unsigned short requestLength,
                          unsigned char lun, unsigned char* response,
                          unsigned short* responseLength, unsigned char* completionCode,
                          void* arg) override;
    void sleep(unsigned int milliseconds) override;
    int h8init() override;
    int h8destroy() override;
    int h8readcommand(H8cmd_s* cmd) override;
    int h8writecommand(H8cmd_s* cmd) override;
    int h8pollcommand(H8cmd_s* cmd) override;
    int reboot() override;
    void getMACAddress(unsigned char* mac) override;
    int UsbDrive_FindDevice(char* vendor, char* product) override;
    int UsbDrive_Open(char* vendor, char* product) override;
    int UsbDrive_Close() override;
    int UsbDrive_Write(char* data, unsigned long length) override;
};
