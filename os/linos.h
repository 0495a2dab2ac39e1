// LinOS: the host object for Linux on x86. Port I/O with lazily acquired
// permissions (linio.cpp), physical memory through cached 64 KiB windows of
// /dev/mem (linmem.cpp), delays, reboot and the network hardware address
// (linos.cpp), the H8 over SMBus (linh8.cpp), the service-processor driver
// bridges (sp_bridge.cpp, sp6_bridge.cpp) with the IPMI fallback
// (sp6_openipmi.cpp), and the USB drive (linusb.cpp). Every kernel call goes
// through a KernelCalls table (kernel.h).
#pragma once
#include <ctime>

#include "os/kernel.h"
#include "os/os.h"
#include "os/sp_libraries.h"

// ioperm covers ports 0x000..IOPERM_LAST_PORT; higher ports need iopl.
constexpr unsigned short IOPERM_LAST_PORT = 0x3FF;
constexpr int IOPL_USER_IO = 3;  // privilege level that opens every port
constexpr int IOPL_NONE = 0;

// /dev/mem is mapped in windows of this size, aligned on their size.
constexpr unsigned int MMAP_WINDOW_SIZE = 0x10000;
constexpr unsigned int MMAP_WINDOW_MASK = MMAP_WINDOW_SIZE - 1;  // offset inside a window
constexpr const char* PHYS_MEM_DEVICE = "/dev/mem";

// Interface whose hardware address getMACAddress reports.
constexpr const char* MAC_INTERFACE = "eth0";
constexpr unsigned int MAC_ADDRESS_SIZE = 6;

// The lock every lromup on this machine takes before it touches the hardware.
constexpr const char* MACHINE_LOCK_PATH = "/run/lock/lromup.lock";
constexpr unsigned int MACHINE_LOCK_MODE = 0600;
// Made, root's only, where a minimal system has no lock directory.
constexpr const char* const MACHINE_LOCK_DIRS[] = {"/run", "/run/lock"};
constexpr unsigned int MACHINE_LOCK_DIR_MODE = 0755;

// The USB drive found and opened last.
constexpr unsigned int USB_DEVNAME_SIZE = 100;
struct s_UsbDrive {
    char devname[USB_DEVNAME_SIZE];  // "/dev/sd" and one letter
    int fdest;                       // descriptor of the opened drive; 0: none
};

// One run of consecutive ports granted by ioperm.
struct s_IoportRange {
    unsigned short first;
    unsigned short count;
    s_IoportRange* next;
};

// One mapped window of physical memory.
struct s_MmapWindow {
    unsigned int base;  // physical address, multiple of MMAP_WINDOW_SIZE
    unsigned int size;  // always MMAP_WINDOW_SIZE
    unsigned char* mapping;
    s_MmapWindow* next;
};

class LinOS final : public OS {
public:
    LinOS();                                     // bound to the real kernel
    explicit LinOS(const KernelCalls& kernel);  // bound to another (tests)
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
    int lockMachine() override;

    // Read-only views of the object's state, for diagnostics and tests.
    const s_IoportRange* portRanges() const { return ioportRanges; }
    bool ioplIsRaised() const { return ioplRaised != 0; }
    const s_MmapWindow* memWindows() const { return mmapWindows; }

    // 0 when the process may access the port, else the negated errno of the
    // refused ioperm/iopl.
    int privateIoportCheckPerm(unsigned short port);

private:
    // Port I/O (linio.cpp).
    void privateIoportInit();
    void privateIoportCleanup();
    int privateCheckPorts(unsigned short port, unsigned int width);
    unsigned char privateInportByte(unsigned short port);
    unsigned short privateInportWord(unsigned short port);
    unsigned int privateInportDword(unsigned short port);
    void privateOutportByte(unsigned short port, unsigned char value);
    void privateOutportWord(unsigned short port, unsigned short value);
    void privateOutportDword(unsigned short port, unsigned int value);

    // Physical memory (linmem.cpp).
    void privateMemInit();
    void privateMemCleanup();
    unsigned char* privateGetMmap(unsigned int base);
    unsigned char* privateGetMmapOrDie(unsigned int base);
    void privateMemRead(unsigned int address, unsigned int length, unsigned char* destination);
    void privateMemWrite(unsigned int address, unsigned int length, unsigned char* source);

    // H8 over SMBus (linh8.cpp).
    int privateh8init();
    int privateh8destroy();
    int privateh8readcommand(H8cmd_s* cmd);
    int privateh8writecommand(H8cmd_s* cmd);
    int privateh8pollcommand(H8cmd_s* cmd);
    int privateh8command(H8cmd_s* cmd, bool expectReply);
    void privateh8notice();
    int privateh8waitforsmb();
    int privateh8sendreceivebyte(bool read, unsigned char address, unsigned char* byte);
    int privateh8smbustransaction(bool expectReply, unsigned char address, H8cmd_s* cmd);

    // Service-processor driver libraries (sp_bridge.cpp, sp6_bridge.cpp).
    void* privateSysSpEntry(const char* symbol, void** entry);
    void* privateSp6Entry(const char* symbol, void** entry, bool mayLoad);

    // IPMI fallback of the SP6 bridges (sp6_openipmi.cpp).
    int OpenIPMI_OpenSP6Driver(int* descriptor);
    int OpenIPMI_CloseSP6Driver(int descriptor);
    int OpenIPMI_SendSP6Request(int descriptor, unsigned char netfn, unsigned char cmd,
                                unsigned char* request, unsigned short requestLength,
                                unsigned char lun, unsigned char* response,
                                unsigned short* responseLength, unsigned char* completionCode);
    int privateIpmiOpenDevice();
    int privateIpmiLoadModules();
    bool privateIpmiKernelSupported();
    int privateRun(const char* command, char* output);

    // USB drive (linusb.cpp).
    int privateFindDev(const char* path, const char* vendor, const char* product);

    s_IoportRange* ioportRanges;  // newest first
    int ioplRaised;               // non-zero once iopl(3) succeeded
    s_MmapWindow* mmapWindows;    // newest first
    unsigned int smbusBase;       // SMBus host controller I/O base for the H8; 0: not set up
    std::time_t spNoticeTime;     // last notice to the service processor; -1: no driver
    void* spDriverHandle;         // service-processor driver handle for H8 traffic
    const KernelCalls* kernel;
    int machineLockFd;            // open and locked lock file; -1 before lockMachine

    s_SpLibraries spLibs;         // driver libraries and their entry points
    unsigned int curr_seq;        // message id of the next IPMI request
    s_UsbDrive usb;
};
