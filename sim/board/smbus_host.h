// SMBus host controller of the simulated south bridge, at the I/O base in PCI
// 0:15:0 register 0x90. Quick and byte protocols; a transaction takes the
// bus time of its bits at 100 kHz and HOST_BUSY stays set until then.
#pragma once
#include <cstdint>
#include <vector>

#include "sim/board/clock.h"

namespace simsmb {
constexpr unsigned HST_STS = 0x0, HST_CNT = 0x2, HST_CMD = 0x3, XMIT_SLVA = 0x4, HST_D0 = 0x5;
constexpr unsigned IO_SIZE = 0x20;  // the controller decodes 32 ports
constexpr uint32_t BASE_ADDR_MASK = 0xFFE0;  // of the base register; bit 0 is the I/O indicator
constexpr uint8_t HOST_BUSY = 0x01, INTR = 0x02, DEV_ERR = 0x04, BUS_ERR = 0x08, FAILED = 0x10;
constexpr uint8_t W1C_BITS = INTR | DEV_ERR | BUS_ERR | FAILED;
constexpr uint8_t CNT_PROTOCOL_SHIFT = 2, CNT_PROTOCOL_MASK = 0x7, CNT_START = 0x40;
constexpr uint8_t PROTOCOL_QUICK = 0, PROTOCOL_BYTE = 1;
constexpr uint8_t SLVA_READ = 0x01;
constexpr uint64_t NS_PER_BIT = 10000;  // 100 kHz
constexpr uint64_t QUICK_BITS = 11;     // start, address + R/W, ack, stop
constexpr uint64_t BYTE_BITS = 20;      // and one data byte with its ack
}  // namespace simsmb

// What sits on the bus: one byte moves per "byte" transaction.
class SmbusDevice {
public:
    virtual ~SmbusDevice() = default;
    virtual void writeByte(uint8_t byte) = 0;  // the host sent a byte
    virtual uint8_t readByte() = 0;            // the host reads a byte
};

class SmbusHost {
public:
    explicit SmbusHost(SimClock& clock) : clock_(clock) {}

    // Registers back to their power-on values; nothing in flight.
    void powerOn();
    // A device answering at this 8-bit address (read/write bit clear).
    void attach(uint8_t address, SmbusDevice* device);
    // The device at this address stops answering (unpowered, removed).
    void detach(uint8_t address);

    uint8_t read(unsigned offset);
    void write(unsigned offset, uint8_t value);

    // Fault: the bus is held (another master, a device holding the clock
    // low): a started transaction never ends.
    bool holdBusy = false;

private:
    void start();
    void finishIfDue();
    SmbusDevice* find(uint8_t address) const;

    struct Slave {
        uint8_t address;
        SmbusDevice* device;
    };
    SimClock& clock_;
    std::vector<Slave> slaves_;
    uint8_t status_ = 0, control_ = 0, command_ = 0, slave_ = 0, data0_ = 0;
    bool busy_ = false;
    uint64_t doneAt_ = 0;
    uint8_t result_ = 0;     // status bits set when the transaction ends
    uint8_t received_ = 0;   // data 0 after a read ends
    bool isRead_ = false;
};
