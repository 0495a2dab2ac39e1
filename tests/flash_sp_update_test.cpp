// The service-processor update and compare procedures, end to end against the
// simulated service processor: what ends up in its flash, what the user reads,
// and how each fault of the service processor ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "chipset/splpc.h"
#include "flash/flashsp.h"
#include "sim/board/service_processor.h"
#include "sp_rig.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct SpUpdateTest : ::testing::Test {
    explicit SpUpdateTest(const SpFaults& faults = SpFaults()) : board(faults) {
        image = spApplicationImage(5);
        board.dir.write("LPCSPFW.BIN", image);
        kernel.assign(board.sp().flash().begin(), board.sp().flash().begin() + 0x4000);
    }
    SpBoard board;
    Bytes image, kernel;
};

TEST_F(SpUpdateTest, AFailedRunStillResetsAndReleasesTheMailbox) {
    board.sp().faults.blockError = true;
    board.sp().faults.blockErrorAt = 0x9000;
    board.sp().setProfile(0x05);
    {
        SPLPCChipset chipset(&board.os, &board.platform);
        ASSERT_EQ(chipset.erase(0, 0, 0), 0);
        board.sp().setProfile(0x00);  // as a new application may: the profile found goes back
        const uint64_t resets = board.sp().resets();
        std::string out, err;
        EXPECT_EQ(quietly([&] { return chipset.program(0x4000, 0x10000, 0, image.data()); }, &out, &err), 1);
        EXPECT_EQ(occurrences(out, "\n... Error code 05h while flashing ...\n"), 5u);
        EXPECT_NE(err.find("Service Processor Firmware Update Failed.\n\n\n"), std::string::npos);
        EXPECT_GT(board.sp().resets(), resets + 5);  // the re-erases and the final reset
        EXPECT_EQ(board.sp().profile(), 0x05);
        EXPECT_FALSE(board.sp().semaphoreSet());
        EXPECT_EQ(WeOwnLpcSemaphore, 0);
    }
    EXPECT_FALSE(board.sp().semaphoreSet());
}

