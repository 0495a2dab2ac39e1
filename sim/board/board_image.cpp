#include "sim/board/board_image.h"

#include <cstring>

#include "sim/board/bank_firmware.h"
#include "sim/board/machine.h"
#include "sim/board/models.h"

namespace {

// ---- Image framing ----
constexpr uint32_t REGION_MARK_OFFSET = 0x10;  // the firmware-file-system GUID of the volume header
const uint8_t FFS_GUID[16] = {0xD9, 0x54, 0x93, 0x7A, 0x68, 0x04, 0x4A, 0x44,
                              0x81, 0xCE, 0x0B, 0xF6, 0x17, 0xD8, 0x90, 0xDF};
constexpr uint32_t FV_LENGTH = 0x20;
constexpr uint32_t FV_SIGNATURE = 0x28;
constexpr uint32_t FV_HEADER_SIZE = 0x48;
constexpr uint32_t DESCRIPTOR_SIGNATURE_OFFSET = 0x10;
const uint8_t DESCRIPTOR_SIGNATURE[4] = {0x5A, 0xA5, 0xF0, 0x0F};
constexpr uint32_t DESCRIPTOR_SIZE = 0x1000;
constexpr uint32_t CODE_AREA_END = IMAGE_ASSET_BLOCK;  // filler below the blocks in the top 64 KiB

constexpr uint32_t REGION_SIZE_61QM = 0x200000;
constexpr uint32_t REGION_SIZE_62QM = 0x180000;
constexpr uint32_t WHOLE_SIZE_61QM_ICH = 0x200000;

// Seeds of the two banks' firmware and of new images: distinct streams.
constexpr uint64_t BANK_SEED[2] = {0x5EED0001, 0x5EED0002};
constexpr uint64_t NEW_IMAGE_SEED_BASE = 0x7E3A000000000000ull;

void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Deterministic filler that looks like code: a xorshift stream.
void fillCode(uint8_t* p, size_t n, uint64_t seed) {
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
    for (size_t i = 0; i < n; ++i) {
        if (i % 8 == 0) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
        }
        p[i] = uint8_t(x >> (8 * (i % 8)));
    }
}

// Keeps filler from posing as an SMBIOS anchor where a reader scans.
void scrubAnchors(uint8_t* p, size_t n) {
    for (size_t off = 0; off + 5 <= n; off += 16)
        if (std::memcmp(p + off, "_SM_", 4) == 0 || std::memcmp(p + off, "_DMI_", 5) == 0)
            p[off] = 0;
}

