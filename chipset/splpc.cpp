// The service-processor chipset's message set and update steps. The service
// processor answers over the mailbox of splpc_transport.cpp; completion of a
// flash start or of one 8-byte write arrives later as an asynchronous message.
#include "chipset/splpc.h"

#include <cstdio>
#include <cstring>

#include "chipset/ich10spi.h"  // s_FlashBlock
#include "os/os.h"

unsigned char MSG_APPLICATION_REVISION[3] = {0x02, 0xF1, 0x0F};
unsigned char MSG_KERNEL_REVISION[3] = {0x02, 0xF2, 0x0E};
unsigned char MSG_FLASH_START[3] = {0x02, 0xF5, 0x0B};
unsigned char MSG_FLASH_DATA[SP_MSG_BUFFER] = {0x0E, 0xFD};
unsigned char MSG_FLASH_READ[SP_MSG_BUFFER] = {0x06, 0xFC};
unsigned char MSG_REBOOT[3] = {0x02, 0xB0, 0x50};
unsigned char MSG_ALERT_INFO[3] = {0x02, 0xA1, 0x5F};
unsigned char MSG_GET_PROFILE[3] = {0x02, 0x52, 0xAE};
unsigned char MSG_SET_PROFILE[4] = {0x03, 0x52, 0x00, 0x00};

const s_KernelExtension kernelExtensionMap[] = {
    {"A8DSP021", 0x00007F00, "22A"},
    {"A8DSP021", 0x00009D00, "22B"},
    {"A8DSP022", 0x0000C300, "22C"},
    {"", 0, ""},
};

namespace {

const char CHIPSET_NAME[] = "Varn Tessel Service Processor[LPC]";
constexpr int BLOCK_TABLE_COUNT = 256;
constexpr uint32_t BLOCK_TABLE_SIZE = 0x200;

constexpr int REPLY_DATA = 2;       // first data byte of a reply or message
constexpr int ADDRESS_OFFSET = 2;   // MSG_FLASH_DATA / MSG_FLASH_READ: address, MSB first
constexpr int WRITE_DATA_OFFSET = 6;
constexpr int PROFILE_OFFSET = 2;   // MSG_SET_PROFILE
constexpr int REVISION_LENGTH = 8;
constexpr int BUILD_OFFSET = 4;     // MSG_FLASH_READ reply of 0x1000: bytes 0x1002..0x1005
constexpr int SHORTEST_APP_REPLY = 3;

constexpr long KERNEL_TRIES = 50;         // ValidateKernelRevision
constexpr long READ_TRIES = 50;           // ReadFirmwareMemory
constexpr unsigned long RESET_ACK_TRIES = 100;
constexpr unsigned long WRITE_ACK_TRIES = 100;
constexpr unsigned long ERASE_ACK_TRIES = 100000;
constexpr int FLASH_START_ATTEMPTS = 5;
constexpr int PROGRAM_ATTEMPTS = 5;
constexpr unsigned RESET_SETTLE_MS = 2000;  // after a reset and after the flash start
constexpr unsigned RESTART_MS = 5000;       // after the final reset of program
constexpr unsigned char RESET_FAILED = 0x01;
constexpr unsigned char ERASED = 0xFF;

void putAddress(unsigned char* message, unsigned long address) {
    for (int i = 0; i < 4; ++i)
        message[ADDRESS_OFFSET + i] = static_cast<unsigned char>(address >> (8 * (3 - i)));
}

bool allErased(const unsigned char* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (data[i] != ERASED) return false;
    return true;
}

}  // namespace

SPLPCChipset::SPLPCChipset(OS* host, Platform* plat) {
    os = host;
    platform = plat;
    name = new char[sizeof CHIPSET_NAME];
    std::memcpy(name, CHIPSET_NAME, sizeof CHIPSET_NAME);
    blocks = new s_FlashBlock[BLOCK_TABLE_COUNT];
    for (int i = 0; i < BLOCK_TABLE_COUNT; ++i)
        blocks[i] = {uint32_t(i) * BLOCK_TABLE_SIZE, BLOCK_TABLE_SIZE, 0};
    blockCount = BLOCK_TABLE_COUNT;

    WeOwnLpcSemaphore = 0;
    ClaimSemaphore(true, false);

    // A profile that could not be read is never written back: the value kept
    // is "none", not the 255 that GetSpProfile reports.
    int profile;
    if (GetSpProfile(&profile)) {
        savedProfile_ = profile;
        std::fprintf(stderr, "System Profile:  %2x\n\n", profile);
    } else {
        savedProfile_ = SP_PROFILE_NONE;
        ResetSp();
    }
}

SPLPCChipset::~SPLPCChipset() {
    delete[] blocks;
    blocks = nullptr;
    // Released here only when the last release did not complete (program
    // ends with one).
    if (WeOwnLpcSemaphore) ClaimSemaphore(false, false);
    delete[] name;
}

