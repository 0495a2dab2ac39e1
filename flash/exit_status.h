// Exit statuses of the run sequence besides the switch scan's (flash/switches.h),
// the platform report (61, 62, 5) and the failing flash operation's code.
#pragma once

constexpr int EXIT_IMAGE_SIZE = 4;          // image of the wrong size for the family
constexpr int EXIT_FOREIGN_MACHINE = 5;     // not a machine of a supported family
constexpr int EXIT_NOTHING_TO_WRITE = 6;    // the update would write no block at all
constexpr int EXIT_IMAGE_CANNOT_BOOT = 7;   // all one byte value, or a blank reset vector
// 8: the machine's identity cannot be carried (IDENTITY_LOST, platform/vpd.h).
constexpr int EXIT_NOT_FAMILY_IMAGE = 9;    // no trailer/VPD block to carry the identity into, or another family's BIOS
constexpr int EXIT_BAD_CHIPSET_BASE = 10;   // a GPIO or RCBA base that is 0, all ones or out of range (h8init refuses a bad SMBus base)
constexpr int EXIT_VERIFY_DIFFERS = 11;     // /verify: the bank differs from what the image would write
constexpr int EXIT_OUTPUT_REFUSED = 12;     // /dump or /report: the output file cannot be written safely
constexpr int EXIT_MACHINE_LOCKED = 75;     // another updater holds the machine lock
constexpr int EXIT_NO_CHIPSET = 255;        // the flash chipset could not be identified
// A lock file this user may not open: ends as a refused /dev/mem does.
constexpr int EXIT_NOT_PRIVILEGED = 1;
