// Host calls per second through SimOS with tracing off: the PCI configuration
// idiom (address to 0xCF8, data from 0xCFC), SPI status register reads in the
// chipset's memory, and a GPIO byte, as the updater's polling loops issue them.
#include <chrono>
#include <cstdio>
#include <memory>

#include "sim/board/board_image.h"
#include "sim/board/board_regs.h"
#include "sim/board/machine.h"
#include "sim/board/spi_regs.h"
#include "sim/host/simos.h"

namespace {

constexpr unsigned ROUNDS = 2000000;   // each round makes CALLS_PER_ROUND host calls
constexpr unsigned CALLS_PER_ROUND = 4;
constexpr uint32_t LPC_ID_ADDRESS = PCI_CFG_ENABLE | (31u << PCI_CFG_DEV_SHIFT);
constexpr uint32_t SPI_HSFS = (BOARD_RCBA & RCBA_ADDR_MASK) + RCBA_SPI_BLOCK + simspi::HSFS;
constexpr uint16_t GPIO_LEVEL_PORT = (BOARD_GPIOBASE & GPIOBASE_ADDR_MASK) + GP_LVL;

}  // namespace

int main() {
    std::unique_ptr<Machine> machine = buildMachine(MachineOptions());
    if (!machine) return 1;
    SimOS os(*machine);
    os.setTracing(false);
    unsigned sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < ROUNDS; ++i) {
        os.outportDword(PCI_CONFIG_ADDRESS, LPC_ID_ADDRESS);
        sink += os.inportDword(PCI_CONFIG_DATA);
        unsigned char status[2];
        os.memRead(SPI_HSFS, sizeof status, status);
        sink += status[0];
        sink += os.inportByte(GPIO_LEVEL_PORT);
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    double calls = double(ROUNDS) * CALLS_PER_ROUND;
    std::printf("%.0f host calls in %.3f s: %.2f million calls/s (checksum %u)\n", calls,
                elapsed.count(), calls / elapsed.count() / 1e6, sink);
    return 0;
}
