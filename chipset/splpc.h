// The service-processor chipset: rewrites the application area of the service
// processor's own flash through the LPC mailbox. The transport (mailbox bytes,
// semaphore, packets) is in splpc_transport.cpp, the message set and the
// update steps in splpc.cpp.
#pragma once
#include <cstdint>

#include "chipset/splpc_regs.h"
#include "platform/platform.h"

class OS;

// True while this process believes it holds the mailbox semaphore; packets are
// sent and received only then. Shared by every SPLPCChipset (one at a time).
extern unsigned char WeOwnLpcSemaphore;

// Packets: length byte L, command, L - 2 data bytes, checksum (bytes 1..L sum
// to 0). Receive buffers hold SP_PACKET_BUFFER bytes.
constexpr int SP_PACKET_BUFFER = 256;
constexpr int SP_MSG_BUFFER = 16;  // the two messages with an address

// Message buffers, filled in place before each send; the send sets the checksum.
extern unsigned char MSG_APPLICATION_REVISION[3];
extern unsigned char MSG_KERNEL_REVISION[3];
extern unsigned char MSG_FLASH_START[3];
extern unsigned char MSG_FLASH_DATA[SP_MSG_BUFFER];
extern unsigned char MSG_FLASH_READ[SP_MSG_BUFFER];
extern unsigned char MSG_REBOOT[3];
extern unsigned char MSG_ALERT_INFO[3];
extern unsigned char MSG_GET_PROFILE[3];
extern unsigned char MSG_SET_PROFILE[4];

// The service processor's flash as the messages address it.
constexpr uint32_t SP_KERNEL_BUILD_ADDRESS = 0x1000;  // kernel build data, 8 bytes
constexpr uint32_t SP_APP_START = 0x4000;             // below: the kernel, never written
constexpr uint32_t SP_FLASH_END = 0x10000;
constexpr uint32_t SP_APP_SIZE = SP_FLASH_END - SP_APP_START;
constexpr uint32_t SP_PROGRAM_BLOCK = 128;  // one ProgramFlashBlock
constexpr uint32_t SP_CHUNK = 8;            // one MSG_FLASH_DATA / MSG_FLASH_READ

// Asynchronous messages collected with WaitForAck.
constexpr unsigned char SP_ASYNC_RESET_DONE = 0xA0;  // data bit 0 set: the reset failed
constexpr unsigned char SP_ASYNC_FLASH_DONE = 0xAF;  // data 0: done, else an error code

// A saved profile of this value is not written back at the end of program.
constexpr int SP_PROFILE_NONE = -1;
// GetSpProfile's value when the profile could not be read.
constexpr int SP_PROFILE_UNREAD = 255;

// kernelExtensionMap: which file-name extension fits which kernel.
struct s_KernelExtension {
    char revision[12];  // NUL-padded; 8 characters are compared
    uint32_t build;     // little-endian value of flash bytes 0x1002..0x1005
    char extension[8];  // NUL-padded
};
static_assert(sizeof(s_KernelExtension) == 24, "kernelExtensionMap rows are 24 bytes");
extern const s_KernelExtension kernelExtensionMap[];

// Diagnostic dumps of a packet (offsets 0 to L) on standard output.
void ShowOutPacket(unsigned char* packet);
void ShowInPacket(unsigned char* packet);

class SPLPCChipset : public Chipset {
public:
    // Claims the mailbox and saves the service processor's profile.
    SPLPCChipset(OS* os, Platform* platform);
    ~SPLPCChipset() override;  // releases the mailbox

    // Chipset interface.
    int identify() override;  // 1 when the kernel answers
    int erase(unsigned int, unsigned int, unsigned int) override;  // 0 when StartFlash succeeded
    // Writes data[0 .. end - start) at start; end is exclusive. 0 on success, 1 on failure.
    int program(unsigned int start, unsigned int end, unsigned int, unsigned char* data) override;
    int read(unsigned int, unsigned int, unsigned int, unsigned char*) override;  // does nothing

    int eraseBlock() { return 0; }
    int waitForEraseComplete() { return 0; }
    int programBlock() { return 0; }
    int waitForProgramComplete() { return 0; }
    int VerifyDataWrite() { return 0; }

    // Protocol (1 success, 0 failure unless stated).
    int ValidateKernelRevision();
    int GetSpProfile(int* profile);
    int SetSpProfile(int profile);
    int ResetSp();
    int ReadFirmwareMemory(long address, unsigned char* out);
    int ReadFirmwareBlock(long address, unsigned char* out);
    int ProgramFlashBlock(long address, unsigned char* data);
    int BlankCheckRom();
    int StartFlash();
    int ValidateApplicationUpdate(unsigned char* image);
    int IsAppRunning();
    // Appends "." and the kernel's extension; name needs room for 8 more characters.
    int AppendFlashFileExtension(char* name);

    // Transport.
    void LpcIoDelay();
    int GetStatusByte(unsigned char* out);
    int SetStatusByte(unsigned char value);
    int GetDataByte(unsigned char* out);
    int SetDataByte(unsigned char value);
    int GetPrivateStatusByte(unsigned char* out);
    int SetPrivateIndexByte(unsigned char index);
    int GetPrivateDataByte(unsigned char* out);
    int SetPrivateDataByte(unsigned char value);
    int ReadPrivateRegister(unsigned char index, unsigned char* out);
    int ClaimSemaphore(bool claim, bool force);
    int SendServiceProcessorPacket(unsigned char* packet);
    int ReceiveServiceProcessorPacket(unsigned char* packet);
    int SendReceiveServiceProcessorPacket(unsigned char* out, unsigned char* in);
    int SendReceiveServiceProcessorPacketRetry(unsigned char* out, unsigned char* in, long tries);
    int WaitForAck(unsigned char code, unsigned char* response, bool ackOthers,
                   unsigned long tries);

    int savedProfile() const { return savedProfile_; }

private:
    // Reads port until every bit of mask is set (set true) or clear (set
    // false), within bound; false when the bound ran out.
    bool waitStatus(unsigned short port, unsigned char mask, bool set,
                    const splpc::MailboxWait& wait, bool delayWhileUnmet = false);
    // One pass of ClaimSemaphore over the status just read; true when done.
    bool claimPass(unsigned char status, bool force);
    bool releasePass(unsigned char status);
    // The loop of BlankCheckRom (image null: every byte must read 0xFF) and
    // ValidateApplicationUpdate (image[0] at the start of the application area).
    int checkApplicationArea(const char* label, const unsigned char* image);

    int savedProfile_ = SP_PROFILE_NONE;
    unsigned long sleptMs_ = 0;  // slept by the mailbox waits: the semaphore's clock
    const splpc::MailboxWait* expired_ = nullptr;  // the last wait whose bound ran out
    unsigned short expiredPort_ = 0;
};
