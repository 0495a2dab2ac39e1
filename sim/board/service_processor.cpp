#include "sim/board/service_processor.h"

#include <algorithm>

#include "sim/board/sp_regs.h"

using namespace spsim;

namespace {

// How long the service processor's firmware takes for each thing it does.
constexpr uint64_t TAKE_BYTE_NS = 6 * SIM_NS_PER_US;      // picks up a byte the host wrote
constexpr uint64_t NEXT_BYTE_NS = 3 * SIM_NS_PER_US;      // loads the next byte of a reply
constexpr uint64_t FIRST_REPLY_NS = 30 * SIM_NS_PER_US;   // from a whole packet to its reply
constexpr uint64_t CHUNK_WRITE_NS = 160 * SIM_NS_PER_US;  // 8 bytes at 20 us a byte
constexpr uint64_t APP_ERASE_NS = 800 * SIM_NS_PER_MS;    // the whole application area
constexpr uint64_t BOOT_NS = 150 * SIM_NS_PER_MS;         // from reset release to a running kernel

constexpr uint8_t ERASED = 0xFF;
constexpr uint8_t BUILD_TAG[2] = {0x42, 0x44};
constexpr int MIN_PACKET_LENGTH = 2;  // command and checksum

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint32_t nextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void fillRandom(uint8_t* out, size_t n, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(nextRandom(state) >> 24);
}

void writeKernelIdentity(std::vector<uint8_t>& flash, const std::string& revision, uint32_t build) {
    for (uint32_t i = 0; i < REVISION_LENGTH; ++i)
        flash[KERNEL_REVISION_AT + i] = i < revision.size() ? uint8_t(revision[i]) : 0;
    const uint8_t data[CHUNK] = {BUILD_TAG[0], BUILD_TAG[1], uint8_t(build), uint8_t(build >> 8),
                                 uint8_t(build >> 16), uint8_t(build >> 24), 0, 0};
    std::copy(data, data + CHUNK, flash.begin() + KERNEL_BUILD_AT);
}

}  // namespace

ServiceProcessor::ServiceProcessor(SimClock& clock)
    : clock_(clock), flash_(factorySpFlash(SP_DEFAULT_KERNEL, SP_DEFAULT_BUILD, 1)) {
    powerOn();
}

bool ServiceProcessor::claims(uint16_t port) {
    switch (port) {
        case MBX_DATA: case MBX_STATUS: case MBX_PRIVATE_DATA: case MBX_PRIVATE_STATUS:
        case CTL_83B: case CTL_83E: case CTL_84B: case CTL_84E:
            return true;
        default:
            return false;
    }
}

void ServiceProcessor::powerOn() {
    ctl83B_ = CTL_83B_POWER_ON;
    ctl83E_ = CTL_83E_POWER_ON;
    ctl84B_ = CTL_84B_POWER_ON;
    ctl84E_ = latched84E_ = CTL_84E_POWER_ON;
    clearMailbox();
    hostBits_ = faults.semaphoreHeld ? STS_SEMAPHORE : 0;
    messages_.clear();
    jobs_.clear();
    flashMode_ = false;
    booted_ = true;
    replies_ = 0;
    weakCellWritten_ = false;
    raise(MSG_RESET_DONE, faults.resetFails ? RESET_FAILED : 0);
}

void ServiceProcessor::clearMailbox() {
    hostBits_ = 0;
    ibf_ = ibfIsStatus_ = obf_ = privateReady_ = false;
    outQueue_.clear();
    packet_.clear();
}

bool ServiceProcessor::inReset() const {
    return (latched84E_ & CTL_PROGRAMMING) != 0 || (latched84E_ & CTL_RUN) == 0;
}

bool ServiceProcessor::semaphoreSet() const { return (hostBits_ & STS_SEMAPHORE) != 0; }

bool ServiceProcessor::mailboxConnected() const {
    return (ctl83B_ & CTL_MAILBOX_CONNECT) && (ctl83E_ & CTL_MAILBOX_CONNECT);
}

void ServiceProcessor::installKernel(const std::string& revision, uint32_t build) {
    writeKernelIdentity(flash_, revision, build);
}

