// A SPI NOR flash part, modelled at the level of its SPI bus: chip select,
// bytes shifted in and out, and the command executed as the part datasheets
// describe (WEL, WIP, block protection, SRWD with WP#, erase to 0xFF, program
// that only clears bits and wraps within a 256-byte page).
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/board/clock.h"

// How a part's write-status command sets its protection.
enum class StatusStyle {
    BlockProtect,   // the block-protect bits are written as given
    GlobalProtect,  // Atmel: bits 5:2 all ones protect every sector, all zeros none,
                    // anything else leaves the protection; bit 4 reads WP# (WPP)
};

// One row of the part table (facts from the datasheets).
struct FlashPartInfo {
    const char* name;         // "MX25L6445E", ... or "unknown"
    uint8_t jedec[3];         // manufacturer, memory type, capacity
    uint32_t size;            // bytes
    uint8_t protectMask;      // status-register bits that hold the block-protect value
    uint64_t pageProgramNs;   // typical time to program a whole 256-byte page
    uint64_t sectorEraseNs;   // typical 4 KiB erase time
    uint64_t blockEraseNs;    // typical 64 KiB erase time
    uint64_t chipEraseNs;     // typical chip erase time
    StatusStyle statusStyle;
};

// The table, in a fixed order; findFlashPart returns null for a name not in it.
const std::vector<FlashPartInfo>& flashPartTable();
const FlashPartInfo* findFlashPart(const std::string& name);

class FlashPart {
public:
    FlashPart(const FlashPartInfo& info, SimClock& clock);

    const FlashPartInfo& info() const { return info_; }

    // SPI bus. A command is the bytes shifted in between select and deselect;
    // write status, program and erase take effect at deselect and keep the part
    // busy (WIP) for their datasheet time on the clock.
    void select();
    uint8_t transfer(uint8_t mosi);
    void deselect();

    // WP# pin: true = driven low (asserted).
    void setWriteProtect(bool asserted) { wpAsserted_ = asserted; }
    bool writeProtectAsserted() const { return wpAsserted_; }

    // WIP as seen now, and the clock time at which the part stops being busy.
    bool busy() const;
    uint64_t busyUntil() const { return busyUntil_; }

    // Direct access for the memory-mapped BIOS window, for saving and loading
    // the machine, and for tests.
    uint8_t status() const;  // status register as read by opcode 0x05 now
    void setStatus(uint8_t value);  // state restore: the bits the part stores (WEL/WIP cleared)
    // The status register as a write-status command with this value leaves
    // it, without the bus, WEL or WP# (what the factory or an earlier update did).
    void programStatus(uint8_t value);
    std::vector<uint8_t>& array() { return array_; }
    const std::vector<uint8_t>& array() const { return array_; }

    // Whether the byte at addr lies in the range the block-protect bits guard.
    bool isProtected(uint32_t addr) const;

    // Counters since construction (or the last resetCounters).
    uint64_t erasedBytes() const { return erasedBytes_; }
    uint64_t programmedBytes() const { return programmedBytes_; }
    uint64_t statusWrites() const { return statusWrites_; }  // write-status cycles performed
    uint64_t sectorErases() const { return sectorErases_; }  // 4 KiB erases performed
    uint64_t blockErases() const { return blockErases_; }    // 64 KiB erases performed
    void resetCounters() {
        erasedBytes_ = programmedBytes_ = statusWrites_ = sectorErases_ = blockErases_ = 0;
    }

    // Faults a test or the tool can inject. A bad cell keeps its erased bits:
    // programs appear to succeed and the byte still reads 0xFF. The page
    // program numbered dropProgramAt (from 1, over this part's accepted page
    // programs) keeps the part busy as usual but changes nothing.
    std::optional<uint32_t> badCell;
    uint64_t dropProgramAt = 0;  // 0: none

    // Called as an erase or program operation is about to start (after the
    // part has accepted it). Returning false makes the operation not happen.
    // The machine uses it to cut the power at a chosen operation.
    std::function<bool()> onOperationStart;

    // Called at every deselect with the bytes shifted in during that
    // selection, whether or not the part acted on them: a log of the bus.
    std::function<void(const std::vector<uint8_t>& mosi)> onCommand;

    // The SPI controller shifts a whole sequence in one call, ahead of the
    // clock; it says how far past the clock the current byte lies, so that
    // busy checks and busy times use the time the byte is really on the bus.
    void setTimeAhead(uint64_t ns) { timeAhead_ = ns; }

    // Complete state restore: status register including WEL, and the clock
    // time the operation in flight ends (0: none).
    void restoreState(uint8_t statusWithWel, uint64_t busyUntil);

private:
    void execute();
    bool acceptChange(bool refused);
    uint64_t now() const { return clock_.ns + timeAhead_; }
    uint32_t protectedBytes() const;
    uint8_t writableStatusBits() const;
    uint32_t commandAddress() const;  // bytes 1..3, big-endian, within the array
    bool operationAllowed();          // asks onOperationStart
    void startBusy(uint64_t ns) { busyUntil_ = now() + ns; }
    void writeStatus();
    void applyStatusWrite(uint8_t value);
    void pageProgram();
    void sectorErase();
    void blockErase();
    void chipErase();

    FlashPartInfo info_;
    SimClock& clock_;
    std::vector<uint8_t> array_;
    uint8_t status_ = 0;  // persistent bits (BP, TB/SPRL, SRWD); WEL kept here too
    bool wpAsserted_ = false;
    bool selected_ = false;
    std::vector<uint8_t> command_;  // bytes received in this selection
    bool ignored_ = false;          // selection began while busy with a non-RDSR opcode
    uint64_t timeAhead_ = 0;
    uint64_t busyUntil_ = 0;
    uint64_t erasedBytes_ = 0;
    uint64_t programmedBytes_ = 0;
    uint64_t statusWrites_ = 0;
    uint64_t sectorErases_ = 0;
    uint64_t blockErases_ = 0;
    uint64_t pagePrograms_ = 0;  // accepted page programs, for dropProgramAt
};
