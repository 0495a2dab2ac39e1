// The south bridge's SPI controller: register decode of the SPI block and the
// two cycle engines. A cycle shifts its whole sequence into the flash part at
// once, at the times the bytes would be on the bus; its status bits then
// follow the clock: SCIP until the sequence's end, then FDONE or CDS, and the
// bytes read land in FDATA only at that end.
#include "sim/board/spi_controller.h"

#include <algorithm>
#include <limits>

#include "sim/board/spi_regs.h"

using namespace simspi;

namespace {

constexpr uint64_t NEVER = std::numeric_limits<uint64_t>::max();
constexpr uint64_t BYTE_NS = 8 * SPI_NS_PER_BIT;
constexpr uint64_t STATUS_POLL_NS = 2 * BYTE_NS;  // opcode 0x05 and one status byte
constexpr uint32_t FCERR_BLOCK_SIZE = 4096;
constexpr uint8_t FLOCKDN_BIT = HSFS_FLOCKDN >> 8;  // in the high byte of HSFS

// Registers that ignore writes once FLOCKDN is set, until the next reset.
struct Span32 {
    uint32_t begin, end;
};
constexpr Span32 LOCKED_BY_FLOCKDN[] = {
    {FRAP, FRAP + 4},
    {FREG0, FREG0 + 5 * 4},
    {PR0, PR_END},
    {PREOP, OPMENU + OPMENU_ENTRIES},
};

bool lockedByFlockdn(uint32_t offset) {
    for (const Span32& s : LOCKED_BY_FLOCKDN)
        if (offset >= s.begin && offset < s.end) return true;
    return false;
}

// What the controller can tell about the opcodes the parts implement. It uses
// this only to refuse a software cycle whose type cannot serve the opcode and
// to refuse flash-changing opcodes while BIOS writes are disabled; anything
// else goes on the bus as OPTYPE says.
enum class DataPhase { None, ToFlash, FromFlash };
struct OpcodeNeeds {
    uint8_t opcode;
    bool address;
    DataPhase data;
    bool changesFlash;
};
constexpr OpcodeNeeds OPCODE_NEEDS[] = {
    {spinor::WRSR, false, DataPhase::ToFlash, true},
    {spinor::PP, true, DataPhase::ToFlash, true},
    {spinor::READ, true, DataPhase::FromFlash, false},
    {spinor::WRDI, false, DataPhase::None, false},
    {spinor::RDSR, false, DataPhase::FromFlash, false},
    {spinor::WREN, false, DataPhase::None, false},
    {spinor::SE, true, DataPhase::None, true},
    {0x52, true, DataPhase::None, true},  // 32 KiB block erase
    {spinor::BE, true, DataPhase::None, true},
    {spinor::CE, false, DataPhase::None, true},
    {spinor::CE_ALT, false, DataPhase::None, true},
    {spinor::RDID, false, DataPhase::FromFlash, false},
};

const OpcodeNeeds* findOpcode(uint8_t opcode) {
    for (const OpcodeNeeds& n : OPCODE_NEEDS)
        if (n.opcode == opcode) return &n;
    return nullptr;
}

bool typeServes(const OpcodeNeeds& needs, unsigned type, bool dataPhase) {
    if (needs.address && !(type & OPTYPE_ADDRESS)) return false;
    if (needs.data == DataPhase::ToFlash) return (type & OPTYPE_WRITE) && dataPhase;
    if (needs.data == DataPhase::FromFlash) return !(type & OPTYPE_WRITE);
    return true;
}

bool changesFlash(uint8_t opcode) {
    const OpcodeNeeds* n = findOpcode(opcode);
    return n && n->changesFlash;
}

void appendAddress(std::vector<uint8_t>& bytes, uint32_t addr) {
    bytes.push_back(static_cast<uint8_t>(addr >> 16));
    bytes.push_back(static_cast<uint8_t>(addr >> 8));
    bytes.push_back(static_cast<uint8_t>(addr));
}

}  // namespace

SpiController::SpiController(SimClock& clock, std::function<FlashPart&()> activePart,
                             std::function<bool()> biosWriteEnabled)
    : clock_(clock), activePart_(std::move(activePart)),
      biosWriteEnabled_(std::move(biosWriteEnabled)) {}

