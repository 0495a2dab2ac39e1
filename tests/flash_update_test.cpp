// The update procedure against a recording platform and chipset, on a
// simulated board for the host side (PCI, the running BIOS's CRTM signature,
// the SPI controller that receives the re-arming step).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flash/flashbios.h"
#include "platform/platform.h"
#include "sim/board/board_image.h"
#include "sim/host/simos.h"
#include "chipset/ich10spi_regs.h"
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
};

class RecordingChipset : public Chipset {
public:
    explicit RecordingChipset(Log& log) : log_(log) {}
    int identify() override { return 1; }
    int erase(unsigned int, unsigned int, unsigned int) override { return 0; }
    int program(unsigned int offset, unsigned int length, unsigned int, unsigned char* data) override {
        log_.calls.push_back("program");
        log_.writes.push_back({offset, Bytes(data, data + length)});
        return 0;
    }
    int read(unsigned int, unsigned int, unsigned int, unsigned char*) override { return 0; }

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
    Chipset* getChipset() override { return new RecordingChipset(log_); }
    const char* getServiceProcessorPort() override { return "1"; }

private:
    Log& log_;
    std::vector<s_FirmwareFile> files_;
    std::vector<s_FirmwareFile*> pointers_;
    s_FirmwareDescription description_{};
    s_FirmwareDescription* descriptionPointer_ = &description_;
    s_FlashMap map_{};
};

int count(const std::vector<std::string>& calls, const std::string& what) {
    return int(std::count(calls.begin(), calls.end(), what));
}

}  // namespace

// On a simulated Moro 310, in a scratch directory that holds the two files.
TEST(FlashProcedures, SecondFileOfCrtmSizeIsWrittenAgainUnlessTheRunningBiosCarriesCrtm) {
    ScratchDir dir;
    char first[] = "first.rom", second[] = "second.rom";
    ScratchDir::write(first, pattern(0x1000, 1));
    const Bytes secondBytes = pattern(0x30000, 2);
    ScratchDir::write(second, secondBytes);
    for (bool crtm : {false, true}) {
        SCOPED_TRACE(crtm ? "CRTM" : "no CRTM");
        Log log;
        RecordingPlatform platform(log, {{first, 0x0, 0x1000}, {second, 0x100000, 0x30000}});
        MachineOptions options;
        options.crtm = crtm;
        const std::unique_ptr<Machine> machine = buildMachine(options);
        machine->spi().registers()[SPI_FDATA0] = 0;
        SimOS os(*machine);
        // The image handed over is written, not the file by its name read again.
        const Bytes checked(0x1000, 0x5A);
        std::string out;
        ASSERT_EQ(quietly([&] { return FlashBIOS(&os, &platform, 0, "BIOS", nullptr, nullptr, nullptr, nullptr, nullptr, checked.data()); },
                          &out), 0);
        ASSERT_GE(log.writes.size(), 2u);
        EXPECT_EQ(log.writes[0].data, checked);
        if (crtm) {
            EXPECT_EQ(log.writes.size(), 2u);
            continue;
        }
        EXPECT_EQ(out, "Chipset: PCH\nfirst.rom: 0 [1000]\nsecond.rom: 100000 [30000]\n"
                       "second.rom: 100000 [30000]\nsecond.rom: 100000 [30000]\n");
        ASSERT_EQ(log.writes.size(), 4u);
        EXPECT_EQ(log.writes[1].data, secondBytes);
        EXPECT_EQ(log.writes[2].offset, 0x1F0000u);
        EXPECT_EQ(log.writes[2].data, Bytes(secondBytes.begin() + 0x20000, secondBytes.end()));
        EXPECT_EQ(log.writes[3].offset, 0x140000u);
        EXPECT_EQ(log.writes[3].data, Bytes(secondBytes.begin() + 0x10000, secondBytes.begin() + 0x20000));
        // Identity carried into the first file only; writing opened around
        // the chipset probe and around each of the four pairs.
        EXPECT_EQ(count(log.calls, "modify first.rom") + count(log.calls, "modify second.rom"), 1);
        EXPECT_EQ(count(log.calls, "enable"), 5);
        EXPECT_EQ(count(log.calls, "disable"), 5);
        EXPECT_EQ(log.calls.back(), "bank 7");
        EXPECT_EQ(machine->spi().registers()[SPI_FDATA0], 0x94);  // the status left for the write-status cycle
    }
}
