// Files the updater writes (a dump of the flash, the run report): checked
// before any work starts, written whole or not at all, never through a link.
#pragma once
#include <cstddef>
#include <string>

// 0 when `name` can be written safely: it does not exist or is a regular file
// (not a link), and its directory takes new files. Otherwise the errno-style
// reason, described in *why.
int checkOutputName(const char* name, std::string* why);

// Writes the bytes to a new file beside `name` (created exclusively, never
// following a link) and renames it over `name`. 0, or the errno of the step
// that failed, described in *why; the temporary file is removed then.
int writeOutputFile(const char* name, const void* data, size_t size, std::string* why);