std::array<uint8_t, SIM_SPI_BLOCK_SIZE>& SpiController::registers() {
    settle();
    return regs_;
}

SpiController::CycleInFlight SpiController::hwCycle() const {
    return CycleInFlight{hwInFlight_, hwDoneAt_, hwReadData_};
}

SpiController::CycleInFlight SpiController::swCycle() const {
    return CycleInFlight{swInFlight_, swDoneAt_, swReadData_};
}

void SpiController::restoreCycles(const CycleInFlight& hw, const CycleInFlight& sw) {
    hwInFlight_ = hw.active;
    hwDoneAt_ = hw.doneAt;
    hwReadData_ = hw.readData;
    swInFlight_ = sw.active;
    swDoneAt_ = sw.doneAt;
    swReadData_ = sw.readData;
}

void SpiController::settle() {
    auto finish = [&](bool& inFlight, uint64_t doneAt, std::vector<uint8_t>& data,
                      uint32_t statusOffset, uint8_t doneBit) {
        if (!inFlight || clock_.ns < doneAt) return;
        inFlight = false;
        std::copy_n(data.begin(), std::min<size_t>(data.size(), FDATA_SIZE),
                    regs_.begin() + FDATA0);
        data.clear();
        regs_[statusOffset] |= doneBit;
    };
    finish(hwInFlight_, hwDoneAt_, hwReadData_, HSFS, HSFS_FDONE);
    finish(swInFlight_, swDoneAt_, swReadData_, SSFS, SSFS_CDS);
}

uint32_t SpiController::read(uint32_t offset, unsigned width) {
    settle();
    uint32_t value = 0;
    for (unsigned i = 0; i < width && i < 4; ++i)
        value |= uint32_t{readByte(offset + i)} << (8 * i);
    return value;
}

uint8_t SpiController::readByte(uint32_t offset) const {
    if (offset >= SIM_SPI_BLOCK_SIZE) return 0;
    if (offset >= PR0 && offset < PR_END) return 0;
    switch (offset) {
    case HSFS:
        return static_cast<uint8_t>((regs_[HSFS] & HSFS_W1C) | HSFS_BERASE_4K |
                                    (hwInFlight_ ? HSFS_SCIP : 0));
    case HSFS + 1:
        return static_cast<uint8_t>(((HSFS_FDV | HSFS_FDOPSS) >> 8) | (regs_[HSFS + 1] & FLOCKDN_BIT));
    case SSFS:
        return static_cast<uint8_t>((regs_[SSFS] & SSFS_W1C) | (swInFlight_ ? SSFS_SCIP : 0));
    default:
        return regs_[offset];
    }
}

void SpiController::write(uint32_t offset, unsigned width, uint32_t value) {
    settle();
    // All bytes of one access land before a go bit among them acts, so a
    // 16-bit HSFC write or a 32-bit write at SSFS starts the cycle with the
    // count and flags of the same write.
    bool hwGo = false;
    bool swGo = false;
    for (unsigned i = 0; i < width && i < 4; ++i) {
        const uint32_t off = offset + i;
        if (writeByte(off, static_cast<uint8_t>(value >> (8 * i)))) {
            if (off == HSFC) hwGo = true;
            if (off == SSFC) swGo = true;
        }
    }
    if (hwGo) startHardwareCycle();
    if (swGo) startSoftwareCycle();
}

bool SpiController::writeByte(uint32_t offset, uint8_t value) {
    if (offset >= SIM_SPI_BLOCK_SIZE) return false;
    if (offset >= PR0 && offset < PR_END) return false;
    if ((regs_[HSFS + 1] & FLOCKDN_BIT) && lockedByFlockdn(offset)) return false;
    switch (offset) {
    case HSFS:
        regs_[HSFS] &= static_cast<uint8_t>(~(value & HSFS_W1C));
        return false;
    case HSFS + 1:
        // FDV and FDOPSS are read-only; FLOCKDN, once written 1, stays until reset.
        regs_[HSFS + 1] |= static_cast<uint8_t>(value & FLOCKDN_BIT);
        return false;
    case HSFC:
        regs_[HSFC] = static_cast<uint8_t>(value & HSFC_WRITABLE);
        return (value & HSFC_FGO) != 0;
    case HSFC + 1:
        regs_[HSFC + 1] = static_cast<uint8_t>(value & (HSFC_WRITABLE >> 8));
        return false;
    case FADDR + 3:
        return false;  // above the 24-bit flash address
    case SSFS:
        regs_[SSFS] &= static_cast<uint8_t>(~(value & SSFS_W1C));
        return false;
    case SSFC:
        regs_[SSFC] = static_cast<uint8_t>(value & ~SSFC_SCGO);
        return (value & SSFC_SCGO) != 0;
    default:
        regs_[offset] = value;
        return false;
    }
}

