// Stand-in for the system service-processor library: the two entry points the
// H8 notice calls. The handle is a recognisable value; every entry point
// appends one line describing its arguments, which the tests read and clear.
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::string record;
void note(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    record += line;
    record += '\n';
}
}  // namespace

extern "C" const char* standinRecord() { return record.c_str(); }
extern "C" void standinClear() { record.clear(); }

extern "C" unsigned int OpenSPDriver(void** handle, unsigned int a, unsigned int b) {
    note("OpenSPDriver %u %u", a, b);
    *handle = reinterpret_cast<void*>(0x5150);
    return 0;
}
extern "C" unsigned int SystemDataIO(void* handle, unsigned char* buffer, unsigned int a) {
    std::string bytes;
    for (int i = 0; i < 9; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", buffer[i]);
        bytes += hex;
    }
    note("SystemDataIO %p %s %u", handle, bytes.c_str(), a);
    return 3;
}
