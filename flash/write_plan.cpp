#include "flash/write_plan.h"

#include "chipset/ich10spi.h"
#include "platform/platform.h"

namespace {

// The image checksum fills the last two bytes below 4 GiB; the instruction
// bytes are the ones before it.
constexpr uint32_t IMAGE_CHECKSUM_SIZE = 2;
constexpr uint32_t RESET_CODE_SIZE = RESET_VECTOR_SIZE - IMAGE_CHECKSUM_SIZE;

// Fill values of flash that holds no code: erased, or zeroed.
constexpr unsigned char BLANK_VALUES[] = {0xFF, 0x00};

bool allEqual(const unsigned char* bytes, size_t size, unsigned char value) {
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != value) return false;
    return true;
}

}  // namespace

WritePlan planWrite(const Chipset& chipset, const s_FirmwareFile& file) {
    WritePlan plan;
    const auto* spi = dynamic_cast<const ich10spiChipset*>(&chipset);
    const uint64_t end = uint64_t(file.offset) + file.size;
    if (spi == nullptr || spi->blockTableSize() <= 0) {
        plan.blocks = file.size / SPI_FLASH_BLOCK_SIZE;
        return plan;
    }
    const s_FlashBlock* blocks = spi->blockTable();
    const int count = spi->blockTableSize();
    const uint32_t partTop = uint32_t(count) * SPI_FLASH_BLOCK_SIZE;
    plan.resetVectorAddress = partTop - RESET_VECTOR_SIZE;
    // A part too small for the range: the chipset refuses the update itself,
    // naming the part, before anything is written.
    plan.beyondPart = end > partTop;
    if (plan.beyondPart) return plan;

    int index = 0;
    while (index < count && blocks[index].address < file.offset) ++index;
    if (index == count || blocks[index].address != file.offset) return plan;  // program refuses it
    for (; index < count && uint64_t(blocks[index].address) + blocks[index].size <= end; ++index) {
        const s_FlashBlock& block = blocks[index];
        if (block.skip) continue;
        ++plan.blocks;
        if (plan.resetVectorAddress >= block.address &&
            plan.resetVectorAddress - block.address < block.size) {
            plan.coversResetVector = true;
            plan.resetVectorOffset = plan.resetVectorAddress - file.offset;
        }
    }
    return plan;
}

const char* unbootableImageReason(const unsigned char* image, size_t size, const WritePlan& plan) {
    if (size > 0 && allEqual(image, size, image[0]))
        return "every byte of the image has the same value";
    if (plan.coversResetVector && size_t(plan.resetVectorOffset) + RESET_VECTOR_SIZE <= size) {
        for (unsigned char blank : BLANK_VALUES)
            if (allEqual(image + plan.resetVectorOffset, RESET_CODE_SIZE, blank))
                return "the 16 bytes where the processor fetches its first instruction are blank";
    }
    return nullptr;
}
