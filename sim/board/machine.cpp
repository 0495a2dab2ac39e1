#include "sim/board/machine.h"

#include <algorithm>
#include <cstring>

#include "sim/board/firmware_menus.h"

namespace {
constexpr unsigned BITS_PER_BYTE = 8;
constexpr uint8_t ERASED = 0xFF;
constexpr uint8_t FLOATING_BUS = 0xFF;  // what nothing answering reads as

uint32_t allOnes(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : (1u << (BITS_PER_BYTE * width)) - 1;
}

// A name the table does not hold builds the table's "unknown" part.
const FlashPartInfo& partInfo(const std::string& name) {
    const FlashPartInfo* info = findFlashPart(name);
    if (info == nullptr) info = findFlashPart("unknown");
    return info != nullptr ? *info : flashPartTable().front();
}

// Widest naturally aligned register access that fits at this offset.
unsigned accessWidth(uint32_t offset, uint64_t remaining) {
    if (offset % 4 == 0 && remaining >= 4) return 4;
    if (offset % 2 == 0 && remaining >= 2) return 2;
    return 1;
}

// Volatile-state blob layout.
constexpr uint32_t STATE_MAGIC = 0x564D524Cu;  // "LRMV"
constexpr uint32_t STATE_VERSION = 2;

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (BITS_PER_BYTE * i)));
}
void put64(std::vector<uint8_t>& out, uint64_t v) {
    put32(out, uint32_t(v));
    put32(out, uint32_t(v >> 32));
}
void putBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
    put32(out, uint32_t(n));
    out.insert(out.end(), p, p + n);
}

// Bounded reader over a blob: every read checks the bytes that remain.
struct BlobReader {
    const std::vector<uint8_t>& in;
    size_t pos = 0;
    bool get32(uint32_t* v) {
        if (in.size() - pos < 4) return false;
        *v = 0;
        for (unsigned i = 0; i < 4; ++i) *v |= uint32_t(in[pos + i]) << (BITS_PER_BYTE * i);
        pos += 4;
        return true;
    }
    bool get64(uint64_t* v) {
        uint32_t lo = 0, hi = 0;
        if (!get32(&lo) || !get32(&hi)) return false;
        *v = uint64_t(hi) << 32 | lo;
        return true;
    }
    // A length-prefixed field that must be exactly `expected` bytes (any when 0).
    bool getBytes(const uint8_t** p, size_t* n, size_t expected) {
        uint32_t len = 0;
        if (!get32(&len) || in.size() - pos < len) return false;
        if (expected != 0 && len != expected) return false;
        *p = in.data() + pos;
        *n = len;
        pos += len;
        return true;
    }
};
}  // namespace

Machine::Machine(const BoardConfig& cfg)
    : cfg_(cfg),
      wiring_(wiringFor(boardKindFor(cfg.hostBridgeId))),
      pci_(cfg.hostBridgeId, wiring_.lpcBridgeId),
      chipsetRegs_(RCBA_SPACE_SIZE, 0),
      legacy_(LEGACY_AREA_SIZE, ERASED),
      activeBank_(cfg.activeBank != 0 ? 1 : 0),
      sp_(std::make_unique<ServiceProcessor>(clock_)) {
    const FlashPartInfo& info = partInfo(cfg.partName);
    for (auto& b : banks_) {
        b = std::make_unique<FlashPart>(info, clock_);
        b->onOperationStart = [this] { return onFlashOperation(); };
    }
    gpio_.onLineChange = [this](unsigned pin, bool level) { onGpioLine(pin, level); };
    smbus_.attach(H8_ADDRESS, &h8_);
    powerOn();
}

Machine::~Machine() = default;

void Machine::powerOn() {
    clock_.ns = 0;
    sp_->powerOn();
    pci_.powerOn();
    smbus_.powerOn();
    std::fill(chipsetRegs_.begin(), chipsetRegs_.end(), 0);

    // Parts: WEL and WIP go with the power; the status register's protection
    // bits and the array stay.
    for (auto& b : banks_)
        b->setStatus(uint8_t(b->status() & ~(spinor::SR_WIP | spinor::SR_WEL)));

    // Controller: fresh registers and no cycles in flight; injected faults stay.
    bool hwHang = false, swHang = false;
    std::optional<uint32_t> fcerr;
    if (spi_) {
        hwHang = spi_->hwCycleHang;
        swHang = spi_->swCycleHang;
        fcerr = spi_->fcerrBlock;
    }
    spi_ = std::make_unique<SpiController>(
        clock_, [this]() -> FlashPart& { return *banks_[activeBank_]; },
        [this] { return (biosControl() & BIOS_CNTL_BIOSWE) != 0; });
    spi_->hwCycleHang = hwHang;
    spi_->swCycleHang = swHang;
    spi_->fcerrBlock = fcerr;

    firmwareSetup();
    powerLost_ = false;
    powerFailArmed_ = false;
    operationsStarted_ = 0;
}

