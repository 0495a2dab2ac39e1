// SPI NOR flash parts at the level of their bus. A selection collects the
// bytes shifted in and answers reads on the fly; write status, program and
// erase take effect at deselect and keep WIP set for their time on the clock.
#include "sim/board/flash_part.h"

#include <algorithm>
#include <array>

#include "sim/board/spi_regs.h"

namespace {

constexpr uint64_t WRITE_STATUS_NS = 10 * SIM_NS_PER_MS;

constexpr uint8_t MX_BP = 0x3C;      // BP3..BP0, bits 5:2
constexpr uint8_t WINBOND_BP = 0x1C; // BP2..BP0, bits 4:2 (TB is bit 5)
constexpr uint8_t ATMEL_SWP = 0x0C;  // SWP, bits 3:2
constexpr uint8_t ATMEL_WPP = 0x10;  // reads 1 while WP# is not asserted
constexpr uint8_t ATMEL_GLOBAL_BITS = 0x3C;  // bits 5:2 of a write-status byte

constexpr uint32_t MIB = 1024 * 1024;

}  // namespace

const std::vector<FlashPartInfo>& flashPartTable() {
    static const std::vector<FlashPartInfo> table = {
        {"MX25L1606E", {0xC2, 0x20, 0x15}, 2 * MIB, MX_BP, 600 * SIM_NS_PER_US,
         40 * SIM_NS_PER_MS,
         400 * SIM_NS_PER_MS, 15000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
        {"W25Q16BV", {0xEF, 0x40, 0x15}, 2 * MIB, WINBOND_BP, 700 * SIM_NS_PER_US,
         30 * SIM_NS_PER_MS,
         150 * SIM_NS_PER_MS, 3000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
        {"MX25L3205D", {0xC2, 0x20, 0x16}, 4 * MIB, MX_BP, 1400 * SIM_NS_PER_US,
         90 * SIM_NS_PER_MS,
         1000 * SIM_NS_PER_MS, 25000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
        {"AT26DF321", {0x1F, 0x47, 0x00}, 4 * MIB, ATMEL_SWP, 1500 * SIM_NS_PER_US,
         50 * SIM_NS_PER_MS,
         400 * SIM_NS_PER_MS, 36000 * SIM_NS_PER_MS, StatusStyle::GlobalProtect},
        // Same identity as the MX25L6406E.
        {"MX25L6445E", {0xC2, 0x20, 0x17}, 8 * MIB, MX_BP, 1400 * SIM_NS_PER_US,
         60 * SIM_NS_PER_MS,
         700 * SIM_NS_PER_MS, 50000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
        {"W25Q64", {0xEF, 0x40, 0x17}, 8 * MIB, WINBOND_BP, 700 * SIM_NS_PER_US,
         30 * SIM_NS_PER_MS,
         150 * SIM_NS_PER_MS, 20000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
        // A part no driver knows: reads identity 00 00 00.
        {"unknown", {0x00, 0x00, 0x00}, 2 * MIB, MX_BP, 600 * SIM_NS_PER_US,
         40 * SIM_NS_PER_MS,
         400 * SIM_NS_PER_MS, 15000 * SIM_NS_PER_MS, StatusStyle::BlockProtect},
    };
    return table;
}

const FlashPartInfo* findFlashPart(const std::string& name) {
    for (const FlashPartInfo& p : flashPartTable())
        if (name == p.name) return &p;
    return nullptr;
}

FlashPart::FlashPart(const FlashPartInfo& info, SimClock& clock)
    : info_(info), clock_(clock), array_(info.size, 0xFF) {}

bool FlashPart::busy() const { return clock_.ns < busyUntil_; }

uint8_t FlashPart::status() const {
    const bool wpp = info_.statusStyle == StatusStyle::GlobalProtect && !wpAsserted_;
    return static_cast<uint8_t>(status_ | (now() < busyUntil_ ? spinor::SR_WIP : 0) |
                                (wpp ? ATMEL_WPP : 0));
}

void FlashPart::setStatus(uint8_t value) {
    status_ = value & writableStatusBits();
    busyUntil_ = 0;
}

void FlashPart::programStatus(uint8_t value) {
    applyStatusWrite(value);
    busyUntil_ = 0;
}

void FlashPart::restoreState(uint8_t statusWithWel, uint64_t busyUntil) {
    status_ = statusWithWel & static_cast<uint8_t>(writableStatusBits() | spinor::SR_WEL);
    busyUntil_ = busyUntil;
}

// A non-zero block-protect value v guards the top 64 KiB x 2^(v-1) of the
// array; all block-protect bits set guard the whole part.
uint32_t FlashPart::protectedBytes() const {
    const uint8_t mask = info_.protectMask;
    const uint8_t bits = status_ & mask;
    if (mask == 0 || bits == 0) return 0;
    if (bits == mask) return info_.size;
    const unsigned shift = static_cast<unsigned>(__builtin_ctz(mask));
    const unsigned v = bits >> shift;
    const uint64_t guarded = uint64_t{spinor::PROTECT_UNIT} << (v - 1);
    return static_cast<uint32_t>(std::min<uint64_t>(guarded, info_.size));
}

bool FlashPart::isProtected(uint32_t addr) const {
    const uint32_t guarded = protectedBytes();
    return guarded != 0 && addr % info_.size >= info_.size - guarded;
}

// Non-volatile bits of status register 1: SRWD (SPRL), the block-protect
// bits, and on parts with BP2..BP0 at bits 4:2 the TB bit beside them.
uint8_t FlashPart::writableStatusBits() const {
    const uint8_t tb = info_.protectMask == WINBOND_BP ? spinor::SR_TB : 0;
    return static_cast<uint8_t>(spinor::SR_SRWD | info_.protectMask | tb);
}

void FlashPart::select() {
    selected_ = true;
    command_.clear();
    ignored_ = false;
}

uint8_t FlashPart::transfer(uint8_t mosi) {
    if (!selected_) return spinor::IDLE_BUS;
    command_.push_back(mosi);
    const size_t index = command_.size() - 1;  // position of this byte
    if (index == 0) {
        // A busy part answers only status reads.
        ignored_ = now() < busyUntil_ && mosi != spinor::RDSR;
        return spinor::IDLE_BUS;
    }
    if (ignored_) return spinor::IDLE_BUS;
    switch (command_[0]) {
    case spinor::RDSR:
        return status();
    case spinor::RDID:
        return index <= 3 ? info_.jedec[index - 1] : 0x00;
    case spinor::READ:
        if (index <= spinor::ADDRESS_BYTES) return spinor::IDLE_BUS;
        return array_[(commandAddress() + (index - spinor::ADDRESS_BYTES - 1)) % info_.size];
    default:
        return spinor::IDLE_BUS;
    }
}

void FlashPart::deselect() {
    if (!selected_) return;
    selected_ = false;
    if (onCommand) onCommand(command_);
    if (!command_.empty() && !ignored_) execute();
    command_.clear();
}

uint32_t FlashPart::commandAddress() const {
    uint32_t addr = 0;
    for (size_t i = 1; i <= spinor::ADDRESS_BYTES && i < command_.size(); ++i)
        addr = (addr << 8) | command_[i];
    return addr % info_.size;
}

bool FlashPart::operationAllowed() { return !onOperationStart || onOperationStart(); }

// An erase or program needs WEL; one the block protection refuses does
// nothing but clear WEL. An accepted one clears WEL as it starts (unless the
// power fails first, in which case nothing at all happens).
bool FlashPart::acceptChange(bool refused) {
    if (!(status_ & spinor::SR_WEL)) return false;
    if (refused) {
        status_ &= static_cast<uint8_t>(~spinor::SR_WEL);
        return false;
    }
    if (!operationAllowed()) return false;
    status_ &= static_cast<uint8_t>(~spinor::SR_WEL);
    return true;
}

// Bytes past what a command needs are ignored; a command cut short does nothing.
void FlashPart::execute() {
    const size_t n = command_.size();
    const size_t withAddress = 1 + spinor::ADDRESS_BYTES;
    switch (command_[0]) {
    case spinor::WREN:
        status_ |= spinor::SR_WEL;
        break;
    case spinor::WRDI:
        status_ &= static_cast<uint8_t>(~spinor::SR_WEL);
        break;
    case spinor::WRSR:
        if (n >= 2) writeStatus();
        break;
    case spinor::PP:
        if (n > withAddress) pageProgram();
        break;
    case spinor::SE:
        if (n >= withAddress) sectorErase();
        break;
    case spinor::BE:
        if (n >= withAddress) blockErase();
        break;
    case spinor::CE:
    case spinor::CE_ALT:
        // The part erases only when the selection ends right after the opcode.
        if (n == 1) chipErase();
        break;
    default:
        break;
    }
}

void FlashPart::writeStatus() {
    if (!(status_ & spinor::SR_WEL)) return;
    status_ &= static_cast<uint8_t>(~spinor::SR_WEL);
    // Hardware protected mode: SRWD (SPRL) set and WP# driven low.
    if ((status_ & spinor::SR_SRWD) && wpAsserted_) return;
    applyStatusWrite(command_[1]);
    ++statusWrites_;
    startBusy(WRITE_STATUS_NS);
}

void FlashPart::applyStatusWrite(uint8_t value) {
    const uint8_t writable = writableStatusBits();
    if (info_.statusStyle == StatusStyle::GlobalProtect) {
        uint8_t next = static_cast<uint8_t>((status_ & ~spinor::SR_SRWD) | (value & spinor::SR_SRWD));
        const uint8_t global = value & ATMEL_GLOBAL_BITS;
        if (global == ATMEL_GLOBAL_BITS) next |= info_.protectMask;
        if (global == 0) next &= static_cast<uint8_t>(~info_.protectMask);
        status_ = static_cast<uint8_t>((status_ & spinor::SR_WEL) | (next & writable));
        return;
    }
    status_ = static_cast<uint8_t>((status_ & ~writable) | (value & writable));
}

void FlashPart::pageProgram() {
    const uint32_t addr = commandAddress();
    const uint32_t page = addr - addr % spinor::PAGE_SIZE;
    if (!acceptChange(isProtected(page))) return;
    // The page buffer wraps: past the end of the page the column restarts at
    // 0, and of more than 256 bytes only the last 256 stay.
    std::array<int, spinor::PAGE_SIZE> latch;
    latch.fill(-1);
    uint32_t column = addr % spinor::PAGE_SIZE;
    for (size_t i = 1 + spinor::ADDRESS_BYTES; i < command_.size(); ++i) {
        latch[column] = command_[i];
        column = (column + 1) % spinor::PAGE_SIZE;
    }
    const bool dropped = ++pagePrograms_ == dropProgramAt;
    uint32_t count = 0;
    for (uint32_t c = 0; c < spinor::PAGE_SIZE; ++c) {
        if (latch[c] < 0) continue;
        ++count;
        if (dropped || (badCell && *badCell % info_.size == page + c)) continue;
        array_[page + c] &= static_cast<uint8_t>(latch[c]);
    }
    programmedBytes_ += count;
    startBusy(info_.pageProgramNs * count / spinor::PAGE_SIZE);
}

void FlashPart::sectorErase() {
    const uint32_t addr = commandAddress();
    const uint32_t sector = addr - addr % spinor::SECTOR_SIZE;
    if (!acceptChange(isProtected(sector))) return;
    std::fill_n(array_.begin() + sector, spinor::SECTOR_SIZE, 0xFF);
    erasedBytes_ += spinor::SECTOR_SIZE;
    ++sectorErases_;
    startBusy(info_.sectorEraseNs);
}

// The 64 KiB block that holds the address; refused when the protection
// covers any of it. The guarded range is the top of the array, so the
// block's last byte tells.
void FlashPart::blockErase() {
    const uint32_t addr = commandAddress();
    const uint32_t block = addr - addr % spinor::BLOCK_SIZE;
    if (!acceptChange(isProtected(block + spinor::BLOCK_SIZE - 1))) return;
    std::fill_n(array_.begin() + block, spinor::BLOCK_SIZE, 0xFF);
    erasedBytes_ += spinor::BLOCK_SIZE;
    ++blockErases_;
    startBusy(info_.blockEraseNs);
}

void FlashPart::chipErase() {
    if (!acceptChange(protectedBytes() != 0)) return;
    std::fill(array_.begin(), array_.end(), 0xFF);
    erasedBytes_ += info_.size;
    startBusy(info_.chipEraseNs);
}
