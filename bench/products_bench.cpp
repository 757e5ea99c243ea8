// products_bench: the outer product ∘.×, the matrix product +.× and each of a
// scalar primitive and of ⍴, each beside the plain C++ loop (or the primitive
// alone) that computes the same. Relies on the exported operator entry points.
#include "apl.h"
#include "core/arrays.h"
#include "core/call.h"
#include "core/glyphs.h"
#include "core/symtab.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

using bench_support::RandomData;

aplfnc Primitive(uint8_t code) { return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, nullptr, code}; }

void Product(benchmark::State &state, uint8_t f, aplarray *left, aplarray *right, int64_t items,
             uint8_t g = glyph::kTimes) {
    aplfnc first = Primitive(f), times = Primitive(g);
    for (auto _ : state) {
        aplarray *r = APL_InnerProduct(nullptr, left, &first, nullptr, &times, nullptr, right);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetItemsProcessed(state.iterations() * items);
}

template <class T>
void OuterLoop(benchmark::State &state, aplarray *left, aplarray *right) {
    const int64_t n = ElementCount(left), m = ElementCount(right);
    for (auto _ : state) {
        auto *z = static_cast<double *>(malloc(static_cast<size_t>(n * m) * sizeof(double)));
        const T *a = DataOf<const T>(left), *b = DataOf<const T>(right);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < m; ++j) z[i * m + j] = static_cast<double>(a[i]) * static_cast<double>(b[j]);
        benchmark::DoNotOptimize(z);
        benchmark::ClobberMemory();
        free(z);
    }
    state.SetItemsProcessed(state.iterations() * n * m);
}

template <class T>
void NaiveMatrixLoop(benchmark::State &state, aplarray *left, aplarray *right, int64_t n) {
    for (auto _ : state) {
        auto *z = static_cast<double *>(malloc(static_cast<size_t>(n * n) * sizeof(double)));
        const T *a = DataOf<const T>(left), *b = DataOf<const T>(right);
        for (int64_t i = 0; i < n; ++i)
            for (int64_t j = 0; j < n; ++j) {
                double sum = 0.0;
                for (int64_t k = 0; k < n; ++k)
                    sum += static_cast<double>(a[i * n + k]) * static_cast<double>(b[k * n + j]);
                z[i * n + j] = sum;
            }
        benchmark::DoNotOptimize(z);
        benchmark::ClobberMemory();
        free(z);
    }
    state.SetItemsProcessed(state.iterations() * n * n * n);
}

