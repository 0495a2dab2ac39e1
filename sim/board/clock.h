// Virtual time of the simulated machine, in nanoseconds. Nothing in the
// simulator sleeps: busy bits clear because this clock moves.
#pragma once
#include <cstdint>

struct SimClock {
    uint64_t ns = 0;
    void advance(uint64_t delta) { ns += delta; }
};

constexpr uint64_t SIM_NS_PER_US = 1000;
constexpr uint64_t SIM_NS_PER_MS = 1000 * 1000;
constexpr uint64_t SPI_NS_PER_BIT = 50;  // 20 MHz SPI clock
