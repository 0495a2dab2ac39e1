// Opening an image file: only a regular file is an image, and opening one
// never blocks (a FIFO would wait for a writer for ever, a device could be
// read without end).
#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>

// A file that holds only the BIOS region carries the start of the firmware
// file system GUID of its volume header, D9 54, at offset 0x10.
constexpr std::size_t REGION_MARK_OFFSET = 0x10;
constexpr unsigned char REGION_MARK[2] = {0xD9, 0x54};

// Whether the first `size` bytes of an image carry the region mark.
inline bool hasRegionMark(const unsigned char* image, std::size_t size) {
    return size >= REGION_MARK_OFFSET + sizeof REGION_MARK &&
           image[REGION_MARK_OFFSET] == REGION_MARK[0] && image[REGION_MARK_OFFSET + 1] == REGION_MARK[1];
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct ImageOpen {
    FileHandle file;                  // open for binary reading; null when refused
    const char* notRegular = nullptr; // what the name is instead ("directory", "FIFO" ...)
};

// Opens the named file for binary reading when it is a regular file. A name
// that does not exist or cannot be opened gives neither a file nor a kind.
ImageOpen openImageFile(const char* name);
