#include "sim/store/dir_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/file_access.h"
#include "tables/sha256.h"

namespace {

constexpr mode_t DIR_MODE = 0755;
constexpr mode_t FILE_MODE = 0644;

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

bool failErrno(std::string* error, const std::string& what) {
    return fail(error, what + ": " + std::strerror(errno));
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

bool writeAll(int fd, const std::vector<uint8_t>& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

std::string pending(const std::string& name) { return name + PENDING_SUFFIX; }

// Writes name's temporary copy: any old one (left by a killed save, or planted)
// is unlinked first, and the new one is created exclusively, so a link in its
// place is never followed.
bool writePending(const DirHandle& dir, const std::string& name, const std::vector<uint8_t>& data,
                  std::string* error) {
    const std::string temp = pending(name);
    if (::unlinkat(dir.fd(), temp.c_str(), 0) != 0 && errno != ENOENT)
        return failErrno(error, "cannot remove " + dir.pathOf(temp));
    Fd f(::openat(dir.fd(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  FILE_MODE));
    if (f.fd < 0) return failErrno(error, "cannot create " + dir.pathOf(temp));
    if (!writeAll(f.fd, data) || ::fsync(f.fd) != 0)
        return failErrno(error, "cannot write " + dir.pathOf(temp));
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) return failErrno(error, "cannot write " + dir.pathOf(temp));
    killPoint("save");
    return true;
}

bool renamePending(const DirHandle& dir, const std::string& name, std::string* error) {
    if (::renameat(dir.fd(), pending(name).c_str(), dir.fd(), name.c_str()) != 0)
        return failErrno(error, "cannot rename " + dir.pathOf(pending(name)));
    killPoint("save");
    return true;
}

bool syncDir(const DirHandle& dir, std::string* error) {
    if (::fsync(dir.fd()) != 0) return failErrno(error, "cannot sync " + dir.path());
    return true;
}

bool hasDigest(const std::vector<uint8_t>& data, const std::string& digest) {
    return sha256Hex(data.data(), data.size()) == digest;
}

}  // namespace

DirHandle::~DirHandle() {
    if (fd_ >= 0) ::close(fd_);
}

bool DirHandle::open(const std::string& path, bool create, std::string* error) {
    if (create && ::mkdir(path.c_str(), DIR_MODE) != 0 && errno != EEXIST)
        return failErrno(error, "cannot create " + path);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failErrno(error, "cannot open the machine directory " + path);
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    path_ = path;
    return true;
}

bool DirHandle::list(std::vector<std::string>& names, std::string* error) const {
    int copy = ::dup(fd_);
    DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!d) {
        if (copy >= 0) ::close(copy);
        return failErrno(error, "cannot list " + path_);
    }
    ::rewinddir(d);
    names.clear();
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    ::closedir(d);
    return true;
}

bool readDirFile(const DirHandle& dir, const std::string& name, size_t limit,
                 std::vector<uint8_t>& out, std::string* error) {
    const std::string shown = dir.pathOf(name);
    const InputFile in = openInputFile(name.c_str(), Links::Refuse, dir.fd());
    if (in.fd < 0 && in.error == ENOENT) return fail(error, "missing " + shown);
    return readOpenedFile(in, shown, limit, out, error);
}

bool readUserFile(const std::string& path, size_t limit, std::vector<uint8_t>& out,
                  std::string* error) {
    return readInputFile(path.c_str(), Links::Follow, limit, out, error);
}

bool writeUserFile(const std::string& path, const std::vector<uint8_t>& data, std::string* error) {
    return writeOutputFile(path, data.data(), data.size(), error);
}

bool outsideDirectory(const DirHandle& dir, const std::string& path, const std::string& what,
                      std::string* error) {
    if (!isInsideDirectory(path, dir.fd())) return true;
    return fail(error, what + " " + path + " would be written into the machine directory " +
                           dir.path() + "; nothing was written");
}

bool commitFileSet(const DirHandle& dir, const std::vector<SavedFile>& files,
                   const std::string& indexName, const std::string& indexBody, std::string* error) {
    for (const SavedFile& f : files)
        if (!writePending(dir, f.name, *f.bytes, error)) return false;
    const std::vector<uint8_t> index(indexBody.begin(), indexBody.end());
    if (!writePending(dir, indexName, index, error) || !syncDir(dir, error)) return false;
    // The commit: from here on the index names the new files.
    if (!renamePending(dir, indexName, error)) return false;
    for (const SavedFile& f : files)
        if (!renamePending(dir, f.name, error)) return false;
    return syncDir(dir, error);
}

bool settleFileSet(const DirHandle& dir,
                   const std::vector<std::pair<std::string, std::string>>& recorded,
                   std::string* error) {
    std::vector<std::string> names;
    if (!dir.list(names, error)) return false;
    const size_t suffix = std::strlen(PENDING_SUFFIX);
    for (const std::string& temp : names) {
        if (temp.size() <= suffix || temp.compare(temp.size() - suffix, suffix, PENDING_SUFFIX) != 0)
            continue;
        const std::string name = temp.substr(0, temp.size() - suffix);
        bool current = false;
        for (const auto& [file, digest] : recorded) {
            std::vector<uint8_t> bytes;
            if (file == name && readDirFile(dir, temp, SIZE_MAX / 2, bytes, nullptr))
                current = hasDigest(bytes, digest);
        }
        if (current) {
            if (!renamePending(dir, name, error)) return false;
        } else if (::unlinkat(dir.fd(), temp.c_str(), 0) != 0 && errno != ENOENT) {
            return failErrno(error, "cannot remove " + dir.pathOf(temp));
        }
    }
    return syncDir(dir, error);
}

bool readRecordedFile(const DirHandle& dir, const std::string& name, const std::string& digest,
                      size_t limit, std::vector<uint8_t>& out, std::string* error) {
    std::string why;
    if (readDirFile(dir, name, limit, out, &why) && hasDigest(out, digest)) return true;
    std::vector<uint8_t> temp;
    if (readDirFile(dir, pending(name), limit, temp, nullptr) && hasDigest(temp, digest)) {
        out = std::move(temp);
        return true;
    }
    return fail(error, why.empty() ? dir.pathOf(name) + " does not match machine.txt" : why);
}

DirLock::Result DirLock::tryTake(const DirHandle& dir, const char* name, std::string* error) {
    release();
    int fd = ::openat(dir.fd(), name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      FILE_MODE);
    if (fd < 0) {
        failErrno(error, "cannot open the lock " + dir.pathOf(name));
        return Failed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(error, dir.pathOf(name) + " is not a regular file");
        return Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        ::close(fd);
        if (why == EWOULDBLOCK) return Busy;
        errno = why;
        failErrno(error, "cannot lock " + dir.pathOf(name));
        return Failed;
    }
    fd_ = fd;
    return Taken;
}

void DirLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool writeOutsideMachine(const std::string& dir, const std::string& path, const std::string& what,
                         const std::vector<uint8_t>& bytes, std::string* error) {
    DirHandle handle;
    return handle.open(dir, false, error) && outsideDirectory(handle, path, what, error) &&
           writeUserFile(path, bytes, error);
}
