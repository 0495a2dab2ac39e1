// The H8 microcontroller on the simulated board's SMBus (address 0x6E), from
// its side of the wire. Frames in both directions are: count (command,
// data and checksum), command, data, checksum, with command + data + checksum
// = 0 modulo 256. A frame with a bad checksum is dropped. Command 0xA1 with
// no data asks for the oldest message that is ready ("nothing yet": 0xA1 and
// no data); 0xA1 with one data byte acknowledges the message of that command.
// Any other command is answered with the same command and its data echoed,
// ready after answerDelayNs; a host that reads right after sending a command
// gets that answer at once.
#pragma once
#include <cstdint>
#include <cstddef>
#include <deque>
#include <vector>

#include "sim/board/clock.h"
#include "sim/board/smbus_host.h"

constexpr uint8_t H8_ADDRESS = 0x6E;
constexpr uint8_t H8_POLL = 0xA1;

class H8Device final : public SmbusDevice {
public:
    explicit H8Device(SimClock& clock) : clock_(clock) {}

    void writeByte(uint8_t byte) override;
    uint8_t readByte() override;

    // A message the H8 has for the host before it was asked anything.
    void queueMessage(uint8_t command, const std::vector<uint8_t>& data);

    // Every complete frame received, as its bytes went over the wire.
    const std::vector<std::vector<uint8_t>>& framesReceived() const { return received_; }
    unsigned badChecksums() const { return badChecksums_; }
    std::size_t messagesPending() const { return pending_.size(); }

    // Faults: answers carry a wrong checksum; answers start with this count
    // instead of their own (0: no fault; 255 is what a confused H8 sends);
    // no message ever becomes ready (every poll gets "nothing yet").
    bool badChecksumFault = false;
    uint8_t replyCountFault = 0;
    bool neverReadyFault = false;
    uint64_t answerDelayNs = 20 * SIM_NS_PER_MS;

private:
    struct Message {
        uint8_t command;
        std::vector<uint8_t> data;
        uint64_t readyAt;
    };
    void onFrame(const std::vector<uint8_t>& frame);
    void send(const Message& m);

    SimClock& clock_;
    std::vector<uint8_t> frame_;  // bytes of the frame being received
    std::vector<std::vector<uint8_t>> received_;
    unsigned badChecksums_ = 0;
    std::deque<Message> pending_;
    std::vector<uint8_t> out_;  // the frame being read by the host
    std::size_t outPos_ = 0;
};