int SPLPCChipset::identify() { return ValidateKernelRevision(); }

int SPLPCChipset::ValidateKernelRevision() {
    unsigned char reply[SP_PACKET_BUFFER];
    return SendReceiveServiceProcessorPacketRetry(MSG_KERNEL_REVISION, reply, KERNEL_TRIES);
}

int SPLPCChipset::GetSpProfile(int* profile) {
    unsigned char reply[SP_PACKET_BUFFER];
    if (!SendReceiveServiceProcessorPacket(MSG_GET_PROFILE, reply)) {
        *profile = SP_PROFILE_UNREAD;
        return 0;
    }
    *profile = reply[REPLY_DATA];
    return 1;
}

int SPLPCChipset::SetSpProfile(int profile) {
    unsigned char reply[SP_PACKET_BUFFER];
    MSG_SET_PROFILE[PROFILE_OFFSET] = static_cast<unsigned char>(profile);
    return SendReceiveServiceProcessorPacket(MSG_SET_PROFILE, reply);
}

// The platform pulses the service processor's reset line; its kernel reports
// the outcome with message 0xA0 once it is running again.
int SPLPCChipset::ResetSp() {
    platform->SetH8ProgrammingMode(true);
    platform->SetH8ProgrammingMode(false);
    unsigned char message[SP_PACKET_BUFFER];
    if (!WaitForAck(SP_ASYNC_RESET_DONE, message, true, RESET_ACK_TRIES)) return 0;
    return (message[REPLY_DATA] & RESET_FAILED) ? 0 : 1;
}

int SPLPCChipset::ReadFirmwareMemory(long address, unsigned char* out) {
    unsigned char reply[SP_PACKET_BUFFER];
    putAddress(MSG_FLASH_READ, static_cast<unsigned long>(address));
    if (!SendReceiveServiceProcessorPacketRetry(MSG_FLASH_READ, reply, READ_TRIES)) {
        std::fprintf(stderr, "Error reading service processor firmware.\n");
        return 0;
    }
    std::memcpy(out, reply + REPLY_DATA, SP_CHUNK);
    return 1;
}

int SPLPCChipset::ReadFirmwareBlock(long address, unsigned char* out) {
    for (uint32_t offset = 0; offset < SP_PROGRAM_BLOCK; offset += SP_CHUNK)
        if (!ReadFirmwareMemory(address + long(offset), out + offset)) return 0;
    return 1;
}

int SPLPCChipset::ProgramFlashBlock(long address, unsigned char* data) {
    // The kernel area is never written, and blocks start on 128-byte bounds.
    if (address < long(SP_APP_START) || address % long(SP_PROGRAM_BLOCK) != 0) return 0;
    if (allErased(data, SP_PROGRAM_BLOCK)) {
        std::fprintf(stderr, "Empty Block... ");
        return 1;
    }
    unsigned char message[SP_PACKET_BUFFER];
    for (uint32_t offset = 0; offset < SP_PROGRAM_BLOCK; offset += SP_CHUNK) {
        putAddress(MSG_FLASH_DATA, static_cast<unsigned long>(address) + offset);
        std::memcpy(MSG_FLASH_DATA + WRITE_DATA_OFFSET, data + offset, SP_CHUNK);
        SendServiceProcessorPacket(MSG_FLASH_DATA);
        if (!WaitForAck(SP_ASYNC_FLASH_DONE, message, true, WRITE_ACK_TRIES)) return 0;
        if (message[REPLY_DATA] != 0) {
            std::printf("\n... Error code %02xh while flashing ...\n", message[REPLY_DATA]);
            return 0;
        }
    }
    std::fprintf(stderr, "Verifying write... ");
    unsigned char readBack[SP_PROGRAM_BLOCK];
    if (!ReadFirmwareBlock(address, readBack)) return 0;
    return std::memcmp(readBack, data, SP_PROGRAM_BLOCK) == 0 ? 1 : 0;
}

// A chunk that cannot be read is filled with the complement of what is
// expected before the read, so it never passes for erased or written data.
int SPLPCChipset::checkApplicationArea(const char* label, const unsigned char* image) {
    for (uint32_t address = SP_APP_START; address < SP_FLASH_END; address += SP_CHUNK) {
        const bool blockStart = address % SP_PROGRAM_BLOCK == 0;
        if (blockStart)
            std::fprintf(stderr, "%s%05xh of %05xh... ", label, unsigned(address),
                         unsigned(SP_FLASH_END));
        unsigned char expected[SP_CHUNK], chunk[SP_CHUNK];
        for (uint32_t i = 0; i < SP_CHUNK; ++i) {
            expected[i] = image ? image[address - SP_APP_START + i] : ERASED;
            chunk[i] = static_cast<unsigned char>(~expected[i]);
        }
        ReadFirmwareMemory(long(address), chunk);
        if (std::memcmp(chunk, expected, SP_CHUNK) != 0) {
            std::fprintf(stderr, "Error validating data at offset%05xh...\n\n", unsigned(address));
            return 0;
        }
        if (blockStart) std::fprintf(stderr, "OK\n");
    }
    return 1;
}

