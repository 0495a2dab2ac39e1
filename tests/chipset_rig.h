// A simulated board with a host over it, for the SPI chipset tests, and the
// helpers the flash tests share (captured output, a scratch directory).
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chipset/ich10spi.h"
#include "flash/settings.h"
#include "sim/board/machine.h"
#include "sim/host/simos.h"

constexpr uint32_t SPI_BLOCK_BASE = 0xFED1F800;        // root-complex base 0xFED1C000 + 0x3800
constexpr uint32_t SSFS_ADDR = SPI_BLOCK_BASE + 0x90;  // SSFS; SSFC is the three bytes above it
constexpr unsigned short GPIO_BASE = 0x500;

struct ChipsetRig {
    Machine machine;
    SimOS os;

    ChipsetRig(uint32_t hostBridge, const char* part) : ChipsetRig(BoardConfig{hostBridge, part, 0}) {}
    explicit ChipsetRig(const BoardConfig& board) : machine(board), os(machine) {
        resetSettings();
        // Distinct old contents in both banks, so any stray write shows.
        for (int b = 0; b < 2; ++b) {
            auto& a = machine.bank(b).array();
            for (size_t i = 0; i < a.size(); ++i) a[i] = uint8_t(i * 7 + (i >> 12) + b * 0x55);
        }
    }
    const std::vector<uint8_t>& flash(int bank = 0) { return machine.bank(bank).array(); }
};

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = uint8_t((i >> 3) ^ seed ^ (i >> 13));
    return v;
}

// The opcodes the part saw, with the address of those that carry one.
struct BusLog {
    std::vector<std::pair<uint8_t, uint32_t>> commands;
    bool saw(uint8_t opcode, uint32_t from, uint32_t to) const {
        for (const auto& c : commands)
            if (c.first == opcode && c.second >= from && c.second < to) return true;
        return false;
    }
    size_t count(uint8_t opcode) const {
        size_t n = 0;
        for (const auto& c : commands) n += c.first == opcode;
        return n;
    }
};

inline void listen(FlashPart& part, BusLog& log) {
    part.onCommand = [&log](const std::vector<uint8_t>& mosi) {
        if (mosi.empty()) return;
        const uint32_t address = mosi.size() >= 4 ? uint32_t(mosi[1]) << 16 | mosi[2] << 8 | mosi[3] : 0;
        log.commands.push_back({mosi[0], address});
    };
}

// A one-byte write to the SPI register block, as the trace records it.
inline TraceEntry spiByteWrite(uint32_t address, uint32_t value) {
    return TraceEntry{TraceKind::MemW, address, 1, value, nullptr};
}

// Runs op with standard output and error captured; returns its result.
template <typename Op>
int quietly(Op op, std::string* out = nullptr, std::string* err = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = op();
    std::fflush(stdout);
    const std::string o = testing::internal::GetCapturedStdout(), e = testing::internal::GetCapturedStderr();
    if (out) *out = o;
    if (err) *err = e;
    return result;
}

// A fresh directory that is the current one while the object lives: the
// procedures read and write their files in the current directory.
struct ScratchDir {
    ScratchDir() {
        char name[] = "/tmp/lromup-test-XXXXXX";
        EXPECT_NE(mkdtemp(name), nullptr);
        path = name;
        EXPECT_NE(getcwd(old, sizeof old), nullptr);
        EXPECT_EQ(chdir(name), 0);
    }
    ~ScratchDir() {
        EXPECT_EQ(chdir(old), 0);
        std::filesystem::remove_all(path);
    }
    static void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    static std::vector<uint8_t> read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::string path;
    char old[4096];
};
