// Grade, index of, find, format of REAL numbers and DISPLAY against plain C++
// baselines run in the same program: an LSD radix grade, std::stable_sort, an
// open-addressing hash, a 256-entry table, std::search and an snprintf loop.
#include "apl.h"
#include "core/arrays.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using bench_support::Linked;
using bench_support::RandomInts;

constexpr int32_t kGradeLength = 1000000;
constexpr int32_t kIndexLength = 100000;
constexpr int32_t kTextLength = 1000000;
constexpr int32_t kFormatLength = 100000;

std::vector<double> RandomReals(int32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1e6, 1e6);
    std::vector<double> v(static_cast<size_t>(n));
    for (auto &x : v) x = d(rng);
    return v;
}

// ---- Grade -----------------------------------------------------------------------------

// The baseline: an LSD radix grade of INTG keys, three passes of 11 bits over
// the indices (the sign bit flipped so that negative keys come first).
void RadixGrade(const std::vector<int32_t> &keys, std::vector<int32_t> &order, std::vector<int32_t> &scratch) {
    const size_t n = keys.size();
    std::iota(order.begin(), order.end(), 0);
    for (int shift = 0; shift < 33; shift += 11) {
        size_t count[2049] = {};
        for (size_t i = 0; i < n; ++i) ++count[((static_cast<uint32_t>(keys[i]) ^ 0x80000000u) >> shift & 2047) + 1];
        for (int b = 0; b < 2048; ++b) count[b + 1] += count[b];
        for (size_t i = 0; i < n; ++i) {
            const int32_t at = order[i];
            scratch[count[(static_cast<uint32_t>(keys[at]) ^ 0x80000000u) >> shift & 2047]++] = at;
        }
        order.swap(scratch);
    }
}

void GradeIntRadix(benchmark::State &state) {
    const std::vector<int32_t> keys = RandomInts(kGradeLength, INT32_MIN, INT32_MAX, 1);
    std::vector<int32_t> order(keys.size()), scratch(keys.size());
    for (auto _ : state) {
        RadixGrade(keys, order, scratch);
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(state.iterations() * kGradeLength);
}

void GradeIntStdSort(benchmark::State &state) {
    const std::vector<int32_t> keys = RandomInts(kGradeLength, INT32_MIN, INT32_MAX, 1);
    std::vector<int32_t> order(keys.size());
    for (auto _ : state) {
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(),
                  [&](int32_t a, int32_t b) { return keys[a] < keys[b] || (keys[a] == keys[b] && a < b); });
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(state.iterations() * kGradeLength);
}

void GradeInt(benchmark::State &state) {
    aplarray *keys = Linked(RandomInts(kGradeLength, INT32_MIN, INT32_MAX, 1), APL_INTG);
    for (auto _ : state) APL_UnLinkTemp(APL_GradeUp(nullptr, nullptr, keys));
    state.SetItemsProcessed(state.iterations() * kGradeLength);
    APL_UnLink(keys);
}

void GradeRealStableSort(benchmark::State &state) {
    const std::vector<double> keys = RandomReals(kGradeLength, 2);
    std::vector<int32_t> order(keys.size());
    for (auto _ : state) {
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return keys[a] < keys[b]; });
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(state.iterations() * kGradeLength);
}

void GradeReal(benchmark::State &state) {
    aplarray *keys = Linked(RandomReals(kGradeLength, 2), APL_REAL);
    for (auto _ : state) APL_UnLinkTemp(APL_GradeUp(nullptr, nullptr, keys));
    state.SetItemsProcessed(state.iterations() * kGradeLength);
    APL_UnLink(keys);
}

// ---- Index of --------------------------------------------------------------------------

// Range 0: values below 1e5 (a direct table suits them); range 1: all of INTG.
std::vector<int32_t> IndexData(int range, uint32_t seed) {
    return range == 0 ? RandomInts(kIndexLength, 0, kIndexLength - 1, seed)
                      : RandomInts(kIndexLength, INT32_MIN, INT32_MAX, seed);
}

