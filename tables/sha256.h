// SHA-256 (FIPS 180-4): fingerprints of image files in the run report and of
// flash contents in the simulated machine's files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    // Finishes the hash; the object must not be updated afterwards.
    void final(uint8_t digest[32]);

private:
    void compress(const uint8_t block[64]);

    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

// Lower-case hexadecimal digest of a buffer.
std::string sha256Hex(const uint8_t* data, size_t size);
