// Where the carried asset-tag and OEM blocks come from: the flash window of the
// bank being replaced while it is intact, the running BIOS's shadowed copy when
// that bank lost its trailer or a block, then the other bank, and nowhere when
// all three are damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "platform/identity_source.h"
#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/host/simos.h"

namespace {

const IdentityBlock ASSET = {"asset-tag", TRAILER_ASSET_PTR, 0x2B, "_ASSETID_"};

using Edit = std::function<void(uint8_t* top)>;  // changes a copy of the top 64 KiB
void fill(uint8_t* at, size_t n, uint8_t value) { std::memset(at, value, n); }

TEST(IdentitySource, WindowWhileIntactThenShadowThenOtherBankNowhereWhenAllAre) {
    const Edit intact = [](uint8_t*) {};
    const Edit absent = [](uint8_t* top) { fill(top + TRAILER_ASSET_PTR, 2, 0xFF); };
    const Edit unsigned_ = [](uint8_t* top) { top[IMAGE_ASSET_BLOCK + 1] = 'X'; };
    const Edit blockErased = [](uint8_t* top) { fill(top + IMAGE_ASSET_BLOCK, 0x1000, 0xFF); };
    const Edit trailerErased = [](uint8_t* top) { fill(top + 0xF000, 0x1000, 0xFF); };
    const Edit vpdErased = [](uint8_t* top) { fill(top + IMAGE_VPD_BLOCK, 5, 0xFF); };
    const Edit pastTheTop = [](uint8_t* top) { top[TRAILER_ASSET_PTR] = 0xF0, top[TRAILER_ASSET_PTR + 1] = 0xFF; };
    // Where the block was read: 0 the window, 1 the shadow, 2 the other bank.
    struct Row { const char* what; Edit window, shadow, other; BlockRead result; int from; };
    const Row rows[] = {
        {"intact", intact, trailerErased, trailerErased, BlockRead::Found, 0},
        {"absent by design", absent, intact, intact, BlockRead::Absent, 0},
        {"no signature", unsigned_, intact, intact, BlockRead::Absent, 0},
        {"block erased", blockErased, intact, intact, BlockRead::Found, 1},
        {"trailer erased", trailerErased, intact, intact, BlockRead::Found, 1},
        {"VPD block erased", vpdErased, intact, intact, BlockRead::Found, 1},
        {"pointer past the top", pastTheTop, intact, intact, BlockRead::Found, 1},
        {"shadow says absent", trailerErased, absent, intact, BlockRead::Absent, 1},
        {"window and shadow damaged", trailerErased, blockErased, intact, BlockRead::Found, 2},
        {"all damaged", trailerErased, blockErased, vpdErased, BlockRead::Damaged, 2},
    };
    const char* const places[] = {nullptr, copyPlaceName(CopyPlace::Shadow),
                                  copyPlaceName(CopyPlace::OtherBank)};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        MachineOptions options;
        options.asset = "TAG-7";
        std::unique_ptr<Machine> machine = buildMachine(options);
        for (int b = 0; b < 2; ++b) {
            std::vector<uint8_t>& bank = machine->bank(b).array();
            (b == machine->activeBank() ? r.window : r.other)(bank.data() + bank.size() - IMAGE_TOP_SIZE);
        }
        r.shadow(machine->legacyArea().data());
        machine->powerOn();
        SimOS os(*machine);

        unsigned char block[0x2B] = {};
        const char* from = nullptr;
        EXPECT_EQ(readRunningBlock(&os, ASSET, block, &from), r.result);
        EXPECT_EQ(from, places[r.from]);
        EXPECT_EQ(machine->activeBank(), 0);
        if (r.result == BlockRead::Found) {
            EXPECT_STREQ(reinterpret_cast<char*>(block) + 0x0B, "TAG-7");
        }
    }
}

}  // namespace