uint64_t SpiController::shift(FlashPart& part, uint64_t at, const std::vector<uint8_t>& out,
                              uint32_t readCount, std::vector<uint8_t>* in) {
    uint64_t t = at;
    part.setTimeAhead(t - clock_.ns);
    part.select();
    for (uint8_t b : out) {
        part.setTimeAhead(t - clock_.ns);
        part.transfer(b);
        t += BYTE_NS;
    }
    for (uint32_t i = 0; i < readCount; ++i) {
        part.setTimeAhead(t - clock_.ns);
        const uint8_t b = part.transfer(spinor::IDLE_BUS);
        if (in) in->push_back(b);
        t += BYTE_NS;
    }
    part.setTimeAhead(t - clock_.ns);
    part.deselect();
    part.setTimeAhead(0);
    return t;
}

// Each poll is opcode 0x05 and one status byte; the status is sampled as its
// byte is shifted. The first poll goes on the bus; the ones that can only see
// WIP still set are counted, not shifted, and the last one goes on the bus.
uint64_t SpiController::pollUntilReady(FlashPart& part, uint64_t at) {
    const uint64_t ready = part.busyUntil();
    const uint64_t firstSample = at + BYTE_NS;
    const uint64_t skipped =
        ready > firstSample ? (ready - firstSample + STATUS_POLL_NS - 1) / STATUS_POLL_NS : 0;
    std::vector<uint8_t> status;
    uint64_t t = shift(part, at, {spinor::RDSR}, 1, &status);
    if (skipped > 0) t = shift(part, at + skipped * STATUS_POLL_NS, {spinor::RDSR}, 1, &status);
    return t;
}

// The injected fault: the controller refuses a cycle that reaches the block.
bool SpiController::reachesFaultBlock(uint32_t first, uint32_t last) const {
    if (!fcerrBlock) return false;
    const uint32_t block = *fcerrBlock - *fcerrBlock % FCERR_BLOCK_SIZE;
    return first < block + FCERR_BLOCK_SIZE && last >= block;
}

bool SpiController::hardwareCycleRefused(unsigned cycle, uint32_t addr, uint32_t count) const {
    if (cycle == FCYCLE_RESERVED) return true;
    if ((cycle == FCYCLE_WRITE || cycle == FCYCLE_ERASE) && !biosWriteEnabled_()) return true;
    const uint32_t first = cycle == FCYCLE_ERASE ? addr - addr % spinor::SECTOR_SIZE : addr;
    const uint32_t last = cycle == FCYCLE_ERASE ? first + spinor::SECTOR_SIZE - 1 : addr + count - 1;
    return reachesFaultBlock(first, last);
}