// The baselines' loop: an open-addressing table of first positions in
// `left`, built and then probed with every element of `right`.
template <typename T, typename Hash>
void HashedFirstPositions(benchmark::State &state, const std::vector<T> &left, const std::vector<T> &right,
                          uint32_t mask, Hash hash) {
    const auto n = static_cast<int32_t>(left.size());
    std::vector<int32_t> position(mask + 1), out(right.size());
    for (auto _ : state) {
        std::fill(position.begin(), position.end(), -1);
        for (int32_t i = 0; i < n; ++i) {
            uint32_t s = hash(left[i]);
            while (position[s] >= 0 && left[position[s]] != left[i]) s = (s + 1) & mask;
            if (position[s] < 0) position[s] = i;
        }
        for (size_t j = 0; j < right.size(); ++j) {
            uint32_t s = hash(right[j]);
            while (position[s] >= 0 && left[position[s]] != right[j]) s = (s + 1) & mask;
            out[j] = position[s] >= 0 ? position[s] : n;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// The baseline: an open-addressing hash of first positions, built and probed.
void IndexIntHash(benchmark::State &state) {
    const std::vector<int32_t> left = IndexData(static_cast<int>(state.range(0)), 3);
    const std::vector<int32_t> right = IndexData(static_cast<int>(state.range(0)), 4);
    const uint32_t slots = 1u << 18, mask = slots - 1;
    auto hash = [mask](int32_t v) { return (static_cast<uint32_t>(v) * 0x9E3779B1u) >> 14 & mask; };
    HashedFirstPositions(state, left, right, mask, hash);
}

void IndexInt(benchmark::State &state) {
    aplarray *left = Linked(IndexData(static_cast<int>(state.range(0)), 3), APL_INTG);
    aplarray *right = Linked(IndexData(static_cast<int>(state.range(0)), 4), APL_INTG);
    for (auto _ : state) APL_UnLinkTemp(APL_Interval(nullptr, left, right));
    state.SetItemsProcessed(state.iterations() * kIndexLength);
    APL_UnLink(left);
    APL_UnLink(right);
}

std::vector<uint8_t> RandomText(int32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d('a', 'z');
    std::vector<uint8_t> v(static_cast<size_t>(n));
    for (auto &c : v) c = static_cast<uint8_t>(d(rng));
    return v;
}

void IndexCharTable(benchmark::State &state) {
    const std::vector<uint8_t> left = RandomText(26, 5), right = RandomText(kIndexLength, 6);
    std::vector<int32_t> out(right.size());
    for (auto _ : state) {
        int32_t first[256];
        std::fill(first, first + 256, 26);
        for (int32_t i = 25; i >= 0; --i) first[left[i]] = i;
        for (size_t j = 0; j < right.size(); ++j) out[j] = first[right[j]];
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kIndexLength);
}

void IndexChar(benchmark::State &state) {
    aplarray *left = Linked(RandomText(26, 5), APL_CHAR);
    aplarray *right = Linked(RandomText(kIndexLength, 6), APL_CHAR);
    for (auto _ : state) APL_UnLinkTemp(APL_Interval(nullptr, left, right));
    state.SetItemsProcessed(state.iterations() * kIndexLength);
    APL_UnLink(left);
    APL_UnLink(right);
}

// ---- Index of and membership of REAL, mixed and nested data -------------------------------

// The data of bench/peers_search.sh: n values drawn from 0 to 2n-1 (so that
// about half the keys are found), divided by 7 for REAL data, as they are
// for integral data (REAL) and integers (INTG), halved for the mixed keys.
enum class Kind { Real, Integral, Mixed, Integer };

std::vector<double> SearchData(Kind kind, int32_t n, uint32_t seed, bool keys) {
    std::vector<double> v(static_cast<size_t>(n));
    const std::vector<int32_t> drawn = RandomInts(n, 0, 2 * n - 1, seed);
    for (size_t i = 0; i < v.size(); ++i) {
        const double d = drawn[i];
        v[i] = kind == Kind::Real ? d / 7 : kind == Kind::Mixed && keys ? d / 2 : d;
    }
    return v;
}

aplarray *SearchArray(Kind kind, int32_t n, uint32_t seed, bool keys) {
    const std::vector<double> v = SearchData(kind, n, seed, keys);
    if (kind != Kind::Integer && (kind != Kind::Mixed || keys)) return Linked(v, APL_REAL);
    return Linked(std::vector<int32_t>(v.begin(), v.end()), APL_INTG);
}

// The baseline: an open-addressing hash of the doubles' bits, exact (so it
// does less than a tolerant search), built and probed.
void SearchExactHash(benchmark::State &state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> left = SearchData(Kind::Real, n, 3, false), right = SearchData(Kind::Real, n, 4, true);
    uint32_t bits = 4;
    while ((1u << bits) < 2u * static_cast<uint32_t>(n)) ++bits;
    const uint32_t mask = (1u << bits) - 1;
    auto hash = [bits](double v) {
        uint64_t b;
        memcpy(&b, &v, 8);
        return static_cast<uint32_t>((b * 0x9E3779B97F4A7C15ull) >> (64 - bits));
    };
    HashedFirstPositions(state, left, right, mask, hash);
}

// X⍳Y (search 0) and Y∊X (search 1) of one kind of data (range 1).
void SearchTolerant(benchmark::State &state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const auto kind = static_cast<Kind>(state.range(2));
    aplarray *left = SearchArray(kind, n, 3, false), *right = SearchArray(kind, n, 4, true);
    if (state.range(1) == 0)
        bench_support::Call(state, APL_Interval, left, right, n);
    else
        bench_support::Call(state, APL_Element, right, left, n);
    APL_UnLink(left);
    APL_UnLink(right);
}

// X⍳Y on n character vectors (the decimal digits of numbers drawn as above).
aplarray *Strings(int32_t n, uint32_t seed) {
    const std::vector<int32_t> drawn = RandomInts(n, 0, 2 * n - 1, seed);
    aplarray *a = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i)
        ItemsOf(a)[i] = APL_Link(APL_String(std::to_string(drawn[static_cast<size_t>(i)]).c_str()));
    return APL_Link(a);
}

void SearchStrings(benchmark::State &state) {
    const auto n = static_cast<int32_t>(state.range(0));
    aplarray *left = Strings(n, 3), *right = Strings(n, 4);
    bench_support::Call(state, APL_Interval, left, right, n);
    APL_UnLink(left);
    APL_UnLink(right);
}

// ---- Find ------------------------------------------------------------------------------

// Letters from a small alphabet so that the pattern 'ab' occurs often.
std::vector<uint8_t> FindText() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> d('a', 'd');
    std::vector<uint8_t> v(kTextLength);
    for (auto &c : v) c = static_cast<uint8_t>(d(rng));
    return v;
}

// The baseline: std::search from each occurrence to the next, marking the
// starts in a zeroed INTG vector as find does.
void FindStdSearch(benchmark::State &state) {
    const std::vector<uint8_t> text = FindText();
    const uint8_t pattern[2] = {'a', 'b'};
    std::vector<int32_t> out(text.size());
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), 0);
        for (auto at = text.begin();; ++at) {
            at = std::search(at, text.end(), pattern, pattern + 2);
            if (at == text.end()) break;
            out[static_cast<size_t>(at - text.begin())] = 1;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kTextLength);
}

