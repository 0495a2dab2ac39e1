// LinOS fallback for the SP6 bridges: the Linux IPMI device driver. Opening
// loads the driver modules and makes the device node when needed, then checks
// that the running kernel's driver is one that works. Command output comes
// back through the seam's runCommand (a pipe), never through a shared file,
// so nothing planted in /tmp can be written through or read.
#include "os/sp6_openipmi.h"

#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/linos.h"

namespace {
// The driver modules in loading order; when a module is missing, the one in
// the second column provides the same driver on some distributions.
struct IpmiModule {
    const char* name;
    const char* alternative;
};
constexpr IpmiModule IPMI_MODULES[] = {
    {"ipmi_msghandler", nullptr},
    {"ipmi_devintf", nullptr},
    {"ipmi_si", "ipmi_si_drv"},
};
constexpr const char* MODULE_FAILURE_MARKS[] = {"FATAL", "Can't locate module"};

constexpr const char* CONNECTING = "Initiating OpenIPMI connection";
constexpr const char* BAD_DRIVER = "An invalid version of the OpenIPMI driver was detected. Halting.";
constexpr const char* DRIVER_BANNER[] = {"ipmi", "message", "handler", "version"};
constexpr const char* GOOD_35_MINORS[] = {"11", "13"};
constexpr const char* DRIVER_35 = "35";
constexpr const char* KERNEL_2 = "2";
constexpr int DECIMAL = 10;

bool moduleFailed(const char* output) {
    for (const char* mark : MODULE_FAILURE_MARKS) {
        if (std::strstr(output, mark) != nullptr) return true;
    }
    return false;
}

// Whole decimal text, as a character-device major number must be.
bool isNumber(const char* text) {
    if (text == nullptr || *text == '\0') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
    }
    return true;
}

long numberOf(const char* text) { return text != nullptr ? std::strtol(text, nullptr, DECIMAL) : 0; }

enum class DriverLine { NotTheBanner, BadVersion, Good };

// The driver banner "ipmi message handler version X.Y" of a 2.4 kernel. Only
// a version that fails the rule is reported; a line that is not the banner
// is refused without a word.
DriverLine checkDriverLine(char* line) {
    char* cursor = line;
    for (const char* word : DRIVER_BANNER) {
        const char* got = newstrtok(&cursor, " ");
        if (got == nullptr || std::strcmp(got, word) != 0) return DriverLine::NotTheBanner;
    }
    char* version = newstrtok(&cursor, " \n");
    char* rest = version;
    const char* major = newstrtok(&rest, ".");
    if (major == nullptr) return DriverLine::BadVersion;
    if (std::strcmp(major, DRIVER_35) == 0) {
        for (const char* minor : GOOD_35_MINORS) {
            if (rest != nullptr && std::strcmp(rest, minor) == 0) return DriverLine::Good;
        }
        return DriverLine::BadVersion;
    }
    return numberOf(major) >= IPMI_MIN_DRIVER_MAJOR ? DriverLine::Good : DriverLine::BadVersion;
}
}  // namespace

char* newstrtok(char** cursor, const char* delimiters) {
    if (cursor == nullptr || *cursor == nullptr) return nullptr;
    char* start = *cursor;
    char* stop = start + std::strcspn(start, delimiters);
    if (*stop == '\0') {
        *cursor = nullptr;
    } else {
        *stop = '\0';
        *cursor = stop + 1;
    }
    return start;
}

int OpenIPMI_GetSP6Version(unsigned int* version) {
    if (version == nullptr) return IPMI_OPEN_FAILED;
    *version = IPMI_SP6_VERSION;
    return IPMI_OPEN_OK;
}

// Runs one command of the open sequence; its output (at most 255 bytes)
// lands in output. Non-zero when the command could not be run at all.
int LinOS::privateRun(const char* command, char* output) {
    output[0] = '\0';
    return kernel->runCommand(command, output, IPMI_OUTPUT_SIZE) == -1 ? -1 : 0;
}

int LinOS::privateIpmiOpenDevice() {
    int fd = kernel->open(IPMI_DEVICE, O_RDWR);
    if (fd < 0) fd = kernel->open(IPMI_DEVICE_DEVFS, O_RDWR);
    return fd;
}

int LinOS::privateIpmiLoadModules() {
    char output[IPMI_OUTPUT_SIZE];
    for (const IpmiModule& module : IPMI_MODULES) {
        const std::string load = std::string("modprobe -v ") + module.name;
        if (privateRun(load.c_str(), output) != 0) return IPMI_OPEN_FAILED;
        if (!moduleFailed(output)) continue;
        if (module.alternative == nullptr) return IPMI_OPEN_FAILED;
        const std::string alternative = std::string("modprobe -v ") + module.alternative;
        if (privateRun(alternative.c_str(), output) != 0 || moduleFailed(output)) {
            return IPMI_OPEN_FAILED;
        }
    }
    std::printf("%s", CONNECTING);
    std::fflush(stdout);

    // A stale node may carry another major number: make it afresh from the
    // number the driver registered.
    privateRun("rm -f /dev/ipmi0", output);
    if (privateRun("grep ipmi /proc/devices", output) != 0) return IPMI_OPEN_FAILED;
    char* cursor = output;
    const char* major = newstrtok(&cursor, " \n");
    if (isNumber(major)) {
        const std::string mknod = std::string("mknod /dev/ipmi0 c ") + major + " 0";
        privateRun(mknod.c_str(), output);
    }
    return IPMI_OPEN_OK;
}