void BM_OuterTimesIntg(benchmark::State &state) {
    aplarray *a = RandomData(APL_INTG, {1000}, 1), *b = RandomData(APL_INTG, {1000}, 2);
    Product(state, glyph::kJot, a, b, 1000000);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_OuterTimesReal(benchmark::State &state) {
    aplarray *a = RandomData(APL_REAL, {1000}, 1), *b = RandomData(APL_REAL, {1000}, 2);
    Product(state, glyph::kJot, a, b, 1000000);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_OuterLoopIntg(benchmark::State &state) {
    aplarray *a = RandomData(APL_INTG, {1000}, 1), *b = RandomData(APL_INTG, {1000}, 2);
    OuterLoop<int32_t>(state, a, b);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_OuterLoopReal(benchmark::State &state) {
    aplarray *a = RandomData(APL_REAL, {1000}, 1), *b = RandomData(APL_REAL, {1000}, 2);
    OuterLoop<double>(state, a, b);
    APL_UnLink(a);
    APL_UnLink(b);
}

// ∘., of simple scalars (a two-element item per pair) beside ∘.= on the same
// 1000 by 1000 INTG pairs.
void BM_OuterCatenateIntg(benchmark::State &state) {
    aplarray *a = RandomData(APL_INTG, {1000}, 1), *b = RandomData(APL_INTG, {1000}, 2);
    Product(state, glyph::kJot, a, b, 1000000, glyph::kComma);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_OuterEqualIntg(benchmark::State &state) {
    aplarray *a = RandomData(APL_INTG, {1000}, 1), *b = RandomData(APL_INTG, {1000}, 2);
    Product(state, glyph::kJot, a, b, 1000000, glyph::kEqual);
    APL_UnLink(a);
    APL_UnLink(b);
}

void BM_MatrixProductReal(benchmark::State &state) {
    aplarray *m = RandomData(APL_REAL, {300, 300});
    Product(state, glyph::kPlus, m, m, 300 * 300 * 300);
    APL_UnLink(m);
}
void BM_MatrixProductIntg(benchmark::State &state) {
    aplarray *m = RandomData(APL_INTG, {300, 300});
    Product(state, glyph::kPlus, m, m, 300 * 300 * 300);
    APL_UnLink(m);
}
void BM_NaiveMatrixLoopReal(benchmark::State &state) {
    aplarray *m = RandomData(APL_REAL, {300, 300});
    NaiveMatrixLoop<double>(state, m, m, 300);
    APL_UnLink(m);
}

// +¨ against + on the same million REAL pairs.
void BM_EachAdd(benchmark::State &state) {
    aplarray *a = RandomData(APL_REAL, {1000000}, 1), *b = RandomData(APL_REAL, {1000000}, 2);
    aplfnc plus = Primitive(glyph::kPlus), none{};
    for (auto _ : state) APL_UnLinkTemp(APL_Each(nullptr, a, &plus, nullptr, &none, nullptr, b));
    state.SetItemsProcessed(state.iterations() * 1000000);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_Add(benchmark::State &state) {
    aplarray *a = RandomData(APL_REAL, {1000000}, 1), *b = RandomData(APL_REAL, {1000000}, 2);
    for (auto _ : state) APL_UnLinkTemp(APL_Add(nullptr, a, b));
    state.SetItemsProcessed(state.iterations() * 1000000);
    APL_UnLink(a);
    APL_UnLink(b);
}

// ⍴¨ over 1e5 short vectors.
void BM_EachShape(benchmark::State &state) {
    const int32_t n = 100000;
    aplarray *v = APL_Link(APL_Create(1, APL_NESTED, &n));
    for (int32_t i = 0; i < n; ++i) ItemsOf(v)[i] = RandomData(APL_INTG, {1 + i % 5}, static_cast<unsigned>(i));
    aplfnc rho = Primitive(glyph::kRho), none{};
    for (auto _ : state) APL_UnLinkTemp(APL_Each(nullptr, nullptr, &rho, nullptr, &none, nullptr, v));
    state.SetItemsProcessed(state.iterations() * n);
    APL_UnLink(v);
}

// The defined function Z←F R (Z←R+1), fixed once; its descriptor.
aplfnc DefinedIncrement() {
    static const uint16_t symbol = [] {
        const int32_t n = 2;
        aplarray *lines = APL_Create(1, APL_NESTED, &n);
        ItemsOf(lines)[0] =
            APL_Link(MakeString("Z\x84"
                                "F R"));
        ItemsOf(lines)[1] = APL_Link(MakeString("Z\x84R+1"));
        APL_UnLinkTemp(APL_Fix(nullptr, nullptr, lines));
        return LookupName("F");
    }();
    return aplfnc{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, symbol};
}

// F¨ over 1e4 INTG items, beside the same 1e4 calls of F made directly.
void BM_EachDefined(benchmark::State &state) {
    const int32_t n = 10000;
    aplfnc f = DefinedIncrement(), none{};
    aplarray *v = RandomData(APL_INTG, {n});
    for (auto _ : state) {
        aplarray *r = APL_Each(nullptr, nullptr, &f, nullptr, &none, nullptr, v);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetItemsProcessed(state.iterations() * n);
    APL_UnLink(v);
}
void BM_DefinedCalls(benchmark::State &state) {
    const int32_t n = 10000;
    aplfnc f = DefinedIncrement();
    for (auto _ : state)
        for (int32_t i = 0; i < n; ++i) APL_UnLinkTemp(CallFunction(&f, nullptr, nullptr, APL_Int(i)));
    state.SetItemsProcessed(state.iterations() * n);
}

// The outer product of a scalar primitive with short rows (1e6 elements in
// rows of 10), and ∧.= on 200×50 character matrices through the block path.
void BM_OuterTimesShortRows(benchmark::State &state) {
    aplarray *a = RandomData(APL_REAL, {100000}, 1), *b = RandomData(APL_REAL, {10}, 2);
    Product(state, glyph::kJot, a, b, 1000000);
    APL_UnLink(a);
    APL_UnLink(b);
}
void BM_AndEqualChar(benchmark::State &state) {
    const int32_t ls[] = {200, 50}, rs[] = {50, 200};
    aplarray *l = APL_Link(APL_Create(2, APL_CHAR, ls)), *r = APL_Link(APL_Create(2, APL_CHAR, rs));
    for (int32_t i = 0; i < 10000; ++i) DataOf<char>(l)[i] = DataOf<char>(r)[i] = static_cast<char>('a' + i % 3);
    aplfnc f = Primitive(glyph::kWedge), g = Primitive(glyph::kEqual);
    for (auto _ : state) {
        aplarray *z = APL_InnerProduct(nullptr, l, &f, nullptr, &g, nullptr, r);
        if (!z) state.SkipWithError("error");
        APL_UnLinkTemp(z);
    }
    state.SetItemsProcessed(state.iterations() * 200 * 200 * 50);
    APL_UnLink(l);
    APL_UnLink(r);
}

}  // namespace

BENCHMARK(BM_OuterTimesIntg);
BENCHMARK(BM_OuterLoopIntg);
BENCHMARK(BM_OuterTimesReal);
BENCHMARK(BM_OuterLoopReal);
BENCHMARK(BM_OuterCatenateIntg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OuterEqualIntg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatrixProductReal);
BENCHMARK(BM_MatrixProductIntg);
BENCHMARK(BM_NaiveMatrixLoopReal);
BENCHMARK(BM_EachAdd);
BENCHMARK(BM_Add);
BENCHMARK(BM_EachShape);
BENCHMARK(BM_EachDefined);
BENCHMARK(BM_DefinedCalls);
BENCHMARK(BM_OuterTimesShortRows);
BENCHMARK(BM_AndEqualChar);

int main(int argc, char **argv) { return bench_support::RunInProgramMode(argc, argv); }
