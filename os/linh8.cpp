// LinOS access to the H8 microcontroller at SMBus address 0x6E: one SMBus
// "byte" transaction per byte through the south bridge's host controller,
// commands framed with a count and a checksum, and a notice to the service
// processor (at most once in 30 seconds) before H8 traffic, since both share
// the bus. Every wait is bounded in time and ends with a message and a result.
#include <cstdio>
#include <cstring>

#include "chipset/pci.h"
#include "os/linos.h"
#include "os/smbus_regs.h"

namespace {
constexpr int H8_OK = 0;
constexpr int H8_ERROR = -1;

// Notice to the service processor: these eight bytes, then 00 before H8
// traffic or 01 when it ends, in a buffer of the driver's size.
constexpr unsigned char SP_NOTICE[] = {0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x05, 0x06};
constexpr unsigned char SP_NOTICE_H8_START = 0x00;
constexpr unsigned char SP_NOTICE_H8_END = 0x01;
constexpr unsigned int SP_NOTICE_BUFFER_SIZE = 1024;
constexpr std::time_t SP_NOTICE_INTERVAL_S = 30;
constexpr std::time_t SP_NOTICE_NONE = 0;
constexpr std::time_t SP_NOTICE_NO_DRIVER = -1;
constexpr unsigned int SP_DRIVER_ARG_A = 1, SP_DRIVER_ARG_B = 0, SP_DATA_IO_ARG = 0;
constexpr unsigned int SP_NOTICE_SETTLE_MS = 1;
constexpr unsigned int H8_PRE_COMMAND_US = 1;
constexpr unsigned int H8_COMMAND_SETTLE_MS = 10;

// A wait: polls with pauseUs between them until limitUs have passed.
struct H8WaitBound {
    unsigned long pauseUs;
    unsigned long limitUs;
};
// Host busy: a byte transaction takes well under a millisecond even at the
// slowest SMBus clock. Past SMBUS_KICK_US the flags are written back once, as
// a controller stuck on a finished transaction then lets go.
constexpr H8WaitBound SMBUS_IDLE_BOUND = {10, 100000};
constexpr unsigned long SMBUS_KICK_US = 25000;
constexpr unsigned int SMBUS_SETTLE_US = 100;
// Stale H8 messages drained before a command, and the H8's own time to
// answer a command: "nothing yet" replies are read once a millisecond.
constexpr H8WaitBound H8_DRAIN_BOUND = {1000, 2000000};
constexpr H8WaitBound H8_REPLY_BOUND = {1000, 10000000};

constexpr unsigned long US_PER_MS = 1000;

unsigned long long monotonicUs(const KernelCalls& kernel) {
    struct timespec now = {0, 0};
    kernel.clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned long long>(now.tv_sec) * 1000000ull +
           static_cast<unsigned long long>(now.tv_nsec) / 1000ull;
}

// The one wait loop of the H8 code: attempt() returns true when the wait is
// over (done or failed); false means poll again after a pause. Returns false
// when limitUs of monotonic time have passed first.
template <typename Attempt>
bool waitWithin(const KernelCalls& kernel, const H8WaitBound& bound, Attempt attempt) {
    const unsigned long long start = monotonicUs(kernel);
    for (;;) {
        if (attempt()) return true;
        if (monotonicUs(kernel) - start >= bound.limitUs) return false;
        kernel.usleep(static_cast<unsigned int>(bound.pauseUs));
    }
}

unsigned char checksumOf(const H8cmd_s& cmd, unsigned int count) {
    unsigned char sum = cmd.command;
    for (unsigned int i = 0; i < count; ++i) sum = static_cast<unsigned char>(sum + cmd.data[i]);
    return static_cast<unsigned char>(-sum);
}
}  // namespace

int LinOS::h8init() { return privateh8init(); }
int LinOS::h8destroy() { return privateh8destroy(); }
int LinOS::h8readcommand(H8cmd_s* cmd) { return privateh8readcommand(cmd); }
int LinOS::h8writecommand(H8cmd_s* cmd) { return privateh8writecommand(cmd); }
int LinOS::h8pollcommand(H8cmd_s* cmd) { return privateh8pollcommand(cmd); }

int LinOS::privateh8init() {
    pipelineStart();
    const unsigned int config = pciReadDword(this, SMBUS_BASE_CONFIG_ADDRESS);
    pciReadDword(this, SMBUS_HOSTC_CONFIG_ADDRESS);  // read as the firmware expects; unused
    // An absent controller reads all ones; a base of 0 was never assigned.
    // Either way there is no port to drive, so H8 access stays off.
    const unsigned int ioBase = config & ~SMB_BASE_IO_SPACE;
    if (ioBase == 0 || ioBase > SMB_BASE_IO_LIMIT) {
        smbusBase = 0;
        std::fprintf(stderr, "No SMBus controller for the H8 (base register %#010x)\n", config);
        return H8_ERROR;
    }
    smbusBase = ioBase;
    const unsigned short base = static_cast<unsigned short>(smbusBase);
    outportByte(base + SMB_HST_STS, HST_STS_CLEAR);
    for (unsigned short offset = 0; offset <= SMB_PERM_LAST_CONTIGUOUS; ++offset) {
        privateIoportCheckPerm(static_cast<unsigned short>(base + offset));
    }
    privateIoportCheckPerm(static_cast<unsigned short>(base + SMB_PERM_EXTRA));
    spNoticeTime = SP_NOTICE_NONE;
    return H8_OK;
}

