#include "flash/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileKindRow {
    mode_t type;
    const char* name;
};
const FileKindRow FILE_KINDS[] = {
    {S_IFDIR, "directory"},       {S_IFIFO, "FIFO"},         {S_IFCHR, "character device"},
    {S_IFBLK, "block device"},    {S_IFSOCK, "socket"},
};
constexpr const char* OTHER_KIND = "special file";

const char* kindOf(mode_t mode) {
    for (const FileKindRow& row : FILE_KINDS)
        if ((mode & S_IFMT) == row.type) return row.name;
    return OTHER_KIND;
}

}  // namespace

ImageOpen openImageFile(const char* name) {
    ImageOpen result;
    // stat first: a socket cannot be opened at all, and it still deserves to be named.
    struct stat info {};
    if (stat(name, &info) != 0) return result;
    if (!S_ISREG(info.st_mode)) {
        result.notRegular = kindOf(info.st_mode);
        return result;
    }
    // The name may have been replaced since; O_NONBLOCK keeps a FIFO swapped
    // in from blocking the open, and fstat checks what was really opened.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return result;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.notRegular = kindOf(info.st_mode);
        close(fd);
        return result;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    result.file.reset(fdopen(fd, "rb"));
    if (!result.file) close(fd);
    return result;
}
