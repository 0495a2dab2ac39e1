#include "platform/vpd.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include "os/os.h"
#include "platform/identity_source.h"
#include "platform/pci_regs.h"
#include "platform/x86qm.h"
#include "tables/utils.h"

bool g_VPD_Changes = false;

using namespace vpd;

namespace {

// ---------------------------------------------------------------------------
// Bounded access to the image buffer. Offsets are signed 64-bit so that a
// trailer pointer in an image smaller than 64 KiB gives a negative offset
// instead of wrapping.

class ImageBuffer {
public:
    ImageBuffer(unsigned char* data, uint32_t size) : data_(data), size_(size) {}

    bool holds(int64_t offset, uint64_t length) const {
        return data_ != nullptr && offset >= 0 &&
               static_cast<uint64_t>(offset) + length <= size_;
    }
    unsigned char* at(int64_t offset) const { return data_ + offset; }
    uint32_t size() const { return size_; }

    // Image offset of the block a trailer pointer designates (the pointer is
    // an offset in the image's top 64 KiB); -1 when the trailer is missing.
    int64_t blockFromTrailer(uint32_t fromEnd) const {
        if (!holds(static_cast<int64_t>(size_) - fromEnd, sizeof(uint16_t))) return -1;
        const unsigned char* p = data_ + size_ - fromEnd;
        const uint16_t pointer = static_cast<uint16_t>(p[0] | p[1] << 8);
        return static_cast<int64_t>(size_) - TRAILER_WINDOW + pointer;
    }

private:
    unsigned char* data_;
    uint32_t size_;
};

// Copies a NUL-padded field: characters of source up to its first NUL, at
// most width of them, then NULs to the end of the field.
void putField(unsigned char* field, const unsigned char* source, size_t width) {
    size_t n = 0;
    for (; n < width && source[n] != 0; ++n) field[n] = source[n];
    for (; n < width; ++n) field[n] = 0;
}

// putField at block + fieldOffset, only when the whole field lies in the image.
void putImageField(const ImageBuffer& image, int64_t block, uint32_t fieldOffset,
                   const unsigned char* source, size_t width) {
    if (block < 0 || !image.holds(block + fieldOffset, width)) return;
    putField(image.at(block + fieldOffset), source, width);
}

uint8_t byteSum(const unsigned char* data, size_t length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

// Identity texts arrive as unsigned bytes; they are NUL-terminated text.
const char* asText(const unsigned char* text) { return reinterpret_cast<const char*>(text); }

// ---------------------------------------------------------------------------
// The running BIOS.

const IdentityBlock ASSET_IDENTITY = {"asset-tag", TOP_ASSET_PTR, ASSET_BLOCK_SIZE, ASSET_SIG};
const IdentityBlock OEM_IDENTITY = {"OEM", TOP_OEM_PTR, OEM_BLOCK_SIZE, OEM_SIG};

// Where each part of the VPD identity is carried from: the running block
// when it is intact and holds the item, else the first intact copy (read only
// when needed) that holds it, else the running block as it is.
class VpdSources {
public:
    explicit VpdSources(OS* host) : os(host) { runningIntact = readRunningVpd(os, &running); }

    // The block whose fields and length are carried; null when there is
    // neither an intact running block nor an intact copy.
    const VpdCopy* block() {
        if (runningIntact) return &running;
        if (chosen < 0) {
            chosen = COPY_PLACES;
            for (int i = 0; i < COPY_PLACES && chosen == COPY_PLACES; ++i)
                if (copy(i) != nullptr) chosen = i;
            if (chosen < COPY_PLACES) say("The running BIOS's VPD block is missing or damaged", chosen);
        }
        return chosen < COPY_PLACES ? copy(chosen) : nullptr;
    }

    const VpdCopy* field(uint32_t offset, uint32_t size, const char* what) {
        return pick([&](const VpdCopy& c) { return !blank(c.block + offset, size); },
                    [](const VpdCopy&) { return true; }, what);
    }

    const VpdCopy* uuid() {
        return pick([&](const VpdCopy& c) { return c.uuidKnown && !blank(c.uuid, UUID_SIZE); },
                    [&](const VpdCopy& c) { return c.uuidKnown; }, "UUID");
    }

private:
    static bool blank(const unsigned char* field, size_t size) {
        bool zeros = true, ones = true;
        for (size_t i = 0; i < size; ++i) {
            zeros = zeros && field[i] == 0x00;
            ones = ones && field[i] == 0xFF;
        }
        return zeros || ones;
    }

    const VpdCopy* copy(int i) {
        if (!tried[i]) {
            tried[i] = true;
            intact[i] = readVpdCopy(os, CopyPlace(i), &copies[i]);
        }
        return intact[i] ? &copies[i] : nullptr;
    }

    void say(const char* what, int i) {
        std::cout << what << "; the copy in " << copyPlaceName(CopyPlace(i))
                  << " is carried instead" << std::endl;
    }

    // The running block when it holds the item, else the first copy that
    // does; failing both, the first that is usable at all.
    template <typename Holds, typename Usable>
    const VpdCopy* pick(Holds holds, Usable usable, const char* what) {
        if (runningIntact && holds(running)) return &running;
        for (int i = 0; i < COPY_PLACES; ++i) {
            const VpdCopy* c = copy(i);
            if (c != nullptr && holds(*c)) {
                if (runningIntact) {
                    const std::string line = std::string("The running BIOS's ") + what + " is blank";
                    say(line.c_str(), i);
                }
                return c;
            }
        }
        if (runningIntact && usable(running)) return &running;
        for (int i = 0; i < COPY_PLACES; ++i)
            if (const VpdCopy* c = copy(i))
                if (usable(*c)) return c;
        return runningIntact ? &running : block();
    }

    OS* os;
    VpdCopy running;
    bool runningIntact = false;
    VpdCopy copies[COPY_PLACES];
    bool tried[COPY_PLACES] = {};
    bool intact[COPY_PLACES] = {};
    int chosen = -1;  // the copy block() settled on; COPY_PLACES: none
};

void printUuid(const s_UUIDStruc& u) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(u.timeLow), static_cast<unsigned>(u.timeMid),
                  static_cast<unsigned>(u.timeHigh), u.clockSeqHigh, u.clockSeqLow, u.node[0],
                  u.node[1], u.node[2], u.node[3], u.node[4], u.node[5]);
    std::cout << "Merging in new UUID " << text << std::endl;
}

