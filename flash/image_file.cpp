#include "flash/image_file.h"

#include <unistd.h>

#include <cstdio>

#include "os/file_access.h"

ImageOpen openImageFile(const char* name) {
    ImageOpen result;
    // The name is the user's own choice: a link to an image is followed.
    InputFile in = openInputFile(name, Links::Follow);
    result.notRegular = in.notRegular;
    if (in.fd < 0) return result;
    const int fd = in.release();
    result.file.reset(fdopen(fd, "rb"));
    if (!result.file) close(fd);
    return result;
}
