#include "flash/image_family.h"

#include <cstdint>
#include <cstring>

#include "flash/runseq.h"
#include "platform/vpd.h"

using namespace vpd;

namespace {

// A VPD block's header up to and including its checksum byte.
constexpr uint32_t VPD_HEADER_SIZE = VPD_CHECKSUM + 1;

// BIOS version texts of the families: an SMBIOS string, so it starts after a NUL.
struct FamilyVersion {
    int family;
    char text[6];  // NUL, then the four characters
};
constexpr FamilyVersion FAMILY_VERSIONS[] = {{MODEL_61QM, "\0" "61QM"}, {MODEL_62QM, "\0" "62QM"}};
constexpr size_t VERSION_PROBE = 5;

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The block a trailer pointer names, when it lies in the top 64 KiB and
// begins with its signature.
bool blockAt(const unsigned char* image, size_t size, uint32_t fromEnd, const void* signature,
             size_t signatureLength, size_t blockSize) {
    const uint16_t pointer = le16(image + size - fromEnd);
    if (uint32_t(pointer) + blockSize > TRAILER_WINDOW) return false;
    const unsigned char* block = image + size - TRAILER_WINDOW + pointer;
    return std::memcmp(block, signature, signatureLength) == 0;
}

bool optionalBlock(const unsigned char* image, size_t size, uint32_t fromEnd, const char* signature,
                   size_t blockSize) {
    return le16(image + size - fromEnd) == BLOCK_ABSENT ||
           blockAt(image, size, fromEnd, signature, std::strlen(signature), blockSize);
}

// The 16-bit image checksum in the last two bytes, as the update recomputes it.
bool checksumHolds(const unsigned char* image, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + TRAILER_CHECKSUM < size; ++i)
        sum += static_cast<uint32_t>(image[i]) << (8 * (i % 4));
    const uint16_t expected = static_cast<uint16_t>(-(sum & 0xFFFF) - (sum >> 16));
    return le16(image + size - TRAILER_CHECKSUM) == expected;
}

bool carriesVersion(const unsigned char* image, size_t size, const FamilyVersion& version) {
    for (size_t i = 0; i + VERSION_PROBE <= size; ++i)
        if (image[i] == 0 && std::memcmp(image + i, version.text, VERSION_PROBE) == 0) return true;
    return false;
}

}  // namespace

const char* notFamilyImageReason(const unsigned char* image, size_t size, int family) {
    if (size < TRAILER_WINDOW)
        return "it is smaller than the 64 KiB that hold its identity blocks and trailer";
    if (!blockAt(image, size, TRAILER_VPD_PTR, VPD_SIGNATURE, VPD_SIG_LENGTH, VPD_HEADER_SIZE))
        return "its trailer (the last 32 bytes) does not point at a VPD block in its top 64 KiB, "
               "so the machine's serial number, type/model and UUID cannot be carried into it";
    if (!optionalBlock(image, size, TRAILER_ASSET_PTR, ASSET_SIG, ASSET_BLOCK_SIZE))
        return "its trailer's asset-tag pointer does not point at an \"_ASSETID_\" block";
    if (!optionalBlock(image, size, TRAILER_OEM_PTR, OEM_SIG, OEM_BLOCK_SIZE))
        return "its trailer's OEM pointer does not point at an \"_OEM_\" block";
    if (!checksumHolds(image, size)) return "its image checksum (the last two bytes) does not hold";
    bool own = false, other = false;
    for (const FamilyVersion& version : FAMILY_VERSIONS) {
        if (family != MODEL_61QM && family != MODEL_62QM) break;
        if (!carriesVersion(image, size, version)) continue;
        (version.family == family ? own : other) = true;
    }
    if (other && !own) return "its BIOS version names the other family";
    return nullptr;
}

const char* familyImageDescription() {
    return "a BIOS image for this machine ends with a trailer whose pointers name its VPD, "
           "\"_ASSETID_\" and \"_OEM_\" blocks in its top 64 KiB and a 16-bit checksum over "
           "the whole image, and its BIOS version begins with the machine's family (61QM for "
           "Moro 310 and 320, 62QM for Moro 330)";
}
