// Where the simulated boards' firmware keeps things in a BIOS image and in
// flash: one source for the image builder and for the firmware that boots.
//
// Top 64 KiB of an image (offsets from its start; the BIOS of the bank that
// boots has it at 0xFFFF0000 and shadows it at 0xF0000):
//   0x4000  asset-tag block  ("_ASSETID_", tag text at +0x0B)
//   0x4300  VPD block        (serial +0x16, 11-byte field +0x1D, type/model +0x28,
//                             UUID record at +0x57): the only VPD block
//   0x5452  OEM block        ("_OEM_", text at +0x07)
//   0x6000  SMBIOS tables (built in shadow RAM at boot; erased in the image)
//   0xFF7A+k, 0xFF90+k  erased in the image: at boot the firmware puts the
//           running UUID and VPD copy there (k = RUNNING_VPD_SHIFT)
//   0xFFD0  "_BB_" and the boot block's build number
//   0xFFE0  trailer: pointers at 0xFFE2 (asset), 0xFFE4 (VPD), 0xFFE6 (OEM),
//           image checksum at 0xFFFE; the reset vector at 0xFFF0
// The running copy cannot be the block itself: a VPD block with its UUID record
// is 0x70 bytes long and would run over the trailer from 0xFF90.
//
// In flash: the body starts 64 KiB into the BIOS region with a header record
// ("_BODY_", the length it covers, a byte sum, the BIOS version); the boot
// block is the top of the part (384 KiB on PCH boards, 256 KiB on ICH boards)
// and opens with "_BOOTBLK" and the same build number as its top.
#pragma once
#include <cstdint>

#include "sim/board/board_regs.h"

constexpr uint32_t IMAGE_TOP_SIZE = 0x10000;       // the BIOS's top 64 KiB
constexpr uint32_t IMAGE_ASSET_BLOCK = 0x4000;     // offsets within the top 64 KiB
constexpr uint32_t IMAGE_VPD_BLOCK = 0x4300;
constexpr uint32_t IMAGE_OEM_BLOCK = 0x5452;
constexpr uint32_t IMAGE_SMBIOS_ENTRY = 0x6000;
constexpr uint32_t RUNNING_VPD_BASE = 0xFF90;      // the updater searches 0x70 bytes here
constexpr uint32_t RUNNING_VPD_SHIFT = 0x10;       // k: where in that window the block sits
constexpr uint32_t RUNNING_UUID_BELOW_VPD = 0x16;  // running UUID sits this far below it
constexpr uint32_t BOOT_TAG = 0xFFD0;              // "_BB_" + build number
constexpr uint32_t TRAILER_ASSET_PTR = 0xFFE2;
constexpr uint32_t TRAILER_VPD_PTR = 0xFFE4;
constexpr uint32_t TRAILER_OEM_PTR = 0xFFE6;
constexpr uint32_t RESET_VECTOR = 0xFFF0;          // jmp far F000:E05B
constexpr uint32_t TRAILER_CHECKSUM = 0xFFFE;
constexpr uint32_t CRTM_OFFSET = 0xFFE5;
constexpr uint16_t BLOCK_ABSENT = 0xFFFF;

