// numbers_bench: roll and deal, base value and representation, and the matrix
// inverse, each beside a plain C++ loop that computes the same values with the
// same generator or the same pivoting. Relies on the exported functions and roll.h.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "apl.h"
#include "core/arrays.h"
#include "structural/roll.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using bench_support::Call;
using bench_support::IntoFresh;

constexpr int32_t kMillion = 1000000;

// A linked INTG array of the given shape, element i from fill(i).
template <class Fill>
aplarray *Integers(std::vector<int32_t> shape, Fill fill) {
    aplarray *a = APL_Link(APL_Create(static_cast<int32_t>(shape.size()), APL_INTG, shape.data()));
    for (int64_t i = 0; i < ElementCount(a); ++i) DataOf<int32_t>(a)[i] = fill(i);
    return a;
}

// ---- Roll and deal --------------------------------------------------------------

void RollLib(benchmark::State &state) {
    aplarray *bounds = Integers({kMillion}, [](int64_t) { return 100; });
    Call(state, APL_Roll, nullptr, bounds, kMillion);
    APL_UnLink(bounds);
}
void RollPlain(benchmark::State &state) {
    RandomGenerator generator;
    for (auto _ : state)
        IntoFresh<int32_t>(kMillion, [&](int32_t *out) {
            for (int32_t i = 0; i < kMillion; ++i) out[i] = static_cast<int32_t>(generator.Draw(100));
        });
    state.SetItemsProcessed(state.iterations() * kMillion);
}

// Deal from the range ⎕IO ... range with the whole table.
std::vector<int32_t> PlainDealTable(int32_t count, int32_t range, RandomGenerator &generator) {
    std::vector<int32_t> table(static_cast<size_t>(range)), out(static_cast<size_t>(count));
    for (int32_t j = 0; j < range; ++j) table[j] = j + 1;
    for (int32_t i = 0, left = range; i < count; ++i, --left) {
        const auto j = static_cast<int32_t>(generator.Draw(left)) - 1;
        out[i] = table[j];
        table[j] = table[left - 1];
    }
    return out;
}

