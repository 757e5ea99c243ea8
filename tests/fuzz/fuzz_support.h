// fuzz_support: the checks every fuzz target makes after an input: the live
// block count, an abort that keeps the input when a check fails, an output
// callback that drops what the session prints, a one-shot interrupt timer
// for inputs that may start long work, and for the targets that fix
// functions the input's lines and a fresh workspace for each input.
// Relies on apl.h, core/ and the interpreter's tokenizer and line control.
#pragma once

#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/tokenizer.h"

#include <sys/time.h>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// The input cut at line ends (at most `most` lines) as a nested vector of
// CHAR vectors: the text of a function to fix.
inline aplarray *InputLines(const uint8_t *data, size_t size, size_t most) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> lines;
    size_t start = 0;
    while (lines.size() < most) {
        const size_t end = input.find('\n', start);
        lines.push_back(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const auto n = static_cast<int32_t>(lines.size());
    aplarray *vector = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i) {
        const auto length = static_cast<int32_t>(lines[static_cast<size_t>(i)].size());
        aplarray *line = APL_Create(1, APL_CHAR, &length);
        if (length) memcpy(DataOf(line), lines[static_cast<size_t>(i)].data(), static_cast<size_t>(length));
        ItemsOf(vector)[i] = APL_Link(line);
    }
    return vector;
}

// A workspace with nothing but the system variables for the next input. The
// blocks left once the last one's workspace is gone must be those an empty
// workspace holds (`emptyBlocks`, counted at the first call).
inline void FreshWorkspace(const char *target, int32_t &emptyBlocks) {
    DestroySymbolTable();
    ResetConstantPool();
    ResetTokenBuffer(codeBuffer);
    ClearErrorPositions();
    ClearPendingControl();
    Require(emptyBlocks == 0 || LiveBlocks() == emptyBlocks, target, "blocks left behind");
    emptyBlocks = LiveBlocks();
    CreateSystemVariables(false);
}

}  // namespace fuzz