int SPLPCChipset::BlankCheckRom() { return checkApplicationArea("Blank checking location ", nullptr); }

int SPLPCChipset::ValidateApplicationUpdate(unsigned char* image) {
    return checkApplicationArea("Validating location ", image);
}

int SPLPCChipset::StartFlash() {
    unsigned char message[SP_PACKET_BUFFER];
    for (int attempt = 0; attempt < FLASH_START_ATTEMPTS; ++attempt) {
        std::fprintf(stderr, "Resetting the service processor...\n");
        ResetSp();
        os->sleep(RESET_SETTLE_MS);
        ClaimSemaphore(true, true);
        if (SendServiceProcessorPacket(MSG_FLASH_START)) {
            os->sleep(RESET_SETTLE_MS);
            ClaimSemaphore(true, true);
            if (WaitForAck(SP_ASYNC_FLASH_DONE, message, true, ERASE_ACK_TRIES) &&
                message[REPLY_DATA] == 0 && BlankCheckRom())
                return 1;
        }
        std::fprintf(stderr, "An error occurred during the erase process, retrying...");
    }
    return 0;
}

int SPLPCChipset::erase(unsigned int, unsigned int, unsigned int) { return StartFlash() ? 0 : 1; }

int SPLPCChipset::program(unsigned int start, unsigned int end, unsigned int, unsigned char* data) {
    int failed = 0;
    for (int attempt = 0; attempt < PROGRAM_ATTEMPTS; ++attempt) {
        failed = 0;
        unsigned char* block = data;
        for (unsigned int address = start; address < end;
             address += SP_PROGRAM_BLOCK, block += SP_PROGRAM_BLOCK) {
            std::fprintf(stderr, "Programming location %05xh of %05xh... ", address, end);
            if (ProgramFlashBlock(long(address), block)) {
                std::fprintf(stderr, "OK\n");
            } else {
                std::fprintf(stderr, "Failed\n");
                failed = 1;
                break;
            }
        }
        if (!failed) {
            std::fprintf(stderr, "Verifying the service processor firmware application...\n");
            if (!ValidateApplicationUpdate(data)) {
                std::fprintf(stderr, "Failed\n");
                failed = 1;
                ResetSp();
            }
        }
        if (!failed) break;
        StartFlash();
    }
    std::fprintf(stderr, failed ? "Service Processor Firmware Update Failed.\n\n\n"
                                : "Service Processor Firmware Updated Successfully!\n\n\n");
    std::fprintf(stderr, "Resetting service processor...\n\n\n");
    ResetSp();
    os->sleep(RESTART_MS);
    ClaimSemaphore(true, false);
    if (savedProfile_ != SP_PROFILE_NONE) SetSpProfile(savedProfile_);
    ClaimSemaphore(false, false);
    return failed;
}

int SPLPCChipset::read(unsigned int, unsigned int, unsigned int, unsigned char*) { return 0; }

int SPLPCChipset::IsAppRunning() {
    unsigned char reply[SP_PACKET_BUFFER];
    if (!SendReceiveServiceProcessorPacket(MSG_APPLICATION_REVISION, reply)) {
        std::printf("IAR: MSG_APPLICATION_REVISION failed\n");
        return 0;
    }
    return reply[0] >= SHORTEST_APP_REPLY ? 1 : 0;
}

int SPLPCChipset::AppendFlashFileExtension(char* fileName) {
    unsigned char reply[SP_PACKET_BUFFER];
    if (!SendReceiveServiceProcessorPacket(MSG_KERNEL_REVISION, reply)) {
        std::printf("AFFEX: MSG_FLASH_READ failed\n");
        return 0;
    }
    char revision[REVISION_LENGTH];
    std::memcpy(revision, reply + REPLY_DATA, REVISION_LENGTH);

    putAddress(MSG_FLASH_READ, SP_KERNEL_BUILD_ADDRESS);
    if (!SendReceiveServiceProcessorPacket(MSG_FLASH_READ, reply)) {
        std::printf("AFFEX: MSG_FLASH_READ failed\n");
        return 0;
    }
    const unsigned char* b = reply + BUILD_OFFSET;
    const uint32_t build = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                           uint32_t(b[3]) << 24;
    for (const s_KernelExtension* row = kernelExtensionMap; row->revision[0] != 0; ++row) {
        if (std::memcmp(row->revision, revision, REVISION_LENGTH) != 0 || row->build != build)
            continue;
        std::strcat(fileName, ".");
        std::strcat(fileName, row->extension);
        return 1;
    }
    return 0;
}
