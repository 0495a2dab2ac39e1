// The IPMI driver fallback of the SP6 bridges through the seam: the open
// sequence (modules, device node, kernel release and driver version rules),
// the request exchange, and what a link planted at /tmp/modout can do.
#include <gtest/gtest.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "os_fake_kernel.h"

namespace {

constexpr int IPMI_FD = 9;
constexpr const char* BAD_DRIVER = "An invalid version of the OpenIPMI driver was detected. Halting.\n";

// A machine whose device nodes are the given paths, answering commands from
// the table (a command not in it prints nothing). A node appears once the
// mknod for it has run.
void machineWith(std::set<std::string> nodes, std::map<std::string, std::string> outputs) {
    auto present = std::make_shared<std::set<std::string>>(std::move(nodes));
    fake.open = [present](const std::string& path, int) {
        return present->count(path) ? IPMI_FD : failWith(ENOENT);
    };
    fake.run = [present, outputs](const std::string& command) {
        if (command.rfind("mknod /dev/ipmi0 c 246 0", 0) == 0) present->insert("/dev/ipmi0");
        auto it = outputs.find(command);
        return it != outputs.end() ? it->second : std::string();
    };
}

TEST(IpmiOpen, KernelReleaseAndDriverVersionDecide) {
    struct Case {
        const char* release;
        const char* banner;  // dmesg line of the driver, for 2.4 kernels
        int result;
        bool badDriverLine;
    } const cases[] = {
        {"2.6.16-smp\n", nullptr, 0, false},
        {"2.4.21-4.ELsmp\n", "ipmi message handler version 35.11\n", 0, false},
        {"2.4.21-4.ELsmp\n", "ipmi message handler version 35.12\n", -1, true},
        {"2.4.21-4.ELsmp\n", "ipmi message handler version 38.0\n", 0, false},
        {"2.4.21-4.ELsmp\n", "ipmi message handler version 30.0\n", -1, true},
        {"2.4.21-4.ELsmp\n", "ipmi message handler v39.1\n", -1, false},  // not the banner: no word
        {"3.0.0\n", nullptr, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.release) + (c.banner ? c.banner : ""));
        resetFake();
        machineWith({"/dev/ipmi0"}, {{"uname -r", c.release},
                                     {"dmesg | grep \"ipmi message handler\"", c.banner ? c.banner : ""}});
        LinOS os(fakeKernel());
        void* handle = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(os.bmcOpenSP6Driver(&handle, nullptr), c.result);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, std::string("Enter IPMI sub-function.\n") + (c.badDriverLine ? BAD_DRIVER : ""));
        EXPECT_EQ(only(fake.log, {"run modprobe"}), Log());
        EXPECT_EQ(handle, c.result == 0 ? reinterpret_cast<void*>(IPMI_FD) : nullptr);
        // A refused driver's device is not left open.
        EXPECT_EQ(only(fake.log, {"close"}).size(), c.result == 0 ? 0u : 1u);
    }
}

