// LinOS bridges to the SP6 service-processor library "libvarnsp6.so", with
// the Linux IPMI driver as the fallback when the library is not there. Only
// bmcOpenSP6Driver loads the library; closing and sending use it only when an
// earlier open loaded it, so they reach the same driver the open reached.
#include <dlfcn.h>

#include <cstdint>

#include "os/linos.h"
#include "os/sp6_openipmi.h"

namespace {
// The IPMI fallback keeps its device descriptor in the opaque handle.
int descriptorOf(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}
}  // namespace

void* LinOS::privateSp6Entry(const char* symbol, void** entry, bool mayLoad) {
    if (*entry == nullptr) {
        if (spLibs.dll6handle == nullptr && mayLoad) {
            spLibs.dll6handle = kernel->dlopen(SP6_LIBRARY, RTLD_LAZY);
        }
        if (spLibs.dll6handle != nullptr) {
            *entry = kernel->dlsym(spLibs.dll6handle, symbol);
        }
    }
    return *entry;
}

int LinOS::bmcOpenSP6Driver(void** handle, void* arg) {
    void* entry = privateSp6Entry("OpenSP6Driver", &spLibs.OpenSP6DriverLib, true);
    if (entry != nullptr) {
        return spEntry<OpenSP6DriverFn>(entry)(handle, arg);
    }
    int descriptor = IPMI_NO_DESCRIPTOR;
    const int result = OpenIPMI_OpenSP6Driver(handle != nullptr ? &descriptor : nullptr);
    if (result == IPMI_OPEN_OK) {
        *handle = reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor));
    }
    return result == IPMI_OPEN_FAILED ? SP6_OPEN_FAILED : result;
}

int LinOS::bmcCloseSP6Driver(void* handle, void* arg) {
    void* entry = privateSp6Entry("CloseSP6Driver", &spLibs.CloseSP6DriverLib, false);
    if (entry != nullptr) {
        return spEntry<CloseSP6DriverFn>(entry)(handle, arg);
    }
    return OpenIPMI_CloseSP6Driver(descriptorOf(handle));
}

int LinOS::bmcSendSP6Request(void* handle, unsigned char netfn, unsigned char cmd,
                             unsigned char* request, unsigned short requestLength,
                             unsigned char lun, unsigned char* response,
                             unsigned short* responseLength, unsigned char* completionCode,
                             void* arg) {
    void* entry = privateSp6Entry("SendSP6Request", &spLibs.SendSP6RequestLib, false);
    if (entry != nullptr) {
        return spEntry<SendSP6RequestFn>(entry)(handle, netfn, cmd, request, requestLength, lun,
                                                response, responseLength, completionCode, arg);
    }
    return OpenIPMI_SendSP6Request(descriptorOf(handle), netfn, cmd, request, requestLength, lun,
                                   response, responseLength, completionCode);
}
