// Machine-family and flash-chipset interfaces, and the flash map records that
// describe where each firmware image lives in a family's flash.
#pragma once
#include <cstdint>
#include "platform/update_stats.h"

class OS;

// Firmware ids of the flash map.
constexpr unsigned int FW_PRIMARY_BIOS = 0;
constexpr unsigned int FW_BACKUP_BIOS = 1;
constexpr unsigned int FW_SP_LPC = 9;    // service-processor firmware written over LPC
constexpr unsigned int FW_SP_FULL = 10;  // full service-processor image

struct s_FirmwareFile {
    char* name;            // default image file name (allocstr), owned by the platform
    uint32_t offset;       // where the file's contents start in the flash device
    uint32_t size;         // bytes the file occupies in the flash device
};

struct s_FirmwareDescription {
    uint32_t id;
    s_FirmwareFile** files;  // in flash order, owned
    int32_t fileCount;
};

struct s_FlashMap {
    uint32_t flashSize;
    uint32_t blockSize;  // third argument of every Chipset erase/program/read
    s_FirmwareDescription** descriptions;  // owned
    int32_t descriptionCount;
};

// 16-byte UUID record, copied into an image as these 16 bytes.
struct s_UUIDStruc {
    uint32_t timeLow;
    uint16_t timeMid;
    uint16_t timeHigh;
    uint8_t clockSeqHigh;
    uint8_t clockSeqLow;
    uint8_t node[6];
};
static_assert(sizeof(s_UUIDStruc) == 16, "s_UUIDStruc is a 16-byte image record");

class Chipset;
struct s_FlashBlock;  // one record of a chipset's block table (chipset/)

class Platform {
public:
    Platform() = default;
    virtual ~Platform() = default;
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    virtual int identify() = 0;                       // 0
    virtual s_FlashMap* getFlashMap() = 0;            // 1
    virtual int getFlashBank() = 0;                   // 2
    virtual void setFlashBank(int bank) = 0;          // 3
    virtual void enableFlashWrite() = 0;              // 4
    virtual void disableFlashWrite() = 0;             // 5
    virtual void modifyImage(unsigned char* image, s_FirmwareFile* file,
                             unsigned char* machineType, unsigned char* serial,
                             unsigned char* assetTag, s_UUIDStruc* uuid) = 0;  // 6
    virtual void SetH8ProgrammingMode(bool on) = 0;   // 7
    virtual Chipset* getChipset() = 0;                // 8
    virtual const char* getServiceProcessorPort() = 0;  // 9
    // 0 when the last modifyImage carried the identity (or found none to
    // carry); otherwise the status the update ends with, nothing written.
    virtual int modifyImageResult() const { return 0; }  // 10
};

class Chipset {
public:
    Chipset() = default;
    virtual ~Chipset() = default;
    Chipset(const Chipset&) = delete;
    Chipset& operator=(const Chipset&) = delete;

    virtual int identify() = 0;  // 0
    virtual int erase(unsigned int offset, unsigned int length, unsigned int blockSize) = 0;  // 1
    virtual int program(unsigned int offset, unsigned int length, unsigned int blockSize,
                        unsigned char* data) = 0;  // 2
    virtual int read(unsigned int offset, unsigned int length, unsigned int blockSize,
                     unsigned char* buffer) = 0;  // 3

    const char* getName() const { return name; }
    const UpdateStats& getStats() const { return stats; }

protected:
    // Fields every concrete chipset shares; the concrete class fills them.
    char* name = nullptr;
    s_FlashBlock* blocks = nullptr;
    int blockCount = 0;
    OS* os = nullptr;
    Platform* platform = nullptr;
    UpdateStats stats;
};

// Creates the one platform object of a run (an x86QMPlatform); the caller owns it.
Platform* platInit(OS* os);

// Returns the description with the given id. When the map has none, prints why,
// destroys the host object and ends the process with status 254.
s_FirmwareDescription* FindFirmware(OS* os, Platform* platform, unsigned int id,
                                    const char* name, const char* switchName);
