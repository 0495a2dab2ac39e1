// Contents of a simulated board: the BIOS each flash bank holds and the new
// BIOS images that the updater is given to write (layout: sim/board/image_layout.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board/image_layout.h"

class Machine;

// What `lromup-sim new` accepts. Empty strings and zero mean "the model's own".
struct MachineOptions {
    std::string model = "moro310";  // moro310 | moro320 | moro330
    uint32_t hostBridgeId = 0;      // PCI 0:0:0 identity dword
    std::string partName;           // a flash part table name, or "unknown"
    std::string biosVersion;        // the version the banks' bodies carry
    std::string product;            // the board's product name (SMBIOS type 1)
    std::string serial;             // VPD serial number, at most 7 characters
    std::string mtm;                // VPD machine type/model, at most 7 characters
    std::string uuid;               // text form 8-4-4-4-12 hex digits
    std::string asset;              // asset tag, at most 32 characters
    std::string oem;                // OEM text, at most 32 characters
    bool noAsset = false;           // running asset pointer 0xFFFF
    bool noOem = false;             // running OEM pointer 0xFFFF
    bool noVpd = false;             // the running VPD copy lacks its signature (until a reboot)
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
// with blank identity, a body carrying its own BIOS version (the family's,
// numbered by the seed), a valid image checksum, and the region mark only on
// region images. Empty when the options are invalid.
std::vector<uint8_t> buildNewImage(const MachineOptions& options,
                                   ImageKind kind = ImageKind::Accepted,
                                   uint32_t seed = 1);

// The same for a machine already built or loaded: family from the BIOS version
// the body of its active bank carries, generation from its host bridge, size
// from its part.
std::vector<uint8_t> buildNewImage(Machine& machine, ImageKind kind = ImageKind::Accepted,
                                   uint32_t seed = 1);

// The 16-bit image checksum the updater computes: 32-bit little-endian word sum
// with the last two bytes taken as zero, folded and negated.
uint16_t imageChecksum(const uint8_t* image, size_t size);
