// ich10spiChipset: construction and identification of the flash part, and the
// 4 KiB block erase, program and read operations on the SPI controller.
#include "chipset/ich10spi.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#include "chipset/flash_parts.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/pci.h"
#include "chipset/spi_wait.h"
#include "flash/settings.h"
#include "os/os.h"

namespace {
constexpr char CHIPSET_NAME[] = "Intel PCH";
constexpr unsigned CONSTRUCT_ID_READ = 4;  // FDATA bytes read at construction
constexpr unsigned IDENTIFY_ID_READ = 5;   // FDATA bytes read by identify
constexpr uint32_t BLOCK_64K = 0x10000;
constexpr uint32_t DUMP_LINE_BYTES = 16;
constexpr int CHIP_ERASE_TRIES = 10;
constexpr uint8_t ERASED_BYTE = 0xFF;

void markRange(s_FlashBlock* blocks, int count, BlockRange range) {
    // A part smaller than the generation's layout only gets the records it has.
    for (unsigned i = range.first; i <= range.last && i < unsigned(count); ++i) blocks[i].skip = 1;
}
}  // namespace

ich10spiChipset::ich10spiChipset(OS* host, Platform* /*platform: not kept*/) {
    os = host;
    refreshRootComplexBase();

    uint8_t identity[IDENTIFY_ID_READ] = {};
    unlockAndReadIdentity(identity, CONSTRUCT_ID_READ);
    blockCount = blockCountForCapacity(identity[2]);
    part = knownFlashPart(identity);

    name = new char[sizeof CHIPSET_NAME];
    std::memcpy(name, CHIPSET_NAME, sizeof CHIPSET_NAME);

    blocks = new s_FlashBlock[blockCount];
    for (int i = 0; i < blockCount; ++i) blocks[i] = {uint32_t(i) * SPI_FLASH_BLOCK_SIZE, SPI_FLASH_BLOCK_SIZE, 0};

    // Which blocks stay untouched is fixed here, with updt_bblk as it is now.
    forHostBridgeRows(os, SKIP_MARKS, false, [&](const SkipMarkRow& row) {
        markRange(blocks, blockCount, row.always);
        markRange(blocks, blockCount, updt_bblk ? row.mainBlocks : row.bootBlock);
    });
}

ich10spiChipset::~ich10spiChipset() {
    delete[] blocks;
    delete[] name;
}

// Opens the guards, programs the opcode menu and reads the JEDEC identity.
// The identity bytes stay zero when the controller cannot run the cycle.
// The menu is programmed before the first software cycle: until then the
// controller holds the firmware's menu, whose entries mean what the firmware
// chose (an entry the updater uses for write status may there be an erase).
void ich10spiChipset::unlockAndReadIdentity(uint8_t* identity, unsigned count) {
    UnlockSPI_WP();
    InitSpiEnvironment();
    UnlockSPIFlash();
    UnlockSPI();
    UnlockBIOS();

    writeReg32(SPI_FADDR, 0);
    if (sendSw(OP_READ_JEDEC_ID) != 0) return;
    WaitCycleDone();
    readRegBytes(SPI_FDATA0, identity, count);
    ClearCycleDone();
}

int ich10spiChipset::identify() {
    refreshRootComplexBase();
    uint8_t identity[IDENTIFY_ID_READ] = {};
    unlockAndReadIdentity(identity, IDENTIFY_ID_READ);

    if (const FlashPartRow* known = knownFlashPart(identity)) {
        if (known->checkMark) std::cerr << CHECK_MARK;
        std::cerr << known->text << std::endl;
        return 1;
    }
    std::printf("Chipset ID incorrect! %02x %02x %02x\n\r", identity[0], identity[1], identity[2]);
    return 0;
}

// Erasing happens block by block inside program.
int ich10spiChipset::erase(unsigned int, unsigned int, unsigned int) { return 0; }

