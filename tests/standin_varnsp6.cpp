// Stand-in for the SP6 service-processor library: its three entry points.
#include "standin_record.h"

extern "C" int OpenSP6Driver(void** handle, void* arg) {
    note("OpenSP6Driver %p", arg);
    *handle = reinterpret_cast<void*>(0x6060);
    return 0;
}
extern "C" int CloseSP6Driver(void* handle, void* arg) {
    note("CloseSP6Driver %p %p", handle, arg);
    return 5;
}
extern "C" int SendSP6Request(void* handle, unsigned char netfn, unsigned char cmd,
                              unsigned char* request, unsigned short requestLength,
                              unsigned char lun, unsigned char* response,
                              unsigned short* responseLength, unsigned char* completionCode,
                              void* arg) {
    note("SendSP6Request %p %02x %02x %02x/%u %u %u %p", handle, netfn, cmd, request[0],
         requestLength, lun, *responseLength, arg);
    response[0] = 0xAB;
    *responseLength = 1;
    *completionCode = 0;
    return 6;
}
