#include "sim/host/simos.h"

#include <cstring>

#include "os/linos.h"
#include "sim/host/machine_kernel.h"

namespace {
constexpr int REBOOT_RECORDED = 0;
constexpr unsigned WIDTH_BYTE = 1, WIDTH_WORD = 2, WIDTH_DWORD = 4;
}  // namespace

SimOS::SimOS(Machine& m) : m_(m) {}
SimOS::~SimOS() = default;

bool SimOS::writeTrace(const std::string& path) const { return writeTraceFile(path, trace_); }

void SimOS::keep(const TraceEntry& e) {
    if (traceStream_ == nullptr) {
        trace_.push_back(e);
        return;
    }
    const std::string line = formatTraceEntry(e);
    std::fputs(line.c_str(), traceStream_);
    std::fputc('\n', traceStream_);
}

int SimOS::lockMachine() {
    call("lockmachine");
    return lockHook_ ? lockHook_() : OS_LOCK_TAKEN;
}

void SimOS::preexec() { call("preexec"); }

unsigned char SimOS::inportByte(unsigned short port) {
    tick();
    const uint32_t v = m_.portRead(port, WIDTH_BYTE);
    record(TraceKind::In, port, WIDTH_BYTE, v);
    return static_cast<unsigned char>(v);
}

unsigned short SimOS::inportWord(unsigned short port) {
    tick();
    const uint32_t v = m_.portRead(port, WIDTH_WORD);
    record(TraceKind::In, port, WIDTH_WORD, v);
    return static_cast<unsigned short>(v);
}

unsigned int SimOS::inportDword(unsigned short port) {
    tick();
    const uint32_t v = m_.portRead(port, WIDTH_DWORD);
    record(TraceKind::In, port, WIDTH_DWORD, v);
    return v;
}

void SimOS::outportByte(unsigned short port, unsigned char value) {
    tick();
    record(TraceKind::Out, port, WIDTH_BYTE, value);
    m_.portWrite(port, WIDTH_BYTE, value);
}

void SimOS::outportWord(unsigned short port, unsigned short value) {
    tick();
    record(TraceKind::Out, port, WIDTH_WORD, value);
    m_.portWrite(port, WIDTH_WORD, value);
}

void SimOS::outportDword(unsigned short port, unsigned int value) {
    tick();
    record(TraceKind::Out, port, WIDTH_DWORD, value);
    m_.portWrite(port, WIDTH_DWORD, value);
}

void SimOS::memRead(unsigned int address, unsigned int length, unsigned char* destination) {
    tick();
    m_.memRead(address, length, destination);
    if (tracing_) record(TraceKind::MemR, address, length, traceValueOf(destination, length));
}

void SimOS::memWrite(unsigned int address, unsigned int length, unsigned char* source) {
    tick();
    if (tracing_) record(TraceKind::MemW, address, length, traceValueOf(source, length));
    m_.memWrite(address, length, source);
}

void SimOS::pipelineStart() { call("pipelinestart"); }
void SimOS::pipelineEnd() { call("pipelineend"); }

unsigned int SimOS::spOpenSPDriver(void** handle, unsigned int, unsigned int) {
    call("spopenspdriver");
    if (handle != nullptr) *handle = nullptr;
    return SP_STATUS_UNAVAILABLE;
}

unsigned int SimOS::spOpenSPDriverNode(void** handle, unsigned int, unsigned int, unsigned int*,
                                       unsigned int) {
    call("spopenspdrivernode");
    if (handle != nullptr) *handle = nullptr;
    return SP_STATUS_UNAVAILABLE;
}

unsigned int SimOS::spSystemDataIO(void*, unsigned char*, unsigned int) {
    call("spsystemdataio");
    return SP_STATUS_UNAVAILABLE;
}

unsigned int SimOS::spCloseSPDriver(void*, unsigned int) {
    call("spclosespdriver");
    return SP_STATUS_UNAVAILABLE;
}

int SimOS::bmcOpenSP6Driver(void** handle, void*) {
    call("bmcopensp6driver");
    if (handle != nullptr) *handle = nullptr;
    return SP6_OPEN_FAILED;
}

int SimOS::bmcCloseSP6Driver(void*, void*) {
    call("bmcclosesp6driver");
    return SP6_CLOSE_DONE;
}

int SimOS::bmcSendSP6Request(void*, unsigned char, unsigned char, unsigned char*, unsigned short,
                             unsigned char, unsigned char*, unsigned short*, unsigned char*,
                             void*) {
    call("bmcsendsp6request");
    return SP6_REQUEST_UNAVAILABLE;
}

void SimOS::sleep(unsigned int milliseconds) {
    tick();
    m_.clock().advance(uint64_t(milliseconds) * SIM_NS_PER_MS);
    record(TraceKind::Sleep, 0, 0, milliseconds);
}

int SimOS::h8init() {
    call("h8init");
    if (!h8host_) h8host_ = std::make_unique<LinOS>(machineKernel(m_));
    return h8host_->h8init();
}
int SimOS::h8destroy() {
    call("h8destroy");
    return h8host_ ? h8host_->h8destroy() : H8_NOTHING_TO_CLOSE;
}
int SimOS::h8readcommand(H8cmd_s* cmd) {
    call("h8readcommand");
    return h8host_ ? h8host_->h8readcommand(cmd) : H8_UNAVAILABLE;
}
int SimOS::h8writecommand(H8cmd_s* cmd) {
    call("h8writecommand");
    return h8host_ ? h8host_->h8writecommand(cmd) : H8_UNAVAILABLE;
}
int SimOS::h8pollcommand(H8cmd_s* cmd) {
    call("h8pollcommand");
    return h8host_ ? h8host_->h8pollcommand(cmd) : H8_UNAVAILABLE;
}

int SimOS::reboot() {
    call("reboot");
    ++reboots_;
    return REBOOT_RECORDED;
}

void SimOS::getMACAddress(unsigned char* mac) {
    call("getmacaddress");
    std::memcpy(mac, BOARD_MAC, sizeof BOARD_MAC);
}

int SimOS::UsbDrive_FindDevice(char*, char*) {
    call("usbdrive_finddevice");
    return USB_NOT_FOUND;
}
int SimOS::UsbDrive_Open(char*, char*) {
    call("usbdrive_open");
    return USB_NOT_FOUND;
}
int SimOS::UsbDrive_Close() {
    call("usbdrive_close");
    return USB_CLOSED;
}
int SimOS::UsbDrive_Write(char*, unsigned long) {
    call("usbdrive_write");
    return USB_NOT_FOUND;
}
