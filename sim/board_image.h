// Contents of a simulated board: the BIOS each flash bank holds, the legacy
// BIOS area the running BIOS leaves in shadow RAM, and the new BIOS images that
// the updater is given to write.
//
// Layout of the top 64 KiB of every BIOS image (offsets from its start; the
// running BIOS shows the same bytes at 0xFFFF0000 and, shadowed, at 0xF0000):
//   0x4000  asset-tag block  ("_ASSETID_", tag text at +0x0B)
//   0x4300  VPD block        (serial +0x16, 11-byte field +0x1D, type/model +0x28,
//                             UUID record at +0x57)
//   0x5452  OEM block        ("_OEM_", text at +0x07)
//   0x6000  SMBIOS 2.x entry point, structure table right behind it
//   0xFF7A+k running UUID, 0xFF90+k running VPD block (k = RUNNING_VPD_SHIFT)
//   0xFFE0  trailer: pointers at 0xFFE2 (asset), 0xFFE4 (VPD), 0xFFE6 (OEM),
//           image checksum at 0xFFFE
// The pointer values are chosen so that "CRTM" at 0xFFE5..0xFFE8 reads as the
// high byte of the VPD pointer (0x43) and the OEM pointer (0x5452) itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Machine;

// What `lromup-sim new` accepts. Empty strings and zero mean "the model's own".
struct MachineOptions {
    std::string model = "moro310";  // moro310 | moro320 | moro330
    uint32_t hostBridgeId = 0;      // PCI 0:0:0 identity dword
    std::string partName;           // a flash part table name, or "unknown"
    std::string biosVersion;        // SMBIOS type 0 BIOS version string
    std::string product;            // SMBIOS type 1 product name
    std::string serial;             // VPD serial number, at most 7 characters
    std::string mtm;                // VPD machine type/model, at most 7 characters
    std::string uuid;               // text form 8-4-4-4-12 hex digits
    std::string asset;              // asset tag, at most 32 characters
    std::string oem;                // OEM text, at most 32 characters
    bool noAsset = false;           // running asset pointer 0xFFFF
    bool noOem = false;             // running OEM pointer 0xFFFF
    bool noVpd = false;             // no VPD signature where the updater searches
    bool crtm = false;              // "CRTM" at 0xFFFFFFE5
    int activeBank = 0;             // 0 primary, 1 backup
    std::string firmwareMenu = "standard";  // the opcode menu the firmware leaves
    bool biosLockEnable = false;    // the firmware sets BLE
    bool spiLockDown = false;       // the firmware sets FLOCKDN
    std::vector<uint8_t> legacyArea;  // 64 KiB to use as the legacy area instead
};

// Which image buildNewImage makes: the kind this machine accepts, or a forced one.
enum class ImageKind { Accepted, Whole, Region };

// Creates a powered-off machine as the options describe, both banks holding a
// complete, distinct current BIOS and the parts protected as an earlier update
// leaves them. Returns null (and a reason in *error when given) for options
// that describe no machine.
std::unique_ptr<Machine> buildMachine(const MachineOptions& options,
                                      std::string* error = nullptr);

// A new BIOS image for the machine those options describe: bytes unlike both
// banks (and unlike images of other seeds), the trailer and identity blocks
// with blank identity, a valid image checksum, and the region mark only on
// region images. Empty when the options are invalid.
std::vector<uint8_t> buildNewImage(const MachineOptions& options,
                                   ImageKind kind = ImageKind::Accepted,
                                   uint32_t seed = 1);

// The same for a machine already built or loaded: family from the BIOS version
// its legacy area reports, generation from its host bridge, size from its part.
std::vector<uint8_t> buildNewImage(Machine& machine, ImageKind kind = ImageKind::Accepted,
                                   uint32_t seed = 1);

// Layout facts that tests of the reader side use.
constexpr uint32_t IMAGE_TOP_SIZE = 0x10000;       // the BIOS's top 64 KiB
constexpr uint32_t IMAGE_ASSET_BLOCK = 0x4000;     // offsets within the top 64 KiB
constexpr uint32_t IMAGE_VPD_BLOCK = 0x4300;
constexpr uint32_t IMAGE_OEM_BLOCK = 0x5452;
constexpr uint32_t IMAGE_SMBIOS_ENTRY = 0x6000;
constexpr uint32_t RUNNING_VPD_BASE = 0xFF90;      // the updater searches 0x70 bytes here
constexpr uint32_t RUNNING_VPD_SHIFT = 0x10;       // k: where in that window the block sits
constexpr uint32_t RUNNING_UUID_BELOW_VPD = 0x16;  // running UUID sits this far below it
constexpr uint32_t TRAILER_ASSET_PTR = 0xFFE2;
constexpr uint32_t TRAILER_VPD_PTR = 0xFFE4;
constexpr uint32_t TRAILER_OEM_PTR = 0xFFE6;
constexpr uint32_t TRAILER_CHECKSUM = 0xFFFE;
constexpr uint32_t CRTM_OFFSET = 0xFFE5;
constexpr uint16_t BLOCK_ABSENT = 0xFFFF;

// The 16-bit image checksum the updater computes: 32-bit little-endian word sum
// with the last two bytes taken as zero, folded and negated.
uint16_t imageChecksum(const uint8_t* image, size_t size);
