#include "platform/identity_source.h"

#include <cstring>

#include "os/os.h"
#include "platform/vpd.h"

using namespace vpd;

namespace {

constexpr unsigned char ERASED = 0xFF;

uint16_t readPointer(OS* os, uint32_t top, uint32_t offset) {
    unsigned char raw[sizeof(uint16_t)] = {};
    os->memRead(top + offset, sizeof raw, raw);
    return static_cast<uint16_t>(raw[0] | raw[1] << 8);
}

bool fitsTop(uint16_t pointer, uint32_t size) {
    return pointer != BLOCK_ABSENT && uint32_t(pointer) + size <= TRAILER_WINDOW;
}

// Every BIOS trailer points at a VPD block; an erased or torn trailer does not.
bool trailerIntact(OS* os, uint32_t top) {
    const uint16_t pointer = readPointer(os, top, TOP_VPD_PTR);
    if (!fitsTop(pointer, VPD_SIG_LENGTH)) return false;
    unsigned char signature[VPD_SIG_LENGTH] = {};
    os->memRead(top + pointer, VPD_SIG_LENGTH, signature);
    return std::memcmp(signature, VPD_SIGNATURE, VPD_SIG_LENGTH) == 0;
}

bool erased(const unsigned char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (bytes[i] != ERASED) return false;
    return true;
}

}  // namespace

BlockRead readTopBlock(OS* os, uint32_t top, const IdentityBlock& block, unsigned char* out) {
    if (!trailerIntact(os, top)) return BlockRead::Damaged;
    const uint16_t pointer = readPointer(os, top, block.trailerPointer);
    if (pointer == BLOCK_ABSENT) return BlockRead::Absent;
    if (!fitsTop(pointer, block.size)) return BlockRead::Damaged;
    os->memRead(top + pointer, block.size, out);
    const size_t signatureLength = std::strlen(block.signature);
    if (std::memcmp(out, block.signature, signatureLength) == 0) return BlockRead::Found;
    return erased(out, signatureLength) ? BlockRead::Damaged : BlockRead::Absent;
}

BlockRead readRunningBlock(OS* os, const IdentityBlock& block, unsigned char* out,
                           bool* fromShadow) {
    *fromShadow = false;
    const BlockRead window = readTopBlock(os, BIOS_TOP64K_BASE, block, out);
    if (window != BlockRead::Damaged) return window;
    *fromShadow = true;
    return readTopBlock(os, SHADOW_TOP64K_BASE, block, out);
}