void putText(uint8_t* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

uint8_t negatedSum(const uint8_t* p, size_t n) {
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = uint8_t(sum + p[i]);
    return uint8_t(-sum);
}

bool parseUuid(const std::string& text, uint8_t out[16]) {
    // 8-4-4-4-12 hex digits; the first three groups are stored little-endian.
    static const int GROUPS[5] = {8, 4, 4, 4, 12};
    uint8_t bytes[16];
    size_t pos = 0;
    int n = 0;
    for (int g = 0; g < 5; ++g) {
        if (g > 0) {
            if (pos >= text.size() || text[pos] != '-') return false;
            ++pos;
        }
        for (int d = 0; d < GROUPS[g]; d += 2) {
            if (pos + 2 > text.size()) return false;
            unsigned value = 0;
            for (int h = 0; h < 2; ++h) {
                char c = text[pos++];
                unsigned digit;
                if (c >= '0' && c <= '9') digit = unsigned(c - '0');
                else if (c >= 'a' && c <= 'f') digit = unsigned(c - 'a' + 10);
                else if (c >= 'A' && c <= 'F') digit = unsigned(c - 'A' + 10);
                else return false;
                value = value * 16 + digit;
            }
            bytes[n++] = uint8_t(value);
        }
    }
    if (pos != text.size()) return false;
    static const int ORDER[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) out[i] = bytes[ORDER[i]];
    return true;
}

// Everything the firmware of one board carries, with the defaults filled in.
struct BoardContents {
    const BoardModel* model = nullptr;
    uint32_t hostBridgeId = 0;
    std::string partName;
    std::string biosVersion, product, serial, mtm, boardField, asset, oem;
    uint8_t uuid[16] = {};
    bool noAsset = false, noOem = false, noVpd = false, crtm = false;
    int activeBank = 0;
    std::vector<uint8_t> legacyArea;
};

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool resolve(const MachineOptions& o, BoardContents& b, std::string* error) {
    b.model = findBoardModel(o.model);
    if (!b.model) return fail(error, "unknown model '" + o.model + "'");
    b.hostBridgeId = o.hostBridgeId ? o.hostBridgeId : b.model->hostBridgeId;
    b.partName = o.partName.empty() ? b.model->partName : o.partName;
    if (!findFlashPart(b.partName)) return fail(error, "unknown flash part '" + b.partName + "'");
    auto pick = [](const std::string& given, const char* dflt) {
        return given.empty() ? std::string(dflt) : given;
    };
    b.biosVersion = pick(o.biosVersion, b.model->biosVersion);
    b.product = pick(o.product, b.model->product);
    b.serial = pick(o.serial, b.model->serial);
    b.mtm = pick(o.mtm, b.model->mtm);
    b.asset = pick(o.asset, b.model->assetTag);
    b.oem = pick(o.oem, b.model->oemText);
    b.boardField = b.model->boardField;
    if (b.serial.size() > VPD_SERIAL_SIZE)
        return fail(error, "serial number longer than 7 characters");
    if (b.mtm.size() > VPD_MTM_SIZE)
        return fail(error, "machine type/model longer than 7 characters");
    if (b.asset.size() > TEXT_FIELD_SIZE) return fail(error, "asset tag longer than 32 characters");
    if (b.oem.size() > TEXT_FIELD_SIZE) return fail(error, "OEM text longer than 32 characters");
    if (b.biosVersion.size() > 64 || b.product.size() > 64)
        return fail(error, "BIOS version or product name longer than 64 characters");
    if (!parseUuid(o.uuid.empty() ? b.model->uuid : o.uuid, b.uuid))
        return fail(error, "UUID '" + o.uuid + "' is not of the form 8-4-4-4-12 hex digits");
    if (o.activeBank != 0 && o.activeBank != 1) return fail(error, "active bank must be 0 or 1");
    if (!o.legacyArea.empty() && o.legacyArea.size() != LEGACY_AREA_SIZE)
        return fail(error, "a legacy area image must be 65536 bytes");
    b.noAsset = o.noAsset;
    b.noOem = o.noOem;
    b.noVpd = o.noVpd;
    b.crtm = o.crtm;
    b.activeBank = o.activeBank;
    b.legacyArea = o.legacyArea;
    return true;
}

// Writes the VPD block (header, fields, UUID record, both checksums) at p.
void writeVpdBlock(uint8_t* p, const BoardContents& b, bool blank) {
    std::memset(p, 0, VPD_BLOCK_SIZE);
    std::memcpy(p, VPD_SIGNATURE, 5);
    p[VPD_LENGTH] = VPD_CHECKED_END;
    if (!blank) {
        putText(p + VPD_SERIAL, VPD_SERIAL_SIZE, b.serial);
        putText(p + VPD_BOARD_FIELD, VPD_BOARD_FIELD_SIZE, b.boardField);
        putText(p + VPD_MTM, VPD_MTM_SIZE, b.mtm);
    }
    p[VPD_CHECKSUM] = negatedSum(p + VPD_CHECKSUM_FIRST, VPD_CHECKED_END - VPD_CHECKSUM_FIRST);
    uint8_t* rec = p + VPD_UUID_RECORD;
    std::memcpy(rec, UUID_RECORD_TAG, 6);
    put16(rec + UUID_REC_LENGTH, UUID_REC_SIZE);
    if (!blank) std::memcpy(rec + UUID_REC_UUID, b.uuid, UUID_SIZE);
    rec[UUID_REC_CHECKSUM] = negatedSum(rec, UUID_REC_SIZE);
}

std::string familyOf(const std::string& biosVersion) { return biosVersion.substr(0, 4); }

void put32(uint8_t* p, uint32_t v) {
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}

// Fills the top 64 KiB of a BIOS image. "blank" is a new image as built: the
// identity blocks are there but hold no identity. Everything the running BIOS
// builds at boot (SMBIOS, the running VPD copy) is left erased.
void writeTop(uint8_t* top, const BoardContents& b, uint32_t build, bool blank) {
    std::memset(top + CODE_AREA_END, 0xFF, IMAGE_TOP_SIZE - CODE_AREA_END);
    scrubAnchors(top, CODE_AREA_END);

    uint8_t* asset = top + IMAGE_ASSET_BLOCK;
    std::memset(asset, 0, ASSET_BLOCK_SIZE);
    std::memcpy(asset, ASSET_SIGNATURE, 9);
    if (!blank) putText(asset + ASSET_TEXT, TEXT_FIELD_SIZE, b.asset);

    writeVpdBlock(top + IMAGE_VPD_BLOCK, b, blank);

    uint8_t* oem = top + IMAGE_OEM_BLOCK;
    std::memset(oem, 0, OEM_BLOCK_SIZE);
    std::memcpy(oem, OEM_SIGNATURE, 5);
    if (!blank) putText(oem + OEM_TEXT, TEXT_FIELD_SIZE, b.oem);

    std::memcpy(top + BOOT_TAG, BOOT_TAG_SIGNATURE, 4);
    put32(top + BOOT_TAG + 4, build);
    put16(top + TRAILER_ASSET_PTR, b.noAsset && !blank ? BLOCK_ABSENT : IMAGE_ASSET_BLOCK);
    put16(top + TRAILER_VPD_PTR, IMAGE_VPD_BLOCK);
    put16(top + TRAILER_OEM_PTR, IMAGE_OEM_BLOCK);
    if (b.noOem && !blank) {
        // Without the CRTM mark the pointer says "absent"; with it the pointer
        // bytes are the mark, so the block it designates loses its signature.
        if (b.crtm) std::memset(oem, 0, 5);
        else put16(top + TRAILER_OEM_PTR, BLOCK_ABSENT);
    }
    if (b.crtm) std::memcpy(top + CRTM_OFFSET, CRTM_SIGNATURE, 4);
    std::memcpy(top + RESET_VECTOR, RESET_JUMP, sizeof RESET_JUMP);
}

// The body's header record at image offset `at`, covering up to `end`.
void writeBody(std::vector<uint8_t>& image, uint32_t at, uint32_t end, const std::string& version) {
    if (at + BODY_RECORD_SIZE > end) return;
    uint8_t* rec = image.data() + at;
    std::memset(rec, 0, BODY_RECORD_SIZE);
    std::memcpy(rec, BODY_SIGNATURE, 6);
    put32(rec + BODY_COVERED, end - at);
    putText(rec + BODY_VERSION, BODY_VERSION_SIZE, version);
    uint32_t sum = 0;
    for (uint32_t i = at + BODY_RECORD_SIZE; i < end; ++i) sum += image[i];
    put32(rec + BODY_SUM, sum);
}

void writeVolumeHeader(uint8_t* p, uint32_t length) {
    std::memset(p, 0, FV_HEADER_SIZE);
    std::memcpy(p + REGION_MARK_OFFSET, FFS_GUID, sizeof FFS_GUID);
    for (int i = 0; i < 4; ++i) p[FV_LENGTH + i] = uint8_t(length >> (8 * i));
    std::memcpy(p + FV_SIGNATURE, "_FVH", 4);
}

void writeDescriptor(uint8_t* p) {
    std::memset(p, 0xFF, DESCRIPTOR_SIZE);
    std::memcpy(p + DESCRIPTOR_SIGNATURE_OFFSET, DESCRIPTOR_SIGNATURE, 4);
}

void sealImage(std::vector<uint8_t>& image) {
    put16(image.data() + image.size() - 2, imageChecksum(image.data(), image.size()));
}

// A complete BIOS image of `size` bytes for a part of partSize bytes; a region
// image starts with the firmware volume header and is written at the region's
// offset, a whole one starts with the flash descriptor and has the volume at
// regionOffset. Its body and boot block carry the version and build number.
std::vector<uint8_t> buildImage(const BoardContents& b, uint32_t size, uint32_t partSize,
                                bool region, uint64_t seed, const std::string& biosVersion,
                                bool blank) {
    const uint32_t regionOffset = generationLayout(b.hostBridgeId).regionOffset;
    std::vector<uint8_t> image(size);
    fillCode(image.data(), size, seed);
    if (region) {
        writeVolumeHeader(image.data(), size);
    } else {
        writeDescriptor(image.data());
        if (regionOffset + FV_HEADER_SIZE <= size)
            writeVolumeHeader(image.data() + regionOffset, size - regionOffset);
    }
    // Flash offsets become image offsets: a region image lands at regionOffset.
    const uint32_t base = region ? regionOffset : 0;
    const uint32_t build = uint32_t((seed * 0x9E3779B97F4A7C15ull) >> 32) | 1;
    const uint32_t bootBlock = bootBlockStart(b.hostBridgeId, partSize);
    const uint32_t top = size - IMAGE_TOP_SIZE;
    if (bootBlock >= base && bootBlock - base + 16 <= top) {
        uint8_t* start = image.data() + (bootBlock - base);
        std::memcpy(start, BOOT_BLOCK_SIGNATURE, 8);
        put32(start + BOOT_BUILD, build);
    }
    const uint32_t body = bodyRecordOffset(b.hostBridgeId, partSize);
    const uint32_t bodyEnd = bootBlock >= base && bootBlock - base < top ? bootBlock - base : top;
    writeTop(image.data() + top, b, build, blank);
    if (body >= base) writeBody(image, body - base, bodyEnd, biosVersion);
    sealImage(image);
    return image;
}

std::vector<uint8_t> newImage(const BoardContents& b, const std::string& family,
                              uint32_t partSize, ImageKind kind, uint32_t seed) {
    bool ich = boardKindFor(b.hostBridgeId) == BoardKind::ICH;
    bool region;
    uint32_t size;
    uint32_t regionSize = family == "62QM" ? REGION_SIZE_62QM : REGION_SIZE_61QM;
    switch (kind) {
    case ImageKind::Whole:
        region = false;
        size = partSize;
        break;
    case ImageKind::Region:
        region = true;
        size = regionSize;
        break;
    default:
        region = !(family == "61QM" && ich);
        size = region ? regionSize : WHOLE_SIZE_61QM_ICH;
        break;
    }
    if (size < IMAGE_TOP_SIZE) return {};
    std::string version = (family.size() == 4 ? family : std::string("61QM")) +
                          std::to_string(50 + seed % 50) + "N";
    return buildImage(b, size, partSize, region, NEW_IMAGE_SEED_BASE + seed, version, true);
}

}  // namespace

