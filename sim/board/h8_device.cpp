#include "sim/board/h8_device.h"

namespace {
constexpr uint8_t IDLE_BUS = 0xFF;  // a read past the end of a frame
constexpr uint8_t FRAME_OVERHEAD = 2;  // command and checksum
}  // namespace

void H8Device::writeByte(uint8_t byte) {
    frame_.push_back(byte);
    if (frame_.size() < 1u + FRAME_OVERHEAD || frame_.size() < 1u + frame_[0]) return;
    std::vector<uint8_t> frame;
    frame.swap(frame_);
    received_.push_back(frame);
    onFrame(frame);
}

uint8_t H8Device::readByte() { return outPos_ < out_.size() ? out_[outPos_++] : IDLE_BUS; }

void H8Device::queueMessage(uint8_t command, const std::vector<uint8_t>& data) {
    pending_.push_back(Message{command, data, clock_.ns});
}

void H8Device::send(const Message& m) {
    out_.assign(1, uint8_t(m.data.size() + FRAME_OVERHEAD));
    out_.push_back(m.command);
    uint8_t sum = m.command;
    for (uint8_t b : m.data) {
        out_.push_back(b);
        sum = uint8_t(sum + b);
    }
    out_.push_back(uint8_t(-sum + (badChecksumFault ? 1 : 0)));
    if (replyCountFault != 0) out_[0] = replyCountFault;
    outPos_ = 0;
}

void H8Device::onFrame(const std::vector<uint8_t>& frame) {
    uint8_t sum = 0;
    for (std::size_t i = 1; i < frame.size(); ++i) sum = uint8_t(sum + frame[i]);
    out_.clear();
    if (sum != 0 || frame[0] < FRAME_OVERHEAD) {
        ++badChecksums_;
        return;
    }
    const uint8_t command = frame[1];
    const std::vector<uint8_t> data(frame.begin() + 2, frame.end() - 1);
    if (command != H8_POLL) {
        pending_.push_back(Message{command, data, clock_.ns + answerDelayNs});
        send(pending_.back());  // read at once, it is the direct answer
        return;
    }
    if (data.size() == 1) {
        if (!pending_.empty() && pending_.front().command == data[0]) pending_.pop_front();
        return;
    }
    const bool ready = !neverReadyFault && !pending_.empty() && pending_.front().readyAt <= clock_.ns;
    send(ready ? pending_.front() : Message{H8_POLL, {}, 0});
}
