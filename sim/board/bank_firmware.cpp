#include "sim/board/bank_firmware.h"

#include <cstring>

#include "sim/board/image_layout.h"
#include "sim/board/smbios_builder.h"

namespace {

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return uint32_t(get16(p)) | uint32_t(get16(p + 2)) << 16; }

std::string text(const uint8_t* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

uint8_t byteSum(const uint8_t* p, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = uint8_t(sum + p[i]);
    return sum;
}

// The block a trailer pointer designates inside the top 64 KiB, when it fits
// and opens with its signature.
const uint8_t* trailerBlock(const uint8_t* top, uint32_t pointerAt, uint32_t size,
                            const char* signature) {
    uint16_t p = get16(top + pointerAt);
    if (p == BLOCK_ABSENT || p + size > IMAGE_TOP_SIZE) return nullptr;
    return std::memcmp(top + p, signature, std::strlen(signature)) == 0 ? top + p : nullptr;
}

// The VPD block when its signature, length and checksum hold.
const uint8_t* validVpd(const uint8_t* top) {
    const uint8_t* vpd = trailerBlock(top, TRAILER_VPD_PTR, VPD_BLOCK_SIZE, VPD_SIGNATURE);
    if (!vpd || vpd[VPD_LENGTH] <= VPD_CHECKSUM || vpd[VPD_LENGTH] > VPD_UUID_RECORD) return nullptr;
    return byteSum(vpd + VPD_CHECKSUM_FIRST, vpd[VPD_LENGTH] - VPD_CHECKSUM_FIRST) == 0 ? vpd
                                                                                         : nullptr;
}

const uint8_t* validUuidRecord(const uint8_t* vpd) {
    const uint8_t* rec = vpd + VPD_UUID_RECORD;
    if (std::memcmp(rec, UUID_RECORD_TAG, 6) != 0 || get16(rec + UUID_REC_LENGTH) != UUID_REC_SIZE)
        return nullptr;
    return byteSum(rec, UUID_REC_SIZE) == 0 ? rec : nullptr;
}

// A far jump into the F000 segment, as the boot block's entry starts.
bool resetVectorIntact(const uint8_t* top) {
    const uint8_t* v = top + RESET_VECTOR;
    return v[0] == RESET_JUMP[0] && v[3] == RESET_JUMP[3] && v[4] == RESET_JUMP[4];
}

// The boot block opens and ends with the same build number: a boot block
// written only in part carries two builds, or an erased end.
bool bootBlockWhole(const std::vector<uint8_t>& flash, uint32_t hostBridgeId) {
    const uint8_t* start = flash.data() + bootBlockStart(hostBridgeId, uint32_t(flash.size()));
    const uint8_t* tag = flash.data() + flash.size() - IMAGE_TOP_SIZE + BOOT_TAG;
    return std::memcmp(start, BOOT_BLOCK_SIGNATURE, 8) == 0 &&
           std::memcmp(tag, BOOT_TAG_SIGNATURE, 4) == 0 &&
           get32(start + BOOT_BUILD) == get32(tag + 4);
}

}  // namespace

std::string bodyBiosVersion(const std::vector<uint8_t>& flash, uint32_t hostBridgeId,
                            std::string* fault) {
    const uint32_t at = bodyRecordOffset(hostBridgeId, uint32_t(flash.size()));
    const uint8_t* rec = flash.data() + at;
    if (at + BODY_RECORD_SIZE > flash.size() || std::memcmp(rec, BODY_SIGNATURE, 6) != 0) {
        if (fault) *fault = "the body has no header record";
        return "";
    }
    const uint32_t covered = get32(rec + BODY_COVERED);
    uint32_t sum = 0;
    if (covered >= BODY_RECORD_SIZE && covered <= flash.size() - at)
        for (uint32_t i = BODY_RECORD_SIZE; i < covered; ++i) sum += rec[i];
    if (covered < BODY_RECORD_SIZE || covered > flash.size() - at || sum != get32(rec + BODY_SUM)) {
        if (fault) *fault = "the body is damaged (its byte sum does not hold)";
        return "";
    }
    return text(rec + BODY_VERSION, BODY_VERSION_SIZE);
}

BankBoot bootBank(const std::vector<uint8_t>& flash, uint32_t hostBridgeId,
                  const std::string& product, std::vector<uint8_t>& legacy) {
    BankBoot boot;
    legacy.assign(IMAGE_TOP_SIZE, 0xFF);
    if (flash.size() < 2 * IMAGE_TOP_SIZE) {
        boot.fault = "the part is too small to hold a BIOS";
        return boot;
    }
    const uint8_t* top = flash.data() + flash.size() - IMAGE_TOP_SIZE;
    if (!resetVectorIntact(top)) {
        boot.fault = "the reset vector is blank or damaged";
        return boot;
    }
    if (!bootBlockWhole(flash, hostBridgeId)) {
        boot.fault = "the boot block is damaged (written only in part)";
        return boot;
    }
    // The boot block halts in recovery when the body it hands over to is not whole.
    boot.biosVersion = bodyBiosVersion(flash, hostBridgeId, &boot.fault);
    if (boot.biosVersion.empty()) return boot;
    boot.boots = true;

    legacy.assign(top, top + IMAGE_TOP_SIZE);
    SmbiosIdentity id;
    id.biosVendor = "Moro Labs";
    id.biosVersion = boot.biosVersion;
    id.biosDate = "06/15/2011";
    id.manufacturer = "Moro Labs";
    id.product = product;
    id.version = "1.0";
    id.boardManufacturer = "Moro Labs";
    id.boardProduct = boot.biosVersion.substr(0, 4);
    id.boardVersion = "1.0";
    if (const uint8_t* vpd = validVpd(top)) {
        // The running copy: the block up to its checksummed end (it must stay
        // clear of the boot tag and trailer), the UUID below it.
        uint8_t* running = legacy.data() + RUNNING_VPD_BASE + RUNNING_VPD_SHIFT;
        std::memcpy(running, vpd, vpd[VPD_LENGTH] < VPD_CHECKED_END ? vpd[VPD_LENGTH] : VPD_CHECKED_END);
        id.serial = text(vpd + VPD_SERIAL, VPD_SERIAL_SIZE);
        id.sku = text(vpd + VPD_MTM, VPD_MTM_SIZE);
        id.boardSerial = text(vpd + VPD_BOARD_FIELD, VPD_BOARD_FIELD_SIZE);
        if (const uint8_t* rec = validUuidRecord(vpd)) {
            std::memcpy(running - RUNNING_UUID_BELOW_VPD, rec + UUID_REC_UUID, UUID_SIZE);
            std::memcpy(id.uuid, rec + UUID_REC_UUID, UUID_SIZE);
        }
    }
    if (const uint8_t* asset = trailerBlock(top, TRAILER_ASSET_PTR, ASSET_BLOCK_SIZE, ASSET_SIGNATURE))
        id.assetTag = text(asset + ASSET_TEXT, TEXT_FIELD_SIZE);
    if (const uint8_t* oem = trailerBlock(top, TRAILER_OEM_PTR, OEM_BLOCK_SIZE, OEM_SIGNATURE))
        id.oemString = text(oem + OEM_TEXT, TEXT_FIELD_SIZE);
    writeSmbiosTables(legacy.data(), legacy.size(), LEGACY_AREA_BASE, IMAGE_SMBIOS_ENTRY, id);
    return boot;
}