// Recomputes the UUID record's checksum over its first (record length) bytes.
void fixUuidRecordChecksum(const ImageBuffer& image, int64_t record) {
    if (!image.holds(record, UUIDREC_LENGTH + sizeof(uint16_t))) return;
    unsigned char* r = image.at(record);
    const uint16_t length = static_cast<uint16_t>(r[UUIDREC_LENGTH] | r[UUIDREC_LENGTH + 1] << 8);
    if (!image.holds(record, length)) return;
    r[UUIDREC_CHECKSUM] = 0;
    r[UUIDREC_CHECKSUM] = static_cast<uint8_t>(-byteSum(r, length));
}

// Recomputes the VPD block checksum over bytes 0x0D up to length - 1, where
// length comes from the running block.
void fixVpdChecksum(const ImageBuffer& image, int64_t block, uint8_t length) {
    if (block < 0 || !image.holds(block + VPD_CHECKSUM, 1) || !image.holds(block, length)) return;
    unsigned char* b = image.at(block);
    b[VPD_CHECKSUM] = 0;
    if (length > VPD_SUM_START)
        b[VPD_CHECKSUM] = static_cast<uint8_t>(-byteSum(b + VPD_SUM_START, length - VPD_SUM_START));
}

// 16-bit image checksum in the last two bytes: the image summed as 32-bit
// little-endian words with those two bytes zero, folded and negated.
void fixImageChecksum(const ImageBuffer& image) {
    if (!image.holds(static_cast<int64_t>(image.size()) - TRAILER_CHECKSUM, TRAILER_CHECKSUM))
        return;
    unsigned char* last = image.at(image.size() - TRAILER_CHECKSUM);
    last[0] = last[1] = 0;
    uint32_t sum = 0;
    const unsigned char* data = image.at(0);
    for (uint32_t i = 0; i < image.size(); ++i) sum += static_cast<uint32_t>(data[i]) << (8 * (i % 4));
    const uint16_t checksum = static_cast<uint16_t>(-(sum & 0xFFFF) - (sum >> 16));
    last[0] = static_cast<unsigned char>(checksum);
    last[1] = static_cast<unsigned char>(checksum >> 8);
}