// ---- Identity blocks (offsets from each block's first byte) ----
constexpr uint32_t VPD_LENGTH = 0x05;        // end of the checksummed range
constexpr uint32_t VPD_SERIAL = 0x16;
constexpr uint32_t VPD_SERIAL_SIZE = 7;
constexpr uint32_t VPD_BOARD_FIELD = 0x1D;
constexpr uint32_t VPD_BOARD_FIELD_SIZE = 11;
constexpr uint32_t VPD_MTM = 0x28;
constexpr uint32_t VPD_MTM_SIZE = 7;
constexpr uint32_t VPD_CHECKSUM = 0x2F;
constexpr uint32_t VPD_CHECKSUM_FIRST = 0x0D;
constexpr uint8_t VPD_CHECKED_END = 0x30;    // the length byte our firmware writes
constexpr uint32_t VPD_UUID_RECORD = 0x57;
constexpr uint32_t UUID_REC_CHECKSUM = 0x06;
constexpr uint32_t UUID_REC_LENGTH = 0x07;
constexpr uint32_t UUID_REC_UUID = 0x09;
constexpr uint32_t UUID_SIZE = 16;
constexpr uint16_t UUID_REC_SIZE = UUID_REC_UUID + UUID_SIZE;
constexpr uint32_t VPD_BLOCK_SIZE = VPD_UUID_RECORD + UUID_REC_SIZE;
constexpr uint32_t ASSET_TEXT = 0x0B;
constexpr uint32_t ASSET_BLOCK_SIZE = 0x2B;
constexpr uint32_t OEM_TEXT = 0x07;
constexpr uint32_t OEM_BLOCK_SIZE = 0x27;
constexpr uint32_t TEXT_FIELD_SIZE = 32;
constexpr char VPD_SIGNATURE[] = "\xAA\x55VPD";
constexpr char UUID_RECORD_TAG[] = "_UUID_";
constexpr char ASSET_SIGNATURE[] = "_ASSETID_";
constexpr char OEM_SIGNATURE[] = "_OEM_";
constexpr char CRTM_SIGNATURE[] = "CRTM";
constexpr uint8_t RESET_JUMP[5] = {0xEA, 0x5B, 0xE0, 0x00, 0xF0};

// ---- Body header record and boot block mark ----
constexpr char BODY_SIGNATURE[] = "_BODY_";
constexpr uint32_t BODY_COVERED = 0x08;      // u32: bytes from the record's start it covers
constexpr uint32_t BODY_SUM = 0x0C;          // u32: byte sum of [record + BODY_RECORD_SIZE, + covered)
// The version follows a NUL (byte 0x10), as version strings stand in the
// firmware's own tables, so a search for NUL + family finds it.
constexpr uint32_t BODY_VERSION = 0x11;      // NUL-padded BIOS version
constexpr uint32_t BODY_VERSION_SIZE = 0x1F;
constexpr uint32_t BODY_RECORD_SIZE = 0x40;
constexpr uint32_t BODY_FROM_REGION = 0x10000;  // the body starts this far into the BIOS region
constexpr char BOOT_BLOCK_SIGNATURE[] = "_BOOTBLK";
constexpr char BOOT_TAG_SIGNATURE[] = "_BB_";
constexpr uint32_t BOOT_BUILD = 0x08;        // u32 after either signature

// Where the BIOS region lies in the flash of each generation.
struct GenerationLayout {
    BoardKind kind;
    uint32_t regionOffset;
    uint32_t regionSize;
    uint32_t wholeSize;
    uint32_t bootBlockSize;  // the top of the part a boot-block update writes
    uint8_t lockedStatus;    // status register an earlier update leaves
};
constexpr GenerationLayout GENERATIONS[] = {
    {BoardKind::PCH, 0x600000, 0x200000, 0x800000, 0x60000, 0x94},
    {BoardKind::ICH, 0x3000, 0x180000, 0x200000, 0x40000, 0xBC},
};

inline const GenerationLayout& generationLayout(uint32_t hostBridgeId) {
    BoardKind kind = boardKindFor(hostBridgeId);
    for (const GenerationLayout& g : GENERATIONS)
        if (g.kind == kind) return g;
    return GENERATIONS[0];
}

// Flash offset of the boot block on a part of partSize bytes.
inline uint32_t bootBlockStart(uint32_t hostBridgeId, uint32_t partSize) {
    uint32_t size = generationLayout(hostBridgeId).bootBlockSize;
    return partSize > size ? partSize - size : 0;
}

// Flash offset of the body's header record; a part too small for the
// generation's region keeps it 64 KiB from its start.
inline uint32_t bodyRecordOffset(uint32_t hostBridgeId, uint32_t partSize) {
    uint32_t at = generationLayout(hostBridgeId).regionOffset + BODY_FROM_REGION;
    return at + BODY_RECORD_SIZE <= bootBlockStart(hostBridgeId, partSize) ? at : BODY_FROM_REGION;
}
