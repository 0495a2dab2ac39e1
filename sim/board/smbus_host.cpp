#include "sim/board/smbus_host.h"

using namespace simsmb;

void SmbusHost::powerOn() {
    status_ = control_ = command_ = slave_ = data0_ = 0;
    busy_ = false;
}

void SmbusHost::attach(uint8_t address, SmbusDevice* device) {
    slaves_.push_back(Slave{uint8_t(address & ~SLVA_READ), device});
}

void SmbusHost::detach(uint8_t address) {
    for (Slave& s : slaves_)
        if (s.address == (address & ~SLVA_READ)) s.device = nullptr;
}

SmbusDevice* SmbusHost::find(uint8_t address) const {
    for (const Slave& s : slaves_)
        if (s.address == (address & ~SLVA_READ)) return s.device;
    return nullptr;
}

void SmbusHost::finishIfDue() {
    if (!busy_ || holdBusy || clock_.ns < doneAt_) return;
    busy_ = false;
    status_ |= result_;
    if (isRead_ && result_ == INTR) data0_ = received_;
}

uint8_t SmbusHost::read(unsigned offset) {
    finishIfDue();
    switch (offset) {
    case HST_STS: return uint8_t(status_ | (busy_ ? HOST_BUSY : 0));
    case HST_CNT: return uint8_t(control_ & ~CNT_START);
    case HST_CMD: return command_;
    case XMIT_SLVA: return slave_;
    case HST_D0: return data0_;
    default: return 0;
    }
}

void SmbusHost::write(unsigned offset, uint8_t value) {
    finishIfDue();
    switch (offset) {
    case HST_STS: status_ = uint8_t(status_ & ~(value & W1C_BITS)); break;
    case HST_CNT:
        control_ = value;
        if ((value & CNT_START) != 0 && !busy_) start();
        break;
    case HST_CMD: command_ = value; break;
    case XMIT_SLVA: slave_ = value; break;
    case HST_D0: data0_ = value; break;
    default: break;
    }
}

// The byte moves when the transaction starts; status and data 0 show the
// outcome only once its bus time has passed.
void SmbusHost::start() {
    const unsigned protocol = (control_ >> CNT_PROTOCOL_SHIFT) & CNT_PROTOCOL_MASK;
    SmbusDevice* device = find(slave_);
    isRead_ = (slave_ & SLVA_READ) != 0;
    busy_ = true;
    uint64_t bits = QUICK_BITS;
    if (protocol == PROTOCOL_QUICK) {
        result_ = device != nullptr ? INTR : DEV_ERR;
    } else if (protocol == PROTOCOL_BYTE) {
        bits = device != nullptr ? BYTE_BITS : QUICK_BITS;
        result_ = device != nullptr ? INTR : DEV_ERR;
        if (device != nullptr && isRead_) received_ = device->readByte();
        if (device != nullptr && !isRead_) device->writeByte(command_);
    } else {
        result_ = FAILED;  // protocols these boards' devices do not speak
    }
    doneAt_ = clock_.ns + bits * NS_PER_BIT;
}
