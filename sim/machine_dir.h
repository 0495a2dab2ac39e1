// A simulated machine kept in a directory between tool invocations:
//   machine.txt   "key: value" lines: format, model, configuration, bank
//                 status registers, active bank, figures of the last run, the
//                 SHA-256 of each binary file and a checksum of the lines above
//   primary.bin   the primary bank's flash part, whole
//   backup.bin    the backup bank's flash part, whole
//   legacy.bin    the 64 KiB legacy BIOS area (0xF0000..0xFFFFF)
//   volatile.bin  the chipset's register state when the machine was saved
// Every file is written to a temporary name and renamed into place; machine.txt
// goes last, so an interrupted save is seen as damage on the next load.
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
};

// Writes the machine and the record into dir (created if missing).
bool saveMachineDir(const std::string& dir, Machine& machine, const MachineRecord& record,
                    std::string* error);

// Reads a machine back. Null, with the reason in *error, when a file is
// missing, has the wrong size, or does not match machine.txt.
std::unique_ptr<Machine> loadMachineDir(const std::string& dir, MachineRecord& record,
                                        std::string* error);

// A whole decimal, 0x-hexadecimal or 0-octal number, nothing else around it.
bool parseUnsigned(const std::string& text, uint64_t& value);
