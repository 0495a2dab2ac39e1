// The service processor's LPC mailbox: four byte-wide I/O ports and the bits
// of its two status registers (the mailbox and the private channel share the
// bit layout).
#pragma once

namespace splpc {

constexpr unsigned short MBX_DATA = 0x2B0;            // byte to / from the service processor
constexpr unsigned short MBX_STATUS = 0x2B4;          // status; written: semaphore and abort
constexpr unsigned short MBX_PRIVATE_DATA = 0x2B8;    // private register selected by the index
constexpr unsigned short MBX_PRIVATE_STATUS = 0x2BC;  // read: private status; write: index
constexpr unsigned short LPC_DELAY_PORT = 0xED;       // written only to spend bus time

constexpr unsigned char STS_OBF = 0x01;        // with STS_OBF_VALID: a byte is waiting for us
constexpr unsigned char STS_IBF = 0x02;        // the service processor has not taken our last write
constexpr unsigned char STS_ABORT = 0x04;      // we gave up sending a packet
constexpr unsigned char STS_OBF_VALID = 0x40;  // with STS_OBF: a byte is waiting for us
constexpr unsigned char STS_SEMAPHORE = 0x80;  // the host owns the mailbox
constexpr unsigned char STS_BYTE_WAITING = STS_OBF | STS_OBF_VALID;

constexpr int LPC_DELAY_WRITES = 12;  // one LpcIoDelay

// Every mailbox wait spins on status reads, without sleeping. An LPC I/O read
// takes about a microsecond, so a bound of N reads ends the wait after about
// N microseconds; the time each bound allows is given beside it.
struct MailboxBound {
    unsigned long reads;
};
constexpr MailboxBound PEER_TOOK_LAST_BYTE = {100};        // ~100 us, before we write data
constexpr MailboxBound PEER_TAKES_BYTE = {10000};          // ~10 ms, after a data or status write
constexpr MailboxBound BYTE_ARRIVES = {100};               // ~100 us for each byte of a reply
constexpr MailboxBound PRIVATE_CHANNEL = {100000};         // ~100 ms, every private-channel wait

// Semaphore claim and release: passes of reading the status and tries of
// writing it within one pass.
constexpr unsigned long SEMAPHORE_PASSES = 100000;
constexpr unsigned long SEMAPHORE_TRIES = 100000;

}  // namespace splpc