std::string ServiceProcessor::kernelRevision() const {
    std::string text(flash_.begin() + KERNEL_REVISION_AT,
                     flash_.begin() + KERNEL_REVISION_AT + REVISION_LENGTH);
    return text.substr(0, text.find('\0'));
}

uint32_t ServiceProcessor::kernelBuild() const {
    const uint8_t* p = flash_.data() + KERNEL_BUILD_VALUE_AT;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ---- Host side --------------------------------------------------------------

uint8_t ServiceProcessor::portRead(uint16_t port) {
    sync();
    switch (port) {
        case CTL_83B: return ctl83B_;
        case CTL_83E: return ctl83E_;
        case CTL_84B: return ctl84B_;
        case CTL_84E: return ctl84E_;
        default: break;
    }
    if (!mailboxConnected()) return ERASED;  // nothing drives the bus
    switch (port) {
        case MBX_STATUS:
            return uint8_t((obf_ ? STS_OBF | STS_OBF_VALID : 0) | (ibf_ ? STS_IBF : 0) | hostBits_);
        case MBX_DATA:
            if (obf_) {
                obf_ = false;
                outNextAt_ = clock_.ns + NEXT_BYTE_NS;
            }
            return outData_;
        case MBX_PRIVATE_STATUS:
            return privateReady_ ? STS_OBF | STS_OBF_VALID : 0;
        default: {  // MBX_PRIVATE_DATA: register 0 is the profile, the rest read 0
            privateReady_ = false;
            return privateIndex_ == 0 ? profile_ : 0;
        }
    }
}

void ServiceProcessor::portWrite(uint16_t port, uint8_t value) {
    sync();
    switch (port) {
        case CTL_83B: ctl83B_ = value; return;
        case CTL_83E: ctl83E_ = value; return;
        case CTL_84E: ctl84E_ = value; return;
        case CTL_84B: {
            const bool rising = !(ctl84B_ & CTL_LATCH_STROBE) && (value & CTL_LATCH_STROBE);
            ctl84B_ = value;
            if (rising) controlWritten();
            return;
        }
        default: break;
    }
    if (!mailboxConnected()) return;
    switch (port) {
        case MBX_DATA:
            ibf_ = true;
            ibfIsStatus_ = false;
            inData_ = value;
            ibfAt_ = clock_.ns;
            return;
        case MBX_STATUS:
            hostBits_ = value & STS_HOST_BITS;
            ibf_ = ibfIsStatus_ = true;
            ibfAt_ = clock_.ns;
            return;
        case MBX_PRIVATE_STATUS:
            privateIndex_ = value;
            privateReady_ = true;
            return;
        default:  // private registers are read-only
            return;
    }
}

// The strobe latched 0x84E: entering reset stops everything and clears the
// mailbox (its semaphore too); leaving it starts the kernel.
void ServiceProcessor::controlWritten() {
    const bool wasInReset = inReset();
    latched84E_ = ctl84E_;
    if (!wasInReset && inReset()) stop();
    else if (wasInReset && !inReset()) jobs_.push_back(Job{clock_.ns + BOOT_NS, JobKind::Boot, 0, {}});
}

void ServiceProcessor::stop() {
    ++resets_;
    booted_ = flashMode_ = false;
    clearMailbox();
    messages_.clear();
    jobs_.clear();
}

// ---- Firmware side ----------------------------------------------------------

void ServiceProcessor::sync() {
    constexpr uint64_t NEVER = UINT64_MAX;
    for (;;) {
        const uint64_t now = clock_.ns;
        const uint64_t takeAt = ibf_ && running() ? ibfAt_ + TAKE_BYTE_NS : NEVER;
        const uint64_t loadAt = !obf_ && !outQueue_.empty() ? outNextAt_ : NEVER;
        auto job = std::min_element(jobs_.begin(), jobs_.end(),
                                    [](const Job& a, const Job& b) { return a.at < b.at; });
        const uint64_t jobAt = job != jobs_.end() ? job->at : NEVER;
        const uint64_t next = std::min({takeAt, loadAt, jobAt});
        if (next > now) return;
        if (next == jobAt) {
            const Job j = *job;
            jobs_.erase(job);
            runJob(j);
        } else if (next == takeAt) {
            takeHostWrite(takeAt);
        } else {
            obf_ = true;
            outData_ = outQueue_.front();
            outQueue_.pop_front();
        }
    }
}

void ServiceProcessor::takeHostWrite(uint64_t t) {
    ibf_ = false;
    if (!ibfIsStatus_) {
        takeByte(inData_, t);
        return;
    }
    if (hostBits_ & STS_ABORT) {  // the host gave up on the packet it was sending
        if (!packet_.empty()) ++dropped_;
        packet_.clear();
        hostBits_ &= uint8_t(~STS_ABORT);
    }
    if (!(hostBits_ & STS_SEMAPHORE)) {  // released: nobody is left to read a reply
        outQueue_.clear();
        obf_ = false;
    }
}

void ServiceProcessor::takeByte(uint8_t b, uint64_t t) {
    if (packet_.empty() && b < MIN_PACKET_LENGTH) {
        ++dropped_;  // no packet is that short: wait for the next length byte
        return;
    }
    packet_.push_back(b);
    if (packet_.size() < size_t(packet_[0]) + 1) return;
    uint8_t sum = 0;
    for (size_t i = 1; i < packet_.size(); ++i) sum = uint8_t(sum + packet_[i]);
    if (sum == 0) handlePacket(t);
    else ++dropped_;
    packet_.clear();
}

void ServiceProcessor::handlePacket(uint64_t t) {
    if (faults.kernelSilent) return;
    const uint8_t command = packet_[1];
    const uint8_t* data = packet_.data() + 2;
    const size_t count = packet_[0] - MIN_PACKET_LENGTH;
    switch (command) {
        case CMD_KERNEL_REVISION:
            reply(t, {command}, flash_.data() + KERNEL_REVISION_AT, REVISION_LENGTH);
            return;
        case CMD_APP_REVISION: {
            const bool appRunning = !flashMode_ &&
                std::any_of(flash_.begin() + APP_START, flash_.begin() + APP_START + CHUNK,
                            [](uint8_t b) { return b != ERASED; });
            if (appRunning) reply(t, {command}, flash_.data() + APP_START, REVISION_LENGTH);
            else reply(t, {command});
            return;
        }
        case CMD_PROFILE:
            if (count == 0) {
                reply(t, {command, profile_});
            } else {
                profile_ = data[0];
                reply(t, {command});
            }
            return;
        case CMD_ALERT:
            if (count == 0) {
                if (messages_.empty()) reply(t, {command});
                else reply(t, {messages_.front().code, messages_.front().data});
            } else {
                auto m = std::find_if(messages_.begin(), messages_.end(),
                                      [&](const Message& x) { return x.code == data[0]; });
                if (m != messages_.end()) messages_.erase(m);
                reply(t, {command});
            }
            return;
        case CMD_FLASH_READ: {
            if (count < 4) break;
            const uint32_t address = bigEndian32(data);
            uint8_t bytes[CHUNK];
            for (uint32_t i = 0; i < CHUNK; ++i)
                bytes[i] = address + i < FLASH_SIZE ? flash_[address + i] : ERASED;
            reply(t, {command}, bytes, CHUNK);
            return;
        }
        case CMD_FLASH_START:
            ++flashStarts_;
            flashMode_ = true;
            jobs_.push_back(Job{t + APP_ERASE_NS, JobKind::EraseDone, 0, {}});
            return;
        case CMD_FLASH_DATA: {
            if (count < 4 + CHUNK) break;
            const uint32_t address = bigEndian32(data);
            if (!flashMode_) {
                raise(MSG_FLASH_DONE, FLASH_NOT_STARTED);
            } else if (address < APP_START || address > FLASH_SIZE - CHUNK) {
                raise(MSG_FLASH_DONE, FLASH_OUT_OF_AREA);
            } else if (faults.blockError && faults.blockErrorAt >= address &&
                       faults.blockErrorAt < address + CHUNK) {
                raise(MSG_FLASH_DONE, FLASH_WRITE_FAILED);
            } else {
                Job job{t + CHUNK_WRITE_NS, JobKind::WriteDone, address, {}};
                std::copy(data + 4, data + 4 + CHUNK, job.data);
                jobs_.push_back(job);
            }
            return;
        }
        case CMD_REBOOT:
            stop();
            jobs_.push_back(Job{t + BOOT_NS, JobKind::Boot, 0, {}});
            return;
        default:
            break;
    }
    reply(t, {command, REPLY_BAD_COMMAND});
}

void ServiceProcessor::reply(uint64_t t, std::initializer_list<uint8_t> head, const uint8_t* data,
                             size_t count) {
    std::vector<uint8_t> out;
    out.push_back(uint8_t(head.size() + count + 1));
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), data, data + count);
    uint8_t sum = 0;
    for (size_t i = 1; i < out.size(); ++i) sum = uint8_t(sum + out[i]);
    uint8_t checksum = uint8_t(-sum);
    ++replies_;
    if (faults.badChecksumEvery != 0 && replies_ % faults.badChecksumEvery == 0) checksum ^= 0x5A;
    out.push_back(checksum);
    if (outQueue_.empty() && !obf_) outNextAt_ = std::max(outNextAt_, t + FIRST_REPLY_NS);
    outQueue_.insert(outQueue_.end(), out.begin(), out.end());
}

