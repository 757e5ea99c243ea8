// System functions on 1e7 elements against plain C++ in the same run: DR
// (bytes as another type, with and without the finiteness test of REAL), AF
// (codes and characters), Sumlab (a histogram), Bitshift, and NL over 10 000
// names. Relies on the exported interface and, for NL, on a cleared workspace.
#include "apl.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kCount = 10000000;

aplarray *Vector(int eltype, int32_t n) { return APL_Link(APL_Create(1, eltype, &n)); }

aplarray *IntVector() {
    aplarray *v = Vector(APL_INTG, kCount);
    auto *d = static_cast<int32_t *>(APL_Data(v));
    for (int32_t i = 0; i < kCount; ++i) d[i] = (i % 1000) * 7919 % 1000 - 100;
    return v;
}

aplarray *RealVector() {
    aplarray *v = Vector(APL_REAL, kCount);
    auto *d = static_cast<double *>(APL_Data(v));
    for (int32_t i = 0; i < kCount; ++i) d[i] = (i % 600) * 0.5 - 20;
    return v;
}

// Runs a call whose temporary result is released; the time includes the
// result's allocation, as every caller pays it.
template <class Call>
void Timed(benchmark::State &state, int64_t bytes, Call call) {
    for (auto _ : state) {
        aplarray *result = call();
        if (!result) {
            state.SkipWithError("call failed");
            break;
        }
        benchmark::DoNotOptimize(result);
        APL_UnLinkTemp(result);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

// Baseline: copying 80 MB into fresh memory.
void BM_MemcpyFresh80MB(benchmark::State &state) {
    std::vector<char> from(80000000, 1);
    for (auto _ : state) {
        char *to = static_cast<char *>(malloc(from.size()));
        memcpy(to, from.data(), from.size());
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        free(to);
    }
    state.SetBytesProcessed(state.iterations() * 80000000);
}

void BM_DataRepRealToChar(benchmark::State &state) {
    aplarray *reals = RealVector();
    Timed(state, 80000000, [reals] { return APL_DataRep(nullptr, APL_Int(APL_CHAR), reals); });
    APL_UnLink(reals);
}

void BM_DataRepCharToReal(benchmark::State &state) {
    aplarray *reals = RealVector();
    aplarray *chars = APL_Link(APL_DataRep(nullptr, APL_Int(APL_CHAR), reals));
    Timed(state, 80000000, [chars] { return APL_DataRep(nullptr, APL_Int(APL_REAL), chars); });
    APL_UnLink(chars);
    APL_UnLink(reals);
}

// Baseline of AF: the same clamp in a plain loop into fresh memory.
void BM_PlainClampToBytes(benchmark::State &state) {
    std::vector<int32_t> in(kCount);
    for (int32_t i = 0; i < kCount; ++i) in[static_cast<size_t>(i)] = (i % 1000) * 7919 % 1000 - 100;
    for (auto _ : state) {
        auto *out = static_cast<uint8_t *>(malloc(kCount));
        for (int32_t i = 0; i < kCount; ++i) {
            const int32_t v = in[static_cast<size_t>(i)];
            out[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        free(out);
    }
}

void BM_AtomicIntToChar(benchmark::State &state) {
    aplarray *ints = IntVector();
    Timed(state, 4 * int64_t{kCount}, [ints] { return APL_Atomic(nullptr, nullptr, ints); });
    APL_UnLink(ints);
}

void BM_AtomicRealToChar(benchmark::State &state) {
    aplarray *reals = RealVector();
    Timed(state, 8 * int64_t{kCount}, [reals] { return APL_Atomic(nullptr, nullptr, reals); });
    APL_UnLink(reals);
}

// Baseline of Sumlab: a plain histogram of the same codes.
void BM_PlainHistogram(benchmark::State &state) {
    std::vector<int32_t> codes(kCount);
    for (int32_t i = 0; i < kCount; ++i) codes[static_cast<size_t>(i)] = (i % 1000) * 7919 % 1000 - 100;
    for (auto _ : state) {
        std::vector<int32_t> counts(501, 0);
        for (int32_t c : codes)
            if (c >= 0 && c <= 500) ++counts[static_cast<size_t>(c)];
        benchmark::DoNotOptimize(counts.data());
    }
}

void BM_Sumlab(benchmark::State &state) {
    aplarray *ints = IntVector();
    Timed(state, 4 * int64_t{kCount}, [ints] { return APL_Sumlab(nullptr, ints, APL_Int(500)); });
    APL_UnLink(ints);
}

// Baseline of Bitshift: a plain shift loop into fresh memory.
void BM_PlainShift(benchmark::State &state) {
    std::vector<int32_t> in(kCount, 12345);
    for (auto _ : state) {
        auto *out = static_cast<uint32_t *>(malloc(4 * static_cast<size_t>(kCount)));
        for (int32_t i = 0; i < kCount; ++i) out[i] = static_cast<uint32_t>(in[static_cast<size_t>(i)]) << 3;
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        free(out);
    }
}

void BM_Bitshift(benchmark::State &state) {
    aplarray *ints = IntVector();
    Timed(state, 4 * int64_t{kCount}, [ints] { return APL_Bitshift(nullptr, APL_Int(3), ints); });
    APL_UnLink(ints);
}

// NL 2 over a workspace of 10 000 variables.
void BM_NameList10000(benchmark::State &state) {
    APL_Init(1, "");
    aplarray *value = APL_Link(APL_Int(0));
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "V" + std::to_string(i);
        void *init = APL_Link(value);
        APL_AddSymbol(name.c_str(), static_cast<int32_t>(name.size()), APL_KIND_VARIABLE, &init);
    }
    Timed(state, 0, [] { return APL_NameList(nullptr, nullptr, APL_Int(2)); });
    APL_UnLink(value);
}

}  // namespace

BENCHMARK(BM_MemcpyFresh80MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataRepRealToChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DataRepCharToReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainClampToBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomicIntToChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AtomicRealToChar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainHistogram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sumlab)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainShift)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bitshift)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameList10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
