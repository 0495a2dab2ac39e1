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
int FlashBIOS(OS* os, Platform* platform, int id, const char* label, const char* switchName,
              unsigned char* machineType, unsigned char* serial, unsigned char* assetTag,
              unsigned char* uuidText);

// Signature of a running BIOS whose CRTM blocks must not be duplicated.
constexpr char CRTMSIG[] = "CRTM";