// ---------------------------------------------------------------------------
// UUID generation.

// UUID time counts from 1582-10-15; this is 1970-01-01 on that scale.
constexpr int64 UUID_EPOCH_OFFSET = {0x13814000, 0x01B21DD2};
constexpr uint32_t UUID_CLOCK_SCALE = 1000000;
// The low byte of time-low is zero for one second in four; wait for the clock
// to move on, but not for ever.
constexpr unsigned UUID_CLOCK_ATTEMPTS = 30;
constexpr unsigned UUID_CLOCK_RETRY_MS = 100;
constexpr char UUID_GENERATE[] = "generate";
constexpr size_t UUID_PAIR = 2;

uint32_t systemClock() { return static_cast<uint32_t>(std::time(nullptr)); }

void uuidFromClock(OS* os, s_UUIDStruc* uuid) {
    int64 t = {};
    for (unsigned attempt = 1;; ++attempt) {
        t = add64(mult32(systemClock(), UUID_CLOCK_SCALE), UUID_EPOCH_OFFSET);
        if ((t.low & 0xFF) != 0) break;
        if (attempt == UUID_CLOCK_ATTEMPTS) {
            std::cerr << "The clock gave no usable UUID time after " << UUID_CLOCK_ATTEMPTS
                      << " tries; using the last one" << std::endl;
            break;
        }
        os->sleep(UUID_CLOCK_RETRY_MS);
    }
    uuid->timeLow = t.low;
    uuid->timeMid = static_cast<uint16_t>(t.high);
    uuid->timeHigh = static_cast<uint16_t>(t.high >> 16);
    const uint16_t sequence = static_cast<uint16_t>((t.low & 0xFFFF) + (t.low >> 16) +
                                                    (t.high & 0xFFFF) + (t.high >> 16));
    uuid->clockSeqHigh = static_cast<uint8_t>(sequence >> 8);
    uuid->clockSeqLow = static_cast<uint8_t>(sequence);
    os->getMACAddress(uuid->node);
}

// Hexadecimal byte pairs in text order, a '-' before a pair skipped; bytes
// the text does not reach stay 0.
void uuidFromText(const char* text, s_UUIDStruc* uuid) {
    unsigned char bytes[UUID_SIZE] = {};
    const size_t length = std::strlen(text);
    size_t pos = 0;
    for (size_t i = 0; i < UUID_SIZE; ++i) {
        if (pos + UUID_PAIR > length) break;
        if (text[pos] == '-') ++pos;
        // After a '-' only one character may be left; the terminator ends the pair.
        const char pair[UUID_PAIR + 1] = {text[pos], text[pos] ? text[pos + 1] : '\0', '\0'};
        bytes[i] = static_cast<unsigned char>(axtoi(pair));
        pos += UUID_PAIR;
    }
    std::memcpy(uuid, bytes, UUID_SIZE);
}

}  // namespace

