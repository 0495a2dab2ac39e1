#include "platform/identity_source.h"

#include <cstring>

#include "chipset/ich10spi.h"
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

uint8_t byteSum(const unsigned char* data, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

// The length byte names the end of the checksummed range: it must take in the
// checksum byte and stay below the UUID record.
constexpr uint32_t VPD_MIN_LENGTH = VPD_CHECKSUM + 1;
constexpr uint32_t UUID_RECORD_MIN = UUIDREC_UUID + UUID_SIZE;
constexpr uint32_t UUID_RECORD_MAX = 0x40;

bool vpdIntact(const unsigned char* block) {
    const uint8_t length = block[VPD_LENGTH];
    return std::memcmp(block, VPD_SIGNATURE, VPD_SIG_LENGTH) == 0 && length >= VPD_MIN_LENGTH &&
           length <= VPD_UUID_RECORD && byteSum(block + VPD_SUM_START, length - VPD_SUM_START) == 0;
}

// Runs read with the other bank active, then makes the bank active again; false
// (and read not run) where no bank line is known.
template <typename Read>
bool onOtherBank(OS* os, Read read) {
    const unsigned char before = senseActiveBank(os);
    change_pb_gpio(os);
    const bool switched = senseActiveBank(os) != before;
    const bool ok = switched && read();
    if (switched) change_pb_gpio(os);
    return ok;
}

}  // namespace

bool readRunningVpd(OS* os, VpdCopy* out) {
    unsigned char window[VPD_SEARCH_LENGTH] = {};
    os->memRead(VPD_SEARCH_BASE, VPD_SEARCH_LENGTH, window);
    int k = -1;
    for (uint32_t at = 0; at <= VPD_SEARCH_LAST && k < 0; ++at)
        if (std::memcmp(window + at, VPD_SIGNATURE, VPD_SIG_LENGTH) == 0) k = int(at);
    if (k < 0) return false;
    // The block may run past the window, never past the legacy area's end.
    const uint32_t address = VPD_SEARCH_BASE + uint32_t(k);
    const uint8_t length = window[k + VPD_LENGTH];
    if (length < VPD_MIN_LENGTH || length > VPD_UUID_RECORD ||
        address + length > SHADOW_TOP64K_BASE + TRAILER_WINDOW)
        return false;
    os->memRead(address, length, out->block);
    if (!vpdIntact(out->block)) return false;
    os->memRead(address - VPD_RUNNING_UUID_BELOW, UUID_SIZE, out->uuid);
    out->uuidKnown = true;
    return true;
}

bool readTrailerVpd(OS* os, uint32_t top, VpdCopy* out) {
    const uint16_t pointer = readPointer(os, top, TOP_VPD_PTR);
    if (!fitsTop(pointer, VPD_UUID_RECORD)) return false;
    os->memRead(top + pointer, VPD_UUID_RECORD, out->block);
    if (!vpdIntact(out->block)) return false;
    out->uuidKnown = false;
    unsigned char record[UUID_RECORD_MAX] = {};
    if (!fitsTop(pointer, VPD_UUID_RECORD + UUID_RECORD_MIN)) return true;
    os->memRead(top + pointer + VPD_UUID_RECORD, UUID_RECORD_MIN, record);
    const uint16_t recordLength = static_cast<uint16_t>(record[UUIDREC_LENGTH] |
                                                        record[UUIDREC_LENGTH + 1] << 8);
    if (recordLength < UUID_RECORD_MIN || recordLength > UUID_RECORD_MAX ||
        !fitsTop(pointer, VPD_UUID_RECORD + recordLength))
        return true;
    os->memRead(top + pointer + VPD_UUID_RECORD, recordLength, record);
    if (byteSum(record, recordLength) != 0) return true;
    std::memcpy(out->uuid, record + UUIDREC_UUID, UUID_SIZE);
    out->uuidKnown = true;
    return true;
}

const char* copyPlaceName(CopyPlace place) {
    switch (place) {
        case CopyPlace::Shadow: return "the running BIOS's shadowed top 64 KiB";
        case CopyPlace::ReplacedBank: return "the bank being replaced";
        case CopyPlace::OtherBank: return "the other bank";
    }
    return "";
}

bool readVpdCopy(OS* os, CopyPlace place, VpdCopy* out) {
    switch (place) {
        case CopyPlace::Shadow: return readTrailerVpd(os, SHADOW_TOP64K_BASE, out);
        case CopyPlace::ReplacedBank: return readTrailerVpd(os, BIOS_TOP64K_BASE, out);
        case CopyPlace::OtherBank:
            return onOtherBank(os, [&] { return readTrailerVpd(os, BIOS_TOP64K_BASE, out); });
    }
    return false;
}

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
                           const char** fallback) {
    *fallback = nullptr;
    const BlockRead window = readTopBlock(os, BIOS_TOP64K_BASE, block, out);
    if (window != BlockRead::Damaged) return window;
    *fallback = copyPlaceName(CopyPlace::Shadow);
    const BlockRead shadow = readTopBlock(os, SHADOW_TOP64K_BASE, block, out);
    if (shadow != BlockRead::Damaged) return shadow;
    *fallback = copyPlaceName(CopyPlace::OtherBank);
    BlockRead other = BlockRead::Damaged;
    onOtherBank(os, [&] {
        other = readTopBlock(os, BIOS_TOP64K_BASE, block, out);
        return true;
    });
    return other;
}
