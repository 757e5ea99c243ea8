// interrupt: the session's SIGINT handler (see interrupt.h).
#include "interrupt.h"

#include "apl.h"

#include <csignal>

namespace interrupt {
namespace {

volatile sig_atomic_t running = 0;
volatile sig_atomic_t signalled = 0;
struct sigaction replaced = {};

void OnInterrupt(int sig, siginfo_t *info, void *context) {
    if (running) {
        APL_interrupted = 1;
        signalled = 1;
        return;
    }
    if (replaced.sa_flags & SA_SIGINFO) {
        replaced.sa_sigaction(sig, info, context);
    } else if (replaced.sa_handler == SIG_DFL) {
        // The default ends the process: it does so once this handler returns.
        signal(sig, SIG_DFL);
        raise(sig);
    } else if (replaced.sa_handler != SIG_IGN) {
        replaced.sa_handler(sig);
    }
}

bool Ours(const struct sigaction &action) {
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == OnInterrupt;
}

}  // namespace

void Catch() {
    struct sigaction current;
    if (sigaction(SIGINT, nullptr, &current) != 0 || Ours(current)) return;
    struct sigaction ours = {};
    ours.sa_sigaction = OnInterrupt;
    ours.sa_flags = SA_SIGINFO;
    sigemptyset(&ours.sa_mask);
    // Ours is not installed now, so nothing reads `replaced` while it changes.
    sigaction(SIGINT, &ours, &replaced);
}

void Release() {
    struct sigaction current;
    if (sigaction(SIGINT, nullptr, &current) == 0 && Ours(current)) sigaction(SIGINT, &replaced, nullptr);
}

Running::Running() {
    signalled = 0;
    APL_interrupted = 0;
    running = 1;
}

Running::~Running() {
    running = 0;
    APL_interrupted = 0;
}

bool Running::Signalled() const { return signalled != 0; }

}  // namespace interrupt
