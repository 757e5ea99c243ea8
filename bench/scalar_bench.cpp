// scalar_bench: + × ⌈ = ∧ on INTG, REAL and BOOL vectors, with linked and with
// temporary arguments, each beside a plain C++ loop doing the same arithmetic
// into a fresh buffer. Relies on the exported functions and the array core.
#if defined(__GNUC__) && !defined(__clang__)
// The library's element loops are built with the full vectoriser; so are the
// plain loops here, so that the comparison is one of overhead, not of code
// generation.
#pragma GCC optimize("tree-vectorize")
#endif

#include "apl.h"
#include "core/arrays.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <time.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bench_support::IntoFresh;

enum class Kind { Intg, Real, Bool };
enum class Function { Add, Mul, Max, Equal, And };

const char *KindName(Kind k) { return k == Kind::Intg ? "INTG" : k == Kind::Real ? "REAL" : "BOOL"; }
const char *FunctionName(Function f) {
    switch (f) {
        case Function::Add: return "Add";
        case Function::Mul: return "Mul";
        case Function::Max: return "Max";
        case Function::Equal: return "Equal";
        default: return "And";
    }
}

aplfunction EntryOf(Function f) {
    switch (f) {
        case Function::Add: return APL_Add;
        case Function::Mul: return APL_Mul;
        case Function::Max: return APL_Max;
        case Function::Equal: return APL_Equal;
        default: return APL_And;
    }
}

// A linked vector of n random elements: integers 0-999, reals in [0, 1000), bits.
aplarray *Data(Kind kind, int32_t n, unsigned seed) {
    const int eltype = kind == Kind::Intg ? APL_INTG : kind == Kind::Real ? APL_REAL : APL_BOOL;
    aplarray *a = APL_Link(APL_Create(1, eltype, &n));
    std::mt19937 random(seed);
    if (kind == Kind::Intg)
        for (int32_t i = 0; i < n; ++i) DataOf<int32_t>(a)[i] = static_cast<int32_t>(random() % 1000);
    else if (kind == Kind::Real)
        for (int32_t i = 0; i < n; ++i) DataOf<double>(a)[i] = (random() % 1000000) / 1000.0;
    else
        for (int32_t i = 0; i < a->number; ++i) DataOf<uint32_t>(a)[i] = static_cast<uint32_t>(random());
    return a;
}

// ---- The plain loops --------------------------------------------------------------

int64_t Gcd(int64_t x, int64_t y) {
    while (y != 0) {
        const int64_t r = x % y;
        x = y;
        y = r;
    }
    return x;
}

int32_t Lcm(int32_t a, int32_t b) {
    if (a == 0 || b == 0) return 0;
    const int64_t x = std::llabs(a), y = std::llabs(b);
    return static_cast<int32_t>(x / Gcd(x, y) * y);
}

