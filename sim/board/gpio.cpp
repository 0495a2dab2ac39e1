#include "sim/board/gpio.h"

namespace {
constexpr unsigned PINS_PER_BYTE = 8;
constexpr unsigned GROUP_REG_BYTES = GPIO_PINS_PER_GROUP / PINS_PER_BYTE;

enum class RegKind { Select, Direction, Level, Other };

struct GroupRegs {
    unsigned select, direction, level, firstPin;
};
constexpr GroupRegs GROUPS[] = {
    {GPIO_USE_SEL, GPIO_IO_SEL, GP_LVL, 0},
    {GPIO_USE_SEL2, GP_IO_SEL2, GP_LVL2, GPIO_PINS_PER_GROUP},
};

const GroupRegs& groupOf(unsigned pin) { return GROUPS[pin / GPIO_PINS_PER_GROUP]; }
unsigned byteOf(unsigned pin) { return (pin % GPIO_PINS_PER_GROUP) / PINS_PER_BYTE; }
uint8_t maskOf(unsigned pin) { return uint8_t(1u << (pin % PINS_PER_BYTE)); }

// Which register an offset belongs to, and the first of the eight pins its byte holds.
RegKind classify(unsigned offset, unsigned* firstPin) {
    for (const GroupRegs& g : GROUPS) {
        const unsigned regs[] = {g.select, g.direction, g.level};
        const RegKind kinds[] = {RegKind::Select, RegKind::Direction, RegKind::Level};
        for (unsigned k = 0; k < 3; ++k) {
            if (offset >= regs[k] && offset < regs[k] + GROUP_REG_BYTES) {
                *firstPin = g.firstPin + (offset - regs[k]) * PINS_PER_BYTE;
                return kinds[k];
            }
        }
    }
    return RegKind::Other;
}
}  // namespace

GpioBlock::GpioBlock() { reset(); }

void GpioBlock::reset() { regs_.fill(0); }

void GpioBlock::setup(unsigned pin, bool gpio, bool input, bool level) {
    const GroupRegs& g = groupOf(pin);
    const unsigned b = byteOf(pin);
    const uint8_t m = maskOf(pin);
    auto put = [&](unsigned off, bool on) {
        regs_[off + b] = on ? uint8_t(regs_[off + b] | m) : uint8_t(regs_[off + b] & ~m);
    };
    put(g.select, gpio);
    put(g.direction, input);
    put(g.level, level);
}

bool GpioBlock::isOutput(unsigned pin) const {
    const GroupRegs& g = groupOf(pin);
    const unsigned b = byteOf(pin);
    const uint8_t m = maskOf(pin);
    return (regs_[g.select + b] & m) && !(regs_[g.direction + b] & m);
}

bool GpioBlock::latch(unsigned pin) const {
    return regs_[groupOf(pin).level + byteOf(pin)] & maskOf(pin);
}

bool GpioBlock::lineLevel(unsigned pin) const {
    if (pin >= GPIO_PIN_COUNT) return false;
    return isOutput(pin) ? latch(pin) : boardInput_[pin];
}

void GpioBlock::setBoardInput(unsigned pin, bool level) {
    if (pin < GPIO_PIN_COUNT) boardInput_[pin] = level;
}

uint8_t GpioBlock::readByte(unsigned offset) const {
    if (offset >= GPIO_BLOCK_SIZE) return 0xFF;
    unsigned first = 0;
    if (classify(offset, &first) != RegKind::Level) return regs_[offset];
    // An input GPIO reads the state of its pin; every other pin its latch.
    uint8_t value = 0;
    for (unsigned i = 0; i < PINS_PER_BYTE; ++i) {
        const unsigned pin = first + i;
        const GroupRegs& g = groupOf(pin);
        const bool gpioInput = (regs_[g.select + byteOf(pin)] & maskOf(pin)) &&
                               (regs_[g.direction + byteOf(pin)] & maskOf(pin));
        if (gpioInput ? boardInput_[pin] : latch(pin)) value |= maskOf(pin);
    }
    return value;
}

void GpioBlock::writeByte(unsigned offset, uint8_t value) {
    if (offset >= GPIO_BLOCK_SIZE) return;
    unsigned first = 0;
    const RegKind kind = classify(offset, &first);
    if (kind == RegKind::Other) {
        regs_[offset] = value;
        return;
    }
    bool before[PINS_PER_BYTE];
    for (unsigned i = 0; i < PINS_PER_BYTE; ++i) before[i] = lineLevel(first + i);

    if (kind == RegKind::Level) {
        // Only output GPIOs take a new level; other latches keep theirs.
        uint8_t outputs = 0;
        for (unsigned i = 0; i < PINS_PER_BYTE; ++i)
            if (isOutput(first + i)) outputs |= maskOf(first + i);
        regs_[offset] = uint8_t((regs_[offset] & ~outputs) | (value & outputs));
    } else {
        regs_[offset] = value;
    }

    if (!onLineChange) return;
    for (unsigned i = 0; i < PINS_PER_BYTE; ++i) {
        const bool now = lineLevel(first + i);
        if (now != before[i]) onLineChange(first + i, now);
    }
}
