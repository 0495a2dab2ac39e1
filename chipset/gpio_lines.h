// The board's GPIO lines around the BIOS flash, per south-bridge generation.
// GPIO registers are single-byte I/O ports at the GPIO base + offset; each
// group has a select (1 = GPIO), a direction (1 = input) and a level register.
#pragma once
#include <cstdint>

#include "chipset/pci.h"

struct GpioLine {
    uint8_t select;     // offset of the select register from the GPIO base
    uint8_t direction;  // offset of the direction register
    uint8_t level;      // offset of the level register
    uint8_t mask;       // the line's bit in each of the three
};

// Register groups: GPIO 8..15, GPIO 24..31, GPIO 56..63.
constexpr uint8_t GPIO_USE_SEL_8 = 0x01, GP_IO_SEL_8 = 0x05, GP_LVL_8 = 0x0D;
constexpr uint8_t GPIO_USE_SEL_24 = 0x03, GP_IO_SEL_24 = 0x07, GP_LVL_24 = 0x0F;
constexpr uint8_t GPIO_USE_SEL_56 = 0x33, GP_IO_SEL_56 = 0x37, GP_LVL_56 = 0x3B;

constexpr GpioLine gpioLine8(unsigned gpio) { return {GPIO_USE_SEL_8, GP_IO_SEL_8, GP_LVL_8, uint8_t(1u << (gpio - 8))}; }
constexpr GpioLine gpioLine24(unsigned gpio) { return {GPIO_USE_SEL_24, GP_IO_SEL_24, GP_LVL_24, uint8_t(1u << (gpio - 24))}; }
constexpr GpioLine gpioLine56(unsigned gpio) { return {GPIO_USE_SEL_56, GP_IO_SEL_56, GP_LVL_56, uint8_t(1u << (gpio - 56))}; }

struct GpioGenerationLines {
    uint32_t hostBridgeId;
    GpioLine flashWriteProtect;   // high: flash writes allowed, low: WP# asserted
    GpioLine eepromWriteProtect;  // high: EEPROM locked, low: unlocked
    GpioLine bankToggle;          // a low-high-low pulse switches the active bank
    GpioLine bankSense;           // input; set while the backup bank is active
};

// PCH generation first: the generation checks run in this order.
constexpr GpioGenerationLines GPIO_LINES[] = {
    {HOST_BRIDGE_PCH, gpioLine24(28), gpioLine24(27), gpioLine8(15), gpioLine56(57)},
    {HOST_BRIDGE_ICH, gpioLine24(26), gpioLine8(11), gpioLine24(27), gpioLine24(24)},
};

// Read-modify-write of one GPIO register byte.
inline void gpioSetBits(OS* os, unsigned short port, uint8_t mask) {
    os->outportByte(port, uint8_t(os->inportByte(port) | mask));
}
inline void gpioClearBits(OS* os, unsigned short port, uint8_t mask) {
    os->outportByte(port, uint8_t(os->inportByte(port) & ~mask));
}
