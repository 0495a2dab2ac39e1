#include "flash/write_plan.h"

#include "chipset/flash_parts.h"
#include "chipset/ich10spi.h"
#include "flash/image_file.h"
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

void addSpan(std::vector<ImageSpan>& spans, uint32_t begin, uint32_t end) {
    if (!spans.empty() && spans.back().end == begin)
        spans.back().end = end;
    else
        spans.push_back({begin, end});
}

// Whether every byte of the spans that lies in the image equals value; the
// region mark, which a region image carries whatever its body, does not count.
bool spansAll(const unsigned char* image, size_t size, const std::vector<ImageSpan>& spans,
              unsigned char value) {
    const bool marked = hasRegionMark(image, size);
    for (const ImageSpan& span : spans)
        for (size_t i = span.begin; i < span.end && i < size; ++i) {
            if (marked && i >= REGION_MARK_OFFSET && i < REGION_MARK_OFFSET + sizeof REGION_MARK)
                continue;
            if (image[i] != value) return false;
        }
    return true;
}

bool spansBlank(const unsigned char* image, size_t size, const std::vector<ImageSpan>& spans) {
    if (spans.empty()) return false;
    for (unsigned char blank : BLANK_VALUES)
        if (spansAll(image, size, spans, blank)) return true;
    return false;
}

// The boot block of a part of partTop bytes, as the generation's skip marks
// name it; false for a part no generation is laid out for.
bool bootBlockOf(uint32_t partTop, uint32_t* first, uint32_t* end) {
    for (const SkipMarkRow& row : SKIP_MARKS)
        if (row.flashSize == partTop) {
            *first = row.bootBlock.first * SPI_FLASH_BLOCK_SIZE;
            *end = (row.bootBlock.last + 1) * SPI_FLASH_BLOCK_SIZE;
            return true;
        }
    return false;
}

}  // namespace

WritePlan planWrite(const Chipset& chipset, const s_FirmwareFile& file) {
    WritePlan plan;
    const auto* spi = dynamic_cast<const ich10spiChipset*>(&chipset);
    const uint64_t end = uint64_t(file.offset) + file.size;
    if (spi == nullptr || spi->blockTableSize() <= 0) {
        plan.blocks = file.size / SPI_FLASH_BLOCK_SIZE;
        addSpan(plan.written, 0, plan.blocks * SPI_FLASH_BLOCK_SIZE);
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
    uint32_t bootFirst = 0, bootEnd = 0;
    const bool bootKnown = bootBlockOf(partTop, &bootFirst, &bootEnd);

    int index = 0;
    while (index < count && blocks[index].address < file.offset) ++index;
    if (index == count || blocks[index].address != file.offset) return plan;  // program refuses it
    for (; index < count && uint64_t(blocks[index].address) + blocks[index].size <= end; ++index) {
        const s_FlashBlock& block = blocks[index];
        if (block.skip) continue;
        ++plan.blocks;
        const uint32_t at = block.address - file.offset;
        addSpan(plan.written, at, at + block.size);
        if (bootKnown && block.address >= bootFirst && block.address < bootEnd)
            addSpan(plan.bootBlock, at, at + block.size);
        if (plan.resetVectorAddress >= block.address &&
            plan.resetVectorAddress - block.address < block.size) {
            plan.coversResetVector = true;
            plan.resetVectorOffset = plan.resetVectorAddress - file.offset;
        }
    }
    return plan;
}

const char* unbootableImageReason(const unsigned char* image, size_t size, const WritePlan& plan) {
    if (size > 0 && (spansBlank(image, size, plan.written) ||
                     spansAll(image, size, {{0, uint32_t(size)}}, image[0])))
        return "every byte it would write has the same value (the region mark aside)";
    if (plan.coversResetVector && size_t(plan.resetVectorOffset) + RESET_VECTOR_SIZE <= size) {
        for (unsigned char blank : BLANK_VALUES)
            if (allEqual(image + plan.resetVectorOffset, RESET_CODE_SIZE, blank))
                return "the 16 bytes where the processor fetches its first instruction are blank";
    }
    if (spansBlank(image, size, plan.bootBlock))
        return "the boot block it would write is blank";
    return nullptr;
}
