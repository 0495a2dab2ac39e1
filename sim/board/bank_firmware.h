// What the BIOS of the bank that boots does at power-on: it runs only when its
// reset vector and boot block are intact and its body is whole, then shadows
// the top 64 KiB of its image at 0xF0000, publishes the running copy of its
// VPD block and builds the SMBIOS tables from its own image.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct BankBoot {
    bool boots = false;
    std::string fault;        // why the bank does not boot
    std::string biosVersion;  // the version its body carries
};

// The BIOS version the body of a bank carries: "" when its header record is
// missing or the body is not whole.
std::string bodyBiosVersion(const std::vector<uint8_t>& flash, uint32_t hostBridgeId,
                            std::string* fault = nullptr);

// Boots the firmware in `flash`. When it boots, legacy (64 KiB) becomes the
// area it leaves; otherwise legacy is left erased, as nothing ran.
BankBoot bootBank(const std::vector<uint8_t>& flash, uint32_t hostBridgeId,
                  const std::string& product, std::vector<uint8_t>& legacy);
