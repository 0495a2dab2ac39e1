// The update procedure and the dump/compare modes against a recording platform
// and chipset, on a simulated board for the host side (PCI, the running BIOS's
// CRTM signature, the SPI controller that receives the re-arming step).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "flash/dump.h"
#include "flash/flashbios.h"
#include "platform/platform.h"
#include "sim/board/board_image.h"
#include "sim/host/simos.h"
#include "chipset_rig.h"

namespace {

using Bytes = std::vector<unsigned char>;
struct Write {
    unsigned int offset;
    Bytes data;
};

// Everything the procedure asks of the platform and the chipset, in order.
struct Log {
    std::vector<std::string> calls;
    std::vector<Write> writes;
    bool failProgram = false;
    Bytes flash;  // what reads return
};

class RecordingChipset : public Chipset {
public:
    explicit RecordingChipset(Log& log) : log_(log) {}
    int identify() override { return 1; }
    int erase(unsigned int, unsigned int, unsigned int) override { return 0; }
    int program(unsigned int offset, unsigned int length, unsigned int, unsigned char* data) override {
        log_.calls.push_back("program");
        if (log_.failProgram) return -4;
        log_.writes.push_back({offset, Bytes(data, data + length)});
        return 0;
    }
    int read(unsigned int offset, unsigned int length, unsigned int, unsigned char* out) override {
        std::copy_n(log_.flash.begin() + offset, length, out);
        return 0;
    }

private:
    Log& log_;
};

class RecordingPlatform : public Platform {
public:
    RecordingPlatform(Log& log, std::vector<s_FirmwareFile> files) : log_(log), files_(files) {
        for (s_FirmwareFile& f : files_) pointers_.push_back(&f);
        description_ = {FW_PRIMARY_BIOS, pointers_.data(), int32_t(files_.size())};
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
    Chipset* getChipset() override { return haveChipset ? new RecordingChipset(log_) : nullptr; }
    const char* getServiceProcessorPort() override { return "1"; }

private:
    Log& log_;
    std::vector<s_FirmwareFile> files_;
    std::vector<s_FirmwareFile*> pointers_;
    s_FirmwareDescription description_{};
    s_FirmwareDescription* descriptionPointer_ = &description_;
    s_FlashMap map_{};
};

// Runs each test in a scratch directory on a simulated Moro 310.
class FlashProcedures : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lromup-flash-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir("/"), 0);
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    static Bytes writeFile(const char* name, size_t size) {
        Bytes bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + (i >> 12));
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<char*>(bytes.data()), size);
        return bytes;
    }
    // Runs FlashBIOS, with the image checked before when given; returns its
    // result, keeps the output.
    int flash(Platform& platform, bool crtm = false, unsigned char* checked = nullptr) {
        MachineOptions options;
        options.crtm = crtm;
        machine_ = buildMachine(options);
        machine_->spi().registers()[FDATA0] = 0;
        SimOS os(*machine_);
        return quietly([&] { return FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr, checked); },
                       &out_, &err_);
    }
    // The status value the re-arming step left for the write-status cycle.
    uint8_t armedStatus() { return machine_->spi().registers()[FDATA0]; }
    static constexpr unsigned FDATA0 = 0x10;  // from the SPI block base

    std::string dir_, out_, err_;
    std::unique_ptr<Machine> machine_;
    char first_[16] = "first.rom";
    char second_[16] = "second.rom";
};

int count(const std::vector<std::string>& calls, const std::string& what) {
    return int(std::count(calls.begin(), calls.end(), what));
}

}  // namespace

