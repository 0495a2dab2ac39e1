// The host interface: every hardware and operating-system service the updater
// needs goes through one OS object. The slot order of the virtual operations is
// fixed; do not reorder, insert or remove slots.
#pragma once

// H8 command record as it travels over SMBus.
struct H8cmd_s {
    unsigned char count;     // data bytes; on a read: bytes received + 1 (checksum)
    unsigned char command;   // command code
    unsigned char data[64];  // up to 63 data bytes followed by the checksum
};

// What a host answers for a device or driver library that is not there
// (the H8, bridge and USB operations); the callers treat these as failures.
constexpr unsigned int SP_STATUS_UNAVAILABLE = 0xFFFFFFFFu;  // sp* bridges: no library
constexpr int SP6_OPEN_FAILED = -1;          // bmcOpenSP6Driver
constexpr int SP6_CLOSE_DONE = 0;            // bmcCloseSP6Driver
constexpr int SP6_REQUEST_UNAVAILABLE = 8;   // bmcSendSP6Request
constexpr int H8_UNAVAILABLE = -1;           // h8init, h8readcommand, h8writecommand, h8pollcommand
constexpr int H8_NOTHING_TO_CLOSE = 0;       // h8destroy: no notice was ever sent
// Further H8 failures (h8readcommand, h8writecommand, h8pollcommand).
constexpr int H8_TIMED_OUT = -2;             // the bus stayed busy or the H8 never answered
constexpr int H8_NOT_ACKNOWLEDGED = -3;      // the controller reported a failed transaction
constexpr int H8_BAD_REPLY_COUNT = -500;     // a reply count that cannot fit the record
constexpr int USB_NOT_FOUND = 0;             // UsbDrive_FindDevice, UsbDrive_Open, UsbDrive_Write
constexpr int USB_CLOSED = 1;                // UsbDrive_Close

class OS {
public:
    virtual void preexec() = 0;                                              // 0
    virtual unsigned char inportByte(unsigned short port) = 0;               // 1
    virtual unsigned short inportWord(unsigned short port) = 0;              // 2
    virtual unsigned int inportDword(unsigned short port) = 0;               // 3
    virtual void outportByte(unsigned short port, unsigned char value) = 0;  // 4
    virtual void outportWord(unsigned short port, unsigned short value) = 0; // 5
    virtual void outportDword(unsigned short port, unsigned int value) = 0;  // 6
    virtual void memRead(unsigned int address, unsigned int length,
                         unsigned char* destination) = 0;                   // 7
    virtual void memWrite(unsigned int address, unsigned int length,
                          unsigned char* source) = 0;                        // 8
    virtual void pipelineStart() = 0;                                        // 9
    virtual void pipelineEnd() = 0;                                          // 10
    virtual unsigned int spOpenSPDriver(void** handle, unsigned int a,
                                        unsigned int b) = 0;                 // 11
    virtual unsigned int spOpenSPDriverNode(void** handle, unsigned int a, unsigned int b,
                                            unsigned int* c, unsigned int d) = 0; // 12
    virtual unsigned int spSystemDataIO(void* handle, unsigned char* buffer,
                                        unsigned int a) = 0;                 // 13
    virtual unsigned int spCloseSPDriver(void* handle, unsigned int a) = 0;  // 14
    virtual int bmcOpenSP6Driver(void** handle, void* arg) = 0;              // 15
    virtual int bmcCloseSP6Driver(void* handle, void* arg) = 0;              // 16
    virtual int bmcSendSP6Request(void* handle, unsigned char netfn, unsigned char cmd,
                                  unsigned char* request, unsigned short requestLength,
                                  unsigned char lun, unsigned char* response,
                                  unsigned short* responseLength,
                                  unsigned char* completionCode, void* arg) = 0; // 17
    virtual void sleep(unsigned int milliseconds) = 0;                       // 18
    virtual int h8init() = 0;                                                // 19
    virtual int h8destroy() = 0;                                             // 20
    virtual int h8readcommand(H8cmd_s* cmd) = 0;                             // 21
    virtual int h8writecommand(H8cmd_s* cmd) = 0;                            // 22
    virtual int h8pollcommand(H8cmd_s* cmd) = 0;                             // 23
    virtual int reboot() = 0;                                                // 24
    virtual void getMACAddress(unsigned char* mac) = 0;                      // 25
    virtual int UsbDrive_FindDevice(char* vendor, char* product) = 0;        // 26
    virtual int UsbDrive_Open(char* vendor, char* product) = 0;              // 27
    virtual int UsbDrive_Close() = 0;                                        // 28
    virtual int UsbDrive_Write(char* data, unsigned long length) = 0;        // 29

protected:
    OS() = default;
    // Not virtual: only osDestroy destroys a host object, and it knows the type.
    ~OS() = default;
};

// Creates the one host object of a run (a LinOS unless another host was
// installed with osSetHost). Cannot fail other than by running out of memory.
OS* osInit();
// Destroys a host object made by osInit. A null pointer is ignored.
void osDestroy(OS* os);

// Replaces what osInit/osDestroy make and release, for running the updater on
// a host other than this Linux machine (the simulated machine). Passing two
// null pointers restores the Linux host.
using OsCreateFn = OS* (*)();
using OsDestroyFn = void (*)(OS*);
void osSetHost(OsCreateFn create, OsDestroyFn destroy);
