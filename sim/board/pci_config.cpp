#include "sim/board/pci_config.h"

#include <cstring>

namespace {
uint32_t loadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void storeLe32(uint8_t* p, uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
constexpr unsigned DWORD_BYTES = 4;
constexpr unsigned BITS_PER_BYTE = 8;
}  // namespace

PciConfigSpace::PciConfigSpace(uint32_t hostBridgeId, uint32_t lpcBridgeId)
    : functions_{{
          {PCI_HOST_BRIDGE, hostBridgeId, {}},
          {PCI_LPC_BRIDGE, lpcBridgeId, {}},
          {PCI_PLATFORM_FN, PLATFORM_FN_ID, {}},
          {PCI_SMBUS, SMBUS_ID, {}},
      }} {
    powerOn();
}

void PciConfigSpace::powerOn() {
    for (Function& f : functions_) {
        f.regs.fill(0);
        storeLe32(&f.regs[PCI_REG_ID], f.id);
    }
    Function* lpc = find(PCI_LPC_BRIDGE.bus, PCI_LPC_BRIDGE.dev, PCI_LPC_BRIDGE.fn);
    storeLe32(&lpc->regs[LPC_GPIOBASE], BOARD_GPIOBASE);
    storeLe32(&lpc->regs[LPC_RCBA], BOARD_RCBA);
    lpc->regs[LPC_BIOS_CNTL] = 0;
    Function* smbus = find(PCI_SMBUS.bus, PCI_SMBUS.dev, PCI_SMBUS.fn);
    storeLe32(&smbus->regs[SMBUS_BASE_REG], BOARD_SMBUS_BASE);
    address_ = 0;
}

PciConfigSpace::Function* PciConfigSpace::find(unsigned bus, unsigned dev, unsigned fn) {
    for (Function& f : functions_) {
        if (f.at.bus == bus && f.at.dev == dev && f.at.fn == fn) return &f;
    }
    return nullptr;
}

const PciConfigSpace::Function* PciConfigSpace::find(unsigned bus, unsigned dev,
                                                     unsigned fn) const {
    return const_cast<PciConfigSpace*>(this)->find(bus, dev, fn);
}

PciConfigSpace::Function* PciConfigSpace::selected() {
    if ((address_ & PCI_CFG_ENABLE) == 0) return nullptr;
    return find((address_ >> PCI_CFG_BUS_SHIFT) & PCI_CFG_BUS_MASK,
                (address_ >> PCI_CFG_DEV_SHIFT) & PCI_CFG_DEV_MASK,
                (address_ >> PCI_CFG_FN_SHIFT) & PCI_CFG_FN_MASK);
}

bool PciConfigSpace::claims(uint16_t port, unsigned width) {
    // Only a dword access at 0xCF8 reaches the address latch; narrower ones
    // go to other devices of the south bridge on real hardware.
    if (port == PCI_CONFIG_ADDRESS) return width == DWORD_BYTES;
    return port >= PCI_CONFIG_DATA && port <= PCI_CONFIG_DATA_LAST;
}

uint32_t PciConfigSpace::portRead(uint16_t port, unsigned width) {
    if (port == PCI_CONFIG_ADDRESS) return address_;
    uint32_t value = 0;
    const Function* f = selected();
    for (unsigned i = 0; i < width; ++i) {
        unsigned lane = port - PCI_CONFIG_DATA + i;
        uint8_t b = 0xFF;
        if (f != nullptr && lane < DWORD_BYTES) b = f->regs[(address_ & PCI_CFG_REG_MASK) + lane];
        value |= uint32_t(b) << (BITS_PER_BYTE * i);
    }
    return value;
}

void PciConfigSpace::portWrite(uint16_t port, unsigned width, uint32_t value) {
    if (port == PCI_CONFIG_ADDRESS) {
        address_ = value;
        return;
    }
    Function* f = selected();
    if (f == nullptr) return;
    for (unsigned i = 0; i < width; ++i) {
        unsigned lane = port - PCI_CONFIG_DATA + i;
        if (lane >= DWORD_BYTES) break;
        writeByte(*f, (address_ & PCI_CFG_REG_MASK) + lane, uint8_t(value >> (BITS_PER_BYTE * i)));
    }
}

void PciConfigSpace::writeByte(Function& f, unsigned reg, uint8_t value) {
    if (reg < PCI_REG_ID + PCI_REG_ID_SIZE) return;  // vendor/device id are read-only
    if (&f == find(PCI_LPC_BRIDGE.bus, PCI_LPC_BRIDGE.dev, PCI_LPC_BRIDGE.fn) &&
        reg == LPC_BIOS_CNTL) {
        uint8_t old = f.regs[reg];
        // BLE cannot be cleared by software once set.
        if (old & BIOS_CNTL_BLE) value |= BIOS_CNTL_BLE;
        // With BLE set, raising BIOSWE signals an SMI whose handler clears it.
        if ((value & BIOS_CNTL_BLE) && (value & BIOS_CNTL_BIOSWE) && !(old & BIOS_CNTL_BIOSWE))
            value &= uint8_t(~BIOS_CNTL_BIOSWE);
    }
    f.regs[reg] = value;
}

uint32_t PciConfigSpace::read(unsigned bus, unsigned dev, unsigned fn, unsigned reg) const {
    const Function* f = find(bus, dev, fn);
    if (f == nullptr) return 0xFFFFFFFFu;
    return loadLe32(&f->regs[reg & PCI_CFG_REG_MASK]);
}

void PciConfigSpace::write(unsigned bus, unsigned dev, unsigned fn, unsigned reg, uint32_t value) {
    Function* f = find(bus, dev, fn);
    if (f == nullptr) return;
    for (unsigned i = 0; i < DWORD_BYTES; ++i)
        writeByte(*f, (reg & PCI_CFG_REG_MASK) + i, uint8_t(value >> (BITS_PER_BYTE * i)));
}

uint8_t PciConfigSpace::byte(const PciLocation& at, unsigned reg) const {
    const Function* f = find(at.bus, at.dev, at.fn);
    return f == nullptr ? 0xFF : f->regs[reg % PCI_CONFIG_SPACE_SIZE];
}

uint32_t PciConfigSpace::dword(const PciLocation& at, unsigned reg) const {
    return read(at.bus, at.dev, at.fn, reg);
}

std::vector<uint8_t> PciConfigSpace::save() const {
    std::vector<uint8_t> out(DWORD_BYTES + FUNCTION_COUNT * PCI_CONFIG_SPACE_SIZE);
    storeLe32(out.data(), address_);
    for (size_t i = 0; i < FUNCTION_COUNT; ++i)
        std::memcpy(&out[DWORD_BYTES + i * PCI_CONFIG_SPACE_SIZE], functions_[i].regs.data(),
                    PCI_CONFIG_SPACE_SIZE);
    return out;
}

bool PciConfigSpace::restore(const uint8_t* data, size_t size) {
    if (size != DWORD_BYTES + FUNCTION_COUNT * PCI_CONFIG_SPACE_SIZE) return false;
    address_ = loadLe32(data);
    for (size_t i = 0; i < FUNCTION_COUNT; ++i) {
        std::memcpy(functions_[i].regs.data(), &data[DWORD_BYTES + i * PCI_CONFIG_SPACE_SIZE],
                    PCI_CONFIG_SPACE_SIZE);
        storeLe32(&functions_[i].regs[PCI_REG_ID], functions_[i].id);  // ids come from the board
    }
    return true;
}