TEST_F(FlashProcedures, SecondFileOfCrtmSizeIsWrittenAgainUnlessTheRunningBiosCarriesCrtm) {
    for (bool crtm : {false, true}) {
        SCOPED_TRACE(crtm ? "CRTM" : "no CRTM");
        Log log;
        writeFile(first_, 0x1000);
        Bytes second = writeFile(second_, 0x30000);
        RecordingPlatform platform(log, {{first_, 0x0, 0x1000}, {second_, 0x100000, 0x30000}});
        ASSERT_EQ(flash(platform, crtm), 0);
        if (crtm) {
            EXPECT_EQ(log.writes.size(), 2u);
            continue;
        }
        EXPECT_EQ(out_, "Chipset: PCH\nfirst.rom: 0 [1000]\nsecond.rom: 100000 [30000]\n"
                        "second.rom: 100000 [30000]\nsecond.rom: 100000 [30000]\n");
        ASSERT_EQ(log.writes.size(), 4u);
        EXPECT_EQ(log.writes[1].data, second);
        EXPECT_EQ(log.writes[2].offset, 0x1F0000u);
        EXPECT_EQ(log.writes[2].data, Bytes(second.begin() + 0x20000, second.end()));
        EXPECT_EQ(log.writes[3].offset, 0x140000u);
        EXPECT_EQ(log.writes[3].data, Bytes(second.begin() + 0x10000, second.begin() + 0x20000));
        // Identity carried into the first file only; writing opened around
        // the chipset probe and around each of the four pairs.
        EXPECT_EQ(count(log.calls, "modify first.rom") + count(log.calls, "modify second.rom"), 1);
        EXPECT_EQ(count(log.calls, "enable"), 5);
        EXPECT_EQ(count(log.calls, "disable"), 5);
        EXPECT_EQ(log.calls.back(), "bank 7");
        EXPECT_EQ(armedStatus(), 0x94);
    }
}

TEST_F(FlashProcedures, FailuresReturnTheirCodeCloseWritingAndLeaveProtectionOpen) {
    struct Case {
        long fileSize;        // -1: no file
        unsigned recordSize;  // bytes the flash map gives the file
        bool failProgram;
        int result;
        const char* message;
    } cases[] = {
        {0x0FFF, 0x1000, false, 3, "Error reading first.rom\n"},
        {0, 0x1000, false, -1, "Error seeking first.rom\n"},
        {-1, 0x1000, false, -1, "Error opening first.rom\n"},
        {0x1000, 0x1000, true, -4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::remove(first_);
        if (c.fileSize >= 0) writeFile(first_, size_t(c.fileSize));
        Log log;
        log.failProgram = c.failProgram;
        RecordingPlatform platform(log, {{first_, 0x0, c.recordSize}});
        EXPECT_EQ(flash(platform), c.result);
        EXPECT_EQ(err_, c.message);
        EXPECT_EQ(armedStatus(), 0x00);
        // File problems end after the chipset probe's bracket; a failed pair
        // still closes writing and hands the bank back.
        using Calls = std::vector<std::string>;
        const Calls want = c.failProgram ? Calls{"program", "disable", "bank 7"} : Calls{"enable", "disable"};
        ASSERT_GE(log.calls.size(), want.size());
        const Calls last(log.calls.end() - long(want.size()), log.calls.end());
        EXPECT_EQ(c.failProgram ? last : log.calls, want);
    }
}

TEST_F(FlashProcedures, DumpWritesTheFirstEightMegabytesOrFailsBeforeTheChipset) {
    Log log;
    log.flash = writeFile("reference", 0x800000);
    RecordingPlatform platform(log, {});
    std::string out;
    EXPECT_EQ(quietly([&] { return DumpBiosToFile(nullptr, &platform); }, &out), 0);
    EXPECT_EQ(out, "Dumping the flash data to a file.\n\nDump the BIOS to a file complete.\n");
    std::ifstream dump("Flash _dump.rom", std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(dump), {}), log.flash);

    ASSERT_EQ(mkdir("flash_read.rom", 0755), 0);  // cannot be opened for writing
    platform.haveChipset = false;                  // would print its own error if asked
    EXPECT_EQ(quietly([&] { return ReadBiosToFile(nullptr, &platform); }, &out), 1);
    EXPECT_EQ(out, "Reading the flash data to a file.\n"
              "Open output file failed.  Could not open output BIOS file.\n");
}

