// The Linux IPMI driver as the fallback of the SP6 bridges: results, the
// device nodes, the kernel modules and driver versions it accepts, and the
// bounds of its waits.
#pragma once

// OpenIPMI_OpenSP6Driver results (bmcOpenSP6Driver turns IPMI_OPEN_FAILED into -1).
constexpr int IPMI_OPEN_OK = 0;
constexpr int IPMI_OPEN_NO_POINTER = 1;
constexpr int IPMI_OPEN_FAILED = 4;
// OpenIPMI_SendSP6Request results.
constexpr int IPMI_SEND_OK = 0;
constexpr int IPMI_SEND_FAILED = 8;
// OpenIPMI_GetSP6Version.
constexpr unsigned int IPMI_SP6_VERSION = 0x30100;
constexpr int IPMI_NO_DESCRIPTOR = -1;

constexpr const char* IPMI_DEVICE = "/dev/ipmi0";
constexpr const char* IPMI_DEVICE_DEVFS = "/dev/ipmi/0";
constexpr const char* IPMI_INIT_SCRIPT = "/etc/init.d/ipmi";

// Command output kept for the checks: what a 256-byte read gives.
constexpr unsigned int IPMI_OUTPUT_SIZE = 256;

// After the modules are in, the device node may take a while to appear.
constexpr unsigned int IPMI_OPEN_TRIES = 30;
constexpr unsigned int IPMI_OPEN_RETRY_US = 1000000;
// The driver answers every request itself (with a timeout completion code if
// the controller is silent) well within this.
constexpr long IPMI_REPLY_TIMEOUT_S = 20;

// Kernel releases from 2.6 on have a driver that needs no version check;
// before that, driver 35.11, 35.13 and anything from 38 on are good.
constexpr int IPMI_CHECKED_KERNEL_MAJOR = 2;
constexpr long IPMI_UNCHECKED_KERNEL_MINOR = 6;
constexpr long IPMI_MIN_DRIVER_MAJOR = 38;

// The address of the BMC through the system interface, and the 40 bytes
// kept for the address a reply comes from.
constexpr int IPMI_REPLY_ADDRESS_SIZE = 40;

// Splits text in place: returns the text at *cursor up to the first of the
// delimiters, ends it there and moves the cursor past it. The last piece is
// returned with the cursor set to null; a null cursor gives null.
char* newstrtok(char** cursor, const char* delimiters);

// OpenIPMI_GetSP6Version: the version this fallback reports.
int OpenIPMI_GetSP6Version(unsigned int* version);
