// The SPI controller's two cycle engines (software- and hardware-sequenced),
// the register access they rest on, the error checks and the register dumps.
#include <cstdio>

#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/pci.h"
#include "chipset/spi_menu.h"
#include "chipset/spi_wait.h"
#include "os/os.h"

// ---- Register access: one host call per register access ----

void ich10spiChipset::refreshRootComplexBase() { rcba = readRootComplexBase(os); }

uint32_t ich10spiChipset::spiAddress(uint32_t offset) const { return rcba + SPI_BLOCK_OFFSET + offset; }

uint8_t ich10spiChipset::readReg8(uint32_t offset) {
    uint8_t value = 0;
    os->memRead(spiAddress(offset), 1, &value);
    return value;
}

void ich10spiChipset::writeReg8(uint32_t offset, uint8_t value) {
    os->memWrite(spiAddress(offset), 1, &value);
}

uint32_t ich10spiChipset::readReg32(uint32_t offset) {
    uint8_t bytes[4] = {};
    os->memRead(spiAddress(offset), 4, bytes);
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

void ich10spiChipset::writeReg32(uint32_t offset, uint32_t value) {
    uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                        uint8_t(value >> 24)};
    os->memWrite(spiAddress(offset), 4, bytes);
}

void ich10spiChipset::writeRegBytes(uint32_t offset, const uint8_t* bytes, unsigned count) {
    uint8_t copy[SPI_FDATA_SIZE];
    for (unsigned i = 0; i < count && i < SPI_FDATA_SIZE; ++i) copy[i] = bytes[i];
    os->memWrite(spiAddress(offset), count, copy);
}

void ich10spiChipset::readRegBytes(uint32_t offset, uint8_t* bytes, unsigned count) {
    os->memRead(spiAddress(offset), count, bytes);
}

// ---- Opcode environment ----

void ich10spiChipset::InitSpiEnvironment() {
    const uint8_t optype[2] = {uint8_t(SPI_MENU_OPTYPE), uint8_t(SPI_MENU_OPTYPE >> 8)};
    writeRegBytes(SPI_OPTYPE, optype, sizeof optype);
    Delay1mSec();
    writeRegBytes(SPI_OPMENU, SPI_MENU_LOW, sizeof SPI_MENU_LOW);
    Delay1mSec();
    writeRegBytes(SPI_OPMENU_HI, SPI_MENU_HIGH, sizeof SPI_MENU_HIGH);
    Delay1mSec();
    writeRegBytes(SPI_PREOP, SPI_MENU_PREOP, sizeof SPI_MENU_PREOP);
    Delay1mSec();
    refreshMenu();
}

// A locked-down controller ignores the menu writes; what it holds decides
// which entry each cycle starts.
void ich10spiChipset::refreshMenu() { menu = readSpiMenu(os, spiAddress(0)); }

void ich10spiChipset::Delay1mSec() { os->sleep(1); }

// ---- Software-sequenced cycles ----

int ich10spiChipset::SendSpiCmd(unsigned char* record) {
    if (!pollUntil(os, SW_CYCLE_START_BOUND,
                   [&] { return (readReg8(SPI_SSFS) & SSFS_SCIP) == 0; })) {
        // The controller is still busy with an earlier cycle: starting another
        // would end in FCERR at best. Leave the registers alone and fail.
        const unsigned entry = (record[1] & SSFC_COP_MASK) >> SSFC_COP_SHIFT;
        std::fprintf(stderr,
                     "SPI software cycle at flash address 0x%06X did not complete; "
                     "opcode menu entry %u not started\n",
                     readReg32(SPI_FADDR) & SPI_FADDR_MASK, entry);
        return SPI_ERR_TIMEOUT;
    }
    // A CDS or FCERR left by an earlier cycle (or by the firmware) would end
    // this cycle's wait at once or fail it: clear both before the start.
    writeReg8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);
    // Data-phase and count bytes first, the byte holding SCGO last.
    writeReg8(SPI_SSFC_SCF, record[3]);
    writeReg8(SPI_SSFC_DBC, record[2]);
    writeReg8(SPI_SSFC, record[1]);
    writeReg8(SPI_SSFS, record[0]);
    return 0;
}

// Starts op from the entry the controller's menu really holds for it.
int ich10spiChipset::sendSw(const SpiOp& op) {
    SpiSwCommand record;
    if (!resolveSpiOp(menu, op, &record)) {
        reportUnservedSpiOp(op);
        return SPI_ERR_NO_OPCODE;
    }
    return SendSpiCmd(record.bytes);
}

void ich10spiChipset::WaitCycleDone() { WaitCycleDone(SW_CYCLE_DONE_BOUND); }

