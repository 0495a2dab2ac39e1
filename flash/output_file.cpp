#include "flash/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t OUTPUT_MODE = 0644;

std::string directoryOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

int failed(int error, const std::string& what, std::string* why) {
    *why = what + ": " + std::strerror(error);
    return error;
}

}  // namespace

int checkOutputName(const char* name, std::string* why) {
    struct stat info {};
    if (lstat(name, &info) == 0) {
        if (S_ISLNK(info.st_mode))
            return failed(ELOOP, std::string(name) + " is a symbolic link", why);
        if (!S_ISREG(info.st_mode))
            return failed(EEXIST, std::string(name) + " exists and is not a regular file", why);
    } else if (errno != ENOENT) {
        return failed(errno, name, why);
    }
    const std::string directory = directoryOf(name);
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        return failed(errno, "cannot create files in " + directory, why);
    return 0;
}

int writeOutputFile(const char* name, const void* data, size_t size, std::string* why) {
    const std::string temporary = std::string(name) + ".tmp" + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        OUTPUT_MODE);
    if (fd < 0) return failed(errno, "cannot create " + temporary, why);
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size && error == 0) {
        const ssize_t wrote = write(fd, bytes + done, size - done);
        if (wrote < 0 && errno != EINTR) error = errno;
        if (wrote > 0) done += size_t(wrote);
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), name) != 0) error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return failed(error, std::string("cannot write ") + name, why);
    }
    return 0;
}
