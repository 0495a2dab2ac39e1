// The service processor's LPC mailbox: four byte-wide I/O ports and the bits
// of its two status registers (the mailbox and the private channel share the
// bit layout).
#pragma once
#include "chipset/poll_wait.h"

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

// Every mailbox wait runs through pollUntil (chipset/poll_wait.h): status
// reads back to back first (an LPC read takes about a microsecond, and the
// service processor answers within microseconds), then, for the waits that
// may take longer, one read per millisecond slept until the bound's time.
struct MailboxWait {
    PollBound bound;
    const char* awaited;  // what the wait was for, in the message that names it
};
constexpr MailboxWait PEER_TOOK_LAST_BYTE = {{100, 0}, "the service processor to take the last byte"};  // ~100 us
constexpr MailboxWait PEER_TAKES_BYTE = {{100, 10}, "the service processor to take the byte written"};  // 10 ms
constexpr MailboxWait BYTE_ARRIVES = {{100, 0}, "a byte of the reply"};  // ~100 us each
constexpr MailboxWait PRIVATE_CHANNEL = {{100, 100}, "the private channel"};  // 100 ms

// Semaphore claim and release: passes of reading the status and, when the
// semaphore is ours to take or give, writing it and reading it back. The
// passes stop when this much time was slept, the waits of their status writes
// included; a claim or release so gives up within SEMAPHORE_MS plus one
// status write (PEER_TAKES_BYTE).
constexpr unsigned long SEMAPHORE_SPIN_PASSES = 100;
constexpr unsigned long SEMAPHORE_MS = 100;

}  // namespace splpc
