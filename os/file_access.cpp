#include "os/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct FileKindRow {
    mode_t type;
    const char* name;
};
const FileKindRow FILE_KINDS[] = {
    {S_IFREG, "regular file"},     {S_IFDIR, "directory"},    {S_IFIFO, "FIFO"},
    {S_IFCHR, "character device"}, {S_IFBLK, "block device"}, {S_IFSOCK, "socket"},
    {S_IFLNK, "symbolic link"},
};
constexpr const char* OTHER_KIND = "special file";

constexpr mode_t OUTPUT_MODE = 0644;  // before the umask, as fopen would create it
constexpr int TEMP_NAME_TRIES = 100;  // names taken by someone else before we give up
constexpr const char* DISCARDING_DEVICES[] = {"/dev/null", "/dev/zero", "/dev/full"};

std::string withReason(const std::string& what, int why) {
    return what + ": " + std::strerror(why);
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// The directory part of path, for stat ("." when there is none).
std::string directoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

const char* fileKindName(mode_t mode) {
    for (const FileKindRow& row : FILE_KINDS)
        if ((mode & S_IFMT) == row.type) return row.name;
    return OTHER_KIND;
}

// ---- Reading ---------------------------------------------------------------------

InputFile::~InputFile() {
    if (fd >= 0) ::close(fd);
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd(other.fd), size(other.size), notRegular(other.notRegular), error(other.error) {
    other.fd = -1;
}

int InputFile::release() {
    const int handed = fd;
    fd = -1;
    return handed;
}

InputFile openInputFile(const char* path, Links links, int dirFd) {
    InputFile in;
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and
    // fstat then refuses it; O_NOFOLLOW where a link is not the user's choice.
    const int flags =
        O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::openat(dirFd, path, flags);
    if (fd < 0) {
        in.error = errno;
        // A socket cannot be opened at all, and a refused link reads ELOOP:
        // name what the path is rather than the error.
        struct stat st;
        const int statFlags = links == Links::Refuse ? AT_SYMLINK_NOFOLLOW : 0;
        if ((in.error == ELOOP || in.error == ENXIO) && ::fstatat(dirFd, path, &st, statFlags) == 0 &&
            !S_ISREG(st.st_mode))
            in.notRegular = fileKindName(st.st_mode);
        return in;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        in.error = errno;
        ::close(fd);
        return in;
    }
    if (!S_ISREG(st.st_mode)) {
        in.notRegular = fileKindName(st.st_mode);
        ::close(fd);
        return in;
    }
    // Reads of a regular file never block; clear the flag for stdio's sake.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    in.fd = fd;
    in.size = uint64_t(st.st_size);
    return in;
}

std::string inputRefusal(const InputFile& in, const std::string& shown) {
    if (in.notRegular != nullptr) return shown + " is a " + in.notRegular + ", not a regular file";
    return withReason("cannot read " + shown, in.error != 0 ? in.error : EIO);
}

bool readOpenedFile(const InputFile& in, const std::string& shown, size_t maxSize,
                    std::vector<uint8_t>& out, std::string* error) {
    if (in.fd < 0) return fail(error, inputRefusal(in, shown));
    if (in.size > maxSize)
        return fail(error, shown + " holds " + std::to_string(in.size) + " bytes, more than the " +
                               std::to_string(maxSize) + " it may hold");
    // Read one byte past the length to tell a file that grew meanwhile.
    out.resize(size_t(in.size) + 1);
    size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(in.fd, out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(error, withReason("cannot read " + shown, errno));
        if (n == 0) break;
        got += size_t(n);
        if (got > maxSize)
            return fail(error, shown + " grew past " + std::to_string(maxSize) +
                                   " bytes while it was read");
    }
    out.resize(got);
    return true;
}

bool readInputFile(const char* path, Links links, size_t maxSize, std::vector<uint8_t>& out,
                   std::string* error, int dirFd) {
    return readOpenedFile(openInputFile(path, links, dirFd), path, maxSize, out, error);
}

// ---- Writing ---------------------------------------------------------------------

OutputFile::~OutputFile() { discard(); }

// The devices that keep nothing are written to directly: /dev/null and
// /dev/zero discard, /dev/full refuses every write with ENOSPC. Output the
// user does not want (a trace) can so be thrown away without landing on disk.
// Any other device (/dev/mem, a disk) is refused.
bool OutputFile::isDiscardingDevice(const struct stat& named) {
    if (!S_ISCHR(named.st_mode)) return false;
    for (const char* device : DISCARDING_DEVICES) {
        struct stat st;
        if (::stat(device, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == named.st_rdev)
            return true;
    }
    return false;
}

bool OutputFile::openDevice(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    stream_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (stream_ == nullptr) {
        const int why = errno;
        if (fd >= 0) ::close(fd);
        return fail(error, withReason("cannot write " + path, why));
    }
    path_ = path;
    return true;
}

// What path names now: 0 absent or a regular file, 1 a device that keeps
// nothing, -1 refused (the reason in *error).
int OutputFile::classify(const std::string& path, std::string* error) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return 0;
        fail(error, withReason("cannot write " + path, errno));
        return -1;
    }
    if (isDiscardingDevice(st)) return 1;
    if (S_ISREG(st.st_mode)) return 0;
    fail(error, path + " is a " + fileKindName(st.st_mode) +
                    ", not a regular file; nothing was written to it");
    return -1;
}

bool checkOutputPath(const std::string& path, std::string* error) {
    const int kind = OutputFile::classify(path, error);
    if (kind != 0) return kind > 0;
    const std::string directory = directoryOf(path);
    if (::access(directory.c_str(), W_OK | X_OK) != 0)
        return fail(error, withReason("cannot create files in " + directory, errno));
    return true;
}

bool OutputFile::open(const std::string& path, std::string* error) {
    discard();
    const int kind = classify(path, error);
    if (kind < 0) return false;
    if (kind > 0) return openDevice(path, error);
    // The temporary: a name of our own beside path, created exclusively and
    // never through a link, so nobody else's file is ever opened for writing.
    for (int attempt = 0; attempt < TEMP_NAME_TRIES; ++attempt) {
        const std::string temp = path + ".tmp" + std::to_string(::getpid()) + "." +
                                 std::to_string(attempt);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              OUTPUT_MODE);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return fail(error, withReason("cannot write " + path, errno));
        stream_ = ::fdopen(fd, "wb");
        if (stream_ == nullptr) {
            const int why = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(error, withReason("cannot write " + path, why));
        }
        path_ = path;
        temp_ = temp;
        return true;
    }
    return fail(error, withReason("cannot write " + path, EEXIST));
}

