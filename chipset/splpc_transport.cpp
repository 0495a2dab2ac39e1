// The LPC mailbox transport of the service-processor chipset: byte handshakes
// on the data and private channels, the ownership semaphore, and packets with
// their checksum. Nothing here prints; every failure is the result 0.
#include <cstdio>

#include "chipset/splpc.h"
#include "os/os.h"

using namespace splpc;

unsigned char WeOwnLpcSemaphore = 0;

namespace {

constexpr int PACKET_LENGTH = 0;   // offset of the length byte
constexpr int PACKET_COMMAND = 1;  // offset of the command byte

// Two's complement of the byte sum of offsets 1 .. L-1.
unsigned char packetChecksum(const unsigned char* packet) {
    unsigned char sum = 0;
    for (int i = PACKET_COMMAND; i < packet[PACKET_LENGTH]; ++i) sum = static_cast<unsigned char>(sum + packet[i]);
    return static_cast<unsigned char>(-sum);
}

bool checksumHolds(const unsigned char* packet) {
    unsigned char sum = 0;
    for (int i = PACKET_COMMAND; i <= packet[PACKET_LENGTH]; ++i) sum = static_cast<unsigned char>(sum + packet[i]);
    return sum == 0;
}

void showPacket(const char* arrow, const unsigned char* packet) {
    std::printf("%s", arrow);
    for (int i = 0; i <= packet[PACKET_LENGTH]; ++i) std::printf("%02xh ", packet[i]);
    std::printf("\n");
}

// The acknowledge packet of WaitForAck carries the acknowledged code here.
constexpr int ACK_CODE = 2;
constexpr unsigned char CMD_ALERT = 0xA1;
constexpr int SHORTEST_MESSAGE = 2;  // a reply of this length carries no message

}  // namespace

void ShowOutPacket(unsigned char* packet) { showPacket("OUT -> ", packet); }
void ShowInPacket(unsigned char* packet) { showPacket("IN  <- ", packet); }

bool SPLPCChipset::waitStatus(unsigned short port, unsigned char mask, bool set,
                              const MailboxWait& wait, bool delayWhileUnmet) {
    const bool met = pollUntil(os, wait.bound, [&] {
        const unsigned char status = os->inportByte(port);
        if ((status & mask) == (set ? mask : 0)) return true;
        if (delayWhileUnmet) LpcIoDelay();
        return false;
    }, &sleptMs_);
    if (!met) {
        expired_ = &wait;
        expiredPort_ = port;
    }
    return met;
}

void SPLPCChipset::LpcIoDelay() {
    for (int i = 0; i < LPC_DELAY_WRITES; ++i) os->outportByte(LPC_DELAY_PORT, 0);
}

int SPLPCChipset::GetStatusByte(unsigned char* out) {
    *out = os->inportByte(MBX_STATUS);
    return 1;
}

int SPLPCChipset::SetStatusByte(unsigned char value) {
    os->outportByte(MBX_STATUS, value);
    LpcIoDelay();
    return waitStatus(MBX_STATUS, STS_IBF, false, PEER_TAKES_BYTE) ? 1 : 0;
}

int SPLPCChipset::GetDataByte(unsigned char* out) {
    if (!waitStatus(MBX_STATUS, STS_BYTE_WAITING, true, BYTE_ARRIVES)) return 0;
    LpcIoDelay();
    *out = os->inportByte(MBX_DATA);
    return 1;
}

int SPLPCChipset::SetDataByte(unsigned char value) {
    if (!waitStatus(MBX_STATUS, STS_IBF, false, PEER_TOOK_LAST_BYTE)) return 0;
    os->outportByte(MBX_DATA, value);
    LpcIoDelay();
    return waitStatus(MBX_STATUS, STS_IBF, false, PEER_TAKES_BYTE) ? 1 : 0;
}

int SPLPCChipset::GetPrivateStatusByte(unsigned char* out) {
    *out = os->inportByte(MBX_PRIVATE_STATUS);
    return 1;
}

int SPLPCChipset::SetPrivateIndexByte(unsigned char index) {
    os->outportByte(MBX_PRIVATE_STATUS, index);
    return waitStatus(MBX_PRIVATE_STATUS, STS_IBF, false, PRIVATE_CHANNEL) ? 1 : 0;
}

int SPLPCChipset::GetPrivateDataByte(unsigned char* out) {
    if (!waitStatus(MBX_PRIVATE_STATUS, STS_BYTE_WAITING, true, PRIVATE_CHANNEL)) return 0;
    LpcIoDelay();
    *out = os->inportByte(MBX_PRIVATE_DATA);
    return 1;
}

int SPLPCChipset::SetPrivateDataByte(unsigned char value) {
    if (!waitStatus(MBX_PRIVATE_STATUS, STS_IBF, false, PRIVATE_CHANNEL, true)) return 0;
    os->outportByte(MBX_PRIVATE_DATA, value);
    LpcIoDelay();
    return waitStatus(MBX_PRIVATE_STATUS, STS_IBF, false, PRIVATE_CHANNEL) ? 1 : 0;
}

