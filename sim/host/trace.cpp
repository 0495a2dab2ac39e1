#include "sim/host/trace.h"

#include <cstdio>
#include <cstring>

#include "os/file_access.h"

bool TraceEntry::operator==(const TraceEntry& o) const {
    if (kind != o.kind || address != o.address || size != o.size || value != o.value)
        return false;
    if (op == nullptr || o.op == nullptr) return op == o.op;
    return std::strcmp(op, o.op) == 0;
}

bool traceKeepsValue(uint32_t length) { return length == 1 || length == 2 || length == 4; }

uint32_t traceValueOf(const uint8_t* bytes, uint32_t length) {
    if (!traceKeepsValue(length)) return 0;
    uint32_t v = 0;
    for (uint32_t i = 0; i < length; ++i) v |= uint32_t(bytes[i]) << (8 * i);
    return v;
}

// Every number in lower-case hexadecimal: addresses, ports and values with
// 0x (a value padded to two digits per byte of its width), widths, lengths
// and milliseconds as bare digits, e.g. "in 0xcfc 4 0x01008086".
std::string formatTraceEntry(const TraceEntry& e) {
    char line[80];
    switch (e.kind) {
    case TraceKind::In:
    case TraceKind::Out:
        std::snprintf(line, sizeof line, "%s 0x%x %x 0x%0*x", e.kind == TraceKind::In ? "in" : "out",
                      unsigned(e.address), unsigned(e.size), int(2 * e.size), unsigned(e.value));
        break;
    case TraceKind::MemR:
    case TraceKind::MemW: {
        const char* name = e.kind == TraceKind::MemR ? "memr" : "memw";
        if (traceKeepsValue(e.size))
            std::snprintf(line, sizeof line, "%s 0x%x %x 0x%0*x", name, unsigned(e.address),
                          unsigned(e.size), int(2 * e.size), unsigned(e.value));
        else
            std::snprintf(line, sizeof line, "%s 0x%x %x -", name, unsigned(e.address),
                          unsigned(e.size));
        break;
    }
    case TraceKind::Sleep:
        std::snprintf(line, sizeof line, "sleep %x", unsigned(e.value));
        break;
    case TraceKind::Call:
    default:
        return e.op != nullptr ? e.op : "?";
    }
    return line;
}

bool writeTraceFile(const std::string& path, const std::vector<TraceEntry>& entries) {
    OutputFile out;
    if (!out.open(path, nullptr)) return false;
    for (const TraceEntry& e : entries) {
        const std::string line = formatTraceEntry(e);
        std::fprintf(out.stream(), "%s\n", line.c_str());
    }
    return out.commit(nullptr);
}
