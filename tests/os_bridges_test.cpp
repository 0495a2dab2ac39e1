// The system service-processor driver bridge of LinOS against a stand-in
// library that the build makes, and with no library at all.
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
    unsigned char notice[16] = {0, 2, 1, 0, 0, 0, 5, 6, 1};
    EXPECT_EQ(os.spOpenSPDriver(&handle, 1, 0), SP_STATUS_UNAVAILABLE);
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 0), SP_STATUS_UNAVAILABLE);
    const Log look = {"dlopen libsysSp.so", "dlopen /lib/varnasm/libsysSp.so"};
    EXPECT_EQ(fake.log, Log({look[0], look[1], look[0], look[1]}));

    offer({{"/lib/varnasm/libsysSp.so", LROMUP_STANDIN_SYSSP}});
    fake.log.clear();
    EXPECT_EQ(os.spOpenSPDriver(&handle, 1, 0), 0u);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x5150));
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 11), 3u);
    EXPECT_EQ(os.spSystemDataIO(handle, notice, 12), 3u);
    EXPECT_EQ(standinRecord(LROMUP_STANDIN_SYSSP),
              "OpenSPDriver 1 0\n"
              "SystemDataIO 0x5150 000201000000050601 11\n"
              "SystemDataIO 0x5150 000201000000050601 12\n");
    EXPECT_EQ(fake.log, Log({look[0], look[1], "dlsym OpenSPDriver", "dlsym SystemDataIO"}));
}

}  // namespace
