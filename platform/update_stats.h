// What one chipset object did to the flash: counted by the chipset as it
// works, read by the run sequence for its summary and report.
#pragma once

#include <cstdint>

enum class VerifyResult { NotRun, Ok, Failed };

struct UpdateStats {
    uint64_t erasedBytes = 0;       // bytes the part erased for this update
    uint64_t programmedBytes = 0;   // bytes sent in program cycles
    uint32_t erasedBlocks = 0;      // 4 KiB blocks erased (alone or inside a larger erase)
    uint32_t programmedBlocks = 0;  // blocks programmed, with or without an erase
    uint32_t unchangedBlocks = 0;   // blocks the read before writing found equal
    uint32_t bigErases = 0;         // 64 KiB erase cycles
    uint32_t bigEraseFallbacks = 0; // 64 KiB groups erased block by block (no 0xD8 in a locked
                                    // menu, or the group did not read back erased)
    VerifyResult verify = VerifyResult::NotRun;
};
