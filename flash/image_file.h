// Opening an image file: only a regular file is an image, and opening one
// never blocks (a FIFO would wait for a writer for ever, a device could be
// read without end).
#pragma once
#include <cstdio>
#include <memory>

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
