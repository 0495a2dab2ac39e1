// SimOS: a host object over the simulated machine. Ports and memory reach the
// Machine; every host call costs one microsecond of the machine's clock and
// sleep adds its milliseconds, so polling loops end because virtual time moves.
// The H8 is reached by the production Linux host code itself, running over
// this machine through machineKernel. Services the board does not have
// (service-processor drivers, USB drive) answer as an absent device does.
#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/os.h"
#include "sim/board/machine.h"
#include "sim/host/trace.h"

class LinOS;

class SimOS final : public OS {
public:
    explicit SimOS(Machine& m);
    ~SimOS();
    SimOS(const SimOS&) = delete;
    SimOS& operator=(const SimOS&) = delete;

    Machine& machine() { return m_; }

    void setTracing(bool on) { tracing_ = on; }
    bool tracing() const { return tracing_; }
    const std::vector<TraceEntry>& trace() const { return trace_; }  // in call order
    void clearTrace() { trace_.clear(); }
    bool writeTrace(const std::string& path) const;  // one formatTraceEntry line per entry
    // Trace lines go to this stream as they happen instead of being kept
    // (null: kept in memory again). The caller owns the stream.
    void streamTraceTo(std::FILE* stream) { traceStream_ = stream; }
    // What lockMachine answers; without a hook the machine is always free.
    void setLockHook(std::function<int()> hook) { lockHook_ = std::move(hook); }
    unsigned rebootCount() const { return reboots_; }
    uint64_t hostCalls() const { return calls_; }  // every call, traced or not

    void preexec() override;
    unsigned char inportByte(unsigned short port) override;
    unsigned short inportWord(unsigned short port) override;
    unsigned int inportDword(unsigned short port) override;
    void outportByte(unsigned short port, unsigned char value) override;
    void outportWord(unsigned short port, unsigned short value) override;
    void outportDword(unsigned short port, unsigned int value) override;
    void memRead(unsigned int address, unsigned int length, unsigned char* destination) override;
    void memWrite(unsigned int address, unsigned int length, unsigned char* source) override;
    void pipelineStart() override;
    void pipelineEnd() override;
    unsigned int spOpenSPDriver(void** handle, unsigned int a, unsigned int b) override;
    unsigned int spOpenSPDriverNode(void** handle, unsigned int a, unsigned int b,
                                    unsigned int* c, unsigned int d) override;
    unsigned int spSystemDataIO(void* handle, unsigned char* buffer, unsigned int a) override;
    unsigned int spCloseSPDriver(void* handle, unsigned int a) override;
    int bmcOpenSP6Driver(void** handle, void* arg) override;
    int bmcCloseSP6Driver(void* handle, void* arg) override;
    int bmcSendSP6Request(void* handle, unsigned char netfn, unsigned char cmd,
                          unsigned char* request, unsigned short requestLength,
                          unsigned char lun, unsigned char* response,
                          unsigned short* responseLength, unsigned char* completionCode,
                          void* arg) override;
    void sleep(unsigned int milliseconds) override;
    int h8init() override;
    int h8destroy() override;
    int h8readcommand(H8cmd_s* cmd) override;
    int h8writecommand(H8cmd_s* cmd) override;
    int h8pollcommand(H8cmd_s* cmd) override;
    int reboot() override;
    void getMACAddress(unsigned char* mac) override;
    int UsbDrive_FindDevice(char* vendor, char* product) override;
    int UsbDrive_Open(char* vendor, char* product) override;
    int UsbDrive_Close() override;
    int UsbDrive_Write(char* data, unsigned long length) override;
    int lockMachine() override;

private:
    void tick() {
        ++calls_;
        m_.clock().advance(SIM_NS_PER_US);
    }
    void record(TraceKind kind, uint32_t address, uint32_t size, uint32_t value) {
        if (tracing_) keep(TraceEntry{kind, address, size, value, nullptr});
    }
    void call(const char* op) {
        tick();
        if (tracing_) keep(TraceEntry{TraceKind::Call, 0, 0, 0, op});
    }
    void keep(const TraceEntry& e);

    Machine& m_;
    bool tracing_ = false;
    std::vector<TraceEntry> trace_;
    unsigned reboots_ = 0;
    std::FILE* traceStream_ = nullptr;
    std::function<int()> lockHook_;
    uint64_t calls_ = 0;
    std::unique_ptr<LinOS> h8host_;  // made by the first h8init
};
