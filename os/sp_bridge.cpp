// LinOS bridges to the system service-processor library "libsysSp.so". The
// library is loaded on the first call that needs it (from the loader's path,
// then from its vendor directory); a library or symbol that is missing makes
// the bridge answer SP_STATUS_UNAVAILABLE and is looked for again next time.
#include <dlfcn.h>

#include "os/linos.h"

void* LinOS::privateSysSpEntry(const char* symbol, void** entry) {
    if (*entry == nullptr) {
        if (spLibs.dllhandle == nullptr) {
            spLibs.dllhandle = kernel->dlopen(SYS_SP_LIBRARY, RTLD_LAZY);
            if (spLibs.dllhandle == nullptr) {
                spLibs.dllhandle = kernel->dlopen(SYS_SP_LIBRARY_FALLBACK, RTLD_LAZY);
            }
        }
        if (spLibs.dllhandle != nullptr) {
            *entry = kernel->dlsym(spLibs.dllhandle, symbol);
        }
    }
    return *entry;
}

unsigned int LinOS::spOpenSPDriver(void** handle, unsigned int a, unsigned int b) {
    void* entry = privateSysSpEntry("OpenSPDriver", &spLibs.OpenSPDriverLib);
    return entry ? spEntry<OpenSPDriverFn>(entry)(handle, a, b) : SP_STATUS_UNAVAILABLE;
}

unsigned int LinOS::spOpenSPDriverNode(void** handle, unsigned int a, unsigned int b,
                                       unsigned int* c, unsigned int d) {
    void* entry = privateSysSpEntry("OpenSPDriverNode", &spLibs.OpenSPDriverNodeLib);
    return entry ? spEntry<OpenSPDriverNodeFn>(entry)(handle, a, b, c, d) : SP_STATUS_UNAVAILABLE;
}

unsigned int LinOS::spSystemDataIO(void* handle, unsigned char* buffer, unsigned int a) {
    void* entry = privateSysSpEntry("SystemDataIO", &spLibs.SystemDataIOLib);
    return entry ? spEntry<SystemDataIOFn>(entry)(handle, buffer, a) : SP_STATUS_UNAVAILABLE;
}

unsigned int LinOS::spCloseSPDriver(void* handle, unsigned int a) {
    void* entry = privateSysSpEntry("CloseSPDriver", &spLibs.CloseSPDriverLib);
    return entry ? spEntry<CloseSPDriverFn>(entry)(handle, a) : SP_STATUS_UNAVAILABLE;
}
