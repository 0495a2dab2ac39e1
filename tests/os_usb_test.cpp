// USB drive access of LinOS against fake SCSI generic devices: the probe of
// /dev/sda../dev/sdz, the INQUIRY checks and what is printed for a failed
// one, opening the matched drive and writing to it.
#include <gtest/gtest.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include "os_fake_kernel.h"

namespace {

struct Disk {
    std::string vendor, product;   // INQUIRY identification, space padded
    std::vector<unsigned char> sense;  // non-empty: the INQUIRY ends in a check condition
};

// Disks at the given letters; every other /dev/sd? does not exist.
void disks(std::map<char, Disk> present) {
    fake.open = [present](const std::string& path, int) {
        const char letter = path.back();
        return path.size() == 8 && present.count(letter) ? 100 + letter : failWith(ENOENT);
    };
    fake.ioctl = [present](int fd, unsigned long request, void* argument) {
        const Disk& disk = present.at(char(fd - 100));
        if (request == SG_GET_VERSION_NUM) {
            *static_cast<int*>(argument) = 30527;
            return 0;
        }
        auto* io = static_cast<sg_io_hdr_t*>(argument);
        fake.log.push_back(fmt("sg_io %c len %lu", fd - 100, io->dxfer_len));
        if (!disk.sense.empty()) {
            std::copy(disk.sense.begin(), disk.sense.end(), io->sbp);
            io->sb_len_wr = static_cast<unsigned char>(disk.sense.size());
            io->masked_status = 1;
            io->info = SG_INFO_CHECK;
            return 0;
        }
        auto* data = static_cast<unsigned char*>(io->dxferp);
        std::copy(disk.vendor.begin(), disk.vendor.end(), data + 8);
        std::copy(disk.product.begin(), disk.product.end(), data + 16);
        io->resid = 0;
        io->info = SG_INFO_OK;
        return 0;
    };
}

// A match is a prefix of the space-padded INQUIRY fields; every probe is
// closed, and a check condition prints its sense bytes ten to a line.
TEST(UsbFind, ProbesSdaToSdzMatchesByPrefixAndClosesEveryProbe) {
    const Disk ata{"ATA     ", "ST500DM002-1BD14", {}}, stick{"SanDisk ", "Cruzer Blade    ", {}};
    const Disk failing{"", "", {0x70, 0, 5, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0}};
    const std::map<char, Disk> two = {{'a', ata}, {'c', stick}};
    struct Case {
        std::map<char, Disk> disks;
        const char *vendor, *product;
        int found;
        size_t probes;
        const char* out;
    } const cases[] = {
        {{}, "SanDisk", "Cruzer", 0, 0, ""},
        {two, "SanDisk", "Cruzer", 1, 2, ""},
        {two, "SanDisk", "Ultra", 0, 2, ""},
        {two, "SanDisk Cr", "", 0, 2, ""},  // longer than the vendor field
        {{{'b', failing}}, "SanDisk", "Cruzer", 0, 1,
         "INQUIRY sense data: 0x70 0x00 0x05 0x00 0x00 0x00 0x00 0x0a 0x00 0x00 \n"
         "  0x00 0x00 \n"
         "INQUIRY SCSI status=0x1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vendor) + "/" + c.product);
        resetFake();
        disks(c.disks);
        LinOS os(fakeKernel());
        std::string vendor = c.vendor, product = c.product;
        testing::internal::CaptureStdout();
        EXPECT_EQ(os.UsbDrive_FindDevice(vendor.data(), product.data()), c.found);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(only(fake.log, {"sg_io"}).size(), c.probes);
        EXPECT_EQ(only(fake.log, {"close"}).size(), c.probes);
        if (c.found) continue;
        Log opens;
        for (char d = 'a'; d <= 'z'; ++d) opens.push_back(std::string("open /dev/sd") + d);
        EXPECT_EQ(only(fake.log, {"open"}), opens);
    }
}

TEST(UsbWrite, OpensTheMatchedDriveWritesEveryByteAndFlushes) {
    resetFake();
    disks({{'c', {"SanDisk ", "Cruzer Blade    ", {}}}});
    LinOS os(fakeKernel());
    char vendor[] = "SanDisk", product[] = "Cruzer", data[] = "abcdef";
    EXPECT_EQ(os.UsbDrive_Write(data, 6), 0);  // before any open
    ASSERT_EQ(os.UsbDrive_Open(vendor, product), 1);
    EXPECT_EQ(only(fake.log, {"openmode", "lseek", "write"}),
              Log({fmt("openmode /dev/sdc %#lx 0666", O_WRONLY | O_CREAT), "lseek 199 0 0"}));
    fake.log.clear();
    fake.write = [](int, std::size_t length) { return ssize_t(length > 4 ? 4 : length); };
    EXPECT_EQ(os.UsbDrive_Write(data, 6), 1);
    EXPECT_EQ(fake.written, std::vector<std::string>({"abcd", "ef"}));
    EXPECT_EQ(fake.log, Log({"write 199 6", "write 199 2", "fsync 199"}));

    fake.write = [](int, std::size_t) { return ssize_t(-1); };
    EXPECT_EQ(os.UsbDrive_Write(data, 6), 0);  // the drive refused: not done
    EXPECT_EQ(os.UsbDrive_Close(), 1);
    EXPECT_EQ(os.UsbDrive_Write(data, 6), 0);  // closed
    EXPECT_EQ(os.UsbDrive_Close(), 1);
    EXPECT_EQ(only(fake.log, {"close"}), Log({"close 199"}));

    fake.open = [](const std::string& path, int flags) {  // the drive opens for reading only
        return (flags & O_ACCMODE) == O_RDONLY && path == "/dev/sdc" ? 199 : failWith(EACCES);
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(os.UsbDrive_Open(vendor, product), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Could not open USB device: '/dev/sdc'\n");
}

}  // namespace
