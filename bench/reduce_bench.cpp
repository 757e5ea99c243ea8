// reduce_bench: +/ ⌈/ +\ on 1e7 elements (INTG, REAL, Boolean), 3 +/ on 1e6
// and f/ with a defined f on 1e4, each typed loop beside the plain C++ loop
// measured in the same run. Relies on the exported operators and the interpreter.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "apl.h"
#include "core/arrays.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "system/register.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t kBig = 10000000;

aplarray *Data(int eltype, int32_t n) {
    aplarray *a = APL_Link(APL_Create(1, eltype, &n));
    std::mt19937 random(1);
    for (int64_t i = 0; i < a->number; ++i) {
        if (eltype == APL_INTG)
            DataOf<int32_t>(a)[i] = static_cast<int32_t>(random() % 1000);
        else if (eltype == APL_REAL)
            DataOf<double>(a)[i] = (random() % 1000000) / 1000.0;
        else
            DataOf<uint32_t>(a)[i] = static_cast<uint32_t>(random());
    }
    return a;
}

aplfnc Primitive(uint8_t code, aplfunction f) {
    return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(f), code};
}

void Run(benchmark::State &state, aploperator op, aplfnc f, aplarray *left, aplarray *right, int64_t items) {
    for (auto _ : state) {
        aplarray *r = op(nullptr, left, &f, nullptr, nullptr, nullptr, right);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetItemsProcessed(state.iterations() * items);
}

// ---- Plain C++ baselines ----
void BM_CxxSumInt(benchmark::State &state) {
    aplarray *a = Data(APL_INTG, kBig);
    const int32_t *x = DataOf<int32_t>(a);
    for (auto _ : state) {
        int64_t s = 0;
        for (int32_t i = 0; i < kBig; ++i) s += x[i];
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(a);
}
void BM_CxxSumRealRightToLeft(benchmark::State &state) {
    aplarray *a = Data(APL_REAL, kBig);
    const double *x = DataOf<double>(a);
    for (auto _ : state) {
        double s = x[kBig - 1];
        for (int32_t i = kBig - 2; i >= 0; --i) s = x[i] + s;
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(a);
}
void BM_CxxMaxInt(benchmark::State &state) {
    aplarray *a = Data(APL_INTG, kBig);
    const int32_t *x = DataOf<int32_t>(a);
    for (auto _ : state) {
        int32_t m = x[kBig - 1];
        for (int32_t i = kBig - 2; i >= 0; --i) m = x[i] > m ? x[i] : m;
        benchmark::DoNotOptimize(m);
    }
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(a);
}
template <class T>
void CxxRunningSum(benchmark::State &state, int eltype) {
    aplarray *a = Data(eltype, kBig);
    const T *x = DataOf<T>(a);
    for (auto _ : state) {
        auto *out = static_cast<double *>(malloc(sizeof(double) * kBig));
        double s = out[0] = x[0];
        for (int32_t i = 1; i < kBig; ++i) out[i] = s = s + x[i];
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
        free(out);
    }
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(a);
}
void BM_CxxScanInt(benchmark::State &state) { CxxRunningSum<int32_t>(state, APL_INTG); }
void BM_CxxScanReal(benchmark::State &state) { CxxRunningSum<double>(state, APL_REAL); }

// ---- The library ----
template <int Type>
void SumOf(benchmark::State &state) {
    aplarray *a = Data(Type, kBig);
    Run(state, APL_Reduce, Primitive('+', APL_Add), nullptr, a, kBig);
    APL_UnLink(a);
}
void BM_SumInt(benchmark::State &state) { SumOf<APL_INTG>(state); }
void BM_SumReal(benchmark::State &state) { SumOf<APL_REAL>(state); }
void BM_SumBool(benchmark::State &state) { SumOf<APL_BOOL>(state); }
void BM_MaxInt(benchmark::State &state) {
    aplarray *a = Data(APL_INTG, kBig);
    Run(state, APL_Reduce, Primitive(151, APL_Max), nullptr, a, kBig);
    APL_UnLink(a);
}
template <int Type>
void ScanOf(benchmark::State &state) {
    aplarray *a = Data(Type, kBig);
    Run(state, APL_Scan, Primitive('+', APL_Add), nullptr, a, kBig);
    APL_UnLink(a);
}
void BM_ScanInt(benchmark::State &state) { ScanOf<APL_INTG>(state); }
void BM_ScanReal(benchmark::State &state) { ScanOf<APL_REAL>(state); }

void Discard(const char *, int32_t) {}

// The session pieces N-wise reduction and a defined operand need: the
// primitive tables, the system variables and the runner of defined functions.
uint16_t Prepare() {
    static uint16_t plus = 0;
    if (plus) return plus;
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    RegisterBuiltins();
    CreateSystemVariables(false);
    InstallFunctionRunners();
    const std::vector<std::string> text = {
        "Z\x84"
        "A PLUS B",
        "Z\x84"
        "A+B"};
    const int32_t n = 2;
    aplarray *lines = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i) ItemsOf(lines)[i] = APL_Link(MakeString(text[static_cast<size_t>(i)].c_str()));
    APL_UnLinkTemp(DefineFunction(lines));
    APL_UnLinkTemp(lines);
    plus = LookupName("PLUS");
    return plus;
}

void BM_ThreeWiseSumInt(benchmark::State &state) {
    Prepare();
    aplarray *a = Data(APL_INTG, 1000000);
    aplarray *three = APL_Link(APL_Int(3));
    Run(state, APL_Reduce, Primitive('+', APL_Add), three, a, 1000000);
    APL_UnLink(three);
    APL_UnLink(a);
}

void BM_DefinedOperandReduce(benchmark::State &state) {
    const uint16_t plus = Prepare();
    aplarray *a = Data(APL_INTG, 10000);
    Run(state, APL_Reduce, aplfnc{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, plus}, nullptr, a, 10000);
    APL_UnLink(a);
}

BENCHMARK(BM_CxxSumInt);
BENCHMARK(BM_SumInt);
BENCHMARK(BM_CxxSumRealRightToLeft);
BENCHMARK(BM_SumReal);
BENCHMARK(BM_SumBool);
BENCHMARK(BM_CxxMaxInt);
BENCHMARK(BM_MaxInt);
BENCHMARK(BM_CxxScanInt);
BENCHMARK(BM_ScanInt);
BENCHMARK(BM_CxxScanReal);
BENCHMARK(BM_ScanReal);
BENCHMARK(BM_ThreeWiseSumInt);
BENCHMARK(BM_DefinedOperandReduce);

}  // namespace

BENCHMARK_MAIN();
