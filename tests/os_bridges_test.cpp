// The service-processor driver bridges of LinOS against stand-in libraries
// that the build makes, and with no library at all.
#include <gtest/gtest.h>

#include "os_device_fake.h"

namespace {

// Loads the stand-in for a library name the host asks for, if it is offered.
void offer(std::map<std::string, const char*> libraries) {
    dev.dlopen = [libraries](const std::string& name) -> void* {
        auto it = libraries.find(name);
        return it != libraries.end() ? ::dlopen(it->second, RTLD_LAZY) : nullptr;
    };
}

// Missing, the library answers unavailable and is looked for again on every
// call; once there (here: in the vendor directory) each entry point is resolved
// once and gets the arguments as given.
TEST(SysSpBridge, LookedForOnEveryCallUntilFoundThenEachEntryPointResolvedOnce) {
    resetDevice();
    LinOS os(deviceKernel());
    void* handle = nullptr;
    unsigned int c = 9;
    unsigned char notice[16] = {0, 2, 1, 0, 0, 0, 5, 6, 1};
    EXPECT_EQ(os.spOpenSPDriver(&handle, 1, 0), SP_STATUS_UNAVAILABLE);
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 0), SP_STATUS_UNAVAILABLE);
    const Log look = {"dlopen libsysSp.so", "dlopen /lib/varnasm/libsysSp.so"};
    EXPECT_EQ(fake.log, Log({look[0], look[1], look[0], look[1]}));

    offer({{"/lib/varnasm/libsysSp.so", LROMUP_STANDIN_SYSSP}});
    fake.log.clear();
    EXPECT_EQ(os.spOpenSPDriverNode(&handle, 7, 8, &c, 10), 2u);
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 11), 3u);
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 12), 3u);
    EXPECT_EQ(os.spCloseSPDriver(handle, 13), 4u);
    EXPECT_EQ(os.spOpenSPDriver(&handle, 1, 0), 0u);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x5150));
    EXPECT_EQ(standinRecord(LROMUP_STANDIN_SYSSP),
              "OpenSPDriverNode 7 8 9 10\n"
              "SystemDataIO 0x5151 000201000000050601 11\n"
              "SystemDataIO 0x5151 000201000000050601 12\n"
              "CloseSPDriver 0x5151 13\n"
              "OpenSPDriver 1 0\n");
    EXPECT_EQ(fake.log, Log({look[0], look[1], "dlsym OpenSPDriverNode", "dlsym SystemDataIO",
                             "dlsym CloseSPDriver", "dlsym OpenSPDriver"}));
}

// Closing and sending reach the library only once an open has loaded it;
// before that they go to the IPMI driver, which is not there either.
TEST(Sp6Bridge, OnlyTheOpenLoadsTheLibrary) {
    resetDevice();
    offer({{"libvarnsp6.so", LROMUP_STANDIN_SP6}});
    LinOS os(deviceKernel());
    unsigned char request[1] = {0x42}, response[8] = {}, cc = 0xFF;
    unsigned short length = sizeof response;
    void* arg = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(os.bmcSendSP6Request(nullptr, 0x18, 0x01, request, 1, 0, response, &length, &cc, arg),
              8);
    EXPECT_EQ(os.bmcCloseSP6Driver(nullptr, arg), 0);
    EXPECT_EQ(only(fake.log, {"dl", "close"}), Log());

    void* handle = nullptr;
    EXPECT_EQ(os.bmcOpenSP6Driver(&handle, arg), 0);
    EXPECT_EQ(os.bmcSendSP6Request(handle, 0x18, 0x01, request, 1, 2, response, &length, &cc, arg),
              6);
    EXPECT_EQ(response[0], 0xAB);
    EXPECT_EQ(os.bmcCloseSP6Driver(handle, arg), 5);
    EXPECT_EQ(standinRecord(LROMUP_STANDIN_SP6),
              "OpenSP6Driver 0x77\n"
              "SendSP6Request 0x6060 18 01 42/1 2 8 0x77\n"
              "CloseSP6Driver 0x6060 0x77\n");
    EXPECT_EQ(only(fake.log, {"dl"}), Log({"dlopen libvarnsp6.so", "dlsym OpenSP6Driver",
                                           "dlsym SendSP6Request", "dlsym CloseSP6Driver"}));
}

}  // namespace