void ich10spiChipset::WaitCycleDone(const PollBound& bound) {
    // Only CDS ends the wait. Reaching the bound is not reported here; the
    // next SendSpiCmd finds SCIP still set and reports the stuck cycle.
    pollUntil(os, bound, [&] { return (readReg8(SPI_SSFS) & SSFS_CDS) != 0; });
    writeReg8(SPI_SSFS, SSFS_CDS);
    os->outportByte(BUS_DELAY_PORT, BUS_DELAY_VALUE);
    os->outportByte(BUS_DELAY_PORT, BUS_DELAY_VALUE);
}

void ich10spiChipset::ClearCycleDone() { writeReg8(SPI_SSFS, readReg8(SPI_SSFS)); }

void ich10spiChipset::ClearFCERR() { writeReg8(SPI_SSFS, SSFS_FCERR); }

int ich10spiChipset::CheckFCCErr() {
    if (readReg8(SPI_SSFS) & SSFS_FCERR) {
        std::puts("Flash access error ");
        ClearFCERR();
        return 0;
    }
    return 1;
}

// ---- Hardware-sequenced cycles ----

void ich10spiChipset::SendSpiHWCmd(unsigned char* record) {
    // A stale FDONE would end the wait before this cycle has run, a stale
    // FCERR would fail it: clear both before the start.
    writeReg8(SPI_HSFS, HSFS_FDONE | HSFS_FCERR);
    writeReg8(SPI_HSFC_HI, record[1]);
    writeReg8(SPI_HSFC, record[0]);  // FGO
}

void ich10spiChipset::sendHw(const SpiHwCommand& command) {
    SpiHwCommand copy = command;
    SendSpiHWCmd(copy.bytes);
}

namespace {
const char* const FCYCLE_NAMES[] = {"read", "reserved", "write", "erase"};
}

// A cycle the controller refuses ends with FCERR and without FDONE, so either
// bit ends the wait.
int ich10spiChipset::WaitHWCycleDone() {
    uint8_t status = 0;
    const bool ended = pollUntil(os, HW_CYCLE_DONE_BOUND, [&] {
        status = readReg8(SPI_HSFS);
        return (status & (HSFS_FDONE | HSFS_FCERR)) != 0;
    });
    if (!ended || (status & HSFS_FCERR)) {
        // Name the cycle from the controller's own registers.
        const uint8_t cycle = (readReg8(SPI_HSFC) & HSFC_FCYCLE_MASK) >> HSFC_FCYCLE_SHIFT;
        const uint32_t address = readReg32(SPI_FADDR) & SPI_FADDR_MASK;
        if (!ended) {
            std::fprintf(stderr, "SPI hardware %s cycle at flash address 0x%06X did not complete\n",
                         FCYCLE_NAMES[cycle], address);
            return SPI_ERR_TIMEOUT;
        }
        // A refused cycle left the flash untouched: never report it as done.
        std::fprintf(stderr,
                     "SPI hardware %s cycle at flash address 0x%06X was refused by the controller\n",
                     FCYCLE_NAMES[cycle], address);
        writeReg8(SPI_HSFS, HSFS_FDONE | HSFS_FCERR);
        return SPI_ERR_REFUSED;
    }
    // No bus delay after it: the next cycle's start clears FDONE and waits
    // on the controller itself.
    writeReg8(SPI_HSFS, HSFS_FDONE);
    return 0;
}

void ich10spiChipset::ClearHWFCERR() { writeReg8(SPI_HSFS, HSFS_FCERR); }

int ich10spiChipset::CheckHWFCCErr() {
    if (readReg8(SPI_HSFS) & HSFS_FCERR) {
        std::puts("Flash access error ");
        ClearHWFCERR();
        return 0;
    }
    return 1;
}

// ---- Register dumps ----

