// Every file the updater and the simulator tool open goes through here. Both
// run as root, often in a shared or scratch directory, so:
// - a file is read only when it is a regular file, opened without blocking (a
//   FIFO would wait for a writer for ever) and no larger than its format allows;
// - a file is written only through a new file created exclusively beside it
//   and renamed over the name when complete, so a link planted under the name
//   is replaced, never written through, and a reader never sees half a file;
//   a name that is a link, directory, FIFO, device or socket is refused
//   (/dev/null, /dev/zero and /dev/full aside: they keep nothing).
// Every refusal carries the system's reason.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What a file is when it is not a regular file ("FIFO", "symbolic link" ...).
const char* fileKindName(mode_t mode);

// Whether a path the user names may be a symbolic link to the file.
enum class Links { Refuse, Follow };

// An input file, opened for reading.
struct InputFile {
    int fd = -1;                       // -1 when refused
    uint64_t size = 0;                 // the file's length when opened
    const char* notRegular = nullptr;  // what the path is instead of a regular file
    int error = 0;                     // errno of a failed open or stat
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile(InputFile&& other) noexcept;
    // Hands the descriptor over (to fdopen); the caller closes it.
    int release();
};

// Opens path (relative to dirFd, AT_FDCWD for the working directory) for
// reading when it is a regular file; never blocks. With Links::Refuse a final
// component that is a link is refused (notRegular "symbolic link").
InputFile openInputFile(const char* path, Links links, int dirFd = AT_FDCWD);

// The sentence that says why `in` was refused, naming shown: "NAME is a FIFO,
// not a regular file" or "cannot read NAME: REASON".
std::string inputRefusal(const InputFile& in, const std::string& shown);

// Reads a regular file whole. A file longer than maxSize is refused before a
// byte is read (and a file that grows past it while read). The reason of a
// refusal is in *error.
bool readInputFile(const char* path, Links links, size_t maxSize, std::vector<uint8_t>& out,
                   std::string* error, int dirFd = AT_FDCWD);
// The same for a file already opened; shown names it in the refusal.
bool readOpenedFile(const InputFile& in, const std::string& shown, size_t maxSize,
                    std::vector<uint8_t>& out, std::string* error);

// A file being written: created exclusively under a temporary name beside
// path, renamed over path by commit(). Destroyed uncommitted, it is removed and
// path is left as it was.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Refuses a path that exists as anything but a regular file (a link, a
    // directory, a FIFO, a device, a socket); then creates the temporary.
    bool open(const std::string& path, std::string* error);
    bool isOpen() const { return stream_ != nullptr; }
    // Buffered stream of the temporary; write errors are found by commit().
    std::FILE* stream() { return stream_; }
    bool write(const void* data, size_t length, std::string* error);
    // Flushes and syncs the temporary, then renames it over the path.
    bool commit(std::string* error);
    // Removes the temporary; the path is left as it was.
    void discard();
    const std::string& path() const { return path_; }
    // 0: path is absent or a regular file; 1: a device that keeps nothing;
    // -1: refused, the reason in *error.
    static int classify(const std::string& path, std::string* error);

private:
    static bool isDiscardingDevice(const struct stat& named);
    bool openDevice(const std::string& path, std::string* error);

    std::FILE* stream_ = nullptr;
    std::string path_;
    std::string temp_;
};

// Whether path can be written by an OutputFile: it is absent or a regular
// file (or a device that keeps nothing), and its directory takes new files.
// For a check before any work starts; the reason of a refusal in *error.
bool checkOutputPath(const std::string& path, std::string* error);

// Writes data as the whole of path, through an OutputFile.
bool writeOutputFile(const std::string& path, const void* data, size_t length, std::string* error);

// True when the existing files a and b are one file (device and inode).
bool sameFile(const std::string& a, const std::string& b);
// True when path names an entry directly inside the directory open as dirFd
// (the entry need not exist).
bool isInsideDirectory(const std::string& path, int dirFd);