void FindChars(benchmark::State &state) {
    aplarray *text = Linked(FindText(), APL_CHAR);
    aplarray *pattern = APL_Link(APL_String("ab"));
    for (auto _ : state) APL_UnLinkTemp(APL_Find(nullptr, pattern, text));
    state.SetItemsProcessed(state.iterations() * kTextLength);
    APL_UnLink(text);
    APL_UnLink(pattern);
}

// ---- Format of REAL numbers ------------------------------------------------------------

// The baseline: each number through snprintf("%.*G") into one buffer.
void FormatRealSnprintf(benchmark::State &state) {
    const std::vector<double> values = RandomReals(kFormatLength, 8);
    std::vector<char> text(static_cast<size_t>(kFormatLength) * 24);
    for (auto _ : state) {
        size_t at = 0;
        for (double v : values) at += static_cast<size_t>(snprintf(text.data() + at, 24, "%.*G", 10, v)) + 1;
        benchmark::DoNotOptimize(text.data());
    }
    state.SetItemsProcessed(state.iterations() * kFormatLength);
}

void FormatReal(benchmark::State &state) {
    aplarray *values = Linked(RandomReals(kFormatLength, 8), APL_REAL);
    for (auto _ : state) APL_UnLinkTemp(APL_Format(nullptr, nullptr, values));
    state.SetItemsProcessed(state.iterations() * kFormatLength);
    APL_UnLink(values);
}

