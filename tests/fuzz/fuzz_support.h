// fuzz_support: the checks every fuzz target makes after an input: the live
// block count, an abort that keeps the input when a check fails, an output
// callback that drops what the session prints, and a one-shot interrupt timer
// for inputs that may start long work. Relies on apl.h and core/arrays.h.
#pragma once

#include "apl.h"
#include "core/arrays.h"

#include <sys/time.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// The number of live blocks (the first item of ⎕MD's count).
inline int32_t LiveBlocks() {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    const int32_t blocks = DataOf<int32_t>(counts)[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

// A failed check aborts, so that libFuzzer keeps the input that broke it; the
// message names the target, the check and the pending error.
inline void Require(bool condition, const char *target, const char *what) {
    if (condition) return;
    fprintf(stderr, "%s: %s (error %d %s)\n", target, what, aplerrno, APL_error_message);
    abort();
}

inline void Discard(const char *, int32_t) {}

// A quiet script-mode session whose allocations past `limitBytes` are WS FULL
// (huge shapes are the library's error, not the fuzzer's memory).
inline void StartQuietSession(int64_t limitBytes) {
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    APL_SetScriptMode(1);
    APL_Init(0, "");
    APL_SetAllocationLimit(limitBytes);
}

// The flag goes up `ms` milliseconds from now, as Ctrl-C would raise it, so
// that an input which starts long work ends with INTERRUPT ERROR instead of
// holding the fuzzer. Disarm stops the timer and lowers the flag.
inline void OnAlarm(int) { APL_interrupted = 1; }
inline void InterruptAfter(int ms) {
    signal(SIGALRM, OnAlarm);
    itimerval timer{};
    timer.it_value.tv_usec = ms * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
}
inline void Disarm() {
    itimerval timer{};
    setitimer(ITIMER_REAL, &timer, nullptr);
    APL_interrupted = 0;
}

}  // namespace fuzz
