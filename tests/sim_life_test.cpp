// A machine's life on each board: updates of either bank with and without the
// boot-block switch, bank changes, power cuts at random operations, reboots and
// recoveries through the bank-select jumper, in a seeded order. After every
// step: no success leaves a bank without the machine's identity, a bank that
// cannot boot says so, the guards are closed again after a run that was not
// cut, and a reboot reports the BIOS version the body was given.
//
// Each run of the updater happens in a child process (it may end the process,
// and a power cut ends it at once); the child sends the machine back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "flash/lromup.h"
#include "os/os.h"
#include "sim/board/bank_firmware.h"
#include "sim/board/board_image.h"
#include "sim/board/machine.h"
#include "sim/board/smbios_builder.h"
#include "sim/host/simos.h"

namespace {

constexpr int CUT_STATUS = 99;

// ---- The child's side ----
Machine* g_machine = nullptr;
std::FILE* g_pipe = nullptr;

// The banks, their status registers, the active bank, the power state and,
// last, the chipset's registers: what the parent rebuilds the machine from.
void sendMachine() {
    if (!g_pipe) return;
    Machine& m = *g_machine;
    std::vector<uint8_t> out = m.bank(0).array();
    out.insert(out.end(), m.bank(1).array().begin(), m.bank(1).array().end());
    out.insert(out.end(), {m.bank(0).status(), m.bank(1).status(), uint8_t(m.activeBank()), uint8_t(m.powerLost())});
    const std::vector<uint8_t> chipset = m.saveVolatileState();
    out.insert(out.end(), chipset.begin(), chipset.end());
    std::fwrite(out.data(), 1, out.size(), g_pipe);
    std::fclose(g_pipe);
    g_pipe = nullptr;
}

OS* createHost() { return new SimOS(*g_machine); }
void destroyHost(OS* os) { delete static_cast<SimOS*>(os); }

// Runs the updater on m with args; the power fails at operation `cut` when
// it is not negative. Returns the exit status (CUT_STATUS after a cut).
int runUpdater(Machine& m, const std::vector<std::string>& args, long cut = -1) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        g_machine = &m;
        g_pipe = ::fdopen(fds[1], "w");
        if (!g_pipe || !std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(121);
        if (cut >= 0) {
            m.failPowerAtOperation(uint64_t(cut));
            for (int i = 0; i < 2; ++i) {
                std::function<bool()> inner = m.bank(i).onOperationStart;
                m.bank(i).onOperationStart = [inner, &m] {
                    if (inner && inner()) return true;
                    if (!m.powerLost()) return false;
                    sendMachine();
                    _exit(CUT_STATUS);
                };
            }
        }
        std::atexit(sendMachine);
        osSetHost(createHost, destroyHost);
        std::vector<std::string> all = {"lromup"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv(all.size() + 1, nullptr);
        for (size_t i = 0; i < all.size(); ++i) argv[i] = &all[i][0];
        std::exit(lromupMain(int(all.size()), argv.data()) & 0xFF);  // sendMachine runs at exit
    }
    ::close(fds[1]);
    std::vector<uint8_t> in;
    char buf[1 << 16];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) in.insert(in.end(), buf, buf + n);
    ::close(fds[0]);
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    const size_t size0 = m.bank(0).array().size(), banks = size0 + m.bank(1).array().size();
    if (in.size() < banks + 4 || !WIFEXITED(wstatus)) return -1;
    std::copy(in.begin(), in.begin() + long(size0), m.bank(0).array().begin());
    std::copy(in.begin() + long(size0), in.begin() + long(banks), m.bank(1).array().begin());
    const uint8_t* state = &in[banks];
    for (int i = 0; i < 2; ++i) m.bank(i).setStatus(state[i]);
    m.setActiveBank(state[2]);
    m.restoreVolatileState(std::vector<uint8_t>(in.begin() + long(banks) + 4, in.end()));
    if (state[3]) m.powerOn();  // the machine comes back powered, as after a cut
    return WEXITSTATUS(wstatus);
}

std::string runningVersion(Machine& m) {
    return findSmbiosBiosVersion(m.legacyArea().data(), m.legacyArea().size(), LEGACY_AREA_BASE);
}

// ---- What a bank holds ----
// Serial number, MTM, UUID, asset tag and OEM text.
using Identity = std::vector<std::string>;

