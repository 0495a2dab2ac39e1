// The files of a machine directory, handled so that the directory survives a
// kill at any moment and cannot be turned against the user running the tool:
// reads take regular files only and stop at a bound; a save writes every file
// under a temporary name created exclusively (never through a link), then
// renames the index file into place as the one commit point, then the rest.
// A reader that finds a file not yet renamed takes the temporary one when its
// digest is the one the index records.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Suffix of the temporary name a file is written under during a save.
constexpr const char* PENDING_SUFFIX = ".new";

// An open directory; every file operation of a save or load goes through it.
class DirHandle {
public:
    DirHandle() = default;
    ~DirHandle();
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;

    // Opens path as a directory, creating it first when create is set.
    bool open(const std::string& path, bool create, std::string* error);
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    std::string pathOf(const std::string& name) const { return path_ + "/" + name; }
    // Names in the directory, "." and ".." aside.
    bool list(std::vector<std::string>& names, std::string* error) const;

private:
    int fd_ = -1;
    std::string path_;
};

// Reads the regular file `name` of dir (never through a link) whole; refuses
// anything else, and any file longer than limit, without blocking.
bool readDirFile(const DirHandle& dir, const std::string& name, size_t limit,
                 std::vector<uint8_t>& out, std::string* error);
// The same for a file the user names (links followed, as the user asked).
bool readUserFile(const std::string& path, size_t limit, std::vector<uint8_t>& out,
                  std::string* error);
// Writes a file the user names; the reason of a failure is in *error.
bool writeUserFile(const std::string& path, const std::vector<uint8_t>& data, std::string* error);

// False, with the reason, when path names an entry of dir: an output of the
// tool (what: "the trace", "the image" ...) never lands on a machine.
bool outsideDirectory(const DirHandle& dir, const std::string& path, const std::string& what,
                      std::string* error);
// Writes an output of the tool (image, bank copy) to path, never into the
// machine directory dir.
bool writeOutsideMachine(const std::string& dir, const std::string& path, const std::string& what,
                         const std::vector<uint8_t>& bytes, std::string* error);

// One file of a save.
struct SavedFile {
    std::string name;
    const std::vector<uint8_t>* bytes;
};

// Replaces the directory's files with `files` and its index with indexBody as
// one change: before the index is renamed into place the previous save is
// intact, after it the new one is (see readRecordedFile).
bool commitFileSet(const DirHandle& dir, const std::vector<SavedFile>& files,
                   const std::string& indexName, const std::string& indexBody, std::string* error);

// Finishes what a save killed after its commit left undone: each file whose
// temporary copy has the digest the index records is renamed into place;
// other temporary files are removed. recorded: pairs of name and digest.
bool settleFileSet(const DirHandle& dir,
                   const std::vector<std::pair<std::string, std::string>>& recorded,
                   std::string* error);

// Reads `name`, or its temporary copy when only that one has the recorded
// SHA-256 (a save killed between its commit and its last rename).
bool readRecordedFile(const DirHandle& dir, const std::string& name, const std::string& digest,
                      size_t limit, std::vector<uint8_t>& out, std::string* error);

// An exclusive lock on a file of a directory, held until destroyed.
class DirLock {
public:
    enum Result { Taken, Busy, Failed };
    DirLock() = default;
    ~DirLock() { release(); }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;

    // Tries once, without waiting.
    Result tryTake(const DirHandle& dir, const char* name, std::string* error);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// In the test copy of lromup-sim: ends the process with SIGKILL at the N-th
// step of the named kind, N and kind taken from LROMUP_SIM_KILL_AT ("save:N" or
// "op:N"), so that tests can prove what a kill at any point leaves behind.
// A no-op in the shipped tool (sim/store/kill_point.cpp).
void killPoint(const char* kind);