// ---- DISPLAY ---------------------------------------------------------------------------

// The baseline: the format of the same matrix, which DISPLAY draws its box around.
void DisplayMatrixFormat(benchmark::State &state) {
    const int32_t shape[2] = {100, 100};
    aplarray *matrix = APL_Link(APL_Create(2, APL_INTG, shape));
    const std::vector<int32_t> values = RandomInts(10000, 0, 999, 9);
    memcpy(DataOf(matrix), values.data(), 4 * values.size());
    for (auto _ : state) APL_UnLinkTemp(APL_Format(nullptr, nullptr, matrix));
    APL_UnLink(matrix);
}

void DisplayMatrix(benchmark::State &state) {
    const int32_t shape[2] = {100, 100};
    aplarray *matrix = APL_Link(APL_Create(2, APL_INTG, shape));
    const std::vector<int32_t> values = RandomInts(10000, 0, 999, 9);
    memcpy(DataOf(matrix), values.data(), 4 * values.size());
    for (auto _ : state) APL_UnLinkTemp(APL_PictDisplay(nullptr, nullptr, matrix));
    APL_UnLink(matrix);
}

// A nested matrix of n by n items ⊂1 2, beside the format of the same matrix
// (the picture holds that format and one picture per item).
aplarray *PairsMatrix(int32_t n) {
    const int32_t shape[2] = {n, n}, two = 2;
    aplarray *pair = APL_Create(1, APL_INTG, &two);
    DataOf<int32_t>(pair)[0] = 1;
    DataOf<int32_t>(pair)[1] = 2;
    aplarray *matrix = APL_Create(2, APL_NESTED, shape);
    for (int64_t i = 0; i < int64_t{n} * n; ++i) ItemsOf(matrix)[i] = APL_Link(pair);
    return APL_Link(matrix);
}
void DisplayNestedFormat(benchmark::State &state) {
    aplarray *matrix = PairsMatrix(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) APL_UnLinkTemp(APL_Format(nullptr, nullptr, matrix));
    APL_UnLink(matrix);
}
void DisplayNested(benchmark::State &state) {
    aplarray *matrix = PairsMatrix(static_cast<int32_t>(state.range(0)));
    for (auto _ : state) APL_UnLinkTemp(APL_PictDisplay(nullptr, nullptr, matrix));
    APL_UnLink(matrix);
}

}  // namespace

BENCHMARK(GradeIntRadix);
BENCHMARK(GradeIntStdSort);
BENCHMARK(GradeInt);
BENCHMARK(GradeRealStableSort);
BENCHMARK(GradeReal);
BENCHMARK(IndexIntHash)->Arg(0)->Arg(1);
BENCHMARK(IndexInt)->Arg(0)->Arg(1);
BENCHMARK(IndexCharTable);
BENCHMARK(IndexChar);
BENCHMARK(SearchExactHash)->Arg(10000)->Arg(100000);
// n, ⍳ or ∊, REAL / integral REAL / INTG table with REAL keys / INTG.
BENCHMARK(SearchTolerant)->ArgsProduct({{10000, 100000}, {0, 1}, {0, 1, 2, 3}});
BENCHMARK(SearchStrings)->Arg(10000)->Arg(100000);
BENCHMARK(FindStdSearch);
BENCHMARK(FindChars);
BENCHMARK(FormatRealSnprintf);
BENCHMARK(FormatReal);
BENCHMARK(DisplayMatrixFormat);
BENCHMARK(DisplayMatrix);
BENCHMARK(DisplayNestedFormat)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(DisplayNested)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) { return bench_support::RunInProgramMode(argc, argv); }
