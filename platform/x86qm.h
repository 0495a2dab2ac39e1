// The supported machine family: the 61QM and 62QM boards. Two board
// generations are told apart by the host bridge identity (PCH: 8 MiB flash,
// ICH: 2 MiB flash); the family is recognised by the SMBIOS BIOS Version text.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/platform.h"

class OS;

constexpr unsigned int PLAT_NUM_SIZE = 20;  // 19 characters and the terminator
// BIOS Version text of the running machine, filled by x86QMPlatform::identify.
extern char plat_num[PLAT_NUM_SIZE];

// Flash map geometry shared by both generations.
constexpr uint32_t X86QM_BLOCK_SIZE = 0x10000;
constexpr int32_t X86QM_DESCRIPTION_COUNT = 4;

// Where an image file of `size` bytes lies in this board's flash: the whole
// part, or the BIOS region alone. False when neither is that size.
bool imageRangeOfSize(OS* os, uint32_t size, uint32_t* offset);

class x86QMPlatform : public Platform {
public:
    // Builds the flash map for the board generation and image_bios_type.
    explicit x86QMPlatform(OS* os);
    ~x86QMPlatform() override;  // releases the flash map and every string in it

    int identify() override;
    s_FlashMap* getFlashMap() override;
    int getFlashBank() override;          // always 0: no platform-level bank select
    void setFlashBank(int bank) override; // does nothing
    void enableFlashWrite() override;
    void disableFlashWrite() override;
    // Carries the running machine's identity into the image (platform/vpd.cpp).
    // Releases each non-null text with delete[]; the UUID stays with the caller.
    void modifyImage(unsigned char* image, s_FirmwareFile* file, unsigned char* machineType,
                     unsigned char* serial, unsigned char* assetTag,
                     s_UUIDStruc* uuid) override;
    int modifyImageResult() const override { return carryResult; }
    void SetH8ProgrammingMode(bool on) override;
    Chipset* getChipset() override;  // a new identified ich10spiChipset, or null
    const char* getServiceProcessorPort() override;  // "1"

private:
    s_FlashMap* flashMap;
    OS* host;
    int carryResult = 0;  // of the last modifyImage
    // The default file names. Callers may point a file record at a name of
    // their own, so the names are released from here, not from the records.
    std::unique_ptr<char[]> defaultNames[X86QM_DESCRIPTION_COUNT];
};
