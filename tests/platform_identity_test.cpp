// Where the carried asset-tag and OEM blocks come from: the flash window of the
// bank being replaced while it is intact, the running BIOS's shadowed copy when
// that bank lost its trailer or a block, and nowhere when both are damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "platform/identity_source.h"
#include "sim/board_image.h"
#include "sim/machine.h"
#include "sim/simos.h"

namespace {

const IdentityBlock ASSET = {"asset-tag", TRAILER_ASSET_PTR, 0x2B, "_ASSETID_"};

using Edit = std::function<void(uint8_t* top)>;  // changes a copy of the top 64 KiB
void fill(uint8_t* at, size_t n, uint8_t value) { std::memset(at, value, n); }

TEST(IdentitySource, WindowWhileIntactShadowWhenDamagedNowhereWhenBothAre) {
    const Edit intact = [](uint8_t*) {};
    const Edit absent = [](uint8_t* top) { fill(top + TRAILER_ASSET_PTR, 2, 0xFF); };
    const Edit unsigned_ = [](uint8_t* top) { top[IMAGE_ASSET_BLOCK + 1] = 'X'; };
    const Edit blockErased = [](uint8_t* top) { fill(top + IMAGE_ASSET_BLOCK, 0x1000, 0xFF); };
    const Edit trailerErased = [](uint8_t* top) { fill(top + 0xF000, 0x1000, 0xFF); };
    const Edit vpdErased = [](uint8_t* top) { fill(top + IMAGE_VPD_BLOCK, 5, 0xFF); };
    const Edit pastTheTop = [](uint8_t* top) { top[TRAILER_ASSET_PTR] = 0xF0, top[TRAILER_ASSET_PTR + 1] = 0xFF; };
    struct Row { const char* what; Edit window, shadow; BlockRead result; bool fromShadow; };
    const Row rows[] = {
        {"intact", intact, trailerErased, BlockRead::Found, false},
        {"absent by design", absent, intact, BlockRead::Absent, false},
        {"no signature", unsigned_, intact, BlockRead::Absent, false},
        {"block erased", blockErased, intact, BlockRead::Found, true},
        {"trailer erased", trailerErased, intact, BlockRead::Found, true},
        {"VPD block erased", vpdErased, intact, BlockRead::Found, true},
        {"pointer past the top", pastTheTop, intact, BlockRead::Found, true},
        {"shadow says absent", trailerErased, absent, BlockRead::Absent, true},
        {"both damaged", trailerErased, blockErased, BlockRead::Damaged, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        MachineOptions options;
        options.asset = "TAG-7";
        std::unique_ptr<Machine> machine = buildMachine(options);
        std::vector<uint8_t>& bank = machine->bank(machine->activeBank()).array();
        r.window(bank.data() + bank.size() - IMAGE_TOP_SIZE);
        r.shadow(machine->legacyArea().data());
        SimOS os(*machine);

        unsigned char block[0x2B] = {};
        bool fromShadow = false;
        EXPECT_EQ(readRunningBlock(&os, ASSET, block, &fromShadow), r.result);
        EXPECT_EQ(fromShadow, r.fromShadow);
        if (r.result == BlockRead::Found) {
            EXPECT_STREQ(reinterpret_cast<char*>(block) + 0x0B, "TAG-7");
        }
    }
}

}  // namespace
