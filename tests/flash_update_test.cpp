// The update procedure and the dump/compare modes against a recording platform
// and chipset, on a simulated board for the host side (PCI, running BIOS, SPI
// status register re-armed after a complete file).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "flash/dump.h"
#include "flash/flashbios.h"
#include "platform/platform.h"
#include "sim/board_image.h"
#include "sim/simos.h"

namespace {

struct Write {
    unsigned int offset;
    unsigned int length;
    std::vector<unsigned char> data;
};

// Everything the procedure asks of the platform and the chipset, in order.
struct Log {
    std::vector<std::string> calls;
    std::vector<Write> writes;
    int failProgramAt = -1;  // the n-th program call fails (0-based)
    unsigned char fill = 0;  // what reads return
    std::vector<unsigned char> flash;  // if set, reads come from here
};

class RecordingChipset : public Chipset {
public:
    explicit RecordingChipset(Log& log) : log_(log) {}
    int identify() override { return 1; }
    int erase(unsigned int offset, unsigned int length, unsigned int) override {
        log_.calls.push_back("erase " + std::to_string(offset) + " " + std::to_string(length));
        return 0;
    }
    int program(unsigned int offset, unsigned int length, unsigned int,
                unsigned char* data) override {
        log_.calls.push_back("program");
        if (static_cast<int>(log_.writes.size()) == log_.failProgramAt) {
            return -4;
        }
        log_.writes.push_back({offset, length, std::vector<unsigned char>(data, data + length)});
        return 0;
    }
    int read(unsigned int offset, unsigned int length, unsigned int,
             unsigned char* buffer) override {
        for (unsigned int i = 0; i < length; ++i) {
            size_t at = offset + i;
            buffer[i] = at < log_.flash.size() ? log_.flash[at] : log_.fill;
        }
        return 0;
    }

private:
    Log& log_;
};

class RecordingPlatform : public Platform {
public:
    RecordingPlatform(Log& log, std::vector<s_FirmwareFile> files) : log_(log), files_(files) {
        for (s_FirmwareFile& f : files_) filePointers_.push_back(&f);
        description_ = {FW_PRIMARY_BIOS, filePointers_.data(), int32_t(files_.size())};
        descriptionPointer_ = &description_;
        map_ = {0x800000, 0x10000, &descriptionPointer_, 1};
    }
    bool haveChipset = true;

    int identify() override { return 1; }
    s_FlashMap* getFlashMap() override { return &map_; }
    int getFlashBank() override { return 7; }
    void setFlashBank(int bank) override { log_.calls.push_back("bank " + std::to_string(bank)); }
    void enableFlashWrite() override { log_.calls.push_back("enable"); }
    void disableFlashWrite() override { log_.calls.push_back("disable"); }
    void modifyImage(unsigned char*, s_FirmwareFile* file, unsigned char*, unsigned char*,
                     unsigned char*, s_UUIDStruc*) override {
        log_.calls.push_back(std::string("modify ") + file->name);
    }
    void SetH8ProgrammingMode(bool) override {}
    Chipset* getChipset() override {
        return haveChipset ? new RecordingChipset(log_) : nullptr;
    }
    const char* getServiceProcessorPort() override { return "1"; }

private:
    Log& log_;
    std::vector<s_FirmwareFile> files_;
    std::vector<s_FirmwareFile*> filePointers_;
    s_FirmwareDescription description_{};
    s_FirmwareDescription* descriptionPointer_ = nullptr;
    s_FlashMap map_{};
};

// A scratch directory that the test runs in.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lromup-flash-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_NE(getcwd(old_, sizeof old_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(old_), 0);
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static std::vector<unsigned char> writeFile(const char* name, size_t size, unsigned char seed) {
        std::vector<unsigned char> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(seed + i * 7 + (i >> 12));
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), size);
        return bytes;
    }

    std::string dir_;
    char old_[4096] = {};
};

