// Writing one firmware description of the flash map into the flash.
#pragma once

class OS;
class Platform;

// Writes the image file(s) of the firmware description `id` into the flash,
// carrying the running machine's identity into the first file's image.
// Returns 0, -1 (file cannot be opened, is empty or cannot be re-read), 3 (file
// shorter than its record on the first read), or the chipset's non-zero erase
// or program result. Ends the process with 255 when the flash chipset cannot be
// identified and with 254 when the map has no such description.
// machineType, serial and assetTag are array-new'd texts handed to modifyImage
// (or null); uuidText stays with the caller.
// firstImage, when given, is the first file's content already read and
// checked by the caller (the record's size in bytes): it is written instead of
// reading the file by name again.
int FlashBIOS(OS* os, Platform* platform, int id, const char* label, const char* switchName,
              unsigned char* machineType, unsigned char* serial, unsigned char* assetTag,
              unsigned char* uuidText, const unsigned char* firstImage = nullptr);

// Whether a FlashBIOS result means that nothing was written: the file could
// not be read, the identity cannot be carried, or the chipset refused before
// its first block (opcode menu, part size, BIOS lock).
bool refusedBeforeWriting(int result);

// Signature of a running BIOS whose CRTM blocks must not be duplicated.
constexpr char CRTMSIG[] = "CRTM";