int carryIdentity(OS* os, unsigned char* imageData, uint32_t imageSize,
                  const unsigned char* machineType, const unsigned char* serial,
                  const unsigned char* assetTag, const s_UUIDStruc* uuid) {
    const ImageBuffer image(imageData, imageSize);

    // Everything is read before anything is changed: an update that would
    // lose part of the identity is refused with the image as it was.
    VpdSources sources(os);
    const VpdCopy* runningSource = sources.block();
    const VpdCopy* serialSource = sources.field(VPD_SERIAL, VPD_SERIAL_SIZE, "serial number");
    const VpdCopy* mtmSource = sources.field(VPD_MTM, VPD_MTM_SIZE, "machine type/model");
    const VpdCopy* boardSource =
        sources.field(VPD_FIELD_1D, VPD_FIELD_1D_SIZE, "11-character board field");
    const VpdCopy* uuidSource = sources.uuid();
    if (runningSource == nullptr) {
        std::cerr << "The running BIOS's VPD block is missing or damaged, and neither the bank "
                  << "being replaced nor the other bank holds an intact copy (signature and "
                  << "checksum); nothing was written, so that the machine's serial number, "
                  << "type/model and UUID are not lost" << std::endl;
        return IDENTITY_LOST;
    }
    const unsigned char* running = runningSource->block;

    unsigned char assetBlock[ASSET_BLOCK_SIZE] = {};
    unsigned char oemBlock[OEM_BLOCK_SIZE] = {};
    const char* assetFallback = nullptr;
    const char* oemFallback = nullptr;
    const BlockRead asset =
        assetTag != nullptr ? BlockRead::Absent
                            : readRunningBlock(os, ASSET_IDENTITY, assetBlock, &assetFallback);
    const BlockRead oem = readRunningBlock(os, OEM_IDENTITY, oemBlock, &oemFallback);
    if (asset == BlockRead::Damaged || oem == BlockRead::Damaged) {
        std::cerr << "The " << (asset == BlockRead::Damaged ? ASSET_IDENTITY : OEM_IDENTITY).name
                  << " block of the BIOS bank being replaced is damaged (an earlier update was "
                  << "interrupted?) and neither the running BIOS nor the other bank holds an "
                  << "intact copy; nothing was written, so that the machine's identity is not "
                  << "lost" << std::endl;
        return IDENTITY_LOST;
    }
    for (const char* fallback : {assetFallback, oemFallback})
        if (fallback != nullptr) {
            std::cout << "The identity blocks of the BIOS bank being replaced are damaged; "
                      << "the copy in " << fallback << " is carried instead" << std::endl;
            break;
        }

    const int64_t vpd = image.blockFromTrailer(TRAILER_VPD_PTR);
    if (machineType != nullptr) {
        std::cout << "Merging in new machine type/model number " << asText(machineType) << std::endl;
        putImageField(image, vpd, VPD_MTM, machineType, VPD_MTM_SIZE);
    } else {
        putImageField(image, vpd, VPD_MTM, mtmSource->block + VPD_MTM, VPD_MTM_SIZE);
    }
    if (serial != nullptr) {
        std::cout << "Merging in new serial number " << asText(serial) << std::endl;
        putImageField(image, vpd, VPD_SERIAL, serial, VPD_SERIAL_SIZE);
    } else {
        putImageField(image, vpd, VPD_SERIAL, serialSource->block + VPD_SERIAL, VPD_SERIAL_SIZE);
    }
    putImageField(image, vpd, VPD_FIELD_1D, boardSource->block + VPD_FIELD_1D, VPD_FIELD_1D_SIZE);

    unsigned char uuidBytes[UUID_SIZE] = {};
    if (uuid != nullptr) {
        printUuid(*uuid);
        std::memcpy(uuidBytes, uuid, UUID_SIZE);
    } else {
        std::memcpy(uuidBytes, uuidSource->uuid, UUID_SIZE);
    }
    const int64_t record = vpd < 0 ? -1 : vpd + VPD_UUID_RECORD;
    if (record >= 0 && image.holds(record + UUIDREC_UUID, UUID_SIZE))
        std::memcpy(image.at(record + UUIDREC_UUID), uuidBytes, UUID_SIZE);
    if (record >= 0) fixUuidRecordChecksum(image, record);
    fixVpdChecksum(image, vpd, running[VPD_LENGTH]);

    const int64_t imageAsset = image.blockFromTrailer(TRAILER_ASSET_PTR);
    if (assetTag != nullptr) {
        std::cout << "Merging in new asset tag " << asText(assetTag) << std::endl;
        putImageField(image, imageAsset, ASSET_TEXT, assetTag, ASSET_TEXT_SIZE);
    } else if (asset == BlockRead::Found) {
        putImageField(image, imageAsset, ASSET_TEXT, assetBlock + ASSET_TEXT, ASSET_TEXT_SIZE);
    }
    if (oem == BlockRead::Found)
        putImageField(image, image.blockFromTrailer(TRAILER_OEM_PTR), OEM_TEXT, oemBlock + OEM_TEXT,
                      OEM_TEXT_SIZE);

    fixImageChecksum(image);
    return 0;
}