// Kernels from 2.6 on carry a driver that works; a 2.x kernel below that
// must name a good driver version; any other release is refused.
bool LinOS::privateIpmiKernelSupported() {
    char output[IPMI_OUTPUT_SIZE];
    if (privateRun("uname -r", output) != 0) return false;
    if (output[0] == '\0') return true;
    char* cursor = output;
    const char* major = newstrtok(&cursor, ".");
    if (std::strcmp(major, KERNEL_2) != 0) return false;
    if (numberOf(newstrtok(&cursor, ".")) >= IPMI_UNCHECKED_KERNEL_MINOR) return true;

    if (privateRun("dmesg | grep \"ipmi message handler\"", output) != 0) return false;
    const DriverLine driver = checkDriverLine(output);
    if (driver == DriverLine::BadVersion) std::printf("%s\n", BAD_DRIVER);
    return driver == DriverLine::Good;
}

int LinOS::OpenIPMI_OpenSP6Driver(int* descriptor) {
    std::printf("Enter IPMI sub-function.\n");
    if (descriptor == nullptr) return IPMI_OPEN_NO_POINTER;

    int fd = privateIpmiOpenDevice();
    if (fd < 0) {
        char output[IPMI_OUTPUT_SIZE];
        const int script = kernel->open(IPMI_INIT_SCRIPT, O_RDONLY);
        if (script >= 0) {
            kernel->close(script);
            if (privateRun("/etc/init.d/ipmi start", output) != 0) return IPMI_OPEN_FAILED;
            std::printf("%s", CONNECTING);
            std::fflush(stdout);
        } else if (privateIpmiLoadModules() != IPMI_OPEN_OK) {
            return IPMI_OPEN_FAILED;
        }
        for (unsigned int attempt = 0; attempt < IPMI_OPEN_TRIES && fd < 0; ++attempt) {
            fd = privateIpmiOpenDevice();
            if (fd < 0) {
                std::printf(".");
                std::fflush(stdout);
                kernel->usleep(IPMI_OPEN_RETRY_US);
            }
        }
        std::printf("\n");
        if (fd < 0) return IPMI_OPEN_FAILED;
    }

    if (!privateIpmiKernelSupported()) {
        kernel->close(fd);
        return IPMI_OPEN_FAILED;
    }
    *descriptor = fd;
    return IPMI_OPEN_OK;
}

int LinOS::OpenIPMI_CloseSP6Driver(int descriptor) {
    // A handle that never came from an IPMI open is not closed: the standard
    // streams are never the IPMI device.
    if (descriptor > STDERR_FILENO) kernel->close(descriptor);
    return IPMI_OPEN_OK;
}

int LinOS::OpenIPMI_SendSP6Request(int descriptor, unsigned char netfn, unsigned char cmd,
                                   unsigned char* request, unsigned short requestLength,
                                   unsigned char, unsigned char* response,
                                   unsigned short* responseLength,
                                   unsigned char* completionCode) {
    if (response == nullptr || responseLength == nullptr || completionCode == nullptr) {
        return IPMI_SEND_FAILED;
    }
    ipmi_system_interface_addr bmc{};
    bmc.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
    bmc.channel = IPMI_BMC_CHANNEL;
    bmc.lun = 0;

    ipmi_req req{};
    req.addr = reinterpret_cast<unsigned char*>(&bmc);
    req.addr_len = sizeof bmc;
    req.msgid = curr_seq++;
    req.msg.netfn = static_cast<unsigned char>(netfn >> 2);
    req.msg.cmd = cmd;
    req.msg.data = request;
    req.msg.data_len = requestLength;
    if (kernel->ioctl(descriptor, IPMICTL_SEND_COMMAND, &req) < 0) return IPMI_SEND_FAILED;

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(descriptor, &readable);
    timeval timeout{IPMI_REPLY_TIMEOUT_S, 0};
    const int ready = kernel->select(descriptor + 1, &readable, nullptr, nullptr, &timeout);
    if (ready <= 0 || !FD_ISSET(descriptor, &readable)) {
        if (ready == 0) {
            std::fprintf(stderr, "No reply from the IPMI driver within %ld s\n", IPMI_REPLY_TIMEOUT_S);
        }
        return IPMI_SEND_FAILED;
    }

    unsigned char from[IPMI_REPLY_ADDRESS_SIZE];
    ipmi_recv recv{};
    recv.addr = from;
    recv.addr_len = sizeof from;
    recv.msg.data = response;
    recv.msg.data_len = *responseLength;
    if (kernel->ioctl(descriptor, IPMICTL_RECEIVE_MSG_TRUNC, &recv) < 0 && errno != EMSGSIZE) {
        return IPMI_SEND_FAILED;
    }
    // A reply carries at least its completion code. A longer one than the
    // buffer (the driver cuts it, EMSGSIZE) keeps what the buffer holds.
    const unsigned short capacity = *responseLength;
    const unsigned int received = std::min<unsigned int>(recv.msg.data_len, capacity);
    if (received == 0) return IPMI_SEND_FAILED;

    *completionCode = response[0];
    *responseLength = static_cast<unsigned short>(received - 1);
    if (*completionCode == 0 && *responseLength != 0) {
        std::memmove(response, response + 1, *responseLength);
    }
    return IPMI_SEND_OK;
}