int LinOS::privateh8waitforsmb() {
    const unsigned short status = static_cast<unsigned short>(smbusBase + SMB_HST_STS);
    const unsigned long long start = monotonicUs(*kernel);
    bool kicked = false;
    const bool idle = waitWithin(*kernel, SMBUS_IDLE_BOUND, [&] {
        const unsigned char value = inportByte(status);
        if ((value & HST_STS_HOST_BUSY) == 0) return true;
        if (!kicked && monotonicUs(*kernel) - start >= SMBUS_KICK_US) {
            outportByte(status, value);
            kicked = true;
        }
        return false;
    });
    if (!idle) {
        std::fprintf(stderr, "SMBus controller at %#x still busy after %lu ms\n", smbusBase,
                     SMBUS_IDLE_BOUND.limitUs / US_PER_MS);
        return H8_TIMED_OUT;
    }
    const unsigned char flags = inportByte(status);
    if (flags != 0) {
        outportByte(status, flags);
        kernel->usleep(SMBUS_SETTLE_US);
    }
    if (inportByte(status) != 0) {
        std::fprintf(stderr, "Reset failed\n");
        return H8_ERROR;
    }
    // A transaction the device did not acknowledge, or that the controller
    // gave up, moved no byte: never taken as done.
    if ((flags & HST_STS_ERRORS) != 0) {
        std::fprintf(stderr, "SMBus transaction failed (status %#04x)\n", flags);
        return H8_NOT_ACKNOWLEDGED;
    }
    return H8_OK;
}

int LinOS::privateh8sendreceivebyte(bool read, unsigned char address, unsigned char* byte) {
    const unsigned short base = static_cast<unsigned short>(smbusBase);
    outportByte(base + SMB_HST_STS, HST_STS_CLEAR);
    int rc = privateh8waitforsmb();
    if (rc != H8_OK) return rc;
    outportByte(base + SMB_XMIT_SLVA, static_cast<unsigned char>(address | (read ? XMIT_SLVA_READ : 0)));
    if (read) {
        outportByte(base + SMB_HST_CMD, 0);
    } else {
        outportByte(base + SMB_HST_CMD, *byte);
        outportByte(base + SMB_HST_D0, 0);
    }
    const unsigned char control = static_cast<unsigned char>(inportByte(base + SMB_HST_CNT) & HST_CNT_KEEP);
    outportByte(base + SMB_HST_CNT, control | HST_CNT_PROTOCOL_BYTE);
    outportByte(base + SMB_HST_CNT, control | HST_CNT_PROTOCOL_BYTE | HST_CNT_START);
    rc = privateh8waitforsmb();
    if (rc != H8_OK || !read) return rc;
    *byte = inportByte(base + SMB_HST_D0);
    return H8_OK;
}

int LinOS::privateh8smbustransaction(bool expectReply, unsigned char address, H8cmd_s* cmd) {
    if (smbusBase == 0) return H8_ERROR;
    if (cmd->count > H8_MAX_DATA) cmd->count = H8_MAX_DATA;
    cmd->data[cmd->count] = checksumOf(*cmd, cmd->count);
    cmd->count = static_cast<unsigned char>(cmd->count + 1);

    // Count (command and checksum included), command, data, checksum.
    unsigned char wireCount = static_cast<unsigned char>(cmd->count + 1);
    int rc = privateh8sendreceivebyte(false, address, &wireCount);
    if (rc == H8_OK) rc = privateh8sendreceivebyte(false, address, &cmd->command);
    for (unsigned int i = 0; i < cmd->count && rc == H8_OK; ++i) {
        rc = privateh8sendreceivebyte(false, address, &cmd->data[i]);
    }
    if (rc != H8_OK) {
        std::fprintf(stderr, "Failure writing to SMBus\n");
        return rc;
    }
    if (!expectReply) return H8_OK;

    rc = privateh8sendreceivebyte(true, address, &wireCount);
    if (rc == H8_OK && wireCount == H8_REPLY_COUNT_BAD) {
        cmd->count = wireCount;  // the caller sees the count that was refused
        return H8_BAD_REPLY_COUNT;
    }
    if (rc == H8_OK && (wireCount == 0 || wireCount > H8_MAX_REPLY_COUNT)) {
        std::fprintf(stderr, "H8 reply count %u does not fit a command record\n", wireCount);
        return H8_BAD_REPLY_COUNT;
    }
    if (rc == H8_OK) {
        cmd->count = static_cast<unsigned char>(wireCount - 1);
        rc = privateh8sendreceivebyte(true, address, &cmd->command);
    }
    unsigned char sum = cmd->command;
    for (unsigned int i = 0; i < cmd->count && rc == H8_OK; ++i) {
        rc = privateh8sendreceivebyte(true, address, &cmd->data[i]);
        sum = static_cast<unsigned char>(sum + cmd->data[i]);
    }
    if (rc != H8_OK) {
        std::fprintf(stderr, "Failure reading from SMBus\n");
        return rc;
    }
    if (sum != 0) {
        std::fprintf(stderr, "Bad checksum for received data\n");
        return H8_ERROR;
    }
    return H8_OK;
}

