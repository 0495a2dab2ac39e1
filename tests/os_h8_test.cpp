// The H8 code of LinOS, running over a simulated board through the machine
// binding of the kernel seam: what went over the SMBus as the H8 saw it, the
// replies it checks, the service-processor notice and the bounded waits.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "os_fake_kernel.h"
#include "sim/host/machine_kernel.h"

namespace {

using Bytes = std::vector<uint8_t>;

H8cmd_s record(unsigned char count, unsigned char command, Bytes data = {}) {
    H8cmd_s cmd{};
    cmd.count = count;
    cmd.command = command;
    std::copy(data.begin(), data.end(), cmd.data);
    return cmd;
}

double msSince(Machine& m, uint64_t startNs) { return double(m.clock().ns - startNs) / SIM_NS_PER_MS; }

// Too many data bytes: the first 63 go, with the count and the checksum over
// them (the board drops a frame whose checksum does not hold).
TEST(H8Framing, CommandsGoOutFramedWithTheirChecksum) {
    Machine m{BoardConfig{}};
    LinOS os(machineKernel(m));
    ASSERT_EQ(os.h8init(), 0);
    H8cmd_s big = record(70, 0x20);
    for (unsigned i = 0; i < 64; ++i) big.data[i] = uint8_t(i + 1);
    EXPECT_EQ(os.h8writecommand(&big), 0);
    const Bytes& sent = m.h8().framesReceived().back();
    ASSERT_EQ(sent.size(), 66u);
    EXPECT_EQ(sent[0], 65);
    EXPECT_EQ(sent[64], 63);
    EXPECT_EQ(m.h8().badChecksums(), 0u);
}

// A reply that cannot be trusted, or an H8 that no longer acknowledges its
// address, is a failure and never a byte of data.
TEST(H8Framing, RepliesThatCannotBeTrustedAreRefused) {
    using Op = int (LinOS::*)(H8cmd_s*);
    struct Case {
        const char* what;
        void (*fault)(Machine&);
        Op op;
        int result;
        const char* message;
        int count;  // what the record's count holds afterwards; -1: any count that fits it
    } const cases[] = {
        {"count 255", [](Machine& m) { m.h8().replyCountFault = 255; }, &LinOS::h8readcommand,
         H8_BAD_REPLY_COUNT, "", 255},
        {"count past the record", [](Machine& m) { m.h8().replyCountFault = 70; }, &LinOS::h8readcommand,
         H8_BAD_REPLY_COUNT, "H8 reply count 70 does not fit a command record\n", -1},
        {"bad checksum", [](Machine& m) { m.h8().badChecksumFault = true; }, &LinOS::h8readcommand, -1,
         "Bad checksum for received data\n", -1},
        {"no acknowledge", [](Machine& m) { m.smbus().detach(H8_ADDRESS); }, &LinOS::h8writecommand,
         H8_NOT_ACKNOWLEDGED, "SMBus transaction failed (status 0x04)\nFailure writing to SMBus\n", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine m{BoardConfig{}};
        LinOS os(machineKernel(m));
        os.h8init();
        c.fault(m);
        H8cmd_s cmd = record(0, 0x30);
        testing::internal::CaptureStderr();
        EXPECT_EQ((os.*c.op)(&cmd), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        if (c.count >= 0) EXPECT_EQ(cmd.count, c.count);
        else EXPECT_LE(cmd.count, 64);
    }
}

TEST(H8Poll, StaleMessagesAreAcknowledgedThenTheAnswerIsWaitedFor) {
    Machine m{BoardConfig{}};
    m.h8().queueMessage(0x44, {0x09});
    LinOS os(machineKernel(m));
    os.h8init();
    H8cmd_s cmd = record(2, 0x10, {0x01, 0x02});
    testing::internal::CaptureStdout();
    EXPECT_EQ(os.h8pollcommand(&cmd), 0);
    const std::string waited = testing::internal::GetCapturedStdout();
    EXPECT_EQ(cmd.command, 0x10);
    EXPECT_EQ(cmd.count, 3);
    EXPECT_EQ(Bytes(cmd.data, cmd.data + 2), Bytes({0x01, 0x02}));
    EXPECT_EQ(m.h8().messagesPending(), 0u);  // both the stale message and the answer acknowledged
    EXPECT_FALSE(waited.empty());             // the answer took its 20 ms: "_" while waiting
    EXPECT_EQ(waited.find_first_not_of('_'), std::string::npos);

    const auto& frames = m.h8().framesReceived();
    const Bytes ackStale = {0x03, 0xA1, 0x44, uint8_t(-(0xA1 + 0x44))};
    const Bytes ackAnswer = {0x03, 0xA1, 0x10, uint8_t(-(0xA1 + 0x10))};
    EXPECT_EQ(frames[1], ackStale);
    EXPECT_EQ(frames.back(), ackAnswer);
}

// The waits end within their bounds, in machine time, with a message.
TEST(H8Poll, ABusHeldBusyOrAnH8ThatNeverAnswersEndsInTime) {
    struct Case {
        const char* what;
        void (*fault)(Machine&);
        double maxMs;
        const char* message;
    } const cases[] = {
        {"bus held busy", [](Machine& m) { m.smbus().holdBusy = true; }, 150,
         "SMBus controller at 0x580 still busy after 100 ms\n"},
        {"nothing yet, for ever", [](Machine& m) { m.h8().neverReadyFault = true; }, 12000,
         "\nH8 gave no answer to command 0x10 within 10000 ms\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine m{BoardConfig{}};
        c.fault(m);
        LinOS os(machineKernel(m));
        os.h8init();
        H8cmd_s cmd = record(0, 0x10);
        const uint64_t start = m.clock().ns;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(os.h8pollcommand(&cmd), H8_TIMED_OUT);
        const std::string err = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
        EXPECT_LE(msSince(m, start), c.maxMs);
    }
}

// Ports that float high, or a base never assigned, leave H8 access off.
TEST(H8Init, NoControllerNoH8) {
    for (unsigned int config : {0xFFFFFFFFu, 0x00000001u}) {
        resetFake();
        LinOS os(fakeKernel());
        fake.ports[0xCFC] = config;
        testing::internal::CaptureStderr();
        EXPECT_EQ(os.h8init(), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("No SMBus controller"), std::string::npos);
        H8cmd_s cmd = record(0, 0x10);
        fake.log.clear();
        EXPECT_EQ(os.h8writecommand(&cmd), -1);
        EXPECT_EQ(fake.log, Log());
    }
}

// The notice to the service processor, through a stand-in driver library that
// only the vendor directory holds (the loader's path is looked at first).
struct NoticeRig {
    Machine m{BoardConfig{}};
    KernelCalls kernel = machineKernel(m);
    NoticeRig(bool driver) {
        kernel.dlopen = driver ? [](const char* name, int) -> void* {
            return std::string(name) == "/lib/varnasm/libsysSp.so" ? ::dlopen(LROMUP_STANDIN_SYSSP, RTLD_LAZY)
                                                                   : nullptr;
        } : [](const char*, int) -> void* { return nullptr; };
        kernel.dlsym = [](void* handle, const char* symbol) { return ::dlsym(handle, symbol); };
    }
    // What the stand-in recorded since last asked; the record is cleared.
    std::string notices() {
        void* handle = ::dlopen(LROMUP_STANDIN_SYSSP, RTLD_LAZY);
        std::string text = reinterpret_cast<const char* (*)()>(::dlsym(handle, "standinRecord"))();
        reinterpret_cast<void (*)()>(::dlsym(handle, "standinClear"))();
        return text;
    }
};

// Without the driver H8 traffic goes on and destroy has nothing to close.
TEST(H8Notice, SentAtMostOnceIn30SecondsAndClosedByDestroy) {
    for (bool driver : {false, true}) {
        SCOPED_TRACE(driver);
        NoticeRig rig(driver);
        rig.notices();
        LinOS os(rig.kernel);
        os.h8init();
        H8cmd_s cmd = record(0, 0x10);
        EXPECT_EQ(os.h8writecommand(&cmd), 0);
        EXPECT_EQ(rig.notices(), driver ? "OpenSPDriver 1 0\nSystemDataIO 0x5150 000201000000050600 0\n" : "");
        rig.m.clock().advance(29 * 1000 * SIM_NS_PER_MS);
        EXPECT_EQ(os.h8writecommand(&cmd), 0);
        EXPECT_EQ(rig.notices(), "");
        rig.m.clock().advance(2 * 1000 * SIM_NS_PER_MS);
        os.h8writecommand(&cmd);
        EXPECT_EQ(rig.notices(), driver ? "SystemDataIO 0x5150 000201000000050600 0\n" : "");
        EXPECT_EQ(os.h8destroy(), driver ? 0 : -1);
        EXPECT_EQ(rig.notices(), driver ? "SystemDataIO 0x5150 000201000000050601 0\n" : "");
        EXPECT_EQ(rig.m.h8().framesReceived().size(), 3u);
        // The library's own answer comes back; without it the bridge says unavailable.
        unsigned char buffer[16] = {};
        EXPECT_EQ(os.spSystemDataIO(nullptr, buffer, 0), driver ? 3u : SP_STATUS_UNAVAILABLE);
    }
}

}  // namespace