void x86QMPlatform::modifyImage(unsigned char* image, s_FirmwareFile* file,
                                unsigned char* machineType, unsigned char* serial,
                                unsigned char* assetTag, s_UUIDStruc* uuid) {
    carryResult = 0;
    if (image != nullptr && file != nullptr)
        carryResult = carryIdentity(host, image, file->size, machineType, serial, assetTag, uuid);
    delete[] machineType;
    delete[] serial;
    delete[] assetTag;
}

s_UUIDStruc* generateUUID(OS* os, unsigned char* text) {
    s_UUIDStruc* uuid = new s_UUIDStruc{};
    std::cout << "The uuidstr is :" << std::endl;
    if (text == nullptr) return uuid;
    if (strcasecmp(asText(text), UUID_GENERATE) == 0)
        uuidFromClock(os, uuid);
    else
        uuidFromText(asText(text), uuid);
    return uuid;
}

int GetVPDInfo(OS* os, Platform* platform) {
    constexpr int EXIT_NO_CHIPSET = 255;
    constexpr int READ_BACK_FAILED = -1;

    const int bank = platform->getFlashBank();
    const uint32_t blockSize = platform->getFlashMap()->blockSize;
    std::unique_ptr<Chipset> chipset(platform->getChipset());
    if (!chipset) {
        std::cerr << "Flash chipset could not be identified" << std::endl;
        osDestroy(os);
        std::exit(EXIT_NO_CHIPSET);
    }

    os->outportDword(pci::CONFIG_ADDRESS, pci::HOST_BRIDGE_ID);
    const uint32_t hostBridge = os->inportDword(pci::CONFIG_DATA);
    if (hostBridge == pci::HOST_BRIDGE_ID_PCH) std::cout << "Chipset: PCH" << std::endl;
    if (hostBridge == pci::HOST_BRIDGE_ID_ICH) std::cout << "Chipset: ICH9M" << std::endl;

    s_FirmwareFile* file = FindFirmware(os, platform, FW_PRIMARY_BIOS, "BIOS", nullptr)->files[0];
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[file->size]);
    std::cout << "The fwf->size is: " << std::dec << file->size << std::endl;

    int code = chipset->read(file->offset, file->size, blockSize, buffer.get());
    std::cout << "'the erorcode is:" << code;
    if (code != 0) {
        std::cerr << "Error reading \"" << file->name << "\" from ROM" << std::endl;
        return READ_BACK_FAILED;
    }
    std::cout << file->name << ": " << std::hex << file->offset << " [" << file->size << "]"
              << std::endl;

    if (g_VPD_Changes) {
        platform->enableFlashWrite();
        code = chipset->erase(file->offset, file->size, blockSize);
        if (code == 0) {
            code = chipset->program(file->offset, file->size, blockSize, buffer.get());
            std::cout << "Next is program!!" << std::endl;
        }
        platform->disableFlashWrite();
        if (code != 0) {
            platform->setFlashBank(bank);
            return code;
        }
    }
    platform->setFlashBank(bank);
    return 0;
}