void Plain(Function f, Kind kind, const aplarray *left, const aplarray *right) {
    const int64_t n = ElementCount(left), words = left->number;
    const auto *ai = DataOf<const int32_t>(left), *bi = DataOf<const int32_t>(right);
    const auto *ad = DataOf<const double>(left), *bd = DataOf<const double>(right);
    const auto *aw = DataOf<const uint32_t>(left), *bw = DataOf<const uint32_t>(right);
    auto bit = [](const uint32_t *w, int64_t i) { return (w[i >> 5] >> (i & 31)) & 1u; };
    auto words2 = [&](auto op) {
        IntoFresh<uint32_t>(words, [&](uint32_t *out) {
            for (int64_t w = 0; w < words; ++w) out[w] = op(aw[w], bw[w]);
            if (n % 32) out[words - 1] &= (1u << (n % 32)) - 1;
        });
    };
    switch (f) {
        case Function::Add:
            if (kind == Kind::Real)
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = ad[i] + bd[i];
                });
            else if (kind == Kind::Intg)
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<double>(ai[i]) + static_cast<double>(bi[i]);
                });
            else
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i)
                        out[i] = static_cast<double>(bit(aw, i)) + static_cast<double>(bit(bw, i));
                });
            break;
        case Function::Mul:
            if (kind == Kind::Real)
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = ad[i] * bd[i];
                });
            else if (kind == Kind::Intg)
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<double>(ai[i]) * static_cast<double>(bi[i]);
                });
            else
                words2([](uint32_t a, uint32_t b) { return a & b; });
            break;
        case Function::Max:
            if (kind == Kind::Real)
                IntoFresh<double>(n, [&](double *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = ad[i] > bd[i] ? ad[i] : bd[i];
                });
            else if (kind == Kind::Intg)
                IntoFresh<int32_t>(n, [&](int32_t *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = ai[i] > bi[i] ? ai[i] : bi[i];
                });
            else
                words2([](uint32_t a, uint32_t b) { return a | b; });
            break;
        case Function::Equal:
            if (kind == Kind::Real)
                IntoFresh<int32_t>(n, [&](int32_t *out) {
                    for (int64_t i = 0; i < n; ++i) {
                        const double x = std::fabs(ad[i]), y = std::fabs(bd[i]);
                        out[i] = std::fabs(ad[i] - bd[i]) <= 1e-13 * (x > y ? x : y);
                    }
                });
            else if (kind == Kind::Intg)
                IntoFresh<int32_t>(n, [&](int32_t *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = ai[i] == bi[i];
                });
            else
                words2([](uint32_t a, uint32_t b) { return ~(a ^ b); });
            break;
        case Function::And:
            if (kind == Kind::Real)
                IntoFresh<int32_t>(n, [&](int32_t *out) {
                    for (int64_t i = 0; i < n; ++i)
                        out[i] = Lcm(static_cast<int32_t>(ad[i]), static_cast<int32_t>(bd[i]));
                });
            else if (kind == Kind::Intg)
                IntoFresh<int32_t>(n, [&](int32_t *out) {
                    for (int64_t i = 0; i < n; ++i) out[i] = Lcm(ai[i], bi[i]);
                });
            else
                words2([](uint32_t a, uint32_t b) { return a & b; });
            break;
    }
}

// ---- Benchmarks -----------------------------------------------------------------------

// Seconds of this thread's processor time: the measure of every benchmark here
// (the library reports CPU time beside real time), so that a busy machine
// shifts all of them alike.
// One serial further than every block allocated so far (a probe block is
// allocated and freed to read it).
int32_t NextSerial() {
    void *probe = AllocBlock(1, __FILE__, __LINE__);
    const int32_t serial = BlockHeader(probe)->serial;
    FreeBlock(probe, __FILE__, __LINE__);
    return serial + 1;
}

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Case {
    Function f;
    Kind kind;
    int32_t n;
};

// REAL data for ∧ holds fractions, which the function refuses: use whole numbers.
aplarray *Argument(const Case &c, unsigned seed) {
    aplarray *a = Data(c.kind, c.n, seed);
    if (c.f == Function::And && c.kind == Kind::Real)
        for (int32_t i = 0; i < c.n; ++i) DataOf<double>(a)[i] = std::floor(DataOf<double>(a)[i]);
    return a;
}