// Hardware sequencing: the controller picks the opcode (read 0x03, page
// program 0x02 after write enable, 4 KiB erase 0x20 after write enable) and
// for write and erase reads the status until the part is no longer busy.
void SpiController::startHardwareCycle() {
    if (hwInFlight_ || swInFlight_) {
        regs_[HSFS] |= HSFS_FCERR;
        return;
    }
    const uint16_t hsfc = static_cast<uint16_t>(regs_[HSFC] | regs_[HSFC + 1] << 8);
    const unsigned cycle = (hsfc & HSFC_FCYCLE_MASK) >> HSFC_FCYCLE_SHIFT;
    const uint32_t count = ((hsfc & HSFC_FDBC_MASK) >> HSFC_FDBC_SHIFT) + 1;
    const uint32_t addr = read(FADDR, 4) & FADDR_MASK;
    if (hardwareCycleRefused(cycle, addr, count)) {
        regs_[HSFS] |= HSFS_FCERR;
        return;
    }
    hwInFlight_ = true;
    hwReadData_.clear();
    if (hwCycleHang) {
        hwDoneAt_ = NEVER;
        return;
    }
    FlashPart& part = activePart_();
    uint64_t t = clock_.ns;
    std::vector<uint8_t> command;
    switch (cycle) {
    case FCYCLE_READ:
        command.push_back(spinor::READ);
        appendAddress(command, addr);
        t = shift(part, t, command, count, &hwReadData_);
        break;
    case FCYCLE_WRITE:
        t = shift(part, t, {spinor::WREN}, 0, nullptr);
        command.push_back(spinor::PP);
        appendAddress(command, addr);
        command.insert(command.end(), regs_.begin() + FDATA0, regs_.begin() + FDATA0 + count);
        t = shift(part, t, command, 0, nullptr);
        t = pollUntilReady(part, t);
        break;
    default:  // FCYCLE_ERASE, 4 KiB granularity
        t = shift(part, t, {spinor::WREN}, 0, nullptr);
        command.push_back(spinor::SE);
        appendAddress(command, addr);
        t = shift(part, t, command, 0, nullptr);
        t = pollUntilReady(part, t);
        break;
    }
    hwDoneAt_ = t;
}

// Software sequencing: opcode OPMENU[COP] of type OPTYPE[COP]; with ACS the
// prefix opcode PREOP[SPOP] goes first as its own selection and the status is
// read until the part is no longer busy, all as one sequence.
void SpiController::startSoftwareCycle() {
    if (hwInFlight_ || swInFlight_) {
        regs_[SSFS] |= SSFS_FCERR;
        return;
    }
    const uint32_t ssfc = regs_[SSFC] | regs_[SSFC + 1] << 8 | regs_[SSFC + 2] << 16;
    const unsigned cop = (ssfc & SSFC_COP_MASK) >> SSFC_COP_SHIFT;
    const uint8_t opcode = regs_[OPMENU + cop];
    const unsigned optype = regs_[OPTYPE] | regs_[OPTYPE + 1] << 8;
    const unsigned type = (optype >> (2 * cop)) & 3;
    const bool atomic = (ssfc & SSFC_ACS) != 0;
    const uint8_t prefix = regs_[PREOP + ((ssfc & SSFC_SPOP) ? 1 : 0)];
    const bool dataPhase = (ssfc & SSFC_DS) != 0;
    const uint32_t count = ((ssfc & SSFC_DBC_MASK) >> SSFC_DBC_SHIFT) + 1;
    // Read before the cycle counts as in flight: read() settles cycles.
    const uint32_t addr = read(FADDR, 4) & FADDR_MASK;

    const OpcodeNeeds* needs = findOpcode(opcode);
    const bool misfit = needs && !typeServes(*needs, type, dataPhase);
    const bool blocked =
        !biosWriteEnabled_() && (changesFlash(opcode) || (atomic && changesFlash(prefix)));
    // An addressed cycle reaches the bytes it moves, or the block it erases.
    const uint32_t erased = opcode == spinor::BE ? spinor::BLOCK_SIZE
                            : opcode == spinor::SE ? spinor::SECTOR_SIZE : 0;
    const uint32_t first = erased ? addr - addr % erased : addr;
    const uint32_t span = erased ? erased : dataPhase ? count : 1;
    const bool faulted = (type & OPTYPE_ADDRESS) && reachesFaultBlock(first, first + span - 1);
    if (misfit || blocked || faulted) {
        regs_[SSFS] |= SSFS_FCERR;
        return;
    }
    swInFlight_ = true;
    swReadData_.clear();
    if (swCycleHang) {
        swDoneAt_ = NEVER;
        return;
    }
    FlashPart& part = activePart_();
    uint64_t t = clock_.ns;
    if (atomic) t = shift(part, t, {prefix}, 0, nullptr);
    std::vector<uint8_t> command{opcode};
    if (type & OPTYPE_ADDRESS) appendAddress(command, addr);
    uint32_t readCount = 0;
    if (dataPhase && (type & OPTYPE_WRITE))
        command.insert(command.end(), regs_.begin() + FDATA0, regs_.begin() + FDATA0 + count);
    else if (dataPhase)
        readCount = count;
    t = shift(part, t, command, readCount, &swReadData_);
    if (atomic) t = pollUntilReady(part, t);
    swDoneAt_ = t;
}
