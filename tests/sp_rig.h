// A simulated board with its service processor, the host object over it and
// the platform that pulses the service processor's reset, in a scratch
// directory that becomes the current one (the procedures read and write their
// files there).
#pragma once
#include <string>
#include <vector>

#include "chipset/splpc_regs.h"
#include "chipset_rig.h"
#include "os/os.h"
#include "platform/x86qm.h"
#include "sim/board/machine.h"
#include "sim/board/sp_regs.h"
#include "sim/host/simos.h"

struct SpBoard {
    explicit SpBoard(const SpFaults& faults = SpFaults()) : machine(BoardConfig{}), os(machine), platform(&os) {
        sp().faults = faults;
        sp().powerOn();
        // The procedures destroy the host on one exit path; it is ours.
        osSetHost([]() -> OS* { return nullptr; }, [](OS*) {});
    }
    ~SpBoard() { osSetHost(nullptr, nullptr); }

    ServiceProcessor& sp() { return machine.serviceProcessor(); }
    std::vector<uint8_t> application() {
        return std::vector<uint8_t>(sp().flash().begin() + spsim::APP_START, sp().flash().end());
    }

    // The bytes the host wrote to the mailbox data port since the trace was cleared.
    std::vector<uint8_t> sentBytes() const {
        std::vector<uint8_t> out;
        for (const TraceEntry& e : os.trace())
            if (e.kind == TraceKind::Out && e.address == splpc::MBX_DATA) out.push_back(uint8_t(e.value));
        return out;
    }

    ScratchDir dir;
    Machine machine;
    SimOS os;
    x86QMPlatform platform;
};