void Linked(benchmark::State &state, Case c) {
    aplarray *left = Argument(c, 1), *right = Argument(c, 2);
    const aplfunction entry = EntryOf(c.f);
    for (auto _ : state) {
        aplarray *r = entry(nullptr, left, right);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetItemsProcessed(state.iterations() * c.n);
    APL_UnLink(left);
    APL_UnLink(right);
}

// The left argument is a fresh temporary copy for each call (made untimed),
// which the function may overwrite. Small calls are timed in batches, so that
// reading the clock does not dominate; the time reported is per call.
int32_t Batch(int32_t n) { return n >= 100000 ? 1 : 100000 / n; }

void Temporary(benchmark::State &state, Case c) {
    aplarray *left = Argument(c, 1), *right = Argument(c, 2);
    const aplfunction entry = EntryOf(c.f);
    std::vector<aplarray *> copies(static_cast<size_t>(Batch(c.n)));
    for (auto _ : state) {
        for (aplarray *&copy : copies) copy = CopyArray(left, __FILE__, __LINE__);
        bool failed = false;
        const double start = ThreadSeconds();
        for (aplarray *copy : copies) {
            aplarray *r = entry(nullptr, copy, right);
            failed = failed || !r;
            APL_UnLinkTemp(r);
        }
        state.SetIterationTime((ThreadSeconds() - start) / static_cast<double>(copies.size()));
        if (failed) state.SkipWithError("error");
    }
    state.SetItemsProcessed(state.iterations() * c.n);
    APL_UnLink(left);
    APL_UnLink(right);
}

void PlainLoop(benchmark::State &state, Case c) {
    aplarray *left = Argument(c, 1), *right = Argument(c, 2);
    for (auto _ : state) Plain(c.f, c.kind, left, right);
    state.SetItemsProcessed(state.iterations() * c.n);
    APL_UnLink(left);
    APL_UnLink(right);
}

// INTG+INTG into one result buffer allocated before the timing, so that no
// page is touched for the first time: the floor for a call that allocates.
void PlainAddReused(benchmark::State &state, Case c) {
    aplarray *left = Argument(c, 1), *right = Argument(c, 2);
    const int64_t n = c.n;
    const auto *a = DataOf<const int32_t>(left), *b = DataOf<const int32_t>(right);
    std::vector<double> out(static_cast<size_t>(n));
    for (auto _ : state) {
        for (int64_t i = 0; i < n; ++i)
            out[static_cast<size_t>(i)] = static_cast<double>(a[i]) + static_cast<double>(b[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * c.n);
    APL_UnLink(left);
    APL_UnLink(right);
}

// ((X+1)×2)−3 on a temporary X: the counter is the number of blocks allocated
// per call, 0 when every step overwrites X. Timed in batches as above.
void Chain(benchmark::State &state, Kind kind, int32_t n) {
    aplarray *x = Data(kind, n, 1);
    aplarray *one = APL_Link(APL_Int(1)), *two = APL_Link(APL_Int(2)), *three = APL_Link(APL_Int(3));
    std::vector<aplarray *> copies(static_cast<size_t>(Batch(n)));
    int64_t allocated = 0;
    for (auto _ : state) {
        for (aplarray *&copy : copies) copy = CopyArray(x, __FILE__, __LINE__);
        const int32_t before = NextSerial();
        const double start = ThreadSeconds();
        for (aplarray *&copy : copies)
            copy = APL_Sub(nullptr, APL_Mul(nullptr, APL_Add(nullptr, copy, one), two), three);
        const double stop = ThreadSeconds();
        allocated += NextSerial() - before - 1;
        for (aplarray *r : copies) APL_UnLinkTemp(r);
        state.SetIterationTime((stop - start) / static_cast<double>(copies.size()));
    }
    state.counters["blocks_per_call"] =
        static_cast<double>(allocated) / static_cast<double>(state.iterations() * static_cast<int64_t>(copies.size()));
    state.SetItemsProcessed(state.iterations() * n);
    APL_UnLink(x);
    APL_UnLink(one);
    APL_UnLink(two);
    APL_UnLink(three);
}

}  // namespace

int main(int argc, char **argv) {
    const Function functions[] = {Function::Add, Function::Mul, Function::Max, Function::Equal, Function::And};
    const Kind kinds[] = {Kind::Intg, Kind::Real, Kind::Bool};
    const int32_t sizes[] = {1000, 1000000, 10000000};
    for (Function f : functions) {
        for (Kind k : kinds) {
            for (int32_t n : sizes) {
                const Case c{f, k, n};
                const std::string name = std::string(FunctionName(f)) + "/" + KindName(k) + "/" + std::to_string(n);
                benchmark::RegisterBenchmark((name + "/plain").c_str(), PlainLoop, c)->Unit(benchmark::kMicrosecond);
                if (f == Function::Add && k == Kind::Intg)
                    benchmark::RegisterBenchmark((name + "/reused").c_str(), PlainAddReused, c)
                        ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark((name + "/linked").c_str(), Linked, c)->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark((name + "/temp").c_str(), Temporary, c)
                    ->UseManualTime()
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    for (int32_t n : sizes)
        benchmark::RegisterBenchmark(("Chain3/REAL/" + std::to_string(n) + "/temp").c_str(), Chain, Kind::Real, n)
            ->UseManualTime()
            ->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