class UpdateProcedure : public InTempDir {
protected:
    std::unique_ptr<Machine> board(bool crtm) {
        MachineOptions options;
        options.crtm = crtm;
        auto m = buildMachine(options);
        m->spi().registers()[FDATA0] = 0;
        return m;
    }
    // The lock value the re-arming step hands the SPI controller (FDATA0), as
    // the PCH board's write-status cycle would send it.
    static uint8_t armedStatus(Machine& m) { return m.spi().registers()[FDATA0]; }
    static constexpr unsigned FDATA0 = 0x10;  // from the SPI block base
    char first_[16] = "first.rom";
    char second_[16] = "second.rom";
};

int count(const std::vector<std::string>& calls, const std::string& what) {
    int n = 0;
    for (const std::string& c : calls) n += c == what;
    return n;
}

}  // namespace

TEST_F(UpdateProcedure, SecondFileGetsTheCrtmBlocksWrittenAgainWithoutTheSignature) {
    auto m = board(false);
    SimOS os(*m);
    Log log;
    writeFile(first_, 0x1000, 1);
    std::vector<unsigned char> second = writeFile(second_, 0x30000, 9);
    RecordingPlatform platform(log, {{first_, 0x0, 0x1000}, {second_, 0x100000, 0x30000}});

    testing::internal::CaptureStdout();
    EXPECT_EQ(FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "Chipset: PCH\nfirst.rom: 0 [1000]\nsecond.rom: 100000 [30000]\n"
                   "second.rom: 100000 [30000]\nsecond.rom: 100000 [30000]\n");
    ASSERT_EQ(log.writes.size(), 4u);
    EXPECT_EQ(log.writes[1].offset, 0x100000u);
    EXPECT_EQ(log.writes[1].data, second);
    EXPECT_EQ(log.writes[2].offset, 0x1F0000u);
    EXPECT_EQ(log.writes[2].data,
              std::vector<unsigned char>(second.begin() + 0x20000, second.begin() + 0x30000));
    EXPECT_EQ(log.writes[3].offset, 0x140000u);
    EXPECT_EQ(log.writes[3].data,
              std::vector<unsigned char>(second.begin() + 0x10000, second.begin() + 0x20000));
    // Identity carried into the first file only; writing opened around each pair.
    EXPECT_EQ(count(log.calls, "modify first.rom"), 1);
    EXPECT_EQ(count(log.calls, "modify second.rom"), 0);
    EXPECT_EQ(count(log.calls, "enable"), 1 + 4);  // the chipset probe, then each pair
    EXPECT_EQ(count(log.calls, "disable"), 1 + 4);
    EXPECT_EQ(log.calls.back(), "bank 7");
    EXPECT_EQ(armedStatus(*m), 0x94);  // protection re-armed after the files
}

TEST_F(UpdateProcedure, RunningCrtmSignatureLimitsTheSecondFileToOneWrite) {
    auto m = board(true);
    SimOS os(*m);
    Log log;
    writeFile(first_, 0x1000, 1);
    writeFile(second_, 0x30000, 9);
    RecordingPlatform platform(log, {{first_, 0x0, 0x1000}, {second_, 0x100000, 0x30000}});

    testing::internal::CaptureStdout();
    EXPECT_EQ(FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.writes.size(), 2u);
}

TEST_F(UpdateProcedure, ImageFileProblemsFailBeforeAnyFlashWrite) {
    auto m = board(false);
    SimOS os(*m);
    struct Case {
        size_t size;  // bytes written to the file; 0 with create=false: no file
        bool create;
        int result;
        const char* message;
    } cases[] = {
        {0x0FFF, true, 3, "Error reading first.rom\n"},
        {0, true, -1, "Error seeking first.rom\n"},
        {0, false, -1, "Error opening first.rom\n"},
    };
    for (const Case& c : cases) {
        std::remove(first_);
        if (c.create) writeFile(first_, c.size, 1);
        Log log;
        RecordingPlatform platform(log, {{first_, 0x0, 0x1000}});
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int result =
            FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(result, c.result) << c.message;
        EXPECT_EQ(count(log.calls, "program"), 0) << c.message;
        EXPECT_EQ(armedStatus(*m), 0x00) << "protection must stay as it was";
    }
}

