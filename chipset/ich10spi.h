// The flash chipset for the BIOS flash behind the ICH10 / PCH SPI controller:
// unlocks the flash, identifies the part, and erases, programs and reads it in
// 4 KiB blocks; plus the protection, boot-bank and EEPROM write-protect steps
// that the run sequence and the update procedure call as free functions.
#pragma once
#include <cstdint>
#include <vector>

#include "chipset/spi_menu.h"
#include "platform/platform.h"

class OS;
struct PollBound;
struct SpiHwCommand;
struct FlashPartRow;
enum class BlockWork : uint8_t;

// One record of the block table.
struct s_FlashBlock {
    uint32_t address;  // flash linear address of the block's first byte
    uint32_t size;     // always SPI_FLASH_BLOCK_SIZE
    uint8_t skip;      // 1: program neither erases nor programs this block
};

constexpr uint32_t SPI_FLASH_BLOCK_SIZE = 0x1000;

// Results of the block operations besides 0 (success).
constexpr int SPI_ERR_NOT_BLOCK_START = -1;  // program: start is not the address of a block
constexpr int SPI_ERR_TIMEOUT = -3;          // a controller cycle did not complete in time
constexpr int SPI_ERR_REFUSED = -4;          // the controller ended a cycle with FCERR
constexpr int SPI_ERR_PROTECTED = -5;        // the part kept its block protection
// Refusals before anything is written (program checks them first).
constexpr int SPI_ERR_NO_OPCODE = -6;        // the locked opcode menu cannot serve a cycle
constexpr int SPI_ERR_WRONG_PART = -7;       // the part's size is not the flash map's
constexpr int SPI_ERR_BIOS_LOCKED = -8;      // the firmware keeps BIOS writes disabled
constexpr int SPI_ERR_VERIFY = -9;           // the flash read back differs from the data written

// waitForProgramComplete / waitForEraseComplete results.
constexpr int FLASH_READY = 0;
constexpr int FLASH_BUSY_TIMEOUT = -1;       // the part stayed busy through every poll
constexpr int FLASH_STATUS_UNREADABLE = SPI_ERR_TIMEOUT;  // the status cycle could not run

class ich10spiChipset : public Chipset {
public:
    ich10spiChipset(OS* os, Platform* platform);
    ~ich10spiChipset() override;

    // Chipset interface.
    int identify() override;
    int erase(unsigned int start, unsigned int length, unsigned int blockSize) override;
    int program(unsigned int start, unsigned int length, unsigned int blockSize,
                unsigned char* data) override;
    int read(unsigned int start, unsigned int length, unsigned int blockSize,
             unsigned char* buffer) override;

    // Block operations.
    int eraseBlock(unsigned int address);
    int eraseBlock(int block64k);  // the 4 KiB block at block64k x 0x10000
    int programBlock(unsigned int address, unsigned int length, unsigned char* data);
    int readBlock(unsigned int address, unsigned int length, unsigned char* buffer);
    unsigned char readSpiByte(unsigned int address);
    void eraseChip();
    void SetWriteEnable();
    void SpiWriteEnable();
    unsigned char ReadStatus();
    // 0; SPI_ERR_TIMEOUT when a cycle could not start; SPI_ERR_PROTECTED when
    // the part still reports block protection afterwards.
    int DisableBlockProtection();
    int waitForProgramComplete();
    int waitForEraseComplete();

    // Cycle engines.
    void InitSpiEnvironment();
    int SendSpiCmd(unsigned char* record);     // 0 started; SPI_ERR_TIMEOUT: SCIP never cleared
    void SendSpiHWCmd(unsigned char* record);
    void WaitCycleDone();
    void WaitCycleDone(const PollBound& bound);
    int WaitHWCycleDone();                     // 0, SPI_ERR_TIMEOUT or SPI_ERR_REFUSED
    void ClearCycleDone();
    void ClearFCERR();
    void ClearHWFCERR();
    int CheckFCCErr();
    int CheckHWFCCErr();
    void Delay1mSec();

