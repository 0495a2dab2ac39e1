// Identity data of the running BIOS (VPD block, UUID record, asset tag, OEM
// text) and how it is carried into a new BIOS image; UUID records; read-back
// of the primary BIOS range.
#pragma once
#include <cstdint>

#include "platform/platform.h"

class OS;

// Layout constants live in a namespace of their own: the simulator's board
// description uses some of the same words for its own offsets.
namespace vpd {

// Where the running BIOS keeps its identity (physical addresses).
constexpr uint32_t VPD_SEARCH_BASE = 0xFFF90;     // window searched for the VPD block
constexpr uint32_t VPD_SEARCH_LENGTH = 0x70;
constexpr uint32_t VPD_SEARCH_LAST = 0x2B;        // last offset tested for the signature
constexpr uint32_t VPD_RUNNING_UUID_BELOW = 0x16; // running UUID sits this far below the block
constexpr uint32_t BIOS_TOP64K_BASE = 0xFFFF0000; // top 64 KiB of the BIOS in the flash window
constexpr uint32_t SHADOW_TOP64K_BASE = 0xF0000;  // the running BIOS's shadowed copy of it
// Trailer pointers, as offsets in the top 64 KiB.
constexpr uint32_t TOP_ASSET_PTR = 0xFFE2;
constexpr uint32_t TOP_VPD_PTR = 0xFFE4;
constexpr uint32_t TOP_OEM_PTR = 0xFFE6;
constexpr uint16_t BLOCK_ABSENT = 0xFFFF;         // pointer value of a missing block

// Image trailer: offsets back from the end of the image.
constexpr uint32_t TRAILER_ASSET_PTR = 0x1E;
constexpr uint32_t TRAILER_VPD_PTR = 0x1C;
constexpr uint32_t TRAILER_OEM_PTR = 0x1A;
constexpr uint32_t TRAILER_CHECKSUM = 0x02;
constexpr uint32_t TRAILER_WINDOW = 0x10000;      // pointers are offsets in the top 64 KiB

// VPD block: offsets from its first byte.
constexpr uint32_t VPD_SIG = 0x00;                // 0xAA 0x55 "VPD"
constexpr uint32_t VPD_SIG_LENGTH = 5;
constexpr unsigned char VPD_SIGNATURE[VPD_SIG_LENGTH] = {0xAA, 0x55, 'V', 'P', 'D'};
constexpr uint32_t VPD_LENGTH = 0x05;             // end of the checksummed range
constexpr uint32_t VPD_SUM_START = 0x0D;
constexpr uint32_t VPD_SERIAL = 0x16;
constexpr uint32_t VPD_SERIAL_SIZE = 7;
constexpr uint32_t VPD_FIELD_1D = 0x1D;           // always carried from the running block
constexpr uint32_t VPD_FIELD_1D_SIZE = 11;
constexpr uint32_t VPD_MTM = 0x28;                // machine type/model
constexpr uint32_t VPD_MTM_SIZE = 7;
constexpr uint32_t VPD_CHECKSUM = 0x2F;
constexpr uint32_t VPD_UUID_RECORD = 0x57;

// UUID record: offsets from its first byte.
constexpr uint32_t UUIDREC_CHECKSUM = 0x06;
constexpr uint32_t UUIDREC_LENGTH = 0x07;         // 16-bit record length
constexpr uint32_t UUIDREC_UUID = 0x09;
constexpr uint32_t UUID_SIZE = sizeof(s_UUIDStruc);

// Asset-tag block.
constexpr uint32_t ASSET_BLOCK_SIZE = 0x2B;
constexpr char ASSET_SIG[] = "_ASSETID_";
constexpr uint32_t ASSET_TEXT = 0x0B;
constexpr uint32_t ASSET_TEXT_SIZE = 32;

// OEM block.
constexpr uint32_t OEM_BLOCK_SIZE = 0x27;
constexpr char OEM_SIG[] = "_OEM_";
constexpr uint32_t OEM_TEXT = 0x07;
constexpr uint32_t OEM_TEXT_SIZE = 32;

}  // namespace vpd

// carryIdentity's result when the bank being replaced has lost an identity
// block and the running BIOS holds no intact copy: nothing is written.
constexpr int IDENTITY_LOST = 8;

// Set to have GetVPDInfo write the range it read back into the flash.
extern bool g_VPD_Changes;

// Carries the running BIOS's identity into image (imageSize bytes) and fixes
// the block and image checksums; a non-null argument replaces that item. Never
// writes outside the image. The texts are not released here. Returns 0, or
// IDENTITY_LOST (with a message, the image untouched) when an identity block
// can be read intact from nowhere.
int carryIdentity(OS* os, unsigned char* image, uint32_t imageSize,
                   const unsigned char* machineType, const unsigned char* serial,
                   const unsigned char* assetTag, const s_UUIDStruc* uuid);

// A new UUID record from text ("generate" in any case, or hexadecimal byte
// pairs with optional '-'); the caller owns it.
s_UUIDStruc* generateUUID(OS* os, unsigned char* text);

// Reads the primary BIOS range out of the flash and, when g_VPD_Changes is
// set, writes it back. 0, the chipset's failing code, or -1 on a failed read.
int GetVPDInfo(OS* os, Platform* platform);