uint16_t imageChecksum(const uint8_t* image, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 2 < size; ++i) sum += uint32_t(image[i]) << (8 * (i % 4));
    return uint16_t(-(sum & 0xFFFF) - (sum >> 16));
}

std::unique_ptr<Machine> buildMachine(const MachineOptions& options, std::string* error) {
    BoardContents b;
    if (!resolve(options, b, error)) return nullptr;
    BoardConfig cfg;
    cfg.hostBridgeId = b.hostBridgeId;
    cfg.partName = b.partName;
    cfg.activeBank = b.activeBank;
    cfg.firmwareMenu = options.firmwareMenu;
    cfg.biosLockEnable = options.biosLockEnable;
    cfg.spiLockDown = options.spiLockDown;
    cfg.product = b.product;
    auto machine = std::make_unique<Machine>(cfg);
    const GenerationLayout& g = generationLayout(b.hostBridgeId);
    for (int i = 0; i < 2; ++i) {
        FlashPart& part = machine->bank(i);
        std::vector<uint8_t>& array = part.array();
        uint32_t size = uint32_t(array.size());
        array = buildImage(b, size, size, false, BANK_SEED[i], b.biosVersion, false);
        part.programStatus(g.lockedStatus);
    }
    machine->reboot();
    std::vector<uint8_t>& legacy = machine->legacyArea();
    if (!b.legacyArea.empty()) legacy = b.legacyArea;
    else if (b.noVpd) std::memset(legacy.data() + RUNNING_VPD_BASE + RUNNING_VPD_SHIFT, 0, 5);
    return machine;
}

