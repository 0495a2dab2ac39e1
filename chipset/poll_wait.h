// The one polling loop of the chipset code. A bound is a time: after a short
// run of polls back to back, a wait polls once a millisecond and counts the
// milliseconds it has slept through the host, so it ends after the same time
// however fast or slow each register read happens to be.
#pragma once
#include "os/os.h"

struct PollBound {
    unsigned long spinPolls;  // polls made back to back before the first sleep
    unsigned long timeoutMs;  // then one poll per 1 ms sleep, until this much was slept
};

// Polls done() until it returns true or the bound is used up; true when done.
// The milliseconds slept are added to *slept when it is given.
template <typename Done>
bool pollUntil(OS* os, const PollBound& bound, Done done, unsigned long* slept = nullptr) {
    for (unsigned long poll = 0; poll < bound.spinPolls; ++poll)
        if (done()) return true;
    for (unsigned long ms = 0; ms < bound.timeoutMs; ++ms) {
        if (done()) return true;
        os->sleep(1);
        if (slept != nullptr) ++*slept;
    }
    return bound.timeoutMs != 0 && done();
}
