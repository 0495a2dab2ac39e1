// Stand-in for the system service-processor library: the two entry points the
// H8 notice calls. The handle is a recognisable value; every entry point
// appends one line describing its arguments, which the tests read and clear.
#include <cstdio>
#include <string>

namespace {
std::string record;
}  // namespace

extern "C" const char* standinRecord() { return record.c_str(); }
extern "C" void standinClear() { record.clear(); }

extern "C" unsigned int OpenSPDriver(void** handle, unsigned int a, unsigned int b) {
    record += "OpenSPDriver " + std::to_string(a) + " " + std::to_string(b) + "\n";
    *handle = reinterpret_cast<void*>(0x5150);
    return 0;
}
extern "C" unsigned int SystemDataIO(void* handle, unsigned char* buffer, unsigned int a) {
    char line[64];
    int n = std::snprintf(line, sizeof line, "SystemDataIO %p ", handle);
    for (int i = 0; i < 9; ++i) n += std::snprintf(line + n, sizeof line - n, "%02x", buffer[i]);
    record += line + (" " + std::to_string(a)) + "\n";
    return 3;
}
