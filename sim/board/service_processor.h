// The board's service processor, seen from the host: a byte-wide LPC mailbox
// in front of a small kernel that takes packets (length, command, data,
// checksum), answers them, and raises asynchronous messages that wait in a
// queue until the host polls and acknowledges them. Behind it, a 64 KiB flash
// whose first 16 KiB hold the kernel and are never written. Everything it does
// takes virtual time on the machine's clock; it works whenever the host
// touches one of its ports.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/board/clock.h"

// Injected faults; they stay until cleared.
struct SpFaults {
    bool kernelSilent = false;        // takes every byte, never answers or raises a message
    unsigned badChecksumEvery = 0;    // every Nth reply goes out with a wrong checksum
    int eraseErrors = 0;              // the next N flash starts fail (-1: every one)
    bool blockError = false;          // a write covering blockErrorAt reports 0x05
    uint32_t blockErrorAt = 0;
    bool weakCell = false;            // the byte at weakCellAt flips bit 0 once, when a
    uint32_t weakCellAt = 0;          // page after its own is programmed (program disturb)
    bool resetFails = false;          // message 0xA0 reports a failed reset
    bool semaphoreHeld = false;       // another agent holds the mailbox at power-on
};

class ServiceProcessor {
public:
    explicit ServiceProcessor(SimClock& clock);

    static bool claims(uint16_t port);  // mailbox and control ports
    uint8_t portRead(uint16_t port);
    void portWrite(uint16_t port, uint8_t value);

    // Volatile state to its power-on values: control lines released, mailbox
    // idle, the kernel up with its "reset done" message (0xA0) waiting.
    void powerOn();

    // Non-volatile state: the flash and the profile number.
    std::vector<uint8_t>& flash() { return flash_; }
    uint8_t profile() const { return profile_; }
    void setProfile(uint8_t p) { profile_ = p; }
    // Writes a kernel revision (8 characters) and build value into the kernel area.
    void installKernel(const std::string& revision, uint32_t build);
    std::string kernelRevision() const;
    uint32_t kernelBuild() const;

    SpFaults faults;

    // Figures for tests and the benchmark.
    uint64_t resets() const { return resets_; }
    uint64_t packetsDropped() const { return dropped_; }
    uint64_t chunksWritten() const { return chunksWritten_; }
    uint64_t flashStarts() const { return flashStarts_; }
    bool inReset() const;
    bool semaphoreSet() const;

private:
    enum class JobKind { Boot, EraseDone, WriteDone };
    struct Job {
        uint64_t at;
        JobKind kind;
        uint32_t address;
        uint8_t data[8];
    };
    struct Message {
        uint8_t code, data;
    };

    void sync();  // does everything that is due by now
    void takeHostWrite(uint64_t t);
    void takeByte(uint8_t b, uint64_t t);
    void handlePacket(uint64_t t);
    void reply(uint64_t t, std::initializer_list<uint8_t> head, const uint8_t* data = nullptr,
               size_t count = 0);
    void raise(uint8_t code, uint8_t data);
    void runJob(const Job& job);
    void controlWritten();
    void stop();  // into reset: firmware halted, mailbox cleared
    void clearMailbox();
    bool mailboxConnected() const;
    bool running() const { return booted_ && !inReset(); }

    SimClock& clock_;
    std::vector<uint8_t> flash_;
    uint8_t profile_ = 1;

    // Control lines.
    uint8_t ctl83B_ = 0, ctl83E_ = 0, ctl84B_ = 0, ctl84E_ = 0, latched84E_ = 0;

    // Mailbox.
    uint8_t hostBits_ = 0;      // semaphore and abort as the host last wrote them
    bool ibf_ = false;          // a host write waits to be taken
    bool ibfIsStatus_ = false;  // ... and it was a status write
    uint8_t inData_ = 0;
    uint64_t ibfAt_ = 0;
    bool obf_ = false;
    uint8_t outData_ = 0;
    std::deque<uint8_t> outQueue_;
    uint64_t outNextAt_ = 0;
    uint8_t privateIndex_ = 0;
    bool privateReady_ = false;

    // Kernel.
    bool booted_ = false;
    bool flashMode_ = false;
    std::vector<uint8_t> packet_;  // the packet being received, length byte first
    std::deque<Message> messages_;
    std::vector<Job> jobs_;
    uint64_t replies_ = 0;
    bool weakCellWritten_ = false;

    uint64_t resets_ = 0, dropped_ = 0, chunksWritten_ = 0, flashStarts_ = 0;
};

// A service processor's flash as the factory leaves it: a kernel with the
// given revision and build, and an installed application (both made from seed).
std::vector<uint8_t> factorySpFlash(const std::string& revision, uint32_t build, uint32_t seed);
// An application image of 0xC000 bytes made from seed, with a few erased
// (all 0xFF) 128-byte blocks in it.
std::vector<uint8_t> spApplicationImage(uint32_t seed);

constexpr char SP_DEFAULT_KERNEL[] = "A8DSP022";
constexpr uint32_t SP_DEFAULT_BUILD = 0xC300;
