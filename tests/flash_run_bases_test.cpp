// A base register that points nowhere: the run writes to no port but the PCI
// configuration address, and no memory, for every mode that would write; the
// platform report still answers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/exit_status.h"
#include "flash/lromup.h"
#include "sim/board/board_image.h"
#include "sim/host/simos.h"

namespace {

std::unique_ptr<Machine> g_machine;
std::vector<TraceEntry> g_trace;

OS* createHost() {
    SimOS* host = new SimOS(*g_machine);
    host->setTracing(true);
    return host;
}

void destroyHost(OS* os) {
    SimOS* host = static_cast<SimOS*>(os);
    g_trace = host->trace();
    delete host;
}

constexpr unsigned LPC_DEV = 31, GPIOBASE_REG = 0x48, RCBA_REG = 0xF0;
constexpr uint32_t PCI_CONFIG_ADDRESS_PORT = 0xCF8;

TEST(ChipsetBases, BaseThatPointsNowhereRefusesEveryWritingMode) {
    struct Base { const char* what; unsigned reg; uint32_t value; };
    const Base bases[] = {{"GPIO base 0", GPIOBASE_REG, 0x00000001},
                          {"GPIO base all ones", GPIOBASE_REG, 0xFFFFFFFF},
                          {"GPIO base over legacy ports", GPIOBASE_REG, 0x00000081},
                          {"root-complex base 0", RCBA_REG, 0x00000001}};
    struct Mode { std::vector<std::string> args; int status; };
    const Mode modes[] = {{{"/chg"}, EXIT_BAD_CHIPSET_BASE},      {{"/lockEEP"}, EXIT_BAD_CHIPSET_BASE},
                          {{"/unlockEEP"}, EXIT_BAD_CHIPSET_BASE}, {{}, EXIT_BAD_CHIPSET_BASE},
                          {{"/chg", "/plat"}, EXIT_BAD_CHIPSET_BASE}, {{"/plat"}, 61}};
    for (const Base& base : bases)
        for (const Mode& mode : modes) {
            SCOPED_TRACE(std::string(base.what) + " " + (mode.args.empty() ? "" : mode.args[0]));
            g_machine = buildMachine(MachineOptions());
            g_machine->powerOn();
            g_machine->pciWrite(0, LPC_DEV, 0, base.reg, base.value);
            std::vector<std::string> args = mode.args;
            args.insert(args.begin(), "lromup");
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(&a[0]);
            osSetHost(createHost, destroyHost);
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            const int status = lromupMain(int(argv.size()), argv.data());
            testing::internal::GetCapturedStdout();
            const std::string err = testing::internal::GetCapturedStderr();
            osSetHost(nullptr, nullptr);

            EXPECT_EQ(status, mode.status);
            if (status == EXIT_BAD_CHIPSET_BASE) {
                EXPECT_NE(err.find("nothing was written"), std::string::npos) << err;
            }
            for (const TraceEntry& e : g_trace) {
                EXPECT_FALSE(e.kind == TraceKind::Out && e.address != PCI_CONFIG_ADDRESS_PORT)
                    << formatTraceEntry(e);
                EXPECT_NE(e.kind, TraceKind::MemW) << formatTraceEntry(e);
            }
            EXPECT_EQ(g_machine->activeBank(), 0);
        }
}

}  // namespace