// What the running firmware leaves in the GPIO block and the SPI controller.
void Machine::firmwareSetup() {
    gpio_.reset();
    gpio_.setup(wiring_.flashWp, true, false, false);
    gpio_.setup(wiring_.eepromWp, true, false, true);
    gpio_.setup(wiring_.bankToggle, true, false, false);
    gpio_.setup(wiring_.bankSense, true, true, false);
    applyBoardInputs();
    applyWriteProtect();

    auto& regs = spi_->registers();
    auto store = [&regs](uint32_t offset, unsigned width, uint32_t value) {
        for (unsigned i = 0; i < width; ++i) regs[offset + i] = uint8_t(value >> (BITS_PER_BYTE * i));
    };
    // Set as raw register bytes: HSFS holds write-1-to-clear and read-only bits.
    store(simspi::HSFS, 2, FW_HSFS);
    store(simspi::SSFS, 1, FW_SSFS);
    store(simspi::FRAP, 4, FW_FRAP);
    const uint32_t limit = (banks_[0]->info().size - 1) >> FREG_UNIT_SHIFT;
    store(SPI_FREG1, 4, limit << FREG_LIMIT_SHIFT);
    store(simspi::LVSCC, 4, FW_VSCC);
    store(simspi::UVSCC, 4, FW_VSCC);
    const FirmwareMenu* menu = findFirmwareMenu(cfg_.firmwareMenu);
    if (menu == nullptr) menu = &firmwareMenuTable().front();
    store(simspi::PREOP, 2, uint32_t(menu->preop[0]) | uint32_t(menu->preop[1]) << BITS_PER_BYTE);
    store(simspi::OPTYPE, 2, menu->optype);
    for (unsigned i = 0; i < simspi::OPMENU_ENTRIES; ++i) store(simspi::OPMENU + i, 1, menu->opcodes[i]);
    // The locks last, through the registers, as the firmware sets them.
    if (cfg_.spiLockDown) spi_->write(simspi::HSFS, 2, simspi::HSFS_FLOCKDN);
    if (cfg_.biosLockEnable) pci_.write(PCI_LPC_BRIDGE.bus, PCI_LPC_BRIDGE.dev, PCI_LPC_BRIDGE.fn, LPC_BIOS_CNTL, BIOS_CNTL_BLE);
}

void Machine::applyBoardInputs() {
    gpio_.setBoardInput(wiring_.flashWp, PULL_FLASH_WP);
    gpio_.setBoardInput(wiring_.eepromWp, PULL_EEPROM_WP);
    gpio_.setBoardInput(wiring_.bankToggle, PULL_BANK_TOGGLE);
    gpio_.setBoardInput(wiring_.bankSense, activeBank_ == 1);
}

// The WP line reaches only the selected part; the other part's WP# is pulled low.
void Machine::applyWriteProtect() {
    const bool lineHigh = gpio_.lineLevel(wiring_.flashWp);
    banks_[activeBank_]->setWriteProtect(wpStuckLow_ || !lineHigh);
    banks_[1 - activeBank_]->setWriteProtect(true);
}

void Machine::onGpioLine(unsigned pin, bool level) {
    if (pin == wiring_.bankToggle && level) setActiveBank(1 - activeBank_);
    if (pin == wiring_.flashWp) applyWriteProtect();
}

bool Machine::onFlashOperation() {
    if (powerLost_) return false;
    if (powerFailArmed_ && operationsStarted_ == powerFailAt_) {
        powerLost_ = true;
        return false;
    }
    ++operationsStarted_;
    return true;
}

void Machine::failPowerAtOperation(uint64_t n) {
    powerFailArmed_ = true;
    powerFailAt_ = operationsStarted_ + n;
}

void Machine::setWpStuckLow(bool stuck) {
    wpStuckLow_ = stuck;
    applyWriteProtect();
}

