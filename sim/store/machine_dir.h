// A simulated machine kept in a directory between tool invocations:
//   machine.txt   "key: value" lines: format, model, configuration, bank
//                 status registers, active bank, figures of the last run, the
//                 SHA-256 of each binary file and a checksum of the lines above
//   primary.bin   the primary bank's flash part, whole
//   backup.bin    the backup bank's flash part, whole
//   legacy.bin    the 64 KiB legacy BIOS area (0xF0000..0xFFFFF)
//   volatile.bin  the chipset's register state when the machine was saved
//   lock          locked by the run that owns the machine (see sim/tool/run.cpp)
// A save replaces them all as one change (sim/store/dir_files.h): a kill at any
// moment leaves either the previous save or the new one.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class Machine;

// What the directory records beside the machine's own state.
struct MachineRecord {
    std::string model;               // the board model the machine was made as
    uint64_t lastRunNs = 0;          // virtual time the last run took
    uint64_t lastErasedBytes = 0;    // both banks, during the last run
    uint64_t lastProgrammedBytes = 0;
    uint64_t lastStatusWrites = 0;   // write-status cycles the parts performed
    uint64_t lastSectorErases = 0;   // 4 KiB erases the parts performed
    uint64_t lastBlockErases = 0;    // 64 KiB erases the parts performed
    uint64_t savedRuns = 0;          // runs saved into the machine since it was made
    std::string stamp = {};          // on load: what identifies the save that was read
};

// Name of the file a run locks in the machine directory.
constexpr const char* MACHINE_LOCK_FILE = "lock";

// Writes the machine and the record into dir (created if missing). The caller
// holds the directory's lock.
bool saveMachineDir(const std::string& dir, Machine& machine, const MachineRecord& record,
                    std::string* error);

// Reads a machine back. Null, with the reason in *error, when a file is
// missing, has the wrong size, or does not match machine.txt. Needs no lock: a
// save that commits meanwhile makes it read again.
std::unique_ptr<Machine> loadMachineDir(const std::string& dir, MachineRecord& record,
                                        std::string* error);

// The stamp of the save the directory holds now ("" when there is none).
std::string machineDirStamp(const std::string& dir);

// A whole decimal or 0x-hexadecimal number, nothing else around it.
bool parseUnsigned(const std::string& text, uint64_t& value);
