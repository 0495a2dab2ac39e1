// The access trace of a simulated host: one entry per host call, in call order.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class TraceKind : uint8_t {
    In,     // port read: address = port, size = width, value = value read
    Out,    // port write: address = port, size = width, value = value written
    MemR,   // memory read: address, size = length, value = bytes (lengths 1, 2, 4)
    MemW,   // memory write: same
    Sleep,  // value = milliseconds
    Call,   // any other host operation: op = its name in lower case
};

struct TraceEntry {
    TraceKind kind;
    uint32_t address;
    uint32_t size;
    uint32_t value;
    const char* op;  // for Call: static operation name; otherwise null

    bool operator==(const TraceEntry& o) const;
};

// Lengths of a memory access whose bytes the trace keeps as a value.
bool traceKeepsValue(uint32_t length);
// Little-endian value of 1, 2 or 4 bytes (0 for other lengths).
uint32_t traceValueOf(const uint8_t* bytes, uint32_t length);

// One line of the text trace, without the newline, e.g. "in 0xcfc 4 0x1008086",
// "memr 0xff800000 4096 -", "sleep 1", "reboot".
std::string formatTraceEntry(const TraceEntry& e);
// Writes every entry as a line; false when the file cannot be written.
bool writeTraceFile(const std::string& path, const std::vector<TraceEntry>& entries);
