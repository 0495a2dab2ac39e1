// What an update would write, decided before it runs: the plan must name
// exactly the blocks the chipset's program step then changes, and the image
// checks must refuse what cannot boot there and nothing else.
#include <algorithm>

#include "chipset_rig.h"
#include "flash/write_plan.h"
#include "platform/platform.h"

// (A region range in boot-block-only mode, which plans nothing: e2e_update_refused.)
TEST(WritePlan, NamesTheBlocksProgramChangesAndWhetherTheResetVectorIsAmongThem) {
    struct Row { const char* what; uint32_t bridge; const char* part; bool bootBlock;
                 uint32_t offset, size; };
    const Row rows[] = {
        {"PCH region", HOST_BRIDGE_ID_PCH, "MX25L6445E", false, 0x600000, 0x200000},
        {"PCH region, boot block", HOST_BRIDGE_ID_PCH, "MX25L6445E", true, 0x600000, 0x200000},
        {"ICH whole, boot block", HOST_BRIDGE_ID_ICH, "W25Q16BV", true, 0, 0x200000},
        {"ICH region", HOST_BRIDGE_ID_ICH, "MX25L1606E", false, 0x3000, 0x180000},
        {"start inside a block", HOST_BRIDGE_ID_ICH, "W25Q16BV", false, 0x13800, 0x10000},
        {"other host bridge", 0x12378086, "W25Q16BV", false, 0x1F0000, 0x10000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ChipsetRig rig(r.bridge, r.part);
        updt_bblk = r.bootBlock;
        ich10spiChipset chip(&rig.os, nullptr);
        updt_bblk = false;
        char name[] = "image";
        const s_FirmwareFile file{name, r.offset, r.size};
        const WritePlan plan = planWrite(chip, file);

        const std::vector<uint8_t> before = rig.flash();
        std::vector<uint8_t> image(r.size);  // unlike the flash in every byte
        for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(~before[r.offset + i]);
        quietly([&] { return chip.program(r.offset, r.size, 0x10000, image.data()); });
        uint32_t changed = 0;
        for (uint32_t block = 0; block < before.size(); block += 0x1000)
            changed += !std::equal(before.begin() + block, before.begin() + block + 0x1000,
                                   rig.flash().begin() + block);
        EXPECT_EQ(plan.blocks, changed);
        const size_t top = before.size() - RESET_VECTOR_SIZE;
        EXPECT_EQ(plan.coversResetVector, rig.flash()[top] != before[top]);
        if (plan.coversResetVector) {
            EXPECT_EQ(plan.resetVectorOffset, top - r.offset);
        }
    }
}

// (Erased images with and without the region mark, and an erased reset vector
// written or not: e2e_update_refused.)
TEST(WritePlan, RefusesBlankWrittenBytesBootBlocksAndResetVectorsWhereWritten) {
    WritePlan covering;
    covering.coversResetVector = true;
    covering.resetVectorOffset = 0x1000 - RESET_VECTOR_SIZE;
    WritePlan elsewhere = covering;
    elsewhere.coversResetVector = false;
    WritePlan firstHalf = elsewhere;  // writes 0x000-0x7FF, its boot block 0x400-0x7FF
    firstHalf.written = {{0, 0x800}};
    firstHalf.bootBlock = {{0x400, 0x800}};

    std::vector<unsigned char> code(0x1000);
    for (size_t i = 0; i < code.size(); ++i) code[i] = uint8_t(i * 13 + 7);
    const auto vector = [&](uint8_t fill, uint8_t checksum) {  // 14 bytes, then the checksum
        std::vector<unsigned char> image = code;
        std::fill(image.end() - 16, image.end() - 2, fill);
        std::fill(image.end() - 2, image.end(), checksum);
        return image;
    };
    struct Row { const char* what; std::vector<unsigned char> image; const WritePlan* plan; bool refused; };
    const Row rows[] = {
        {"all one value", std::vector<unsigned char>(0x1000, 0x90), &elsewhere, true},
        {"code", code, &covering, false},
        {"zeroed vector", vector(0x00, 0x00), &covering, true},
        {"far jump", [&] { auto i = vector(0xFF, 0x5A); i[0x1000 - 16] = 0xEA; return i; }(), &covering, false},
        {"code only outside what is written",
         [&] {
             std::vector<unsigned char> i(0x1000, 0xFF);
             std::copy_n(code.begin(), 0x800, i.begin() + 0x800);
             return i;
         }(),
         &firstHalf, true},
        {"boot block blank where written",
         [&] { auto i = code; std::fill(i.begin() + 0x400, i.begin() + 0x800, 0xFF); return i; }(), &firstHalf, true},
        {"boot block blank where not written",
         [&] { auto i = code; std::fill(i.begin() + 0x800, i.end(), 0xFF); return i; }(), &firstHalf, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(unbootableImageReason(r.image.data(), r.image.size(), *r.plan) != nullptr, r.refused);
    }
}
