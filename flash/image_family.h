// Whether an image is a BIOS of this machine's family: one the machine's
// identity can be carried into (a trailer that points at a VPD block, and at
// asset-tag and OEM blocks where it names them, in its top 64 KiB, and an
// image checksum that holds), and whose BIOS version, where the image carries
// one, names this family.
#pragma once
#include <cstddef>

// Why the image of `size` bytes is not a BIOS for a machine of `family`
// (MODEL_61QM, MODEL_62QM; any other value skips the version check), or null.
const char* notFamilyImageReason(const unsigned char* image, size_t size, int family);

// What an image for this machine looks like, for the refusal.
const char* familyImageDescription();
