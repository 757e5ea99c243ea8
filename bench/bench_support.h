// Helpers shared by the benchmark programs: starting the library before the
// benchmarks run, one library call per iteration, random data as plain vectors
// or linked arrays, and the fresh result buffer of a baseline loop. Relies on
// apl.h, the array core and Google Benchmark.
#pragma once

#include "apl.h"
#include "core/arrays.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace bench_support {

// One library call per iteration on linked arguments; the result released.
inline void Call(benchmark::State &state, aplfunction f, aplarray *left, aplarray *right, int64_t items) {
    for (auto _ : state) {
        aplarray *r = f(nullptr, left, right);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetItemsProcessed(state.iterations() * items);
}

// Runs the benchmarks after starting the library quietly as a script-mode
// session (system variables and the token file, no output).
inline int RunInSession(int argc, char **argv) {
    APL_Callback(1, reinterpret_cast<void *>(+[](const char *, int32_t) {}));
    APL_SetScriptMode(1);
    APL_Init(0, "");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Runs the benchmarks after starting the library in program mode (system
// variables, no token file or banner).
inline int RunInProgramMode(int argc, char **argv) {
    APL_Init(1, "");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

inline std::vector<int32_t> RandomInts(int32_t n, int32_t low, int32_t high, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> d(low, high);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (auto &x : v) x = d(rng);
    return v;
}

// A linked vector holding the values (int32_t for INTG, double for REAL).
template <class T>
aplarray *Linked(const std::vector<T> &v, int eltype) {
    const auto n = static_cast<int32_t>(v.size());
    aplarray *a = APL_Create(1, eltype, &n);
    memcpy(DataOf(a), v.data(), sizeof(T) * v.size());
    return APL_Link(a);
}

// A linked array of the given shape holding random integers 0-999 (or reals).
inline aplarray *RandomData(int eltype, std::vector<int32_t> shape, unsigned seed = 1) {
    aplarray *a = APL_Link(APL_Create(static_cast<int32_t>(shape.size()), eltype, shape.data()));
    std::mt19937 random(seed);
    for (int64_t i = 0; i < ElementCount(a); ++i) {
        if (eltype == APL_INTG)
            DataOf<int32_t>(a)[i] = static_cast<int32_t>(random() % 1000);
        else
            DataOf<double>(a)[i] = (random() % 1000000) / 1000.0;
    }
    return a;
}

// Runs `body` on a fresh malloc buffer of n elements, as the library allocates
// its result, so that a baseline pays for fresh memory too.
template <class T, class Body>
void IntoFresh(int64_t n, Body body) {
    T *out = static_cast<T *>(malloc(static_cast<size_t>(n) * sizeof(T)));
    body(out);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
    free(out);
}

}  // namespace bench_support