std::string field(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), n));
}

// The identity the top 64 KiB of a bank carries, through its trailer.
Identity bankIdentity(const std::vector<uint8_t>& flash) {
    const uint8_t* top = flash.data() + flash.size() - IMAGE_TOP_SIZE;
    auto block = [&](uint32_t pointer) { return top + (top[pointer] | top[pointer + 1] << 8) % IMAGE_TOP_SIZE; };
    const uint8_t* vpd = block(TRAILER_VPD_PTR);
    const bool hasVpd = std::memcmp(vpd, VPD_SIGNATURE, 5) == 0;
    const uint8_t* uuid = vpd + VPD_UUID_RECORD + UUID_REC_UUID;
    return {hasVpd ? field(vpd + VPD_SERIAL, VPD_SERIAL_SIZE) : "",
            hasVpd ? field(vpd + VPD_MTM, VPD_MTM_SIZE) : "",
            hasVpd ? std::string(uuid, uuid + UUID_SIZE) : "",
            field(block(TRAILER_ASSET_PTR) + ASSET_TEXT, TEXT_FIELD_SIZE),
            field(block(TRAILER_OEM_PTR) + OEM_TEXT, TEXT_FIELD_SIZE)};
}

// One board's images on disk, removed at the end.
struct Images {
    std::string dir;
    std::vector<std::string> files, versions;
    Images(Machine& m, int count) {
        char tmpl[] = "/tmp/lromup-life-XXXXXX";
        dir = ::mkdtemp(tmpl);
        for (int seed = 1; seed <= count; ++seed) {
            std::vector<uint8_t> image = buildNewImage(m, ImageKind::Accepted, uint32_t(seed));
            std::string path = dir + "/new" + std::to_string(seed) + ".rom";
            std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), long(image.size()));
            files.push_back(path);
            // The version buildNewImage gives the body.
            versions.push_back(runningVersion(m).substr(0, 4) + std::to_string(50 + seed % 50) + "N");
        }
    }
    ~Images() { std::filesystem::remove_all(dir); }
};

struct LifeCase {
    const char* model;
    unsigned seed;
    int steps;
};

class MachineLife : public testing::TestWithParam<LifeCase> {};