FlashPart& Machine::bank(int i) { return *banks_[i != 0 ? 1 : 0]; }

void Machine::setActiveBank(int bank) {
    activeBank_ = bank != 0 ? 1 : 0;
    gpio_.setBoardInput(wiring_.bankSense, activeBank_ == 1);
    applyWriteProtect();
}

bool Machine::flashWriteProtectAsserted() const {
    return banks_[activeBank_]->writeProtectAsserted();
}

bool Machine::eepromWriteProtectHigh() const { return gpio_.lineLevel(wiring_.eepromWp); }

uint8_t Machine::biosControl() const { return pci_.byte(PCI_LPC_BRIDGE, LPC_BIOS_CNTL); }

uint32_t Machine::pciRead(unsigned bus, unsigned dev, unsigned fn, unsigned reg) {
    return pci_.read(bus, dev, fn, reg);
}

void Machine::pciWrite(unsigned bus, unsigned dev, unsigned fn, unsigned reg, uint32_t value) {
    pci_.write(bus, dev, fn, reg, value);
}

uint8_t Machine::gpioLevelByte(unsigned offset) { return gpio_.readByte(offset); }

uint32_t Machine::gpioBase() const {
    return pci_.dword(PCI_LPC_BRIDGE, LPC_GPIOBASE) & GPIOBASE_ADDR_MASK;
}

uint32_t Machine::rcbaBase(bool* enabled) const {
    const uint32_t rcba = pci_.dword(PCI_LPC_BRIDGE, LPC_RCBA);
    *enabled = (rcba & RCBA_ENABLE) != 0;
    return rcba & RCBA_ADDR_MASK;
}

uint32_t Machine::biosWindowBase() const {
    return uint32_t(ADDRESS_SPACE_TOP - banks_[0]->info().size);
}

// ---- I/O ports -------------------------------------------------------------

bool Machine::smbusPort(uint16_t port, unsigned* offset) const {
    const uint32_t base = pci_.dword(PCI_SMBUS, SMBUS_BASE_REG) & simsmb::BASE_ADDR_MASK;
    if (base == 0 || port < base || port >= base + simsmb::IO_SIZE) return false;
    *offset = port - base;
    return true;
}

uint32_t Machine::portRead(uint16_t port, unsigned width) {
    if (width == 1 && ServiceProcessor::claims(port)) return sp_->portRead(port);
    if (PciConfigSpace::claims(port, width)) return pci_.portRead(port, width);
    const uint32_t gpio = gpioBase();
    if (gpio != 0 && port >= gpio && port < gpio + GPIO_BLOCK_SIZE) {
        uint32_t value = 0;
        for (unsigned i = 0; i < width; ++i) {
            const unsigned off = port - gpio + i;
            const uint8_t b = off < GPIO_BLOCK_SIZE ? gpio_.readByte(off) : FLOATING_BUS;
            value |= uint32_t(b) << (BITS_PER_BYTE * i);
        }
        return value;
    }
    unsigned smb = 0;
    if (smbusPort(port, &smb)) {
        uint32_t value = 0;
        for (unsigned i = 0; i < width; ++i) value |= uint32_t(smbus_.read(smb + i)) << (BITS_PER_BYTE * i);
        return value;
    }
    return allOnes(width);  // the bus-delay port and anything unclaimed
}

void Machine::portWrite(uint16_t port, unsigned width, uint32_t value) {
    if (width == 1 && ServiceProcessor::claims(port)) return sp_->portWrite(port, uint8_t(value));
    if (PciConfigSpace::claims(port, width)) {
        pci_.portWrite(port, width, value);
        return;
    }
    const uint32_t gpio = gpioBase();
    if (gpio != 0 && port >= gpio && port < gpio + GPIO_BLOCK_SIZE) {
        for (unsigned i = 0; i < width; ++i) {
            const unsigned off = port - gpio + i;
            if (off < GPIO_BLOCK_SIZE) gpio_.writeByte(off, uint8_t(value >> (BITS_PER_BYTE * i)));
        }
        return;
    }
    unsigned smb = 0;
    if (smbusPort(port, &smb)) {
        for (unsigned i = 0; i < width; ++i) smbus_.write(smb + i, uint8_t(value >> (BITS_PER_BYTE * i)));
    }
}