std::vector<uint8_t> buildNewImage(const MachineOptions& options, ImageKind kind, uint32_t seed) {
    BoardContents b;
    if (!resolve(options, b, nullptr)) return {};
    const FlashPartInfo* part = findFlashPart(b.partName);
    return newImage(b, familyOf(b.biosVersion), part->size, kind, seed);
}

std::vector<uint8_t> buildNewImage(Machine& machine, ImageKind kind, uint32_t seed) {
    MachineOptions options;
    options.hostBridgeId = machine.config().hostBridgeId;
    options.partName = machine.config().partName;
    const std::vector<uint8_t>& active = machine.bank(machine.activeBank()).array();
    options.crtm = active.size() >= IMAGE_TOP_SIZE &&
                   std::memcmp(active.data() + active.size() - IMAGE_TOP_SIZE + CRTM_OFFSET,
                               CRTM_SIGNATURE, 4) == 0;
    // The family from the active bank's body, or the other's when that one is damaged.
    std::string version = bodyBiosVersion(active, options.hostBridgeId);
    if (version.empty())
        version = bodyBiosVersion(machine.bank(1 - machine.activeBank()).array(), options.hostBridgeId);
    // A new image holds no identity: only the family and the generation matter.
    BoardContents b;
    if (!resolve(options, b, nullptr)) return {};
    return newImage(b, familyOf(version), uint32_t(machine.bank(0).array().size()), kind, seed);
}