bool OutputFile::write(const void* data, size_t length, std::string* error) {
    if (stream_ == nullptr) return fail(error, "cannot write " + path_ + ": not open");
    if (std::fwrite(data, 1, length, stream_) == length) return true;
    return fail(error, withReason("cannot write " + path_, errno));
}

bool OutputFile::commit(std::string* error) {
    if (stream_ == nullptr) return fail(error, "cannot write " + path_ + ": not open");
    errno = 0;
    bool ok = std::fflush(stream_) == 0 && !std::ferror(stream_);
    int why = errno;
    if (ok && !temp_.empty() && ::fsync(::fileno(stream_)) != 0) {
        ok = false;
        why = errno;
    }
    if (std::fclose(stream_) != 0 && ok) {
        ok = false;
        why = errno;
    }
    stream_ = nullptr;
    if (ok && !temp_.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        if (!temp_.empty()) ::unlink(temp_.c_str());
        temp_.clear();
        return fail(error, withReason("cannot write " + path_, why != 0 ? why : EIO));
    }
    temp_.clear();
    return true;
}

void OutputFile::discard() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

bool writeOutputFile(const std::string& path, const void* data, size_t length,
                     std::string* error) {
    OutputFile out;
    return out.open(path, error) && out.write(data, length, error) && out.commit(error);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool isInsideDirectory(const std::string& path, int dirFd) {
    struct stat parent, dir;
    return ::stat(directoryOf(path).c_str(), &parent) == 0 && ::fstat(dirFd, &dir) == 0 &&
           parent.st_dev == dir.st_dev && parent.st_ino == dir.st_ino;
}
