// PCI configuration space of the simulated board, reached through
// configuration mechanism #1 (address latch at 0xCF8, data at 0xCFC..0xCFF).
// Present functions keep 256 bytes of register storage each; a few registers
// have hardware behaviour (read-only identity, the LPC bridge's BIOS control).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/board/board_regs.h"

class PciConfigSpace {
public:
    PciConfigSpace(uint32_t hostBridgeId, uint32_t lpcBridgeId);

    // Back to the values the firmware left (identities, bases, BIOS control 0,
    // everything else 0); the address latch is cleared.
    void powerOn();

    // Whether an I/O access of this width at this port reaches the mechanism.
    static bool claims(uint16_t port, unsigned width);
    uint32_t portRead(uint16_t port, unsigned width);
    void portWrite(uint16_t port, unsigned width, uint32_t value);
    uint32_t addressLatch() const { return address_; }

    // Direct dword access at a dword-aligned register (lower two bits ignored).
    // Absent functions read all ones and drop writes; writes obey the same
    // register rules as through the ports.
    uint32_t read(unsigned bus, unsigned dev, unsigned fn, unsigned reg) const;
    void write(unsigned bus, unsigned dev, unsigned fn, unsigned reg, uint32_t value);

    // Cheap byte read of a present function's register (for the machine's
    // decoders: GPIO base, root complex base, BIOS control).
    uint8_t byte(const PciLocation& at, unsigned reg) const;
    uint32_t dword(const PciLocation& at, unsigned reg) const;

    // Register storage of every function and the latch, for saving the machine.
    std::vector<uint8_t> save() const;
    bool restore(const uint8_t* data, size_t size);

private:
    struct Function {
        PciLocation at;
        uint32_t id;
        std::array<uint8_t, PCI_CONFIG_SPACE_SIZE> regs;
    };
    Function* find(unsigned bus, unsigned dev, unsigned fn);
    const Function* find(unsigned bus, unsigned dev, unsigned fn) const;
    Function* selected();
    void writeByte(Function& f, unsigned reg, uint8_t value);

    static constexpr size_t FUNCTION_COUNT = 4;
    std::array<Function, FUNCTION_COUNT> functions_;
    uint32_t address_ = 0;
};
