// A simulated board with a host over it, for the SPI chipset tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chipset/ich10spi.h"
#include "flash/settings.h"
#include "sim/machine.h"
#include "sim/simos.h"

constexpr uint32_t NEITHER_HOST_BRIDGE = 0x12378086;
constexpr uint32_t SPI_BLOCK_BASE = 0xFED1F800;  // root-complex base 0xFED1C000 + 0x3800
constexpr unsigned short GPIO_BASE = 0x500;

struct ChipsetRig {
    Machine machine;
    SimOS os;

    ChipsetRig(uint32_t hostBridge, const char* part, int bank = 0)
        : machine(BoardConfig{hostBridge, part, bank}), os(machine) {
        resetSettings();
        // Distinct old contents in both banks, so any stray write shows.
        for (int b = 0; b < 2; ++b) {
            auto& a = machine.bank(b).array();
            for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i * 7 + (i >> 12) + b * 0x55);
        }
    }
};

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = uint8_t((i >> 3) ^ seed ^ (i >> 13));
    return v;
}

inline std::string capturedStdout() {
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Entries of the trace that write, or read-modify-write, the given ports.
inline std::vector<TraceEntry> entriesAt(const std::vector<TraceEntry>& trace, uint32_t first,
                                         uint32_t last, TraceKind kind) {
    std::vector<TraceEntry> out;
    for (const TraceEntry& e : trace)
        if (e.kind == kind && e.address >= first && e.address <= last) out.push_back(e);
    return out;
}