void ServiceProcessor::raise(uint8_t code, uint8_t data) {
    if (!faults.kernelSilent) messages_.push_back(Message{code, data});
}

void ServiceProcessor::runJob(const Job& job) {
    switch (job.kind) {
        case JobKind::Boot:
            booted_ = true;
            ibf_ = false;  // whatever was written while it booted is lost
            packet_.clear();
            hostBits_ &= uint8_t(~STS_ABORT);
            raise(MSG_RESET_DONE, faults.resetFails ? RESET_FAILED : 0);
            return;
        case JobKind::EraseDone:
            if (faults.eraseErrors != 0) {
                if (faults.eraseErrors > 0) --faults.eraseErrors;
                raise(MSG_FLASH_DONE, FLASH_ERASE_FAILED);
                return;
            }
            std::fill(flash_.begin() + APP_START, flash_.end(), ERASED);
            raise(MSG_FLASH_DONE, FLASH_OK);
            return;
        case JobKind::WriteDone: {
            for (uint32_t i = 0; i < CHUNK; ++i) flash_[job.address + i] &= job.data[i];
            ++chunksWritten_;
            const bool holdsWeakCell = faults.weakCellAt / PAGE == job.address / PAGE;
            if (faults.weakCell && holdsWeakCell) {
                weakCellWritten_ = true;
            } else if (faults.weakCell && weakCellWritten_) {
                flash_[faults.weakCellAt] ^= 0x01;
                faults.weakCell = false;
            }
            raise(MSG_FLASH_DONE, FLASH_OK);
            return;
        }
    }
}

// ---- Flash contents -----------------------------------------------------------

std::vector<uint8_t> factorySpFlash(const std::string& revision, uint32_t build, uint32_t seed) {
    std::vector<uint8_t> flash(FLASH_SIZE);
    fillRandom(flash.data(), APP_START, seed);
    const std::vector<uint8_t> app = spApplicationImage(seed + 1);
    std::copy(app.begin(), app.end(), flash.begin() + APP_START);
    writeKernelIdentity(flash, revision, build);
    return flash;
}

std::vector<uint8_t> spApplicationImage(uint32_t seed) {
    constexpr uint32_t BLOCK = 128, ERASED_EVERY = 50, ERASED_PHASE = 7;
    std::vector<uint8_t> image(FLASH_SIZE - APP_START);
    fillRandom(image.data(), image.size(), seed);
    for (uint32_t block = ERASED_PHASE; block * BLOCK < image.size(); block += ERASED_EVERY)
        std::fill(image.begin() + block * BLOCK, image.begin() + (block + 1) * BLOCK, ERASED);
    return image;
}
