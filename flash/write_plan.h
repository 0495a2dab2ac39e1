// What an update of one image file would write, decided before anything is
// touched: the 4 KiB blocks of the file's flash range that the chipset's block
// table does not skip, whether they reach the processor's reset vector and the
// boot block, and whether the bytes they would receive could boot at all.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class Chipset;
struct s_FirmwareFile;

// The processor fetches its first instruction from the last 16 bytes below
// 4 GiB, which the BIOS window maps to the top of the flash part.
constexpr uint32_t RESET_VECTOR_SIZE = 16;

// Image offsets [begin, end) of bytes that would be written.
struct ImageSpan {
    uint32_t begin;
    uint32_t end;
};

struct WritePlan {
    uint32_t blocks = 0;              // blocks that would be erased and programmed
    bool coversResetVector = false;   // one of them holds the reset vector
    uint32_t resetVectorAddress = 0;  // its flash address
    uint32_t resetVectorOffset = 0;   // and the offset of those bytes in the image
    bool beyondPart = false;          // the range ends past the part: nothing planned
    std::vector<ImageSpan> written;   // image bytes of those blocks, adjacent blocks merged
    std::vector<ImageSpan> bootBlock; // the part of them that lies in the part's boot block
};

// The plan for writing `file` with this chipset, walking the block table as
// its program step does. A chipset without a block table writes every block
// of the range.
WritePlan planWrite(const Chipset& chipset, const s_FirmwareFile& file);

// Why an image of `size` bytes cannot boot, judged on the bytes the plan
// writes, or null when it can: all of them one value (the region mark aside),
// a blank reset vector, or a blank boot block where the plan writes them.
const char* unbootableImageReason(const unsigned char* image, size_t size, const WritePlan& plan);