namespace {
struct RegisterDumpRow {
    const char* name;
    uint32_t offset;
    unsigned width;
};

const RegisterDumpRow REGISTER_DUMPS[] = {
    {"SPI_BFPR", SPI_BFPR, 4},   {"SPI_HSFS", SPI_HSFS, 2},   {"SPI_HSFC", SPI_HSFC, 2},
    {"SPI_FADDR", SPI_FADDR, 4}, {"SPI_FRAP", SPI_FRAP, 4},   {"SPI_FREG0", SPI_FREG0, 4},
    {"SPI_FREG1", SPI_FREG0 + 1 * SPI_REG_STRIDE, 4},
    {"SPI_FREG2", SPI_FREG0 + 2 * SPI_REG_STRIDE, 4},
    {"SPI_FREG3", SPI_FREG0 + 3 * SPI_REG_STRIDE, 4},
    {"SPI_FREG4", SPI_FREG0 + 4 * SPI_REG_STRIDE, 4},
    {"SPI_PR0", SPI_PR0, 4},
    {"SPI_PR1", SPI_PR0 + 1 * SPI_REG_STRIDE, 4},
    {"SPI_PR2", SPI_PR0 + 2 * SPI_REG_STRIDE, 4},
    {"SPI_PR3", SPI_PR0 + 3 * SPI_REG_STRIDE, 4},
    {"SPI_PR4", SPI_PR0 + 4 * SPI_REG_STRIDE, 4},
    {"SPI_SSFS", SPI_SSFS, 1},   {"SPI_SSFC", SPI_SSFC, 3},   {"SPI_BBAR", SPI_BBAR, 4},
    {"SPI_FDOC", SPI_FDOC, 4},   {"SPI_FDOD", SPI_FDOD, 4},   {"SPI_AFC", SPI_AFC, 4},
    {"SPI_LVSCC", SPI_LVSCC, 4}, {"SPI_UVSCC", SPI_UVSCC, 4},
};
enum RegisterDump {
    DUMP_BFPR, DUMP_HSFS, DUMP_HSFC, DUMP_FADDR, DUMP_FRAP,
    DUMP_FREG0, DUMP_FREG1, DUMP_FREG2, DUMP_FREG3, DUMP_FREG4,
    DUMP_PR0, DUMP_PR1, DUMP_PR2, DUMP_PR3, DUMP_PR4,
    DUMP_SSFS, DUMP_SSFC, DUMP_BBAR, DUMP_FDOC, DUMP_FDOD, DUMP_AFC, DUMP_LVSCC, DUMP_UVSCC,
};
}  // namespace

// Prints the register most significant byte first.
int ich10spiChipset::dumpRegister(unsigned index) {
    const RegisterDumpRow& row = REGISTER_DUMPS[index];
    uint8_t bytes[4] = {};
    readRegBytes(row.offset, bytes, row.width);
    std::printf(" DBG_MSG: the %s is:", row.name);
    for (unsigned i = row.width; i-- > 0;) std::printf(" %02x", bytes[i]);
    std::printf("\n");
    return 1;
}

int ich10spiChipset::ReadBFPR() { return dumpRegister(DUMP_BFPR); }
int ich10spiChipset::ReadHSFS() { return dumpRegister(DUMP_HSFS); }
int ich10spiChipset::ReadHSFC() { return dumpRegister(DUMP_HSFC); }
int ich10spiChipset::ReadFADDR() { return dumpRegister(DUMP_FADDR); }
int ich10spiChipset::ReadFRAP() { return dumpRegister(DUMP_FRAP); }
int ich10spiChipset::ReadFREG0() { return dumpRegister(DUMP_FREG0); }
int ich10spiChipset::ReadFREG1() { return dumpRegister(DUMP_FREG1); }
int ich10spiChipset::ReadFREG2() { return dumpRegister(DUMP_FREG2); }
int ich10spiChipset::ReadFREG3() { return dumpRegister(DUMP_FREG3); }
int ich10spiChipset::ReadFREG4() { return dumpRegister(DUMP_FREG4); }
int ich10spiChipset::ReadPR0() { return dumpRegister(DUMP_PR0); }
int ich10spiChipset::ReadPR1() { return dumpRegister(DUMP_PR1); }
int ich10spiChipset::ReadPR2() { return dumpRegister(DUMP_PR2); }
int ich10spiChipset::ReadPR3() { return dumpRegister(DUMP_PR3); }
int ich10spiChipset::ReadPR4() { return dumpRegister(DUMP_PR4); }
int ich10spiChipset::ReadSSFS() { return dumpRegister(DUMP_SSFS); }
int ich10spiChipset::ReadSSFC() { return dumpRegister(DUMP_SSFC); }
int ich10spiChipset::ReadBBAR() { return dumpRegister(DUMP_BBAR); }
int ich10spiChipset::ReadFDOC() { return dumpRegister(DUMP_FDOC); }
int ich10spiChipset::ReadFDOD() { return dumpRegister(DUMP_FDOD); }
int ich10spiChipset::ReadAFC() { return dumpRegister(DUMP_AFC); }
int ich10spiChipset::ReadLVSCC() { return dumpRegister(DUMP_LVSCC); }
int ich10spiChipset::ReadUVSCC() { return dumpRegister(DUMP_UVSCC); }

int ich10spiChipset::debug_msg() {
    ReadSSFS();
    ReadSSFC();
    return 1;
}
