#include "sim/store/dir_files.h"

// The shipped lromup-sim has no way to be killed from its environment: only the
// test copy (lromup-sim-killable, built with the tests) compiles the hook in.
#ifdef LROMUP_SIM_KILL_HOOK
#include <csignal>
#include <cstdlib>
#include <cstring>

void killPoint(const char* kind) {
    static const char* killAt = std::getenv("LROMUP_SIM_KILL_AT");
    static unsigned long count = 0;
    if (!killAt) return;
    const size_t len = std::strlen(kind);
    if (std::strncmp(killAt, kind, len) != 0 || killAt[len] != ':') return;
    if (++count == std::strtoul(killAt + len + 1, nullptr, 10)) ::raise(SIGKILL);
}
#else
void killPoint(const char*) {}
#endif