// The diagnostic files are written in the working directory, often a shared
// one: a link planted under a name is refused with the reason, and the file it
// points at stays as it was. (FIFOs, directories and devices under an output
// name: e2e_files, through the same output file.)
TEST_F(FlashProcedures, DiagnosticFilesNeverGoThroughALink) {
    using Procedure = int (*)(OS*, Platform*);
    const struct {
        const char* name;
        Procedure run;
    } writers[] = {{"flash_read.rom", ReadBiosToFile},
                   {"Flash _dump.rom", DumpBiosToFile},
                   {"P2lurra_flash_erase.rom", EraseBiosToFile},
                   {"ROM.ERR", CompareBiosToSource}};
    Log log;
    log.flash.assign(0x1400000, 0x5A);
    Bytes reference(0x1000000, 0x00);  // differs at once: ROM.ERR is due
    std::ofstream("BIOS.ROM", std::ios::binary).write(reinterpret_cast<char*>(reference.data()), 16);
    const Bytes victim = writeFile("victim", 0x100);
    RecordingPlatform platform(log, {});
    for (const auto& w : writers) {
        SCOPED_TRACE(w.name);
        ASSERT_EQ(symlink("victim", w.name), 0);
        std::string err;
        EXPECT_EQ(quietly([&] { return w.run(nullptr, &platform); }, nullptr, &err), 1);
        EXPECT_NE(err.find(std::string(w.name) + " is a symbolic link, not a regular file"), std::string::npos) << err;
        std::ifstream in("victim", std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), victim);
        ASSERT_EQ(std::remove(w.name), 0);
    }
    // The reference is read only when it is a regular file, never blocking.
    std::remove("BIOS.ROM");
    ASSERT_EQ(mkfifo("BIOS.ROM", 0600), 0);
    std::string err;
    EXPECT_EQ(quietly([&] { return CompareBiosToSource(nullptr, &platform); }, nullptr, &err), 1);
    EXPECT_EQ(err, "BIOS.ROM is a FIFO, not a regular file\n");
}

TEST_F(FlashProcedures, CompareStopsAtTheFirstDifferentWord) {
    Log log;
    log.flash.assign(0x1400000, 0x5A);
    Bytes reference(0x1000000, 0x5A);
    reference[8] = 0x00;  // word 2
    std::ofstream("BIOS.ROM", std::ios::binary).write(reinterpret_cast<char*>(reference.data()), reference.size());
    RecordingPlatform platform(log, {});
    std::string out;
    EXPECT_EQ(quietly([&] { return CompareBiosToSource(nullptr, &platform); }, &out), 1);
    EXPECT_EQ(out,
              "Verifying the ROM against BIOS.ROM\nReading BIOS.ROM\nReading ROM contents\n"
              "Comparing contents...\nOffset : 00400000h\rOffset : 00400004h\r"
              "Offset : 00400008h\r\n\nMismatch found @ offset 00400008h.  ROM contents "
              "written to ROM.ERR\n");
    struct stat st {};
    ASSERT_EQ(stat("ROM.ERR", &st), 0);
    EXPECT_EQ(st.st_size, 0xF0000);
}

// The run sequence hands over the image it read and checked: that buffer is
// written, whatever the file by that name holds by then.
TEST_F(FlashProcedures, ImageHandedOverIsWrittenNotTheFileReadAgain) {
    Bytes checked(0x1000, 0x5A);
    writeFile(first_, 0x1000);  // replaced since it was checked
    Log log;
    RecordingPlatform platform(log, {{first_, 0x0, 0x1000}});
    ASSERT_EQ(flash(platform, false, checked.data()), 0);
    ASSERT_EQ(log.writes.size(), 1u);
    EXPECT_EQ(log.writes[0].data, checked);
}
