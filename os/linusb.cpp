// LinOS raw access to a USB drive: the SCSI disks /dev/sda../dev/sdz are
// probed through the SCSI generic interface (SG_IO) with a standard INQUIRY,
// the first whose vendor and product identification begin with the texts
// asked for is opened, and data is written to it from its first byte.
#include <fcntl.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "os/linos.h"

namespace {
constexpr char FIRST_DISK = 'a', LAST_DISK = 'z';
constexpr int SG_MIN_VERSION = 30000;

constexpr unsigned char INQUIRY_CDB[] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
constexpr unsigned int INQUIRY_LENGTH = 96;
constexpr unsigned int SENSE_LENGTH = 32;
constexpr unsigned int SG_TIMEOUT_MS = 20000;
constexpr int SG_INTERFACE_SCSI = 'S';
constexpr unsigned int SENSE_BYTES_PER_LINE = 10;

// Identification fields of the INQUIRY data.
struct InquiryField {
    unsigned int offset, size;
};
constexpr InquiryField INQUIRY_VENDOR = {8, 8};
constexpr InquiryField INQUIRY_PRODUCT = {16, 16};

constexpr mode_t USB_CREATE_MODE = 0666;
constexpr int USB_NONE = 0;
constexpr int USB_DONE = 1;

// The text matches when the field received begins with it. A text longer
// than its field, or a field the device did not send, never matches.
bool fieldBeginsWith(const unsigned char* data, unsigned int received, const InquiryField& field,
                     const char* text) {
    if (text == nullptr) return false;
    const std::size_t length = std::strlen(text);
    if (length > field.size || field.offset + length > received) return false;
    return std::memcmp(data + field.offset, text, length) == 0;
}

void printCheckCondition(const sg_io_hdr_t& io, const unsigned char* sense) {
    if (io.sb_len_wr > 0) {
        const unsigned int written = io.sb_len_wr < SENSE_LENGTH ? io.sb_len_wr : SENSE_LENGTH;
        std::printf("INQUIRY sense data: ");
        for (unsigned int k = 0; k < written; ++k) {
            if (k > 0 && k % SENSE_BYTES_PER_LINE == 0) std::printf("\n  ");
            std::printf("0x%02x ", sense[k]);
        }
        std::printf("\n");
    }
    if (io.masked_status != 0) std::printf("INQUIRY SCSI status=0x%x\n", io.masked_status);
    if (io.host_status != 0) std::printf("INQUIRY host_status=0x%x\n", io.host_status);
    if (io.driver_status != 0) std::printf("INQUIRY driver_status=0x%x\n", io.driver_status);
}
}  // namespace

int LinOS::privateFindDev(const char* path, const char* vendor, const char* product) {
    const int fd = kernel->open(path, O_RDONLY);
    if (fd < 0) return USB_NONE;
    int version = 0;
    if (kernel->ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < SG_MIN_VERSION) {
        kernel->close(fd);
        return USB_NONE;
    }

    unsigned char cdb[sizeof INQUIRY_CDB];
    std::memcpy(cdb, INQUIRY_CDB, sizeof cdb);
    unsigned char data[INQUIRY_LENGTH] = {};
    unsigned char sense[SENSE_LENGTH] = {};
    sg_io_hdr_t io{};
    io.interface_id = SG_INTERFACE_SCSI;
    io.cmd_len = sizeof cdb;
    io.mx_sb_len = sizeof sense;
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.dxfer_len = sizeof data;
    io.dxferp = data;
    io.cmdp = cdb;
    io.sbp = sense;
    io.timeout = SG_TIMEOUT_MS;
    const int rc = kernel->ioctl(fd, SG_IO, &io);
    kernel->close(fd);
    if (rc < 0) {
        std::perror("sg_simple0: Inquiry SG_IO ioctl error");
        return USB_NONE;
    }
    if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
        printCheckCondition(io, sense);
        return USB_NONE;
    }
    const int resid = io.resid > 0 ? io.resid : 0;
    const unsigned int received =
        static_cast<unsigned int>(resid) < sizeof data ? sizeof data - static_cast<unsigned int>(resid) : 0;
    return fieldBeginsWith(data, received, INQUIRY_VENDOR, vendor) &&
                   fieldBeginsWith(data, received, INQUIRY_PRODUCT, product)
               ? USB_DONE
               : USB_NONE;
}

int LinOS::UsbDrive_FindDevice(char* vendor, char* product) {
    for (char letter = FIRST_DISK; letter <= LAST_DISK; ++letter) {
        std::snprintf(usb.devname, sizeof usb.devname, "/dev/sd%c", letter);
        if (privateFindDev(usb.devname, vendor, product) == USB_DONE) return USB_DONE;
    }
    return USB_NONE;
}

int LinOS::UsbDrive_Open(char* vendor, char* product) {
    if (UsbDrive_FindDevice(vendor, product) != USB_DONE) return USB_NONE;
    const int fd = kernel->openMode(usb.devname, O_WRONLY | O_CREAT, USB_CREATE_MODE);
    if (fd < 0) {
        std::printf("ERROR: Could not open USB device: '%s'\n", usb.devname);
        return USB_NONE;
    }
    UsbDrive_Close();  // a drive opened before is let go, not leaked
    usb.fdest = fd;
    kernel->lseek(fd, 0, SEEK_SET);
    return USB_DONE;
}

// Every byte reaches the drive or the write fails: a short or failed write,
// or a flush the device refuses, is never reported as done.
int LinOS::UsbDrive_Write(char* data, unsigned long length) {
    if (usb.fdest == USB_NONE || data == nullptr || length == 0) return USB_NONE;
    unsigned long done = 0;
    while (done < length) {
        const ssize_t wrote = kernel->write(usb.fdest, data + done, length - done);
        if (wrote <= 0) return USB_NONE;
        done += static_cast<unsigned long>(wrote);
    }
    return kernel->fsync(usb.fdest) == 0 ? USB_DONE : USB_NONE;
}

int LinOS::UsbDrive_Close() {
    if (usb.fdest != USB_NONE) {
        kernel->close(usb.fdest);
        usb.fdest = USB_NONE;
    }
    return USB_DONE;
}
