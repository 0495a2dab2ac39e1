#include "tables/utils.h"

#include <cstring>

namespace {

constexpr unsigned int AXTOI_MAX_DIGITS = 8;
constexpr unsigned int VERSION_TEXT_MAX = 255;
constexpr uint32_t VERSION_MAJOR_SCALE = 0x1000000;
constexpr uint32_t VERSION_MINOR_SCALE = 0x1000;

// Value of one hexadecimal character, or -1 when it ends the number. The
// characters 0x2A..0x3F all count by their low four bits, which gives '0'..'9'
// their values (and makes a few punctuation marks digits, as the firmware
// tools that produce these strings expect).
int hexDigit(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x2A && u <= 0x3F) {
        return u & 0x0F;
    }
    if (u >= 'a' && u <= 'f') {
        return u - 'a' + 10;
    }
    if (u >= 'A' && u <= 'F') {
        return u - 'A' + 10;
    }
    return -1;
}

// Leading decimal digits of [begin, end); 0 when there are none.
uint32_t decimalPrefix(const char* begin, const char* end) {
    uint32_t value = 0;
    for (const char* p = begin; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
    return value;
}

// One key of the US layout: the characters it types unshifted and shifted.
struct XTKey {
    char plain;
    char shifted;
    uint8_t code;
};

constexpr XTKey XT_KEYS[] = {
    {'1', '!', 0x02}, {'2', '@', 0x03}, {'3', '#', 0x04}, {'4', '$', 0x05},
    {'5', '%', 0x06}, {'6', '^', 0x07}, {'7', '&', 0x08}, {'8', '*', 0x09},
    {'9', '(', 0x0A}, {'0', ')', 0x0B}, {'-', '_', 0x0C}, {'=', '+', 0x0D},
    {'q', 'Q', 0x10}, {'w', 'W', 0x11}, {'e', 'E', 0x12}, {'r', 'R', 0x13},
    {'t', 'T', 0x14}, {'y', 'Y', 0x15}, {'u', 'U', 0x16}, {'i', 'I', 0x17},
    {'o', 'O', 0x18}, {'p', 'P', 0x19}, {'[', '{', 0x1A}, {']', '}', 0x1B},
    {'a', 'A', 0x1E}, {'s', 'S', 0x1F}, {'d', 'D', 0x20}, {'f', 'F', 0x21},
    {'g', 'G', 0x22}, {'h', 'H', 0x23}, {'j', 'J', 0x24}, {'k', 'K', 0x25},
    {'l', 'L', 0x26}, {';', ':', 0x27}, {'\'', '"', 0x28}, {'`', '~', 0x29},
    {'\\', '|', 0x2B}, {'z', 'Z', 0x2C}, {'x', 'X', 0x2D}, {'c', 'C', 0x2E},
    {'v', 'V', 0x2F}, {'b', 'B', 0x30}, {'n', 'N', 0x31}, {'m', 'M', 0x32},
    {',', '<', 0x33}, {'.', '>', 0x34}, {'/', '?', 0x35}, {' ', ' ', 0x39},
};

struct XTTable {
    uint8_t codes[256];
};

constexpr XTTable buildXTScancodes() {
    XTTable table{};
    for (uint8_t& entry : table.codes) {
        entry = XT_NO_KEY;
    }
    for (const XTKey& key : XT_KEYS) {
        table.codes[static_cast<unsigned char>(key.plain)] = key.code;
        table.codes[static_cast<unsigned char>(key.shifted)] = key.code;
    }
    return table;
}

constexpr XTTable XT_TABLE = buildXTScancodes();

}  // namespace

const uint8_t (&XTscancodes)[256] = XT_TABLE.codes;

uint32_t axtoi(const char* text) {
    uint32_t value = 0;
    for (unsigned int i = 0; i < AXTOI_MAX_DIGITS && text[i] != '\0'; ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) {
            break;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

int64 mult32(uint32_t a, uint32_t b) {
    constexpr uint32_t HALF_MASK = 0xFFFF;
    constexpr unsigned int HALF_BITS = 16;
    const uint32_t aLow = a & HALF_MASK;
    const uint32_t aHigh = a >> HALF_BITS;
    const uint32_t bLow = b & HALF_MASK;
    const uint32_t bHigh = b >> HALF_BITS;

    const uint32_t lowLow = aLow * bLow;
    const uint32_t lowHigh = aLow * bHigh;
    const uint32_t highLow = aHigh * bLow;
    const uint32_t highHigh = aHigh * bHigh;

    // Column 16..31: upper half of low*low plus the lower halves of the cross
    // products; its carry goes into column 32..47.
    const uint32_t middle = (lowLow >> HALF_BITS) + (lowHigh & HALF_MASK) + (highLow & HALF_MASK);
    int64 product;
    product.low = (lowLow & HALF_MASK) | (middle << HALF_BITS);
    product.high = highHigh + (lowHigh >> HALF_BITS) + (highLow >> HALF_BITS) +
                   (middle >> HALF_BITS);
    return product;
}

int64 add64(int64 a, int64 b) {
    constexpr uint32_t TOP_BIT = 0x80000000;
    int64 sum;
    sum.low = a.low + b.low;
    sum.high = a.high + b.high;
    const bool bothTop = (a.low & TOP_BIT) && (b.low & TOP_BIT);
    const bool oneTop = ((a.low ^ b.low) & TOP_BIT) != 0;
    if (bothTop || (oneTop && !(sum.low & TOP_BIT))) {
        ++sum.high;
    }
    return sum;
}

char* allocstr(const char* text) {
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

uint32_t version2l(uint8_t major, uint8_t minor, uint8_t build) {
    return major * VERSION_MAJOR_SCALE + minor * VERSION_MINOR_SCALE + build;
}

uint32_t version2l(const char* text) {
    const char* end = text;
    while (*end != '\0' && end - text < static_cast<long>(VERSION_TEXT_MAX)) {
        ++end;
    }
    uint32_t parts[3] = {0, 0, 0};
    const char* part = text;
    for (uint32_t& value : parts) {
        if (part > end) {
            break;  // fewer parts than three: the rest stay 0
        }
        const char* dot = part;
        while (dot < end && *dot != '.') {
            ++dot;
        }
        value = decimalPrefix(part, dot);
        part = dot + 1;
    }
    return parts[0] * VERSION_MAJOR_SCALE + parts[1] * VERSION_MINOR_SCALE + parts[2];
}