// Without a device node the modules are loaded and the node made; a module
// that fails to load, or a device that never appears, ends the open.
TEST(IpmiOpen, ModulesLoadedAndTheNodeMadeOrTheOpenEnds) {
    const Log modules = {"run modprobe -v ipmi_msghandler", "run modprobe -v ipmi_devintf",
                         "run modprobe -v ipmi_si"};
    struct Case {
        const char* what;
        std::map<std::string, std::string> outputs;
        int result;
        Log commands;    // every command run
        unsigned waits;  // one-second waits for the device
    } const cases[] = {
        {"modules in, node made",
         {{"grep ipmi /proc/devices", "246 ipmidev\n"}, {"uname -r", "2.6.32\n"}}, 0,
         modules + Log{"run rm -f /dev/ipmi0", "run grep ipmi /proc/devices",
                       "run mknod /dev/ipmi0 c 246 0", "run uname -r"}, 0},
        {"message handler missing",
         {{"modprobe -v ipmi_msghandler", "FATAL: Module ipmi_msghandler not found.\n"}}, -1,
         {"run modprobe -v ipmi_msghandler"}, 0},
        {"ipmi_si missing and its alternative too",
         {{"modprobe -v ipmi_si", "FATAL: Module ipmi_si not found.\n"},
          {"modprobe -v ipmi_si_drv", "Can't locate module ipmi_si_drv\n"}}, -1,
         modules + Log{"run modprobe -v ipmi_si_drv"}, 0},
        {"modules in but the device never appears", {{"grep ipmi /proc/devices", "not a number\n"}}, -1,
         modules + Log{"run rm -f /dev/ipmi0", "run grep ipmi /proc/devices"}, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetFake();
        machineWith({}, c.outputs);
        LinOS os(fakeKernel());
        void* handle = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(os.bmcOpenSP6Driver(&handle, nullptr), c.result);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(only(fake.log, {"run"}), c.commands);
        EXPECT_EQ(only(fake.log, {"usleep 1000000"}).size(), c.waits);
        EXPECT_EQ(std::count(out.begin(), out.end(), '.'), 1 + c.waits);  // one in the greeting
        if (c.result == 0) {
            EXPECT_EQ(out, "Enter IPMI sub-function.\nInitiating OpenIPMI connection\n");
            EXPECT_EQ(only(fake.log, {"open"}),
                      Log({"open /dev/ipmi0", "open /dev/ipmi/0", "open /etc/init.d/ipmi", "open /dev/ipmi0"}));
        }
    }
}

// The driver hands back reply to the receive request.
void driverAnswers(const std::vector<unsigned char>& reply, std::vector<long>* msgids) {
    fake.ioctl = [reply, msgids](int fd, unsigned long request, void* argument) {
        fake.log.push_back(fmt("ioctl %lu %#lx", fd, request));
        if (request == IPMICTL_SEND_COMMAND) {
            auto* req = static_cast<ipmi_req*>(argument);
            auto* addr = reinterpret_cast<ipmi_system_interface_addr*>(req->addr);
            fake.log.push_back(fmt("send netfn %#lx cmd %#lx", req->msg.netfn, req->msg.cmd) +
                               fmt(" addr %#lx ch %#lx", addr->addr_type, addr->channel));
            msgids->push_back(req->msgid);
            return 0;
        }
        auto* recv = static_cast<ipmi_recv*>(argument);
        const std::size_t fits = std::min<std::size_t>(reply.size(), recv->msg.data_len);
        std::copy_n(reply.begin(), fits, recv->msg.data);
        recv->msg.data_len = static_cast<unsigned short>(fits);
        return fits < reply.size() ? failWith(EMSGSIZE) : 0;
    };
}

// The reply's completion code and data, cut to the caller's buffer; no reply
// within the bound, or an empty one, fails. Each request gets the next id.
TEST(IpmiRequest, CompletionCodeLengthAndMissingReplies) {
    struct Case {
        const char* what;
        std::vector<unsigned char> reply;  // completion code and data
        unsigned short capacity;
        int selected;  // what select reports: 0 when the bound passed
        int result;
        unsigned char cc;
        std::vector<unsigned char> response;  // what the caller's buffer holds afterwards
        const char* err;
    } const cases[] = {
        {"data after a good completion code moves to the front", {0x00, 0x11, 0x22, 0x33}, 8, 1, 0,
         0x00, {0x11, 0x22, 0x33}, ""},
        {"an error completion code keeps the buffer as received", {0xC1, 0x11}, 8, 1, 0, 0xC1, {0xC1}, ""},
        {"a truncated reply is accepted", {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 4, 1, 0, 0x00,
         {0x11, 0x22, 0x33}, ""},
        {"an empty reply", {}, 8, 1, 8, 0, {}, ""},
        {"no reply", {0x00, 0x11}, 8, 0, 8, 0, {}, "No reply from the IPMI driver within 20 s\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetFake();
        std::vector<long> msgids;
        driverAnswers(c.reply, &msgids);
        fake.selectResult = c.selected;
        LinOS os(fakeKernel());
        unsigned char request[2] = {1, 2}, response[8] = {};
        unsigned short length = c.capacity;
        unsigned char cc = 0xEE;
        void* handle = reinterpret_cast<void*>(IPMI_FD);
        testing::internal::CaptureStderr();
        EXPECT_EQ(os.bmcSendSP6Request(handle, 0x18, 0x01, request, 2, 0, response, &length, &cc, nullptr),
                  c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        if (c.result == 0) {
            EXPECT_EQ(cc, c.cc);
            EXPECT_EQ(length, c.response.size());
            EXPECT_EQ(std::vector<unsigned char>(response, response + c.response.size()), c.response);
        }
        testing::internal::CaptureStderr();
        os.bmcSendSP6Request(handle, 0x18, 0x01, request, 2, 0, response, &length, &cc, nullptr);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(msgids, std::vector<long>({0, 1}));
        EXPECT_EQ(only(fake.log, {"send", "select"}),
                  Log({"send netfn 0x6 cmd 0x1 addr 0xc ch 0xf", "select 20s",
                       "send netfn 0x6 cmd 0x1 addr 0xc ch 0xf", "select 20s"}));
    }
}

// The open sequence runs its commands for real (made harmless: each prints
// what the real one would) while a link from /tmp/modout points at a file
// of someone else's. The file must stay as it was.
TEST(IpmiOpen, ALinkPlantedAtTmpModoutIsNeverWrittenThroughOrRead) {
    const std::string trap = "/tmp/modout";
    struct stat st;
    if (lstat(trap.c_str(), &st) == 0) GTEST_SKIP() << trap << " exists already";
    char dir[] = "/tmp/lromup-victimXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string victim = std::string(dir) + "/victim";
    std::ofstream(victim) << "FATAL precious\n";
    ASSERT_EQ(symlink(victim.c_str(), trap.c_str()), 0);

    static const std::map<std::string, std::string> harmless = {
        {"modprobe -v ipmi_msghandler", "echo insmod ipmi_msghandler.ko"},
        {"modprobe -v ipmi_devintf", "echo insmod ipmi_devintf.ko"},
        {"modprobe -v ipmi_si", "echo insmod ipmi_si.ko"},
        {"rm -f /dev/ipmi0", "true"},
        {"grep ipmi /proc/devices", "echo 246 ipmidev"},
        {"mknod /dev/ipmi0 c 246 0", "true"},
        {"uname -r", "echo 2.4.21-4.ELsmp"},
        {"dmesg | grep \"ipmi message handler\"", "echo ipmi message handler version 39.1"},
    };
    resetFake();
    KernelCalls kernel = fakeKernel();
    kernel.runCommand = [](const char* command, char* output, std::size_t capacity) {
        auto it = harmless.find(command);
        return productionKernel().runCommand(it != harmless.end() ? it->second.c_str() : "false",
                                             output, capacity);
    };
    int opens = 0;
    fake.open = [&opens](const std::string& path, int) {
        return path == "/dev/ipmi0" && ++opens > 1 ? IPMI_FD : failWith(ENOENT);
    };
    LinOS os(kernel);
    void* handle = nullptr;
    testing::internal::CaptureStdout();
    const int result = os.bmcOpenSP6Driver(&handle, nullptr);
    testing::internal::GetCapturedStdout();

    char target[256] = {};
    const ssize_t n = readlink(trap.c_str(), target, sizeof target - 1);
    std::ifstream in(victim);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(trap.c_str());
    unlink(victim.c_str());
    rmdir(dir);
    EXPECT_EQ(result, 0);  // the planted "FATAL" was not read as module output
    EXPECT_EQ(std::string(target, n > 0 ? std::size_t(n) : 0), victim);
    EXPECT_EQ(content, "FATAL precious\n");
}

}  // namespace
