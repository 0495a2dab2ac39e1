// Small numeric and string helpers shared by the platform and the identity-data
// code. None of them holds state.
#pragma once
#include <cstdint>

// Unsigned 64-bit value as two 32-bit words: high * 2^32 + low.
struct int64 {
    uint32_t low;
    uint32_t high;
};

// Hexadecimal text to a value: at most the first 8 characters, up to the first
// character that is not a digit. Characters 0x2A..0x3F count as their low four
// bits, 'a'..'f' and 'A'..'F' as 10..15.
uint32_t axtoi(const char* text);

// Exact 64-bit product of two 32-bit values.
int64 mult32(uint32_t a, uint32_t b);

// Sum of two 64-bit values modulo 2^64.
int64 add64(int64 a, int64 b);

// New array copy of a NUL-terminated string (terminator included); the caller
// releases it with delete[].
char* allocstr(const char* text);

// major * 0x1000000 + minor * 0x1000 + build (minor in bits 12..19).
uint32_t version2l(uint8_t major, uint8_t minor, uint8_t build);
// The same packing of a text "major.minor.build"; missing or non-numeric parts
// count as 0. Only the first 255 characters are looked at.
uint32_t version2l(const char* text);

// Scan code set 1 make code of the US-layout key that types each character
// (shifted characters share their key's code); 0xFF for no key.
constexpr uint8_t XT_NO_KEY = 0xFF;
extern const uint8_t (&XTscancodes)[256];
