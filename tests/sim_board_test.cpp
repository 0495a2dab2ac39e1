// Board contents as the updater's reader side sees them: the running identity
// in the legacy area and the BIOS window, the image trailer and blocks, the
// SMBIOS tables, new images, and the SHA-256 used to fingerprint banks.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/vpd.h"
#include "platform/x86qm.h"
#include "sim/board_image.h"
#include "sim/machine.h"
#include "sim/sha256.h"
#include "sim/simos.h"
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

// Offset k of the running VPD block in the updater's search window, or -1.
int findRunningVpd(Machine& m) {
    std::vector<uint8_t> w = physical(m, vpd::VPD_SEARCH_BASE, vpd::VPD_SEARCH_LENGTH);
    for (uint32_t k = 0; k <= vpd::VPD_SEARCH_LAST; ++k)
        if (std::memcmp(&w[k], "\xAA\x55VPD", 5) == 0) return int(k);
    return -1;
}

std::string field(const uint8_t* p, size_t size) {
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), size));
}

MachineOptions modelOptions(const char* model) {
    MachineOptions o;
    o.model = model;
    return o;
}

}  // namespace

TEST(BoardContents, RunningIdentityIsWhereTheUpdaterLooks) {
    MachineOptions o = modelOptions("moro320");
    o.serial = "SN12345";
    o.mtm = "7777XYZ";
    o.uuid = "00112233-4455-6677-8899-aabbccddeeff";
    o.asset = "TAG-42";
    o.oem = "oem text";
    auto m = buildMachine(o);
    ASSERT_TRUE(m);

    int k = findRunningVpd(*m);
    ASSERT_GE(k, 0);
    uint32_t block = vpd::VPD_SEARCH_BASE + uint32_t(k);
    std::vector<uint8_t> running = physical(*m, block, 0x30);
    EXPECT_EQ(field(&running[vpd::VPD_SERIAL], 7), "SN12345");
    EXPECT_EQ(field(&running[vpd::VPD_MTM], 7), "7777XYZ");
    uint8_t length = running[vpd::VPD_LENGTH];
    ASSERT_LE(length, 0x30);
    EXPECT_EQ(byteSum(&running[vpd::VPD_SUM_START], length - vpd::VPD_SUM_START), 0);
    // The running fields stay clear of the trailer pointers at 0xFFFE2..0xFFFE7.
    EXPECT_LE(block + length, 0xFFFE2u);

    const uint8_t uuid[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(physical(*m, block - vpd::VPD_RUNNING_UUID_BELOW, 16),
              std::vector<uint8_t>(uuid, uuid + 16));

    // Asset and OEM blocks through the running pointers in the BIOS window.
    uint16_t asset = le16(physical(*m, vpd::RUNNING_ASSET_PTR, 2).data());
    std::vector<uint8_t> a = physical(*m, vpd::BIOS_TOP64K_BASE + asset, vpd::ASSET_BLOCK_SIZE);
    EXPECT_EQ(std::memcmp(a.data(), "_ASSETID_", 9), 0);
    EXPECT_EQ(field(&a[vpd::ASSET_TEXT], 32), "TAG-42");
    uint16_t oem = le16(physical(*m, vpd::RUNNING_OEM_PTR, 2).data());
    std::vector<uint8_t> b = physical(*m, vpd::BIOS_TOP64K_BASE + oem, vpd::OEM_BLOCK_SIZE);
    EXPECT_EQ(std::memcmp(b.data(), "_OEM_", 5), 0);
    EXPECT_EQ(field(&b[vpd::OEM_TEXT], 32), "oem text");
}

TEST(BoardContents, EveryBankIsACompleteImageWithValidChecksums) {
    for (const char* model : {"moro310", "moro320", "moro330"}) {
        SCOPED_TRACE(model);
        auto m = buildMachine(modelOptions(model));
        ASSERT_TRUE(m);
        EXPECT_NE(m->bank(0).array(), m->bank(1).array());
        for (int i = 0; i < 2; ++i) {
            const std::vector<uint8_t>& img = m->bank(i).array();
            size_t end = img.size();
            EXPECT_EQ(le16(&img[end - 2]), imageChecksum(img.data(), end));
            const uint8_t* top = &img[end - IMAGE_TOP_SIZE];
            const uint8_t* v = top + le16(&img[end - vpd::TRAILER_VPD_PTR]);
            ASSERT_EQ(std::memcmp(v, "\xAA\x55VPD", 5), 0);
            EXPECT_EQ(byteSum(v + vpd::VPD_SUM_START, v[vpd::VPD_LENGTH] - vpd::VPD_SUM_START), 0);
            const uint8_t* rec = v + vpd::VPD_UUID_RECORD;
            EXPECT_EQ(le16(rec + vpd::UUIDREC_LENGTH), vpd::UUIDREC_UUID + 16);
            EXPECT_EQ(byteSum(rec, le16(rec + vpd::UUIDREC_LENGTH)), 0);
            // A whole-flash image never carries the region mark.
            EXPECT_FALSE(img[0x10] == 0xD9 && img[0x11] == 0x54);
        }
        // The legacy area shadows the active bank's top 64 KiB.
        const std::vector<uint8_t>& active = m->bank(m->activeBank()).array();
        EXPECT_TRUE(std::equal(active.end() - IMAGE_TOP_SIZE, active.end(),
                               m->legacyArea().begin()));
    }
}

TEST(BoardContents, StartsProtectedAsAnEarlierUpdateLeavesIt) {
    auto pch = buildMachine(modelOptions("moro310"));
    auto ich = buildMachine(modelOptions("moro330"));
    EXPECT_EQ(pch->bank(0).status(), 0x94);
    EXPECT_EQ(pch->bank(1).status(), 0x94);
    EXPECT_EQ(ich->bank(0).status(), 0xBC);
    EXPECT_TRUE(pch->flashWriteProtectAsserted());
}

TEST(BoardContents, AbsentBlocksAndCrtmMark) {
    MachineOptions o;
    o.noAsset = true;
    o.noOem = true;
    o.noVpd = true;
    auto m = buildMachine(o);
    EXPECT_EQ(findRunningVpd(*m), -1);
    EXPECT_EQ(le16(physical(*m, vpd::RUNNING_ASSET_PTR, 2).data()), 0xFFFF);
    EXPECT_EQ(le16(physical(*m, vpd::RUNNING_OEM_PTR, 2).data()), 0xFFFF);

    // With the mark the pointer bytes are the mark; the VPD and asset pointers
    // still designate real blocks, and an absent OEM block has no signature.
    o = MachineOptions();
    o.crtm = true;
    o.noOem = true;
    m = buildMachine(o);
    EXPECT_EQ(physical(*m, 0xFFFFFFE5, 4), std::vector<uint8_t>({'C', 'R', 'T', 'M'}));
    const std::vector<uint8_t>& img = m->bank(0).array();
    size_t end = img.size();
    const uint8_t* top = &img[end - IMAGE_TOP_SIZE];
    EXPECT_EQ(std::memcmp(top + le16(&img[end - vpd::TRAILER_VPD_PTR]), "\xAA\x55VPD", 5), 0);
    EXPECT_EQ(std::memcmp(top + le16(&img[end - vpd::TRAILER_ASSET_PTR]), "_ASSETID_", 9), 0);
    EXPECT_NE(std::memcmp(top + le16(&img[end - vpd::TRAILER_OEM_PTR]), "_OEM_", 5), 0);
    EXPECT_EQ(le16(&img[end - 2]), imageChecksum(img.data(), end));
}

TEST(BoardContents, BadOptionsDescribeNoMachine) {
    std::string error;
    MachineOptions o;
    o.serial = "12345678";
    EXPECT_FALSE(buildMachine(o, &error));
    EXPECT_NE(error.find("serial"), std::string::npos);
    o = MachineOptions();
    o.uuid = "0011-2233";
    EXPECT_FALSE(buildMachine(o, &error));
    o = MachineOptions();
    o.model = "moro999";
    EXPECT_FALSE(buildMachine(o, &error));
    o = MachineOptions();
    o.partName = "NOPE";
    EXPECT_FALSE(buildMachine(o, &error));
    o = MachineOptions();
    o.legacyArea.assign(100, 0);
    EXPECT_FALSE(buildMachine(o, &error));
}

TEST(BoardContents, UpdaterRecognisesAndCarriesTheIdentity) {
    // The product's own reader and identity carrier against the built board.
    MachineOptions o = modelOptions("moro330");
    o.activeBank = 1;
    o.serial = "ABC";
    auto m = buildMachine(o);
    SimOS os(*m);
    x86QMPlatform platform(&os);
    EXPECT_EQ(platform.identify(), 1);

    std::vector<uint8_t> img = buildNewImage(*m);
    ASSERT_EQ(img.size(), 0x180000u);
    size_t end = img.size();
    const uint8_t* v = &img[end - IMAGE_TOP_SIZE + le16(&img[end - vpd::TRAILER_VPD_PTR])];
    EXPECT_EQ(field(v + vpd::VPD_SERIAL, 7), "");
    carryIdentity(&os, img.data(), uint32_t(img.size()), nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(std::memcmp(v + vpd::VPD_SERIAL, "ABC\0\0\0\0", 7), 0);
    EXPECT_EQ(le16(&img[end - 2]), imageChecksum(img.data(), end));
}

TEST(NewImage, KindAndSizeFollowTheMachine) {
    struct Row {
        const char* model;
        ImageKind kind;
        size_t size;
        bool region;
    } rows[] = {
        {"moro310", ImageKind::Accepted, 0x200000, true},
        {"moro320", ImageKind::Accepted, 0x200000, false},
        {"moro330", ImageKind::Accepted, 0x180000, true},
        {"moro310", ImageKind::Whole, 0x800000, false},
        {"moro320", ImageKind::Region, 0x200000, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.model);
        auto m = buildMachine(modelOptions(r.model));
        std::vector<uint8_t> img = buildNewImage(*m, r.kind, 7);
        ASSERT_EQ(img.size(), r.size);
        EXPECT_EQ(img[0x10] == 0xD9 && img[0x11] == 0x54, r.region);
        EXPECT_EQ(le16(&img[img.size() - 2]), imageChecksum(img.data(), img.size()));
        EXPECT_EQ(buildNewImage(modelOptions(r.model), r.kind, 7), img);
        // Unlike both banks and unlike another seed's image.
        for (int i = 0; i < 2; ++i) {
            const std::vector<uint8_t>& bank = m->bank(i).array();
            EXPECT_FALSE(std::equal(img.begin(), img.end() - IMAGE_TOP_SIZE,
                                    bank.end() - long(img.size())));
        }
        EXPECT_NE(buildNewImage(*m, r.kind, 8), img);
    }
}

TEST(NewImage, ChecksumMatchesTheWordSumDefinition) {
    // Words 0x00000001 and 0x0000 (checksum bytes excluded): S = 1.
    std::vector<uint8_t> img = {1, 0, 0, 0, 0, 0, 0xAB, 0xCD};
    EXPECT_EQ(imageChecksum(img.data(), img.size()), 0xFFFF);
    // S = 0x00020003 folds to -(3) - 2.
    img = {3, 0, 2, 0, 0, 0, 0, 0};
    EXPECT_EQ(imageChecksum(img.data(), img.size()), uint16_t(-5));
}

TEST(Smbios, TablesAreValidAndReadBack) {
    auto m = buildMachine(modelOptions("moro320"));
    const std::vector<uint8_t>& area = m->legacyArea();
    size_t eps = 0;
    while (eps < area.size() && std::memcmp(&area[eps], "_SM_", 4) != 0) eps += 16;
    ASSERT_LT(eps, area.size());
    EXPECT_EQ(byteSum(&area[eps], area[eps + SMBIOS_EPS_LENGTH]), 0);
    EXPECT_EQ(std::memcmp(&area[eps + 0x10], "_DMI_", 5), 0);
    EXPECT_EQ(byteSum(&area[eps + 0x10], SMBIOS_DMI_PART_SIZE), 0);
    EXPECT_EQ(findSmbiosBiosVersion(area.data(), area.size(), LEGACY_AREA_BASE), "61QM29B");

    // Too little room: nothing is written.
    std::vector<uint8_t> small(0x40, 0xEE);
    SmbiosIdentity id;
    id.biosVersion = "61QM00A";
    EXPECT_FALSE(writeSmbiosTables(small.data(), small.size(), 0, 0, id));
    EXPECT_EQ(small, std::vector<uint8_t>(0x40, 0xEE));
    // An empty version string gets string number 0: no version found.
    std::vector<uint8_t> room(0x400, 0);
    id.biosVersion = "";
    ASSERT_TRUE(writeSmbiosTables(room.data(), room.size(), 0x1000, 0x100, id));
    EXPECT_EQ(findSmbiosBiosVersion(room.data(), room.size(), 0x1000), "");
}

TEST(Smbios, ReadsRealFirmwareTables) {
    std::ifstream in("/work/shared/testdata/smbios/seabios-i440fx.legacy.bin", std::ios::binary);
    if (!in) GTEST_SKIP() << "firmware sample not present";
    std::vector<uint8_t> area((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(findSmbiosBiosVersion(area.data(), area.size(), LEGACY_AREA_BASE),
              "1.16.2-debian-1.16.2-1");
    MachineOptions o;
    o.legacyArea = area;
    auto m = buildMachine(o);
    EXPECT_EQ(m->legacyArea(), area);
    EXPECT_EQ(buildNewImage(*m).size(), 0x200000u);  // unknown family on PCH
}

TEST(Sha256, KnownVectors) {
    auto hex = [](const std::string& s) {
        return sha256Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million 'a' fed in uneven pieces crosses every buffering path.
    Sha256 h;
    std::string chunk(997, 'a');
    size_t left = 1000000;
    while (left) {
        size_t n = left < chunk.size() ? left : chunk.size();
        h.update(reinterpret_cast<const uint8_t*>(chunk.data()), n);
        left -= n;
    }
    uint8_t d[32];
    h.final(d);
    EXPECT_EQ(d[0], 0xcd);
    EXPECT_EQ(d[1], 0xc7);
    EXPECT_EQ(d[31], 0xd0);
}
