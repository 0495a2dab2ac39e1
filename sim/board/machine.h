// The simulated machine: one board with its south bridge (PCI configuration
// space, GPIO block, chipset configuration registers, SPI controller), two
// flash parts behind a bank multiplexer, the EEPROM write-protect line, and
// the legacy BIOS area of physical memory. It models the hardware only; what
// the updater sends is up to the updater.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/board/board_regs.h"
#include "sim/board/clock.h"
#include "sim/board/flash_part.h"
#include "sim/board/gpio.h"
#include "sim/board/h8_device.h"
#include "sim/board/pci_config.h"
#include "sim/board/service_processor.h"
#include "sim/board/smbus_host.h"
#include "sim/board/spi_controller.h"

struct BoardConfig {
    uint32_t hostBridgeId = HOST_BRIDGE_ID_PCH;  // 0:0:0 reg 0; PCH, ICH, or anything else for "neither"
    std::string partName = "MX25L6445E";        // a row of flashPartTable() or "unknown"
    int activeBank = 0;                          // 0 primary, 1 backup
    // What the board's firmware does to the chipset at every power-on.
    std::string firmwareMenu = "standard";       // a row of firmwareMenuTable()
    bool biosLockEnable = false;                 // sets BLE in BIOS control
    bool spiLockDown = false;                    // sets FLOCKDN in the SPI controller
    std::string product = {};                    // the board's name, SMBIOS type 1 product
};

class Machine {
public:
    // Both banks erased (0xFF), legacy area all 0xFF, everything else at the
    // power-on values of sim/board/board_regs.h.
    explicit Machine(const BoardConfig& cfg);
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    ~Machine();

    const BoardConfig& config() const { return cfg_; }
    BoardKind kind() const { return wiring_.kind; }
    const GpioWiring& wiring() const { return wiring_; }
    SimClock& clock() { return clock_; }

    // Resets all volatile state to its power-on values (clock 0, PCI storage,
    // GPIO, BIOS control, SPI registers and cycles in flight, the parts' WEL
    // and WIP) and keeps the non-volatile state: both flash arrays and their
    // status registers' non-volatile bits, the bank latch, the legacy area.
    // Clears a power loss.
    void powerOn();
    // Power off and on again, then the firmware of the bank that boots runs:
    // it rebuilds the legacy BIOS area from its own image (sim/board/bank_firmware.h).
    // bank >= 0 is the bank-select jumper: that bank is latched and boots.
    // A bank that cannot boot leaves no running BIOS: legacy area erased.
    void reboot(int bank = -1);
    // Why the last boot failed; empty while a BIOS runs.
    const std::string& bootFault() const { return bootFault_; }
    void setBootFault(const std::string& fault) { bootFault_ = fault; }

    // The CPU's view (no trace, no host-call cost: SimOS adds those). A read
    // through the BIOS window takes its SPI bus time on the clock.
    uint32_t portRead(uint16_t port, unsigned width);  // width 1, 2, 4
    void portWrite(uint16_t port, unsigned width, uint32_t value);
    void memRead(uint32_t addr, uint32_t len, uint8_t* dst);  // any length, spans regions
    void memWrite(uint32_t addr, uint32_t len, const uint8_t* src);

    // Device state, for tests and the tool.
    FlashPart& bank(int i);  // 0 primary, 1 backup
    int activeBank() const { return activeBank_; }
    void setActiveBank(int bank);
    bool flashWriteProtectAsserted() const;  // WP# of the selected bank's part
    bool eepromWriteProtectHigh() const;     // the EEPROM WP line level
    uint8_t biosControl() const;             // LPC 0:31:0 reg 0xDC byte 0
    SpiController& spi() { return *spi_; }
    PciConfigSpace& pci() { return pci_; }
    GpioBlock& gpio() { return gpio_; }
    SmbusHost& smbus() { return smbus_; }
    H8Device& h8() { return h8_; }
    std::vector<uint8_t>& legacyArea() { return legacy_; }  // 64 KiB at 0xF0000
    ServiceProcessor& serviceProcessor() { return *sp_; }
    uint32_t pciRead(unsigned bus, unsigned dev, unsigned fn, unsigned reg);  // dword
    void pciWrite(unsigned bus, unsigned dev, unsigned fn, unsigned reg, uint32_t value);
    uint8_t gpioLevelByte(unsigned offset);  // GPIO I/O register byte at base + offset

    // Where the BIOS window starts (4 GiB minus the part size).
    uint32_t biosWindowBase() const;

    // Faults.
    // WP# of the selected part stays asserted whatever the line does.
    void setWpStuckLow(bool stuck);
    bool wpStuckLow() const { return wpStuckLow_; }
    // The power fails as erase/program operation number n (counted from 0
    // over both parts since this call) is about to start: it and every later
    // one do not happen. powerLost() reports it; powerOn() clears it.
    void failPowerAtOperation(uint64_t n);
    bool powerLost() const { return powerLost_; }
    uint64_t operationsStarted() const { return operationsStarted_; }

    // Volatile state (clock, PCI storage and latch, GPIO registers, chipset
    // configuration storage, SPI registers) as one opaque blob. Non-volatile
    // state is reached through bank(i), activeBank() and legacyArea().
    std::vector<uint8_t> saveVolatileState();
    bool restoreVolatileState(const std::vector<uint8_t>& blob);

private:
    void onGpioLine(unsigned pin, bool level);
    void applyWriteProtect();
    void applyBoardInputs();
    bool onFlashOperation();
    void firmwareSetup();
    uint32_t gpioBase() const;
    uint32_t rcbaBase(bool* enabled) const;
    bool smbusPort(uint16_t port, unsigned* offset) const;

    BoardConfig cfg_;
    GpioWiring wiring_;
    SimClock clock_;
    std::unique_ptr<FlashPart> banks_[2];
    std::unique_ptr<SpiController> spi_;
    PciConfigSpace pci_;
    GpioBlock gpio_;
    SmbusHost smbus_{clock_};
    H8Device h8_{clock_};
    std::vector<uint8_t> chipsetRegs_;  // RCBA_SPACE_SIZE bytes of plain storage
    std::vector<uint8_t> legacy_;
    std::string bootFault_;
    int activeBank_ = 0;
    bool wpStuckLow_ = false;
    bool powerLost_ = false;
    bool powerFailArmed_ = false;
    uint64_t powerFailAt_ = 0;
    uint64_t operationsStarted_ = 0;
    std::unique_ptr<ServiceProcessor> sp_;
};
