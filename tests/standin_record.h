// Shared by the stand-in driver libraries: every entry point appends one line
// describing its arguments; the tests read and clear the record.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::string record;
void note(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    record += line;
    record += '\n';
}
}  // namespace

extern "C" const char* standinRecord() { return record.c_str(); }
extern "C" void standinClear() { record.clear(); }