// ---- Physical memory ---------------------------------------------------------
// Each access is split at region boundaries; a piece that falls in no region
// reads all ones and drops writes.

namespace {
struct Span {
    uint64_t begin, end;
    bool contains(uint64_t a) const { return a >= begin && a < end; }
};

// Copies n bytes at off of a backing store; bytes past its end (a store that
// a caller resized) read as a floating bus.
void copyOut(uint8_t* out, const std::vector<uint8_t>& store, uint64_t off, uint64_t n) {
    const uint64_t have = off < store.size() ? std::min<uint64_t>(n, store.size() - off) : 0;
    if (have != 0) std::memcpy(out, store.data() + off, have);
    std::memset(out + have, FLOATING_BUS, n - have);
}
void copyIn(std::vector<uint8_t>& store, uint64_t off, const uint8_t* in, uint64_t n) {
    const uint64_t fit = off < store.size() ? std::min<uint64_t>(n, store.size() - off) : 0;
    if (fit != 0) std::memcpy(store.data() + off, in, fit);
}
}  // namespace

// The controller fetches the window's bytes from the part with read commands
// (opcode, 24-bit address, data) of at most FDATA's 64 bytes, aligned as its
// own reads are; every byte costs its 8 clocks on the SPI bus.
static uint64_t windowReadNs(uint64_t offset, uint64_t n) {
    constexpr uint64_t PIECE = simspi::FDATA_SIZE;
    constexpr uint64_t COMMAND_BYTES = 1 + spinor::ADDRESS_BYTES;
    const uint64_t pieces = (offset + n + PIECE - 1) / PIECE - offset / PIECE;
    return (pieces * COMMAND_BYTES + n) * 8 * SPI_NS_PER_BIT;
}

template <typename Fn>
static void forEachPiece(uint64_t addr, uint64_t len, const Span* spans, size_t count, Fn fn) {
    const uint64_t end = addr + len;
    while (addr < end) {
        size_t hit = count;
        uint64_t stop = end;
        for (size_t i = 0; i < count; ++i) {
            if (spans[i].contains(addr)) {
                if (hit == count) hit = i;  // earlier spans take precedence
            } else if (spans[i].begin > addr) {
                stop = std::min(stop, spans[i].begin);
            }
        }
        if (hit != count) stop = std::min(stop, spans[hit].end);
        fn(hit, addr, stop - addr);
        addr = stop;
    }
}

void Machine::memRead(uint32_t addr, uint32_t len, uint8_t* dst) {
    bool rcbaOn = false;
    const uint64_t rcba = rcbaBase(&rcbaOn);
    const uint64_t spiBase = rcba + RCBA_SPI_BLOCK;
    enum { SPI, CHIPSET, LEGACY, WINDOW, COUNT };
    const Span spans[COUNT] = {
        rcbaOn ? Span{spiBase, spiBase + SIM_SPI_BLOCK_SIZE} : Span{0, 0},
        rcbaOn ? Span{rcba, rcba + RCBA_SPACE_SIZE} : Span{0, 0},
        {LEGACY_AREA_BASE, uint64_t(LEGACY_AREA_BASE) + LEGACY_AREA_SIZE},
        {biosWindowBase(), ADDRESS_SPACE_TOP},
    };
    const uint64_t start = addr;
    forEachPiece(addr, len, spans, COUNT, [&](size_t region, uint64_t a, uint64_t n) {
        uint8_t* out = dst + (a - start);
        switch (region) {
        case SPI:
            for (uint64_t done = 0; done < n;) {
                const uint32_t off = uint32_t(a + done - spiBase);
                const unsigned w = accessWidth(off, n - done);
                const uint32_t v = spi_->read(off, w);
                for (unsigned i = 0; i < w; ++i) out[done + i] = uint8_t(v >> (BITS_PER_BYTE * i));
                done += w;
            }
            break;
        case CHIPSET:
            copyOut(out, chipsetRegs_, a - rcba, n);
            break;
        case LEGACY:
            copyOut(out, legacy_, a - LEGACY_AREA_BASE, n);
            break;
        case WINDOW:
            copyOut(out, banks_[activeBank_]->array(), a - biosWindowBase(), n);
            clock_.advance(windowReadNs(a - biosWindowBase(), n));
            break;
        default:
            std::memset(out, FLOATING_BUS, n);
            break;
        }
    });
}

