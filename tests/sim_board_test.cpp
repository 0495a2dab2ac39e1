// Board contents as the updater's reader side sees them: the running identity
// in the legacy area and the BIOS window, the banks' trailers and blocks, new
// images and the SMBIOS tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/vpd.h"
#include "sim/board_image.h"
#include "sim/machine.h"
#include "sim/smbios_builder.h"

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint8_t byteSum(const uint8_t* p, size_t n) {
    uint8_t s = 0;
    for (size_t i = 0; i < n; ++i) s = uint8_t(s + p[i]);
    return s;
}

std::vector<uint8_t> physical(Machine& m, uint32_t addr, uint32_t len) {
    std::vector<uint8_t> out(len);
    m.memRead(addr, len, out.data());
    return out;
}

// The block a trailer pointer designates in an image's top 64 KiB.
const uint8_t* trailerBlock(const std::vector<uint8_t>& img, uint32_t pointer) {
    return &img[img.size() - IMAGE_TOP_SIZE + le16(&img[img.size() - pointer])];
}

std::string text(const uint8_t* p, size_t size) {
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), size));
}

bool checksumOk(const std::vector<uint8_t>& img) {
    return le16(&img[img.size() - 2]) == imageChecksum(img.data(), img.size());
}

}  // namespace

TEST(BoardContents, RunningIdentityAndSmbiosTablesAreWhereTheReaderLooks) {
    MachineOptions o;
    o.model = "moro320";
    o.serial = "SN12345";
    o.uuid = "00112233-4455-6677-8899-aabbccddeeff";
    o.asset = "TAG-42";
    auto m = buildMachine(o);
    ASSERT_TRUE(m);

    const std::vector<uint8_t> w = physical(*m, vpd::VPD_SEARCH_BASE, vpd::VPD_SEARCH_LENGTH);
    uint32_t k = 0;
    while (k <= vpd::VPD_SEARCH_LAST && std::memcmp(&w[k], "\xAA\x55VPD", 5) != 0) ++k;
    ASSERT_LE(k, vpd::VPD_SEARCH_LAST);
    const uint8_t* v = &w[k];
    EXPECT_EQ(text(v + vpd::VPD_SERIAL, 7), "SN12345");
    ASSERT_LE(k + v[vpd::VPD_LENGTH], w.size());
    EXPECT_EQ(byteSum(v + vpd::VPD_SUM_START, v[vpd::VPD_LENGTH] - vpd::VPD_SUM_START), 0);
    EXPECT_LE(vpd::VPD_SEARCH_BASE + k + v[vpd::VPD_LENGTH], 0xFFFE2u);  // clear of the trailer
    const uint8_t uuid[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(physical(*m, vpd::VPD_SEARCH_BASE + k - vpd::VPD_RUNNING_UUID_BELOW, 16),
              std::vector<uint8_t>(uuid, uuid + 16));

    // The asset block through its running pointer in the BIOS window.
    const uint16_t asset = le16(physical(*m, vpd::RUNNING_ASSET_PTR, 2).data());
    const std::vector<uint8_t> a = physical(*m, vpd::BIOS_TOP64K_BASE + asset, vpd::ASSET_BLOCK_SIZE);
    EXPECT_EQ(std::string(a.begin(), a.begin() + 9), "_ASSETID_");
    EXPECT_EQ(text(&a[vpd::ASSET_TEXT], vpd::ASSET_TEXT_SIZE), "TAG-42");

    // SMBIOS entry point on a paragraph with both checksums right.
    const std::vector<uint8_t>& area = m->legacyArea();
    size_t eps = 0;
    while (eps < area.size() && std::memcmp(&area[eps], "_SM_", 4) != 0) eps += 16;
    ASSERT_LT(eps, area.size());
    EXPECT_EQ(byteSum(&area[eps], area[eps + SMBIOS_EPS_LENGTH]), 0);
    EXPECT_EQ(byteSum(&area[eps + 0x10], SMBIOS_DMI_PART_SIZE), 0);
    EXPECT_EQ(findSmbiosBiosVersion(area.data(), area.size(), LEGACY_AREA_BASE), "61QM29B");
}

TEST(BoardContents, BanksAndNewImagesOfEachModelAreCompleteWithValidChecksums) {
    for (const char* model : {"moro310", "moro320", "moro330"}) {
        SCOPED_TRACE(model);
        MachineOptions o;
        o.model = model;
        auto m = buildMachine(o);
        ASSERT_TRUE(m);
        EXPECT_NE(m->bank(0).array(), m->bank(1).array());
        for (int i = 0; i < 2; ++i) {
            const std::vector<uint8_t>& img = m->bank(i).array();
            EXPECT_TRUE(m->bank(i).isProtected(uint32_t(img.size() - 1)));  // as an earlier update left it
            EXPECT_TRUE(checksumOk(img));
            const uint8_t* v = trailerBlock(img, vpd::TRAILER_VPD_PTR);
            ASSERT_EQ(std::memcmp(v, "\xAA\x55VPD", 5), 0);
            EXPECT_EQ(byteSum(v + vpd::VPD_SUM_START, v[vpd::VPD_LENGTH] - vpd::VPD_SUM_START), 0);
            const uint8_t* rec = v + vpd::VPD_UUID_RECORD;
            EXPECT_EQ(le16(rec + vpd::UUIDREC_LENGTH), vpd::UUIDREC_UUID + 16);
            EXPECT_EQ(byteSum(rec, le16(rec + vpd::UUIDREC_LENGTH)), 0);
            EXPECT_EQ(std::memcmp(trailerBlock(img, vpd::TRAILER_ASSET_PTR), "_ASSETID_", 9), 0);
        }
        // The legacy area shadows the active bank's top 64 KiB.
        const std::vector<uint8_t>& active = m->bank(m->activeBank()).array();
        EXPECT_TRUE(std::equal(active.end() - IMAGE_TOP_SIZE, active.end(), m->legacyArea().begin()));

        // A new image: same bytes for the same seed, unlike both banks and other seeds.
        const std::vector<uint8_t> img = buildNewImage(*m, ImageKind::Accepted, 7);
        EXPECT_TRUE(checksumOk(img));
        EXPECT_EQ(buildNewImage(o, ImageKind::Accepted, 7), img);
        EXPECT_NE(buildNewImage(*m, ImageKind::Accepted, 8), img);
        for (int i = 0; i < 2; ++i)
            EXPECT_FALSE(std::equal(img.begin(), img.end() - IMAGE_TOP_SIZE,
                                    m->bank(i).array().end() - long(img.size())));
    }
    // The image checksum folds the 32-bit word sum, without its own two bytes.
    const std::vector<uint8_t> words = {3, 0, 2, 0, 0, 0, 0xAB, 0xCD};
    EXPECT_EQ(imageChecksum(words.data(), words.size()), uint16_t(-5));
}

TEST(BoardContents, AbsentBlocksAreNotFoundByTheReader) {
    MachineOptions o;
    o.noAsset = o.noOem = o.noVpd = true;
    auto m = buildMachine(o);
    const std::vector<uint8_t> w = physical(*m, vpd::VPD_SEARCH_BASE, vpd::VPD_SEARCH_LENGTH);
    for (uint32_t k = 0; k <= vpd::VPD_SEARCH_LAST; ++k) EXPECT_NE(std::memcmp(&w[k], "\xAA\x55VPD", 5), 0);
    EXPECT_EQ(physical(*m, vpd::RUNNING_ASSET_PTR, 2), std::vector<uint8_t>({0xFF, 0xFF}));
    EXPECT_EQ(physical(*m, vpd::RUNNING_OEM_PTR, 2), std::vector<uint8_t>({0xFF, 0xFF}));
}