    // Register dumps (each prints one register and returns 1).
    int ReadBFPR();
    int ReadHSFS();
    int ReadHSFC();
    int ReadFADDR();
    int ReadFRAP();
    int ReadFREG0();
    int ReadFREG1();
    int ReadFREG2();
    int ReadFREG3();
    int ReadFREG4();
    int ReadPR0();
    int ReadPR1();
    int ReadPR2();
    int ReadPR3();
    int ReadPR4();
    int ReadSSFS();
    int ReadSSFC();
    int ReadBBAR();
    int ReadFDOC();
    int ReadFDOD();
    int ReadAFC();
    int ReadLVSCC();
    int ReadUVSCC();
    int debug_msg();

    // Protection.
    int UnlockSPI_WP();
    int UnlockSPIFlash();
    void UnlockSPI();
    void UnlockBIOS();
    int ClearLVCL();
    int change_pb_gpio();
    unsigned char ReadActiveBIOS();

    // 0 when the identified part is the size the flash map is laid out for;
    // otherwise SPI_ERR_WRONG_PART, with the message naming both sizes.
    int checkPartFitsMap() const;

    // For inspection.
    const FlashPartRow* flashPart() const { return part; }
    // Reads the active part through the BIOS window, without the hex listing
    // of read(); 0 (a window read cannot fail).
    int readQuiet(uint32_t address, uint32_t length, uint8_t* buffer) {
        readWindow(address, length, buffer);
        return 0;
    }
    uint32_t rootComplexBase() const { return rcba; }
    const s_FlashBlock* blockTable() const { return blocks; }
    int blockTableSize() const { return blockCount; }

private:
    void refreshRootComplexBase();
    uint32_t spiAddress(uint32_t offset) const;
    uint8_t readReg8(uint32_t offset);
    void writeReg8(uint32_t offset, uint8_t value);
    uint32_t readReg32(uint32_t offset);
    void writeReg32(uint32_t offset, uint32_t value);
    void writeRegBytes(uint32_t offset, const uint8_t* bytes, unsigned count);
    void readRegBytes(uint32_t offset, uint8_t* bytes, unsigned count);
    int dumpRegister(unsigned index);
    void unlockAndReadIdentity(uint8_t* identity, unsigned count);
    int sendSw(const SpiOp& op);  // 0, SPI_ERR_TIMEOUT or SPI_ERR_NO_OPCODE
    void sendHw(const SpiHwCommand& command);
    int waitFlashReady();
    void refreshMenu();
    int checkReadyToWrite();
    uint8_t readFlashStatus(int* result);
    // Read-before-write (chipset/block_rewrite.cpp).
    int readChunk(uint32_t flashAddress, uint8_t* chunk);
    int programChunk(uint32_t address, const uint8_t* chunk);
    void readWindow(uint32_t address, uint32_t length, uint8_t* buffer);
    BlockWork preRead(uint32_t address, const uint8_t* wanted, uint8_t* current);
    int rewriteGroup(int first, int count, const uint8_t* wanted, uint8_t* current,
                     std::vector<int>* written);
    int workBlock(int index, BlockWork work, bool groupErased, const uint8_t* wanted,
                  uint8_t* held, std::vector<int>* written);
    int eraseGroup(uint32_t address, bool* erased);
    int waitSoftwareCycleEnd(const PollBound& bound, const char* what);
    int programChunks(uint32_t address, const uint8_t* wanted, const uint8_t* current);
    int verifyBlocks(const std::vector<int>& written, uint32_t start, const uint8_t* data);

    uint32_t rcba = 0;                   // root-complex base
    const FlashPartRow* part = nullptr;  // the part identified at construction, if known
    SpiMenu menu = {};                   // the opcode menu as last read back
};

// Re-arm the flash part's block protection after an update (platform ignored); returns 0.
int LockSPIFlash(OS* os, Platform* platform);
// Drive the flash write-protect line low (WP# asserted); returns 0.
int LockSPI_WP(OS* os);
// Pulse the boot-bank toggle line (low, high, low): switches the active bank; returns 1.
int change_pb_gpio(OS* os);
// Report the active bank: 0 primary, nonzero backup; prints which one.
unsigned char ReadActiveBIOS(OS* os);
// The same bank state, read without printing.
unsigned char senseActiveBank(OS* os);
// The EEPROM write-protect line's level as driven (1 high: locked, 0 low),
// read without changing the line; -1 on a host bridge of neither generation.
int eepromLineLevel(OS* os);
// Drive the EEPROM write-protect line high (locked); returns 1.
int LockEEPROM(OS* os);
// Drive the EEPROM write-protect line low (unlocked); returns 1.
int UnlockEEPROM(OS* os);
