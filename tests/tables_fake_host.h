// A host whose physical memory is 1 MiB of zeros, all ones above (an unclaimed
// bus). Nothing else does anything.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "os/os.h"

class TablesFakeHost final : public OS {
public:
    static constexpr uint32_t MEMORY_SIZE = 0x100000;
    static constexpr unsigned char OPEN_BUS = 0xFF;

    TablesFakeHost() : memory(MEMORY_SIZE, 0) {}

    // Back to zeroed memory (cheaper than a new host).
    void reset() { std::fill(memory.begin(), memory.end(), 0); }

    // Places bytes in physical memory; bytes past 1 MiB are dropped.
    void load(uint32_t address, const void* data, size_t length) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < length && address + i < MEMORY_SIZE; ++i) {
            memory[address + i] = bytes[i];
        }
    }

    std::vector<unsigned char> memory;

    void memRead(unsigned int address, unsigned int length, unsigned char* destination) override {
        const uint64_t inside =
            address < MEMORY_SIZE ? std::min<uint64_t>(length, MEMORY_SIZE - address) : 0;
        std::copy_n(memory.data() + std::min(address, MEMORY_SIZE), inside, destination);
        std::memset(destination + inside, OPEN_BUS, length - inside);
    }

    void preexec() override {}
    unsigned char inportByte(unsigned short) override { return 0xFF; }
    unsigned short inportWord(unsigned short) override { return 0xFFFF; }
    unsigned int inportDword(unsigned short) override { return 0xFFFFFFFF; }
    void outportByte(unsigned short, unsigned char) override {}
    void outportWord(unsigned short, unsigned short) override {}
    void outportDword(unsigned short, unsigned int) override {}
    void memWrite(unsigned int, unsigned int, unsigned char*) override {}
    void pipelineStart() override {}
    void pipelineEnd() override {}
    unsigned int spOpenSPDriver(void**, unsigned int, unsigned int) override { return 1; }
    unsigned int spOpenSPDriverNode(void**, unsigned, unsigned, unsigned*, unsigned) override {
        return 1;
    }
    unsigned int spSystemDataIO(void*, unsigned char*, unsigned int) override { return 1; }
    unsigned int spCloseSPDriver(void*, unsigned int) override { return 1; }
    int bmcOpenSP6Driver(void**, void*) override { return -1; }
    int bmcCloseSP6Driver(void*, void*) override { return -1; }
    int bmcSendSP6Request(void*, uint8_t, uint8_t, uint8_t*, uint16_t, uint8_t, uint8_t*, uint16_t*,
                          uint8_t*, void*) override {
        return -1;
    }
    void sleep(unsigned int) override {}
    int h8init() override { return -1; }
    int h8destroy() override { return -1; }
    int h8readcommand(H8cmd_s*) override { return -1; }
    int h8writecommand(H8cmd_s*) override { return -1; }
    int h8pollcommand(H8cmd_s*) override { return -1; }
    int reboot() override { return -1; }
    void getMACAddress(unsigned char* mac) override { std::memset(mac, 0, 6); }
    int UsbDrive_FindDevice(char*, char*) override { return -1; }
    int UsbDrive_Open(char*, char*) override { return -1; }
    int UsbDrive_Close() override { return -1; }
    int UsbDrive_Write(char*, unsigned long) override { return -1; }
    int lockMachine() override { return OS_LOCK_TAKEN; }
};
