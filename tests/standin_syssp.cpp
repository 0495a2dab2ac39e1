// Stand-in for the system service-processor library: the four entry points
// the host object looks up. Handles are recognisable values.
#include "standin_record.h"

extern "C" unsigned int OpenSPDriver(void** handle, unsigned int a, unsigned int b) {
    note("OpenSPDriver %u %u", a, b);
    *handle = reinterpret_cast<void*>(0x5150);
    return 0;
}
extern "C" unsigned int OpenSPDriverNode(void** handle, unsigned int a, unsigned int b,
                                         unsigned int* c, unsigned int d) {
    note("OpenSPDriverNode %u %u %u %u", a, b, *c, d);
    *handle = reinterpret_cast<void*>(0x5151);
    return 2;
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
extern "C" unsigned int CloseSPDriver(void* handle, unsigned int a) {
    note("CloseSPDriver %p %u", handle, a);
    return 4;
}