TEST_P(MachineLife, IdentityAndBootSurviveEverySequence) {
    const LifeCase& c = GetParam();
    // LROMUP_LIFE_STEPS=N runs N steps on each board (a longer soak).
    const char* soak = std::getenv("LROMUP_LIFE_STEPS");
    const int steps = soak ? std::atoi(soak) : c.steps;
    MachineOptions options;
    options.model = c.model;
    std::unique_ptr<Machine> owned = buildMachine(options);
    ASSERT_TRUE(owned);
    Machine& m = *owned;
    const Identity machineId = bankIdentity(m.bank(0).array());
    ASSERT_FALSE(machineId[0].empty());
    Images images(m, 4);
    // The version each bank's body was last given (empty: unknown after a cut).
    std::string expected[2] = {runningVersion(m), runningVersion(m)};
    const uint8_t lockedStatus[2] = {m.bank(0).status(), m.bank(1).status()};
    std::mt19937 rng(c.seed);
    auto pick = [&](unsigned n) { return unsigned(rng() % n); };

    // A bank a cut left written in part, by the part of it the run was writing
    // (body, or boot block with /bblk): the operator rewrites that part of that
    // bank before anything else, as the recovery section of the README says.
    int suspectBank = -1;
    bool suspectBootBlock = false;
    for (int step = 0; step < steps; ++step) {
        SCOPED_TRACE(std::string(c.model) + " seed " + std::to_string(c.seed) + " step " +
                     std::to_string(step));
        const unsigned action = pick(10);
        if (!m.bootFault().empty() || (action < 2 && suspectBank < 0)) {
            // A reboot; on a bank that does not boot, the jumper selects the other.
            const bool recover = !m.bootFault().empty();
            m.reboot(recover ? 1 - m.activeBank() : -1);
            const int bank = m.activeBank();
            if (m.bootFault().empty()) {
                if (!expected[bank].empty()) {
                    EXPECT_EQ(runningVersion(m), expected[bank]);
                }
                EXPECT_EQ(bankIdentity(m.bank(bank).array()), machineId);
            } else {
                EXPECT_EQ(runningVersion(m), "") << "a bank that does not boot runs nothing";
                ASSERT_FALSE(recover) << "neither bank boots: " << m.bootFault();
            }
            continue;
        }
        std::vector<std::string> args;
        int target = -1;
        bool bootBlockOnly = false;
        unsigned image = pick(unsigned(images.files.size()));
        if (action == 2 && suspectBank < 0) {
            args = {"/chg"};
        } else {
            target = suspectBank >= 0 ? suspectBank : int(pick(2));
            bootBlockOnly = suspectBank >= 0 ? suspectBootBlock : pick(3) != 0;
            args = {target == 0 ? "/p" : "/bb", images.files[image]};
            if (bootBlockOnly) args.push_back("/bblk");
        }
        const long cut = target >= 0 && suspectBank < 0 && pick(3) == 0 ? long(pick(3000)) : -1;
        const std::vector<uint8_t> before[2] = {m.bank(0).array(), m.bank(1).array()};
        const uint8_t statusBefore[2] = {m.bank(0).status(), m.bank(1).status()};
        const int status = runUpdater(m, args, cut);
        ASSERT_NE(status, -1) << "the child did not report";
        if (status == 0 && target == suspectBank) suspectBank = -1;
        for (int bank = 0; bank < 2; ++bank) {
            if (m.bank(bank).array() == before[bank]) continue;
            if (status == 0) {
                EXPECT_EQ(bankIdentity(m.bank(bank).array()), machineId)
                    << args[0] << " succeeded and lost the identity";
                if (!bootBlockOnly) expected[bank] = images.versions[image];
            } else {
                expected[bank] = "";  // a body written in part: it boots no more or reports anew
                suspectBank = bank;
                suspectBootBlock = bootBlockOnly;
            }
        }
        if (status != CUT_STATUS) {
            EXPECT_EQ(m.biosControl() & BIOS_CNTL_BIOSWE, 0) << args[0] << " status " << status;
            for (int bank = 0; bank < 2; ++bank) {
                const uint8_t protect = m.bank(bank).status() & 0xBC;
                EXPECT_TRUE(protect == (statusBefore[bank] & 0xBC) || protect == (lockedStatus[bank] & 0xBC))
                    << "bank " << bank << " protection " << int(protect) << " after " << args[0]
                    << " status " << status;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Boards, MachineLife,
                         testing::Values(LifeCase{"moro310", 310, 40}, LifeCase{"moro320", 320, 60},
                                         LifeCase{"moro330", 330, 60}),
                         [](const testing::TestParamInfo<LifeCase>& info) {
                             return std::string(info.param.model);
                         });

// A cut at any of the last operations of a boot-block update, then a reboot
// (through the other bank when this one no longer boots) and the update
// again: it ends in success with the machine's identity, or refuses.
TEST(MachineLifeCuts, CutsNearTheEndOfABootBlockUpdateNeverLoseTheIdentity) {
    MachineOptions options;
    options.model = "moro320";
    std::unique_ptr<Machine> fresh = buildMachine(options);
    const Identity machineId = bankIdentity(fresh->bank(0).array());
    Images images(*fresh, 1);
    const std::vector<std::string> update = {"/p", images.files[0], "/bblk"};
    ASSERT_EQ(runUpdater(*fresh, update), 0);
    // The operations one run takes: a cut at operation n happens while n < total.
    long last = -1;
    for (long probe = 8192; probe > 0; probe /= 2) {
        std::unique_ptr<Machine> m = buildMachine(options);
        if (runUpdater(*m, update, last + probe) == CUT_STATUS) last += probe;
    }
    const long total = last + 1;
    ASSERT_GT(total, 100);
    for (long cut = total - 100; cut < total; ++cut) {
        SCOPED_TRACE("cut at operation " + std::to_string(cut) + " of " + std::to_string(total));
        std::unique_ptr<Machine> m = buildMachine(options);
        ASSERT_EQ(runUpdater(*m, update, cut), CUT_STATUS);
        m->reboot();
        if (!m->bootFault().empty()) m->reboot(1);
        ASSERT_EQ(m->bootFault(), "");
        const int status = runUpdater(*m, update);
        if (status == 0) {
            EXPECT_EQ(bankIdentity(m->bank(0).array()), machineId);
        }
    }
}

}  // namespace