int ich10spiChipset::program(unsigned int start, unsigned int length, unsigned int,
                             unsigned char* data) {
    // A part of the wrong size would not even hold the range's blocks: the
    // refusals that name their cause come first.
    const int ready = checkReadyToWrite();
    if (ready != 0) return ready;
    int index = 0;
    while (index < blockCount && blocks[index].address < start) ++index;
    if (index == blockCount || blocks[index].address != start) return SPI_ERR_NOT_BLOCK_START;

    // 64-bit end so that neither a zero length nor a range reaching 4 GiB wraps.
    const uint64_t end = uint64_t(start) + length;
    int last = index;  // one past the last block inside the range
    while (last < blockCount && uint64_t(blocks[last].address) + blocks[last].size <= end) ++last;

    // The range is worked one aligned 64 KiB group at a time: whether a group
    // can go with one 64 KiB erase depends on what all its blocks hold.
    std::vector<uint8_t> current(BLOCK_64K);
    std::vector<int> written;  // blocks this call erased or programmed
    while (index < last) {
        int count = 1;
        while (index + count < last && blocks[index + count].address % BLOCK_64K != 0) ++count;
        const int result = rewriteGroup(index, count, data + (blocks[index].address - start),
                                        current.data(), &written);
        if (result != 0) return result;
        index += count;
    }
    return verifyBlocks(written, start, data);
}

int ich10spiChipset::read(unsigned int start, unsigned int length, unsigned int,
                          unsigned char* buffer) {
    return readBlock(start, length, buffer);
}

int ich10spiChipset::eraseBlock(unsigned int address) {
    int result = DisableBlockProtection();
    if (result != 0) return result;
    writeReg32(SPI_FADDR, address % SPI_FADDR_WINDOW);
    sendHw(HWCMD_BLOCK_ERASE);
    return WaitHWCycleDone();
}

int ich10spiChipset::eraseBlock(int block64k) { return eraseBlock(unsigned(block64k) * BLOCK_64K); }

int ich10spiChipset::programBlock(unsigned int address, unsigned int length, unsigned char* data) {
    for (unsigned offset = 0; offset < length; offset += SPI_FDATA_SIZE) {
        int result = programChunk(address + offset, data + offset);
        if (result != 0) return result;
    }
    return 0;
}

// FDATA takes the chunk in one access. FDONE comes only once the part has
// finished the program, so no status read follows.
int ich10spiChipset::programChunk(uint32_t address, const uint8_t* chunk) {
    writeRegBytes(SPI_FDATA0, chunk, SPI_FDATA_SIZE);
    writeReg32(SPI_FADDR, address);
    sendHw(HWCMD_WRITE_64);
    return WaitHWCycleDone();
}

int ich10spiChipset::readChunk(uint32_t flashAddress, uint8_t* chunk) {
    writeReg32(SPI_FADDR, flashAddress);
    sendHw(HWCMD_READ_64);
    int result = WaitHWCycleDone();
    if (result != 0) return result;
    readRegBytes(SPI_FDATA0, chunk, SPI_FDATA_SIZE);
    return 0;
}

int ich10spiChipset::readBlock(unsigned int address, unsigned int length, unsigned char* buffer) {
    for (unsigned offset = 0; offset < length; offset += SPI_FDATA_SIZE) {
        const uint32_t flashAddress = (address + offset) % SPI_FADDR_WINDOW;
        uint8_t chunk[SPI_FDATA_SIZE];
        int result = readChunk(flashAddress, chunk);
        if (result != 0) return result;
        std::memcpy(buffer + offset, chunk, SPI_FDATA_SIZE);
        for (uint32_t line = 0; line < SPI_FDATA_SIZE; line += DUMP_LINE_BYTES) {
            std::printf("%08lxh: ", static_cast<unsigned long>(flashAddress + line));
            for (uint32_t i = 0; i < DUMP_LINE_BYTES; ++i) std::printf("%02x ", chunk[line + i]);
            std::cout << std::endl;
        }
    }
    return 0;
}

// Reads the part's status register; *result is 0 or the failed start's code.
uint8_t ich10spiChipset::readFlashStatus(int* result) {
    *result = sendSw(OP_READ_STATUS);
    if (*result != 0) return 0;
    WaitCycleDone();
    return readReg8(SPI_FDATA0);
}

// The status register is non-volatile and wears with every write, and each
// write keeps the part busy for milliseconds: it is written only when the
// part's own protection bits are set.
int ich10spiChipset::DisableBlockProtection() {
    ClearCycleDone();
    int result = 0;
    uint8_t status = readFlashStatus(&result);
    if (result != 0) return result;
    if (!blockProtectionSet(part, status)) return 0;

    writeReg8(SPI_FDATA0, FLASH_STATUS_UNPROTECTED);
    result = sendSw(OP_CLEAR_PROTECTION);
    if (result != 0) return result;
    WaitCycleDone();

    // The part ignores the write when its status register is hardware
    // protected (SRWD set with WP# held low), and the controller cannot tell:
    // erases and programs that follow would be dropped in silence. Read the
    // status back so that a part that stays protected fails the block instead
    // of an update that reports success over unwritten flash.
    status = readFlashStatus(&result);
    if (result != 0) return result;
    if (blockProtectionSet(part, status)) {
        std::fprintf(stderr,
                     "Flash block protection could not be cleared (status register 0x%02X); "
                     "is the flash write-protect line held low?\n",
                     status);
        return SPI_ERR_PROTECTED;
    }
    return 0;
}

