// longwork_bench: the loops that look at the interrupt flag once a stride,
// run full size with the flag clear: X+X, 1E7⍴X, X[I] and ⍕X on 1E7 elements,
// each beside the plain C++ loop (or memcpy) that does the same work.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")  // as the library's element loops are built
#endif

#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kCount = 10000000;

// A linked REAL vector 0.5 1.5 2.5 ...; a linked INTG vector of indices that
// walks the array in a scattered order (origin 1).
struct Data {
    aplarray *reals;
    aplarray *indices;
    Data() {
        reals = APL_Link(APL_Create(1, APL_REAL, &kCount));
        indices = APL_Link(APL_Create(1, APL_INTG, &kCount));
        for (int32_t i = 0; i < kCount; ++i) {
            DataOf<double>(reals)[i] = i + 0.5;
            DataOf<int32_t>(indices)[i] = static_cast<int32_t>((i * 7919LL) % kCount) + 1;
        }
    }
};

Data &Shared() {
    static Data data;
    return data;
}

void Check(aplarray *result, benchmark::State &state) {
    if (!result) state.SkipWithError("error");
    APL_UnLinkTemp(result);
}

void Add(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Add(nullptr, x, x), state);
}

void AddPlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        for (int32_t i = 0; i < kCount; ++i) out[i] = x[i] + x[i];
        benchmark::DoNotOptimize(out.data());
    }
}

void Reshape(benchmark::State &state) {
    aplarray *x = Shared().reals;
    for (auto _ : state) Check(APL_Shape(nullptr, APL_Int(kCount), x), state);
}

void ReshapeMemcpy(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        memcpy(out.data(), x, sizeof(double) * kCount);
        benchmark::DoNotOptimize(out.data());
    }
}

void Index(benchmark::State &state) {
    aplarray *x = Shared().reals;
    const int32_t one = 1;
    aplarray *list = APL_Link(APL_Create(1, APL_NESTED, &one));
    ItemsOf(list)[0] = APL_Link(Shared().indices);
    for (auto _ : state) Check(APL_IndexData(x, list, nullptr), state);
    APL_UnLink(list);
}

void IndexPlainLoop(benchmark::State &state) {
    const double *x = DataOf<const double>(Shared().reals);
    const int32_t *index = DataOf<const int32_t>(Shared().indices);
    for (auto _ : state) {
        std::vector<double> out(kCount);
        for (int32_t i = 0; i < kCount; ++i) out[i] = x[index[i] - 1];
        benchmark::DoNotOptimize(out.data());
    }
}

void Format(benchmark::State &state) {
    aplarray *x = Shared().indices;
    for (auto _ : state) Check(APL_Format(nullptr, nullptr, x), state);
}

void FormatPlainLoop(benchmark::State &state) {
    const int32_t *x = DataOf<const int32_t>(Shared().indices);
    for (auto _ : state) {
        std::vector<char> out(static_cast<size_t>(kCount) * 9 + 16);
        char *at = out.data();
        for (int32_t i = 0; i < kCount; ++i) at += snprintf(at, 12, " %d", x[i]);
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

BENCHMARK(AddPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Add)->Unit(benchmark::kMillisecond);
BENCHMARK(ReshapeMemcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(Reshape)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Index)->Unit(benchmark::kMillisecond);
BENCHMARK(FormatPlainLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(Format)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) { return bench_support::RunInProgramMode(argc, argv); }
