// Program-wide settings filled by the switch scan and read by the run sequence,
// the platform (image kinds) and the SPI chipset (boot-block-only update).
#pragma once

// Mode bits of flashmode.
constexpr unsigned short MODE_PRIMARY = 0x0001;      // /p, /P
constexpr unsigned short MODE_BACKUP = 0x0002;       // /bb, /BB
constexpr unsigned short MODE_INFO = 0x0004;         // /info
constexpr unsigned short MODE_DUMP = 0x0008;         // /dump FILE
constexpr unsigned short MODE_VERIFY = 0x0010;       // /verify FILE, /verify /p FILE, /verify /bb FILE
constexpr unsigned short MODE_CHANGE_BANK = 0x0200;  // /chg
constexpr unsigned short MODE_LOCK_EEPROM = 0x0400;  // /lockEEP
constexpr unsigned short MODE_UNLOCK_EEPROM = 0x0800;  // /unlockEEP
constexpr unsigned short MODE_PLATFORM = 0x4000;     // /plat

// Bits of image_bios_type: the image file holds only the BIOS region.
constexpr unsigned short IMAGE_PRIMARY_REGION = 0x0001;
constexpr unsigned short IMAGE_BACKUP_REGION = 0x0002;

constexpr unsigned int FNAME_SIZE = 80;  // file-name buffers: 79 characters and the NUL

extern unsigned short flashmode;
extern unsigned short image_bios_type;
extern bool updt_bblk;
extern bool vpdonly;
extern bool do_reboot;
extern const char* programName;
extern char PBIOS_FNAME[FNAME_SIZE];
extern char BBIOS_FNAME[FNAME_SIZE];
extern char DUMP_FNAME[FNAME_SIZE];    // /dump
extern char VERIFY_FNAME[FNAME_SIZE];  // /verify FILE (empty: the /p or /bb file)
extern char REPORT_FNAME[FNAME_SIZE];  // /report (empty: no report)

// Puts every setting back to its start-of-run value (all zero).
void resetSettings();
