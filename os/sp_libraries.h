// The two closed service-processor driver libraries: their file names, the
// entry points looked up in them and the handles kept once they are loaded.
#pragma once

constexpr const char* SYS_SP_LIBRARY = "libsysSp.so";
constexpr const char* SYS_SP_LIBRARY_FALLBACK = "/lib/varnasm/libsysSp.so";
constexpr const char* SP6_LIBRARY = "libvarnsp6.so";

using OpenSPDriverFn = unsigned int (*)(void**, unsigned int, unsigned int);
using OpenSPDriverNodeFn = unsigned int (*)(void**, unsigned int, unsigned int, unsigned int*,
                                            unsigned int);
using SystemDataIOFn = unsigned int (*)(void*, unsigned char*, unsigned int);
using CloseSPDriverFn = unsigned int (*)(void*, unsigned int);
using OpenSP6DriverFn = int (*)(void**, void*);
using CloseSP6DriverFn = int (*)(void*, void*);
using SendSP6RequestFn = int (*)(void*, unsigned char, unsigned char, unsigned char*,
                                 unsigned short, unsigned char, unsigned char*, unsigned short*,
                                 unsigned char*, void*);

// Handles and entry points, null until loaded and resolved. A library that
// could not be loaded is asked for again on the next call; one that loaded
// stays loaded for the life of the process.
struct s_SpLibraries {
    void* dllhandle;  // "libsysSp.so"
    void* OpenSPDriverLib;
    void* OpenSPDriverNodeLib;
    void* SystemDataIOLib;
    void* CloseSPDriverLib;
    void* dll6handle;  // "libvarnsp6.so"
    void* OpenSP6DriverLib;
    void* CloseSP6DriverLib;
    void* SendSP6RequestLib;
};

// An entry point kept as the data pointer dlsym returned, called as its type.
template <typename Fn>
Fn spEntry(void* symbol) {
    return reinterpret_cast<Fn>(symbol);
}