unsigned char ich10spiChipset::ReadStatus() {
    sendSw(OP_READ_STATUS);
    Delay1mSec();
    return readReg8(SPI_FDATA0);
}

void ich10spiChipset::SetWriteEnable() {
    sendSw(OP_WRITE_ENABLE);
    Delay1mSec();
}

void ich10spiChipset::SpiWriteEnable() {
    if (sendSw(OP_WRITE_ENABLE_ATOMIC) == 0) WaitCycleDone();
}

int ich10spiChipset::waitFlashReady() {
    bool unreadable = false;
    const bool ready = pollUntil(os, FLASH_BUSY_BOUND, [&] {
        if (sendSw(OP_READ_STATUS) != 0) {
            unreadable = true;
            return true;  // stop polling: the controller is stuck
        }
        WaitCycleDone();
        return (readReg8(SPI_FDATA0) & FLASH_STATUS_WIP) == 0;
    });
    if (unreadable) return FLASH_STATUS_UNREADABLE;
    return ready ? FLASH_READY : FLASH_BUSY_TIMEOUT;
}

int ich10spiChipset::waitForProgramComplete() { return waitFlashReady(); }
int ich10spiChipset::waitForEraseComplete() { return waitFlashReady(); }

void ich10spiChipset::eraseChip() {
    const uint8_t eraseTypes[2] = {uint8_t(SPI_CHIP_ERASE_OPTYPE), uint8_t(SPI_CHIP_ERASE_OPTYPE >> 8)};
    writeRegBytes(SPI_OPTYPE, eraseTypes, sizeof eraseTypes);
    writeRegBytes(SPI_OPMENU, SPI_MENU_LOW_CHIP_ERASE, sizeof SPI_MENU_LOW_CHIP_ERASE);
    Delay1mSec();
    refreshMenu();
    for (int tries = 0; tries < CHIP_ERASE_TRIES;) {
        if (sendSw(OP_CHIP_ERASE) != 0) break;
        WaitCycleDone(CHIP_ERASE_DONE_BOUND);
        waitForEraseComplete();
        if (sendSw(OP_READ_ONE_BYTE) != 0) break;
        WaitCycleDone();
        if (readReg8(SPI_FDATA0) == ERASED_BYTE) break;
        ++tries;
        std::printf("retry=%d ", CHIP_ERASE_TRIES - tries);
    }
    const uint8_t types[2] = {uint8_t(SPI_MENU_OPTYPE), uint8_t(SPI_MENU_OPTYPE >> 8)};
    writeRegBytes(SPI_OPTYPE, types, sizeof types);
    writeRegBytes(SPI_OPMENU, SPI_MENU_LOW, sizeof SPI_MENU_LOW);
    Delay1mSec();
    refreshMenu();
}

unsigned char ich10spiChipset::readSpiByte(unsigned int address) {
    refreshRootComplexBase();
    ClearCycleDone();
    const uint8_t optype[4] = {uint8_t(SPI_BYTE_READ_OPTYPE), uint8_t(SPI_BYTE_READ_OPTYPE >> 8), 0, 0};
    writeRegBytes(SPI_OPTYPE, optype, sizeof optype);
    writeRegBytes(SPI_OPMENU, SPI_MENU_LOW_BYTE_READ, sizeof SPI_MENU_LOW_BYTE_READ);
    refreshMenu();
    writeReg32(SPI_FADDR, address & SPI_FADDR_MASK);
    auto cycleDoneOnly = [&] { return readReg8(SPI_SSFS) == SSFS_CDS; };
    pollUntil(os, SPI_BYTE_READ_BOUND, cycleDoneOnly);
    if (sendSw(OP_BYTE_READ) == 0) pollUntil(os, SPI_BYTE_READ_BOUND, cycleDoneOnly);
    return readReg8(SPI_FDATA0);
}
