// The SPI controller of the ICH9/ICH10 and 5-series PCH south bridges: the
// register block at root-complex base + 0x3800, with the hardware-sequenced
// (HSFS/HSFC/FADDR/FDATA) and software-sequenced (SSFS/SSFC/PREOP/OPTYPE/OPMENU)
// cycle engines, driving the flash part of the active bank.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/board/clock.h"
#include "sim/board/flash_part.h"
#include "sim/board/spi_regs.h"

constexpr uint32_t SIM_SPI_BLOCK_SIZE = 0x200;  // bytes modelled from the block base

class SpiController {
public:
    // activePart: the flash part the bank multiplexer connects now.
    // biosWriteEnabled: BIOSWE of the LPC bridge's BIOS control register.
    SpiController(SimClock& clock, std::function<FlashPart&()> activePart,
                  std::function<bool()> biosWriteEnabled);

    // Register access at an offset from the block base, 1, 2 or 4 bytes wide,
    // little-endian. Offsets at or past SIM_SPI_BLOCK_SIZE are not decoded.
    uint32_t read(uint32_t offset, unsigned width);
    void write(uint32_t offset, unsigned width, uint32_t value);
    bool lockedDown() { return (read(simspi::HSFS, 2) & simspi::HSFS_FLOCKDN) != 0; }

    // Faults that a test or the tool can inject.
    bool hwCycleHang = false;  // hardware cycles never finish (SCIP stays set)
    bool swCycleHang = false;  // software cycles never finish (SCIP stays set)
    std::optional<uint32_t> fcerrBlock;  // cycles that reach this 4 KiB block end in FCERR

    // Raw register bytes, for saving and restoring the machine. Status bits
    // that follow the clock (SCIP) are not stored; the cycles in flight are.
    std::array<uint8_t, SIM_SPI_BLOCK_SIZE>& registers();

    // A cycle in flight: the clock time it ends (UINT64_MAX for a hung cycle)
    // and, for a read, the bytes that land in FDATA when it ends.
    struct CycleInFlight {
        bool active = false;
        uint64_t doneAt = 0;
        std::vector<uint8_t> readData;
    };
    CycleInFlight hwCycle() const;
    CycleInFlight swCycle() const;
    void restoreCycles(const CycleInFlight& hw, const CycleInFlight& sw);

private:
    void settle();  // finishes the cycles whose end the clock has reached
    uint8_t readByte(uint32_t offset) const;
    bool writeByte(uint32_t offset, uint8_t value);  // true: the byte held a go bit
    void startHardwareCycle();
    void startSoftwareCycle();
    bool hardwareCycleRefused(unsigned cycle, uint32_t addr, uint32_t count) const;
    bool reachesFaultBlock(uint32_t first, uint32_t last) const;
    // Shifts one selection on the bus starting at time `at`: the bytes of
    // `out`, then `readCount` bytes into `in`. Returns the time it ends.
    uint64_t shift(FlashPart& part, uint64_t at, const std::vector<uint8_t>& out,
                   uint32_t readCount, std::vector<uint8_t>* in);
    // Reads the part's status from `at` until WIP is clear; returns the end.
    uint64_t pollUntilReady(FlashPart& part, uint64_t at);

    SimClock& clock_;
    std::function<FlashPart&()> activePart_;
    std::function<bool()> biosWriteEnabled_;
    std::array<uint8_t, SIM_SPI_BLOCK_SIZE> regs_{};
    // Completion times of the cycle in flight of each engine.
    uint64_t hwDoneAt_ = 0;
    bool hwInFlight_ = false;
    uint64_t swDoneAt_ = 0;
    bool swInFlight_ = false;
    std::vector<uint8_t> hwReadData_;
    std::vector<uint8_t> swReadData_;
};
