// structural_bench: reverse, rotate, transpose, catenate, reshape, take, drop
// and compress on large INTG (and REAL) arrays, each beside the plain C++ code
// that does the same move into a fresh buffer. Relies on the exported functions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "apl.h"
#include "core/arrays.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using bench_support::Call;
using bench_support::IntoFresh;
using bench_support::RandomData;

// A linked BOOL vector with about half its bits set.
aplarray *Mask(int32_t n) {
    aplarray *a = APL_Link(APL_Create(1, APL_BOOL, &n));
    std::mt19937 random(7);
    for (int32_t i = 0; i < a->number; ++i) DataOf<uint32_t>(a)[i] = static_cast<uint32_t>(random());
    return a;
}

constexpr int32_t kBig = 10000000;

// ---- Reverse and rotate ---------------------------------------------------------

void ReverseLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig});
    Call(state, APL_Rotate, nullptr, x, kBig);
    APL_UnLink(x);
}
void ReversePlain(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig});
    const int32_t *in = DataOf<const int32_t>(x);
    for (auto _ : state) IntoFresh<int32_t>(kBig, [&](int32_t *out) { std::reverse_copy(in, in + kBig, out); });
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(x);
}
void RotateLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig}), *one = APL_Link(APL_Int(1));
    Call(state, APL_Rotate, one, x, kBig);
    APL_UnLink(x);
    APL_UnLink(one);
}
// The baseline of both: a rotate as two memcpy into a fresh buffer.
void RotateTwoMemcpy(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig});
    const int32_t *in = DataOf<const int32_t>(x);
    for (auto _ : state)
        IntoFresh<int32_t>(kBig, [&](int32_t *out) {
            memcpy(out, in + 1, (kBig - 1) * sizeof(int32_t));
            memcpy(out + kBig - 1, in, sizeof(int32_t));
        });
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(x);
}

// ---- Transpose ----------------------------------------------------------------------

void TransposeLib(benchmark::State &state, int eltype, std::vector<int32_t> shape) {
    aplarray *x = RandomData(eltype, shape);
    Call(state, APL_Transpose, nullptr, x, ElementCount(x));
    APL_UnLink(x);
}
template <class T>
void TransposePlain2(benchmark::State &state, int eltype, int32_t n) {
    aplarray *x = RandomData(eltype, {n, n});
    const T *in = DataOf<const T>(x);
    const int64_t count = int64_t{n} * n;
    for (auto _ : state)
        IntoFresh<T>(count, [&](T *out) {
            for (int64_t i = 0; i < n; ++i)
                for (int64_t j = 0; j < n; ++j) out[i * n + j] = in[j * n + i];
        });
    state.SetItemsProcessed(state.iterations() * count);
    APL_UnLink(x);
}
void TransposePlainIntg(benchmark::State &state, int32_t n) { TransposePlain2<int32_t>(state, APL_INTG, n); }
void TransposePlainReal(benchmark::State &state, int32_t n) { TransposePlain2<double>(state, APL_REAL, n); }
void TransposePlain3(benchmark::State &state, int32_t n) {
    aplarray *x = RandomData(APL_INTG, {n, n, n});
    const int32_t *in = DataOf<const int32_t>(x);
    const int64_t count = int64_t{n} * n * n;
    for (auto _ : state)
        IntoFresh<int32_t>(count, [&](int32_t *out) {
            for (int64_t i = 0; i < n; ++i)
                for (int64_t j = 0; j < n; ++j)
                    for (int64_t k = 0; k < n; ++k) out[(i * n + j) * n + k] = in[(k * n + j) * n + i];
        });
    state.SetItemsProcessed(state.iterations() * count);
    APL_UnLink(x);
}

// ---- Catenate and reshape ------------------------------------------------------------

void CatenateLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {1000000});
    Call(state, APL_Catenate, x, x, 2000000);
    APL_UnLink(x);
}
void CatenatePlain(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {1000000});
    const int32_t *in = DataOf<const int32_t>(x);
    for (auto _ : state)
        IntoFresh<int32_t>(2000000, [&](int32_t *out) {
            memcpy(out, in, 1000000 * sizeof(int32_t));
            memcpy(out + 1000000, in, 1000000 * sizeof(int32_t));
        });
    state.SetItemsProcessed(state.iterations() * 2000000);
    APL_UnLink(x);
}
void ReshapeLib(benchmark::State &state) {
    aplarray *shape = APL_Link(APL_Int(kBig));
    aplarray *x = APL_Link(APL_Create(1, APL_INTG, std::vector<int32_t>{3}.data()));
    for (int i = 0; i < 3; ++i) DataOf<int32_t>(x)[i] = i + 1;
    Call(state, APL_Shape, shape, x, kBig);
    APL_UnLink(x);
    APL_UnLink(shape);
}
void ReshapePlain(benchmark::State &state) {
    const int32_t v[3] = {1, 2, 3};
    for (auto _ : state)
        IntoFresh<int32_t>(kBig, [&](int32_t *out) {
            for (int64_t i = 0; i < kBig; ++i) out[i] = v[i % 3];
        });
    state.SetItemsProcessed(state.iterations() * kBig);
}

// ---- Take, drop and compress ---------------------------------------------------------

void TakeLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig}), *n = APL_Link(APL_Int(kBig - 1));
    Call(state, APL_Take, n, x, kBig - 1);
    APL_UnLink(x);
    APL_UnLink(n);
}
void DropLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig}), *n = APL_Link(APL_Int(1));
    Call(state, APL_Drop, n, x, kBig - 1);
    APL_UnLink(x);
    APL_UnLink(n);
}
void TakeMemcpy(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig});
    const int32_t *in = DataOf<const int32_t>(x);
    for (auto _ : state)
        IntoFresh<int32_t>(kBig - 1, [&](int32_t *out) { memcpy(out, in + 1, (kBig - 1) * sizeof(int32_t)); });
    state.SetItemsProcessed(state.iterations() * (kBig - 1));
    APL_UnLink(x);
}
void CompressLib(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig}), *m = Mask(kBig);
    Call(state, APL_Replicate, m, x, kBig);
    APL_UnLink(x);
    APL_UnLink(m);
}
// The plain loop reads the same mask from one byte per element.
void CompressPlain(benchmark::State &state) {
    aplarray *x = RandomData(APL_INTG, {kBig}), *m = Mask(kBig);
    std::vector<uint8_t> mask(kBig);
    for (int64_t i = 0; i < kBig; ++i) mask[i] = (DataOf<uint32_t>(m)[i / 32] >> (i % 32)) & 1;
    const int32_t *in = DataOf<const int32_t>(x);
    for (auto _ : state)
        IntoFresh<int32_t>(kBig, [&](int32_t *out) {
            int64_t j = 0;
            for (int64_t i = 0; i < kBig; ++i)
                if (mask[i]) out[j++] = in[i];
        });
    state.SetItemsProcessed(state.iterations() * kBig);
    APL_UnLink(x);
    APL_UnLink(m);
}

}  // namespace

BENCHMARK(ReverseLib);
BENCHMARK(ReversePlain);
BENCHMARK(RotateLib);
BENCHMARK(RotateTwoMemcpy);
BENCHMARK_CAPTURE(TransposeLib, intg_1000x1000, APL_INTG, std::vector<int32_t>{1000, 1000});
BENCHMARK_CAPTURE(TransposePlainIntg, intg_1000x1000, 1000);
BENCHMARK_CAPTURE(TransposeLib, real_1000x1000, APL_REAL, std::vector<int32_t>{1000, 1000});
BENCHMARK_CAPTURE(TransposePlainReal, real_1000x1000, 1000);
BENCHMARK_CAPTURE(TransposeLib, intg_100x100x100, APL_INTG, std::vector<int32_t>{100, 100, 100});
BENCHMARK_CAPTURE(TransposePlain3, intg_100x100x100, 100);
BENCHMARK(CatenateLib);
BENCHMARK(CatenatePlain);
BENCHMARK(ReshapeLib);
BENCHMARK(ReshapePlain);
BENCHMARK(TakeLib);
BENCHMARK(DropLib);
BENCHMARK(TakeMemcpy);
BENCHMARK(CompressLib);
BENCHMARK(CompressPlain);

// The primitives read IO from the symbol table: the library is started first.
int main(int argc, char **argv) { return bench_support::RunInSession(argc, argv); }
