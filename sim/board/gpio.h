// The chipset's GPIO block (I/O at the GPIO base): for each of 64 pins a
// select bit (1 = GPIO), a direction bit (1 = input) and a level bit. A pin
// that is an output GPIO drives its line with the level latch; otherwise the
// board decides the line's level (a pull resistor or another device).
#pragma once
#include <array>
#include <cstdint>
#include <functional>

#include "sim/board/board_regs.h"

class GpioBlock {
public:
    GpioBlock();

    // Everything cleared: no pin is a GPIO, all inputs, latches 0. Board
    // inputs are kept. Does not report line changes.
    void reset();
    // Configures one pin directly (firmware set-up). Does not report changes.
    void setup(unsigned pin, bool gpio, bool input, bool level);

    // Byte access at an offset from the GPIO base (below GPIO_BLOCK_SIZE).
    uint8_t readByte(unsigned offset) const;
    void writeByte(unsigned offset, uint8_t value);

    // The level of the board line at a pin, whoever drives it.
    bool lineLevel(unsigned pin) const;
    // What the board puts on a pin's line when the chipset does not drive it.
    void setBoardInput(unsigned pin, bool level);

    // Called after a register write changed the level of a line.
    std::function<void(unsigned pin, bool level)> onLineChange;

    // Raw state, for saving and restoring the machine.
    std::array<uint8_t, GPIO_BLOCK_SIZE>& registers() { return regs_; }
    const std::array<uint8_t, GPIO_BLOCK_SIZE>& registers() const { return regs_; }

private:
    bool isOutput(unsigned pin) const;
    bool latch(unsigned pin) const;

    std::array<uint8_t, GPIO_BLOCK_SIZE> regs_{};
    std::array<bool, GPIO_PIN_COUNT> boardInput_{};
};
