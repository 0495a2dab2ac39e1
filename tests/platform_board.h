// A simulated board with its platform object (built from the settings at hand),
// and the text arguments the platform tests hand over.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/x86qm.h"
#include "sim/board/machine.h"
#include "sim/host/simos.h"

struct SimBoard {
    explicit SimBoard(uint32_t hostBridgeId = HOST_BRIDGE_ID_PCH,
                      const std::string& part = "MX25L6445E")
        : machine(BoardConfig{hostBridgeId, part, 0}), os(machine), platform(&os) {}

    Machine machine;
    SimOS os;
    x86QMPlatform platform;
};

// A text argument the way callers hand one over: an array the callee deletes.
inline unsigned char* ownedText(const char* text) {
    const size_t n = std::strlen(text) + 1;
    return static_cast<unsigned char*>(std::memcpy(new unsigned char[n], text, n));
}