TEST_F(UpdateProcedure, EmptyFlashRangeIsRefusedRatherThanReportedWritten) {
    auto m = board(false);
    SimOS os(*m);
    Log log;
    writeFile(first_, 0x1000, 1);
    RecordingPlatform platform(log, {{first_, 0x0, 0x0}});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr),
              -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "No flash range is known for first.rom on this machine; nothing was written\n");
    EXPECT_EQ(count(log.calls, "program"), 0);
}

TEST_F(UpdateProcedure, FailedProgramClosesWritingRestoresBankAndLeavesProtectionOpen) {
    auto m = board(false);
    SimOS os(*m);
    Log log;
    log.failProgramAt = 0;
    writeFile(first_, 0x1000, 1);
    RecordingPlatform platform(log, {{first_, 0x0, 0x1000}});

    testing::internal::CaptureStdout();
    EXPECT_EQ(FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr),
              -4);
    testing::internal::GetCapturedStdout();
    ASSERT_GE(log.calls.size(), 3u);
    EXPECT_EQ(log.calls[log.calls.size() - 3], "program");
    EXPECT_EQ(log.calls[log.calls.size() - 2], "disable");
    EXPECT_EQ(log.calls.back(), "bank 7");
    EXPECT_EQ(armedStatus(*m), 0x00);
}

TEST_F(UpdateProcedure, NoChipsetEndsTheProcessWith255) {
    auto m = board(false);
    writeFile(first_, 0x1000, 1);
    EXPECT_EXIT(
        {
            SimOS os(*m);
            Log log;
            RecordingPlatform platform(log, {{first_, 0x0, 0x1000}});
            platform.haveChipset = false;
            osSetHost([]() -> OS* { return nullptr; }, [](OS*) {});
            FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr);
        },
        testing::ExitedWithCode(255), "Flash chipset could not be identified");
}

using DumpModes = InTempDir;

TEST_F(DumpModes, DumpWritesTheFirstEightMegabytes) {
    Log log;
    log.flash.resize(0x800000);
    for (size_t i = 0; i < log.flash.size(); ++i) log.flash[i] = static_cast<unsigned char>(i * 13 + (i >> 16));
    RecordingPlatform platform(log, {});
    testing::internal::CaptureStdout();
    EXPECT_EQ(DumpBiosToFile(nullptr, &platform), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Dumping the flash data to a file.\n\nDump the BIOS to a file complete.\n");
    std::ifstream dump("Flash _dump.rom", std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(dump)),
                                     std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, log.flash);
}

TEST_F(DumpModes, UnwritableOutputFailsWithoutTouchingTheChipset) {
    ASSERT_EQ(mkdir("flash_read.rom", 0755), 0);  // a directory cannot be opened for writing
    Log log;
    RecordingPlatform platform(log, {});
    platform.haveChipset = false;  // would print its own error if asked
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReadBiosToFile(nullptr, &platform), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Reading the flash data to a file.\n"
              "Open output file failed.  Could not open output BIOS file.\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(DumpModes, CompareStopsAtTheFirstDifferentWord) {
    Log log;
    log.flash.assign(0x1400000, 0x5A);
    std::vector<unsigned char> reference(0x1000000, 0x5A);
    reference[8] = 0x00;  // word 2
    std::ofstream("BIOS.ROM", std::ios::binary)
        .write(reinterpret_cast<char*>(reference.data()), reference.size());
    RecordingPlatform platform(log, {});
    testing::internal::CaptureStdout();
    EXPECT_EQ(CompareBiosToSource(nullptr, &platform), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Verifying the ROM against BIOS.ROM\nReading BIOS.ROM\nReading ROM contents\n"
              "Comparing contents...\nOffset : 00400000h\rOffset : 00400004h\r"
              "Offset : 00400008h\r\n\nMismatch found @ offset 00400008h.  ROM contents "
              "written to ROM.ERR\n");
    struct stat st {};
    ASSERT_EQ(stat("ROM.ERR", &st), 0);
    EXPECT_EQ(st.st_size, 0xF0000);
}