void Machine::memWrite(uint32_t addr, uint32_t len, const uint8_t* src) {
    bool rcbaOn = false;
    const uint64_t rcba = rcbaBase(&rcbaOn);
    const uint64_t spiBase = rcba + RCBA_SPI_BLOCK;
    enum { SPI, CHIPSET, LEGACY, COUNT };
    const Span spans[COUNT] = {
        rcbaOn ? Span{spiBase, spiBase + SIM_SPI_BLOCK_SIZE} : Span{0, 0},
        rcbaOn ? Span{rcba, rcba + RCBA_SPACE_SIZE} : Span{0, 0},
        {LEGACY_AREA_BASE, uint64_t(LEGACY_AREA_BASE) + LEGACY_AREA_SIZE},
    };
    // The BIOS window is read-only: writes there are dropped like unmapped ones.
    const uint64_t start = addr;
    forEachPiece(addr, len, spans, COUNT, [&](size_t region, uint64_t a, uint64_t n) {
        const uint8_t* in = src + (a - start);
        switch (region) {
        case SPI:
            for (uint64_t done = 0; done < n;) {
                const uint32_t off = uint32_t(a + done - spiBase);
                const unsigned w = accessWidth(off, n - done);
                uint32_t v = 0;
                for (unsigned i = 0; i < w; ++i) v |= uint32_t(in[done + i]) << (BITS_PER_BYTE * i);
                spi_->write(off, w, v);
                done += w;
            }
            break;
        case CHIPSET:
            copyIn(chipsetRegs_, a - rcba, in, n);
            break;
        case LEGACY:
            copyIn(legacy_, a - LEGACY_AREA_BASE, in, n);
            break;
        default:
            break;
        }
    });
}

// ---- Saving the volatile state -------------------------------------------------

std::vector<uint8_t> Machine::saveVolatileState() {
    std::vector<uint8_t> out;
    put32(out, STATE_MAGIC);
    put32(out, STATE_VERSION);
    put64(out, clock_.ns);
    const std::vector<uint8_t> pci = pci_.save();
    putBytes(out, pci.data(), pci.size());
    putBytes(out, gpio_.registers().data(), gpio_.registers().size());
    putBytes(out, chipsetRegs_.data(), chipsetRegs_.size());
    putBytes(out, spi_->registers().data(), spi_->registers().size());
    // The parts' WEL goes with the power too. An operation still in flight
    // is not kept: far more time passes between two commands than it takes.
    for (auto& b : banks_) put32(out, (b->status() & spinor::SR_WEL) ? 1 : 0);
    return out;
}

bool Machine::restoreVolatileState(const std::vector<uint8_t>& blob) {
    BlobReader r{blob};
    uint32_t magic = 0, version = 0;
    uint64_t ns = 0;
    const uint8_t *pci = nullptr, *gpio = nullptr, *chipset = nullptr, *spi = nullptr;
    size_t pciLen = 0, n = 0;
    if (!r.get32(&magic) || magic != STATE_MAGIC || !r.get32(&version) ||
        version != STATE_VERSION || !r.get64(&ns) || !r.getBytes(&pci, &pciLen, 0) ||
        !r.getBytes(&gpio, &n, GPIO_BLOCK_SIZE) || !r.getBytes(&chipset, &n, RCBA_SPACE_SIZE) ||
        !r.getBytes(&spi, &n, SIM_SPI_BLOCK_SIZE))
        return false;
    uint32_t wel[2] = {0, 0};
    for (int i = 0; i < 2; ++i)
        if (!r.get32(&wel[i]) || wel[i] > 1) return false;
    if (r.pos != blob.size()) return false;
    if (!pci_.restore(pci, pciLen)) return false;
    clock_.ns = ns;
    std::memcpy(gpio_.registers().data(), gpio, GPIO_BLOCK_SIZE);
    std::memcpy(chipsetRegs_.data(), chipset, RCBA_SPACE_SIZE);
    std::memcpy(spi_->registers().data(), spi, SIM_SPI_BLOCK_SIZE);
    for (int i = 0; i < 2; ++i) {
        const uint8_t stored = uint8_t(banks_[i]->status() & ~(spinor::SR_WIP | spinor::SR_WEL));
        banks_[i]->restoreState(uint8_t(stored | (wel[i] ? spinor::SR_WEL : 0)), 0);
    }
    applyBoardInputs();
    applyWriteProtect();
    return true;
}
