// fuzz_support: the checks every fuzz target makes after an input: the live
// block count, an abort that keeps the input when a check fails, and an output
// callback that drops what the session prints. Relies on apl.h and core/arrays.h.
#pragma once

#include "apl.h"
#include "core/arrays.h"

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

}  // namespace fuzz