int SPLPCChipset::ReadPrivateRegister(unsigned char index, unsigned char* out) {
    if (!SetPrivateIndexByte(index)) return 0;
    return GetPrivateDataByte(out);
}

// The semaphore is bit 7 of the status register. A claim without force waits
// for it to read clear; a forced claim takes it whatever it reads. The flag is
// set before the claim is confirmed, so a claim that never reads back still
// lets packets go out. A release needs the flag; it is cleared only when the
// service processor has taken the release (or finds the bit clear with
// nothing pending: a reset of the service processor clears the mailbox), so a
// release that did not complete can be tried again.
bool SPLPCChipset::claimPass(unsigned char status, bool force) {
    if ((status & STS_SEMAPHORE) && !force) return false;  // someone else holds it
    SetStatusByte(static_cast<unsigned char>(status | STS_SEMAPHORE));
    WeOwnLpcSemaphore = 1;
    GetStatusByte(&status);
    return (status & STS_SEMAPHORE) != 0;
}

bool SPLPCChipset::releasePass(unsigned char status) {
    if (status & STS_SEMAPHORE) {
        SetStatusByte(static_cast<unsigned char>(status & ~STS_SEMAPHORE));
        GetStatusByte(&status);
    }
    // Bit 7 itself is not tested: bits 0 to 6 clear say the write was taken.
    if ((status & ~STS_SEMAPHORE & 0xFF) != 0) return false;
    WeOwnLpcSemaphore = 0;
    return true;
}

int SPLPCChipset::ClaimSemaphore(bool claim, bool force) {
    if (!claim && !WeOwnLpcSemaphore) return 0;  // nothing of ours to release
    const unsigned long start = sleptMs_;
    expired_ = nullptr;
    unsigned char status = 0;
    for (unsigned long pass = 0;; ++pass) {
        GetStatusByte(&status);
        if (claim ? claimPass(status, force) : releasePass(status)) return 1;
        if (pass < SEMAPHORE_SPIN_PASSES) continue;
        if (sleptMs_ - start >= SEMAPHORE_MS) break;
        os->sleep(1);
        ++sleptMs_;
    }
    std::fprintf(stderr,
                 "The service processor's mailbox semaphore (port 0x%03X bit 7) could not be %s "
                 "within %lu ms (status 0x%02X%s",
                 MBX_STATUS, claim ? "claimed" : "released", SEMAPHORE_MS, status,
                 claim && (status & STS_SEMAPHORE) && !force ? ": held by another agent" : "");
    if (expired_ != nullptr)
        std::fprintf(stderr, "; waited in vain at port 0x%03X for %s", expiredPort_,
                     expired_->awaited);
    std::fprintf(stderr, ").\n");
    return 0;
}

int SPLPCChipset::SendServiceProcessorPacket(unsigned char* packet) {
    if (!WeOwnLpcSemaphore) return 0;
    const int length = packet[PACKET_LENGTH];
    packet[length] = packetChecksum(packet);
    for (int i = 0; i <= length; ++i) {
        if (SetDataByte(packet[i])) continue;
        unsigned char status;
        GetStatusByte(&status);
        SetStatusByte(static_cast<unsigned char>(status | STS_ABORT));
        return 0;
    }
    return 1;
}

int SPLPCChipset::ReceiveServiceProcessorPacket(unsigned char* packet) {
    if (!WeOwnLpcSemaphore) return 0;
    if (!GetDataByte(&packet[PACKET_LENGTH])) return 0;
    for (int i = 1; i <= packet[PACKET_LENGTH]; ++i)
        if (!GetDataByte(&packet[i])) return 0;
    return checksumHolds(packet) ? 1 : 0;
}

int SPLPCChipset::SendReceiveServiceProcessorPacket(unsigned char* out, unsigned char* in) {
    if (!SendServiceProcessorPacket(out)) return 0;
    return ReceiveServiceProcessorPacket(in);
}

int SPLPCChipset::SendReceiveServiceProcessorPacketRetry(unsigned char* out, unsigned char* in,
                                                         long tries) {
    for (long attempt = 0; attempt < tries; ++attempt)
        if (SendReceiveServiceProcessorPacket(out, in)) return 1;
    return 0;
}

int SPLPCChipset::WaitForAck(unsigned char code, unsigned char* response, bool ackOthers,
                             unsigned long tries) {
    unsigned char poll[SP_MSG_BUFFER] = {2, CMD_ALERT, 0};
    unsigned char ack[SP_MSG_BUFFER] = {3, CMD_ALERT, 0, 0};
    unsigned char scratch[SP_PACKET_BUFFER];
    for (unsigned long pass = 0; pass <= tries; ++pass) {
        if (!SendReceiveServiceProcessorPacket(poll, response)) continue;
        if (response[PACKET_LENGTH] <= SHORTEST_MESSAGE) continue;
        if (response[PACKET_COMMAND] == code) {
            ack[ACK_CODE] = code;
            return SendReceiveServiceProcessorPacket(ack, scratch);
        }
        if (!ackOthers) continue;
        ack[ACK_CODE] = response[PACKET_COMMAND];
        if (!SendReceiveServiceProcessorPacket(ack, scratch)) return 0;
    }
    return 0;
}