void DealLib(benchmark::State &state) {
    const auto count = static_cast<int32_t>(state.range(0)), range = static_cast<int32_t>(state.range(1));
    aplarray *l = APL_Link(APL_Int(count)), *r = APL_Link(APL_Int(range));
    Call(state, APL_Roll, l, r, count);
    APL_UnLink(l);
    APL_UnLink(r);
}
void DealPlainTable(benchmark::State &state) {
    const auto count = static_cast<int32_t>(state.range(0)), range = static_cast<int32_t>(state.range(1));
    RandomGenerator generator;
    for (auto _ : state) benchmark::DoNotOptimize(PlainDealTable(count, range, generator));
    state.SetItemsProcessed(state.iterations() * count);
}
// The table method keeping only moved entries in a std::unordered_map.
void DealPlainMap(benchmark::State &state) {
    const auto count = static_cast<int32_t>(state.range(0)), range = static_cast<int32_t>(state.range(1));
    RandomGenerator generator;
    for (auto _ : state) {
        std::unordered_map<int32_t, int32_t> moved;
        std::vector<int32_t> out(static_cast<size_t>(count));
        auto at = [&](int32_t j) {
            const auto found = moved.find(j);
            return found == moved.end() ? j + 1 : found->second;
        };
        for (int32_t i = 0, left = range; i < count; ++i, --left) {
            const auto j = static_cast<int32_t>(generator.Draw(left)) - 1;
            out[i] = at(j);
            moved[j] = at(left - 1);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// ---- Base value and representation ------------------------------------------------

constexpr int32_t kDigits = 6;

// 10⊥D for D a 6×1e6 matrix of decimal digits.
void BaseValueLib(benchmark::State &state) {
    aplarray *ten = APL_Link(APL_Int(10));
    aplarray *digits = Integers({kDigits, kMillion}, [](int64_t i) { return static_cast<int32_t>(i * 7 % 10); });
    Call(state, APL_Encode, ten, digits, kMillion);
    APL_UnLink(ten);
    APL_UnLink(digits);
}
void BaseValuePlain(benchmark::State &state) {
    aplarray *digits = Integers({kDigits, kMillion}, [](int64_t i) { return static_cast<int32_t>(i * 7 % 10); });
    const int32_t *d = DataOf<const int32_t>(digits);
    for (auto _ : state)
        IntoFresh<int32_t>(kMillion, [&](int32_t *out) {
            for (int32_t c = 0; c < kMillion; ++c) out[c] = 0;
            for (int32_t k = 0; k < kDigits; ++k)
                for (int32_t c = 0; c < kMillion; ++c) out[c] = out[c] * 10 + d[k * kMillion + c];
        });
    state.SetItemsProcessed(state.iterations() * kMillion);
    APL_UnLink(digits);
}

// (6⍴10)⊤V for 1e6 values below 1e6.
void RepresentLib(benchmark::State &state) {
    aplarray *radices = Integers({kDigits}, [](int64_t) { return 10; });
    aplarray *values = Integers({kMillion}, [](int64_t i) { return static_cast<int32_t>(i * 7919 % kMillion); });
    Call(state, APL_Decode, radices, values, kMillion);
    APL_UnLink(radices);
    APL_UnLink(values);
}
void RepresentPlain(benchmark::State &state) {
    aplarray *values = Integers({kMillion}, [](int64_t i) { return static_cast<int32_t>(i * 7919 % kMillion); });
    const int32_t *v = DataOf<const int32_t>(values);
    std::vector<int32_t> rest(kMillion);
    for (auto _ : state)
        IntoFresh<int32_t>(int64_t{kDigits} * kMillion, [&](int32_t *out) {
            memcpy(rest.data(), v, sizeof(int32_t) * kMillion);
            for (int32_t k = kDigits - 1; k >= 0; --k)
                for (int32_t j = 0; j < kMillion; ++j) {
                    out[k * kMillion + j] = rest[j] % 10;
                    rest[j] /= 10;
                }
        });
    state.SetItemsProcessed(state.iterations() * kMillion);
    APL_UnLink(values);
}

// The same with the radices read from data, as a loop over any argument must:
// the compiler can no longer divide by multiplying with a constant's reciprocal.
void RepresentPlainRadixFromData(benchmark::State &state) {
    aplarray *values = Integers({kMillion}, [](int64_t i) { return static_cast<int32_t>(i * 7919 % kMillion); });
    const int32_t *v = DataOf<const int32_t>(values);
    std::vector<int32_t> rest(kMillion), radices(kDigits, 10);
    benchmark::DoNotOptimize(radices.data());
    benchmark::ClobberMemory();
    for (auto _ : state)
        IntoFresh<int32_t>(int64_t{kDigits} * kMillion, [&](int32_t *out) {
            memcpy(rest.data(), v, sizeof(int32_t) * kMillion);
            for (int32_t k = kDigits - 1; k >= 0; --k) {
                const int32_t r = radices[k];
                for (int32_t j = 0; j < kMillion; ++j) {
                    out[k * kMillion + j] = rest[j] % r;
                    rest[j] /= r;
                }
            }
        });
    state.SetItemsProcessed(state.iterations() * kMillion);
    APL_UnLink(values);
}

// ---- Matrix inverse -----------------------------------------------------------------

constexpr int32_t kOrder = 300;

std::vector<double> TestMatrix() {
    std::mt19937 random(3);
    std::vector<double> a(static_cast<size_t>(kOrder) * kOrder);
    for (double &x : a) x = static_cast<double>(random() % 2001) / 1000.0 - 1.0;
    return a;
}

void InverseLib(benchmark::State &state) {
    const std::vector<double> values = TestMatrix();
    const int32_t shape[2] = {kOrder, kOrder};
    aplarray *a = APL_Link(APL_Create(2, APL_REAL, shape));
    memcpy(DataOf(a), values.data(), values.size() * sizeof(double));
    Call(state, APL_MatInverse, nullptr, a, 1);
    APL_UnLink(a);
}

// Crout's LU with implicit partial pivoting and the substitutions for the
// columns of the identity, written as the method reads.
std::vector<double> PlainInverse(std::vector<double> a, int n) {
    std::vector<double> scale(n), inverse(static_cast<size_t>(n) * n), b(n);
    std::vector<int> pivots(n);
    for (int i = 0; i < n; ++i) {
        double largest = 0;
        for (int j = 0; j < n; ++j) largest = std::fmax(largest, std::fabs(a[i * n + j]));
        scale[i] = 1 / largest;
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < j; ++i) {
            double sum = a[i * n + j];
            for (int k = 0; k < i; ++k) sum -= a[i * n + k] * a[k * n + j];
            a[i * n + j] = sum;
        }
        double largest = 0;
        int pivot = j;
        for (int i = j; i < n; ++i) {
            double sum = a[i * n + j];
            for (int k = 0; k < j; ++k) sum -= a[i * n + k] * a[k * n + j];
            a[i * n + j] = sum;
            if (scale[i] * std::fabs(sum) >= largest) largest = scale[i] * std::fabs(sum), pivot = i;
        }
        if (pivot != j) {
            for (int k = 0; k < n; ++k) std::swap(a[pivot * n + k], a[j * n + k]);
            scale[pivot] = scale[j];
        }
        pivots[j] = pivot;
        for (int i = j + 1; i < n; ++i) a[i * n + j] /= a[j * n + j];
    }
    for (int c = 0; c < n; ++c) {
        for (int i = 0; i < n; ++i) b[i] = i == c;
        for (int i = 0; i < n; ++i) {
            double sum = b[pivots[i]];
            b[pivots[i]] = b[i];
            for (int j = 0; j < i; ++j) sum -= a[i * n + j] * b[j];
            b[i] = sum;
        }
        for (int i = n - 1; i >= 0; --i) {
            double sum = b[i];
            for (int j = i + 1; j < n; ++j) sum -= a[i * n + j] * b[j];
            b[i] = sum / a[i * n + i];
        }
        for (int i = 0; i < n; ++i) inverse[i * n + c] = b[i];
    }
    return inverse;
}

void InversePlain(benchmark::State &state) {
    const std::vector<double> values = TestMatrix();
    for (auto _ : state) benchmark::DoNotOptimize(PlainInverse(values, kOrder));
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(RollLib);
BENCHMARK(RollPlain);
BENCHMARK(DealLib)->Args({kMillion, kMillion})->Args({100000, 1000000000});
BENCHMARK(DealPlainTable)->Args({kMillion, kMillion});
BENCHMARK(DealPlainMap)->Args({100000, 1000000000});
BENCHMARK(BaseValueLib);
BENCHMARK(BaseValuePlain);
BENCHMARK(RepresentLib);
BENCHMARK(RepresentPlain);
BENCHMARK(RepresentPlainRadixFromData);
BENCHMARK(InverseLib);
BENCHMARK(InversePlain);

// Roll and deal read RL and IO from the symbol table: the library is started first.
int main(int argc, char **argv) { return bench_support::RunInSession(argc, argv); }
