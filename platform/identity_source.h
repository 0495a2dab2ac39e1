// Where the asset-tag and OEM blocks carried into a new image are read from.
// The running BIOS's blocks are reached through the trailer of its top 64 KiB
// in the flash window below 4 GiB. That window shows the bank about to be
// replaced, which an interrupted update may have left with its blocks or
// trailer erased; the running BIOS's own copy of its top 64 KiB, shadowed at
// 0xF0000 when it started, then stands in for it.
#pragma once
#include <cstdint>

class OS;

struct IdentityBlock {
    const char* name;        // for messages
    uint32_t trailerPointer; // offset of its pointer in the top 64 KiB
    uint32_t size;
    const char* signature;
};

enum class BlockRead {
    Found,    // the block, signature and all
    Absent,   // an intact trailer says there is none (pointer 0xFFFF, or no signature)
    Damaged,  // the trailer or the block is erased or points outside the top 64 KiB
};

// Reads a block through the copy of the BIOS's top 64 KiB at physical `top`
// into out (block.size bytes).
BlockRead readTopBlock(OS* os, uint32_t top, const IdentityBlock& block, unsigned char* out);

// The running BIOS's block: from the flash window, or from the shadow copy
// when the window's bank is damaged (*fromShadow is then set). Damaged only
// when neither holds it intact.
BlockRead readRunningBlock(OS* os, const IdentityBlock& block, unsigned char* out,
                           bool* fromShadow);