// An update writes the application area only, each block but the erased ones
// (which send nothing), and rides out faults by its own retries; a weak cell
// found by the validation is erased again before the second attempt.
TEST_F(SpUpdateTest, UpdatesEndWithTheFileInTheApplicationArea) {
    struct Case { const char* name; void (*fault)(SpFaults&); const char* said; uint64_t flashStarts, attempts; };
    const Case cases[] = {
        {"no fault", [](SpFaults&) {}, nullptr, 1, 1},
        {"erase error once", [](SpFaults& f) { f.eraseErrors = 1; },
         "An error occurred during the erase process, retrying...", 2, 1},
        {"weak cell", [](SpFaults& f) { f.weakCell = true, f.weakCellAt = 0x6003; },
         "Error validating data at offset06000h...\n\n", 2, 2},
        {"reset fails", [](SpFaults& f) { f.resetFails = true; }, nullptr, 1, 1},
        {"damaged replies", [](SpFaults& f) { f.badChecksumEvery = 997; }, nullptr, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.sp().faults = SpFaults();
        c.fault(board.sp().faults);
        board.sp().powerOn();
        const uint64_t starts = board.sp().flashStarts();
        std::string err;
        EXPECT_EQ(quietly([&] { return FlashLPCSP(&board.os, &board.platform); }, nullptr, &err), 0);
        EXPECT_TRUE(board.application() == image);
        EXPECT_TRUE(Bytes(board.sp().flash().begin(), board.sp().flash().begin() + 0x4000) == kernel);
        EXPECT_FALSE(board.sp().semaphoreSet());
        EXPECT_EQ(WeOwnLpcSemaphore, 0);
        EXPECT_NE(err.find("Service Processor Firmware Updated Successfully!\n\n\nResetting service processor...\n\n\n"),
                  std::string::npos);
        if (c.said) {
            EXPECT_EQ(occurrences(err, c.said), 1u);
        }
        EXPECT_EQ(board.sp().flashStarts() - starts, c.flashStarts);
        EXPECT_EQ(occurrences(err, "Programming location "), 384u * c.attempts);
        EXPECT_EQ(err.find("Programming location "), err.find("Programming location 04000h of 10000h... "));
        EXPECT_EQ(occurrences(err, "Empty Block... "), 8u * c.attempts);
    }
}

// Each way the procedure ends the process, with its message and status.
using SpExitTest = SpUpdateTest;

TEST_F(SpExitTest, RefusalsAndFailuresEndWith255AndTheirMessage) {
    // A file planted as a link, FIFO or directory under the name: e2e_files;
    // an erase that always fails: e2e_sim_tool; a silent kernel:
    // chipset_splpc_test; a held semaphore: AHeldSemaphoreEndsTheRunWithinItsBound.
    struct Case {
        const char* name;
        SpFaults faults;
        int fileSize;  // the image's first bytes, then zeros; -1: no file
        int fill;      // -1: the image's bytes, else every byte this value
        const char* message;
    };
    SpFaults blockError;
    blockError.blockError = true;
    blockError.blockErrorAt = 0xFFFF;
    const Case cases[] = {
        {"no file", {}, -1, -1, "Error opening LPCSPFW.BIN\ncannot read LPCSPFW.BIN: No such file"},
        {"empty file", {}, 0, -1, "Error opening LPCSPFW.BIN\n"},
        {"short file", {}, 0xBFFF, -1, "Error reading LPCSPFW.BIN\nLPCSPFW.BIN holds 0xBFFF bytes"},
        {"longer file", {}, 0x10000, -1, "Error reading LPCSPFW.BIN\nLPCSPFW.BIN holds 0x10000 bytes; "
         "a service-processor application is 0xC000 bytes. Nothing was written.\n$"},
        {"sparse zeros", {}, 0xC000, 0x00, "LPCSPFW.BIN holds only bytes of 0x00"},
        {"block fails", blockError, 0xC000, -1,
         "Service Processor Firmware Update Failed.\n\n\nResetting service processor...\n\n\nFailed\n$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove("LPCSPFW.BIN");
        Bytes file(size_t(std::max(c.fileSize, 0)), 0x00);
        for (int i = 0; i < c.fileSize; ++i) file[size_t(i)] = c.fill >= 0 ? uint8_t(c.fill) : i < 0xC000 ? image[size_t(i)] : 0;
        if (c.fileSize >= 0) board.dir.write("LPCSPFW.BIN", file);
        board.sp().faults = c.faults;
        board.sp().powerOn();
        EXPECT_EXIT(FlashLPCSP(&board.os, &board.platform), ::testing::ExitedWithCode(255),
                    c.message);
    }
}

// A service processor that never lets go of the mailbox: the claim gives up
// within its bound and says on which port and for what. (One that never
// takes the release: SpChipsetTest.AByteNotTaken...)
TEST_F(SpExitTest, AHeldSemaphoreEndsTheRunWithinItsBound) {
    constexpr uint64_t SEMAPHORE_HELD_RUN_NS = 1000000000ull;  // 1 s, as the README says
    board.sp().faults.semaphoreHeld = true;
    board.sp().powerOn();
    board.os.setTracing(true);
    testing::internal::CaptureStderr();
    const uint64_t start = board.machine.clock().ns;
    {
        // The claim gives up, the profile cannot be read, the reset follows
        // and the kernel does not answer without the mailbox: as FlashLPCSP.
        SPLPCChipset chipset(&board.os, &board.platform);
        EXPECT_EQ(chipset.identify(), 0);
        EXPECT_EQ(WeOwnLpcSemaphore, 0);  // nothing for the destructor to release
    }
    EXPECT_TRUE(board.sentBytes().empty());  // without the semaphore no packet goes out
    EXPECT_LE(board.machine.clock().ns - start, SEMAPHORE_HELD_RUN_NS);
    EXPECT_EQ(board.machine.portRead(splpc::MBX_STATUS, 1) & (splpc::STS_IBF | splpc::STS_ABORT), 0u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("could not be claimed within 100 ms (status 0x80: held by another agent)."),
              std::string::npos) << err;
}

// ---- Compare ----

struct SpCompareTest : SpUpdateTest {
    std::string compare(int expected) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(CompareServiceProcessorToSource(&board.os, &board.platform), expected);
        return testing::internal::GetCapturedStdout();
    }
};

// Equal contents (damaged replies read again) match and leave no dump.
TEST_F(SpCompareTest, TheFirstDifferenceIsReportedAndTheFlashDumped) {
    const Bytes flash = board.application();
    board.dir.write("LPCSPFW.BIN", flash);
    board.sp().faults.badChecksumEvery = 3;
    EXPECT_NE(compare(0).find("Offset : 0000fffch\rOK. Contents Match.\n"), std::string::npos);
    EXPECT_FALSE(std::ifstream("SPROM.ERR").good());
    board.sp().faults.badChecksumEvery = 0;
    struct Case {
        size_t fileSize;
        size_t changedAt;  // in the file; npos: nothing changed
        const char* where;
    } cases[] = {
        {0xC000, 0xBFFE, "0000fffch"},
        {0xC000, 0x0001, "00004000h"},
        {0x100, std::string::npos, "00004100h"},  // the flash beyond a short file is not erased
    };
    for (const Case& c : cases) {
        Bytes file(flash.begin(), flash.begin() + long(c.fileSize));
        if (c.changedAt != std::string::npos) file[c.changedAt] ^= 0x80;
        board.dir.write("LPCSPFW.BIN", file);
        std::remove("SPROM.ERR");
        const std::string out = compare(1);
        EXPECT_NE(out.find(std::string("\n\nMismatch found @ offset ") + c.where +
                           ".  ROM contents written to SPROM.ERR\n"),
                  std::string::npos) << c.where;
        EXPECT_TRUE(board.dir.read("SPROM.ERR") == flash) << c.where;
        EXPECT_FALSE(board.sp().semaphoreSet());
    }
}

TEST_F(SpCompareTest, AMissingSourceFileIsReportedWithoutTouchingTheMailbox) {
    std::remove("LPCSPFW.BIN");
    board.os.setTracing(true);
    EXPECT_EQ(compare(1), "Enter compare function!!\nVerifying the ROM against LPCSPFW.BIN\n"
                          "Compare failed.  Could not open source service processor file.\n"
                          "cannot read LPCSPFW.BIN: No such file or directory\n");
    EXPECT_TRUE(board.os.trace().empty());
}

}  // namespace