void LinOS::privateh8notice() {
    if (spNoticeTime == SP_NOTICE_NO_DRIVER) return;
    const std::time_t now = kernel->time(nullptr);
    if (spNoticeTime != SP_NOTICE_NONE && now - spNoticeTime <= SP_NOTICE_INTERVAL_S) return;
    if (spNoticeTime == SP_NOTICE_NONE &&
        spOpenSPDriver(&spDriverHandle, SP_DRIVER_ARG_A, SP_DRIVER_ARG_B) != 0) {
        spNoticeTime = SP_NOTICE_NO_DRIVER;
        return;
    }
    unsigned char buffer[SP_NOTICE_BUFFER_SIZE] = {};
    std::memcpy(buffer, SP_NOTICE, sizeof SP_NOTICE);
    buffer[sizeof SP_NOTICE] = SP_NOTICE_H8_START;
    spSystemDataIO(spDriverHandle, buffer, SP_DATA_IO_ARG);
    spNoticeTime = now;
    sleep(SP_NOTICE_SETTLE_MS);
}

int LinOS::privateh8command(H8cmd_s* cmd, bool expectReply) {
    if (smbusBase == 0) return H8_ERROR;
    privateh8notice();
    kernel->usleep(H8_PRE_COMMAND_US);
    return privateh8smbustransaction(expectReply, H8_SLAVE_ADDRESS, cmd);
}

int LinOS::privateh8readcommand(H8cmd_s* cmd) { return privateh8command(cmd, true); }
int LinOS::privateh8writecommand(H8cmd_s* cmd) { return privateh8command(cmd, false); }

int LinOS::privateh8pollcommand(H8cmd_s* cmd) {
    auto askPending = [this](H8cmd_s* into) {
        *into = H8cmd_s{};
        into->command = H8_CMD_POLL;
        return privateh8readcommand(into);
    };
    auto acknowledge = [this](unsigned char command) {
        H8cmd_s ack{};
        ack.count = 1;
        ack.command = H8_CMD_POLL;
        ack.data[0] = command;
        return privateh8writecommand(&ack);
    };

    // Messages the H8 sent before this command are acknowledged and dropped.
    H8cmd_s stale{};
    int rc = askPending(&stale);
    const bool drained = waitWithin(*kernel, H8_DRAIN_BOUND, [&] {
        if (rc != H8_OK || stale.command == H8_CMD_POLL) return true;
        rc = acknowledge(stale.command);
        if (rc == H8_OK) rc = askPending(&stale);
        return false;
    });
    if (rc != H8_OK) return rc;
    if (!drained) {
        std::fprintf(stderr, "H8 kept sending messages for %lu ms; command %#04x not sent\n",
                     H8_DRAIN_BOUND.limitUs / US_PER_MS, cmd->command);
        return H8_TIMED_OUT;
    }

    const unsigned char command = cmd->command;
    rc = privateh8writecommand(cmd);
    if (rc != H8_OK) return rc;
    sleep(H8_COMMAND_SETTLE_MS);

    rc = askPending(cmd);
    const bool answered = waitWithin(*kernel, H8_REPLY_BOUND, [&] {
        if (rc != H8_OK || cmd->command != H8_CMD_POLL) return true;
        std::printf("_");
        std::fflush(stdout);
        rc = askPending(cmd);
        return false;
    });
    if (rc != H8_OK) return rc;
    if (!answered) {
        std::fprintf(stderr, "\nH8 gave no answer to command %#04x within %lu ms\n", command,
                     H8_REPLY_BOUND.limitUs / US_PER_MS);
        return H8_TIMED_OUT;
    }
    return acknowledge(cmd->command);
}

int LinOS::privateh8destroy() {
    if (spNoticeTime == SP_NOTICE_NONE || spNoticeTime == SP_NOTICE_NO_DRIVER) {
        return static_cast<int>(spNoticeTime);
    }
    unsigned char buffer[SP_NOTICE_BUFFER_SIZE] = {};
    std::memcpy(buffer, SP_NOTICE, sizeof SP_NOTICE);
    buffer[sizeof SP_NOTICE] = SP_NOTICE_H8_END;
    spSystemDataIO(spDriverHandle, buffer, SP_DATA_IO_ARG);
    return kernel->usleep(SP_NOTICE_SETTLE_MS * US_PER_MS);
}
