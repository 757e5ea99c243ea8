// Membership, match and mix against plain C++ baselines run in the same
// program: a std::unordered_set (and a 256-entry table for characters), memcmp,
// and a copy loop. See README.md for the figures.
#include "apl.h"
#include "core/arrays.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <unordered_set>
#include <vector>

namespace {

using bench_support::Linked;
using bench_support::RandomInts;

constexpr int32_t kMembers = 100000;

// Range 0: values below 1e5 (a direct table); range 1: all of INTG (hashing).
std::vector<int32_t> MemberData(int range, uint32_t seed) {
    return range == 0 ? RandomInts(kMembers, 0, kMembers - 1, seed) : RandomInts(kMembers, INT32_MIN, INT32_MAX, seed);
}

void MemberIntBaseline(benchmark::State &state) {
    const std::vector<int32_t> keys = MemberData(static_cast<int>(state.range(0)), 1);
    const std::vector<int32_t> table = MemberData(static_cast<int>(state.range(0)), 2);
    std::vector<int32_t> out(keys.size());
    for (auto _ : state) {
        std::unordered_set<int32_t> set(table.begin(), table.end());
        for (size_t i = 0; i < keys.size(); ++i) out[i] = set.count(keys[i]) != 0;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

void MemberInt(benchmark::State &state) {
    aplarray *keys = Linked(MemberData(static_cast<int>(state.range(0)), 1), APL_INTG);
    aplarray *table = Linked(MemberData(static_cast<int>(state.range(0)), 2), APL_INTG);
    for (auto _ : state) APL_UnLinkTemp(APL_Element(nullptr, keys, table));
    state.SetItemsProcessed(state.iterations() * kMembers);
    APL_UnLink(keys);
    APL_UnLink(table);
}

// REAL on both sides (⎕CT at its default), values spread like range 1.
void MemberReal(benchmark::State &state) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> d(-1e9, 1e9);
    const int32_t n = kMembers;
    aplarray *keys = APL_Link(APL_Create(1, APL_REAL, &n));
    aplarray *table = APL_Link(APL_Create(1, APL_REAL, &n));
    for (int32_t i = 0; i < n; ++i) DataOf<double>(keys)[i] = d(rng), DataOf<double>(table)[i] = d(rng);
    for (auto _ : state) APL_UnLinkTemp(APL_Element(nullptr, keys, table));
    state.SetItemsProcessed(state.iterations() * kMembers);
    APL_UnLink(keys);
    APL_UnLink(table);
}

std::vector<uint8_t> RandomText(uint32_t seed, int32_t n) {
    std::vector<uint8_t> v(static_cast<size_t>(n));
    std::mt19937 rng(seed);
    for (auto &c : v) c = static_cast<uint8_t>(rng() % 256);
    return v;
}

void MemberCharBaseline(benchmark::State &state) {
    const std::vector<uint8_t> keys = RandomText(4, kMembers), table = RandomText(5, 100);
    std::vector<int32_t> out(keys.size());
    for (auto _ : state) {
        bool present[256] = {false};
        for (uint8_t c : table) present[c] = true;
        for (size_t i = 0; i < keys.size(); ++i) out[i] = present[keys[i]];
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kMembers);
}

void MemberChar(benchmark::State &state) {
    const std::vector<uint8_t> k = RandomText(4, kMembers), t = RandomText(5, 100);
    const int32_t nk = kMembers, nt = 100;
    aplarray *keys = APL_Link(APL_Create(1, APL_CHAR, &nk));
    aplarray *table = APL_Link(APL_Create(1, APL_CHAR, &nt));
    memcpy(DataOf(keys), k.data(), k.size());
    memcpy(DataOf(table), t.data(), t.size());
    for (auto _ : state) APL_UnLinkTemp(APL_Element(nullptr, keys, table));
    state.SetItemsProcessed(state.iterations() * kMembers);
    APL_UnLink(keys);
    APL_UnLink(table);
}

constexpr int32_t kMatchLength = 10000000;

void MatchBaseline(benchmark::State &state) {
    const std::vector<int32_t> a = RandomInts(kMatchLength, -1000, 1000, 6);
    const std::vector<int32_t> b = a;
    for (auto _ : state) benchmark::DoNotOptimize(memcmp(a.data(), b.data(), 4 * a.size()));
    state.SetBytesProcessed(state.iterations() * 4 * static_cast<int64_t>(kMatchLength));
}

void MatchEqual(benchmark::State &state) {
    const std::vector<int32_t> v = RandomInts(kMatchLength, -1000, 1000, 6);
    aplarray *a = Linked(v, APL_INTG);
    aplarray *b = Linked(v, APL_INTG);
    for (auto _ : state) APL_UnLinkTemp(APL_Match(nullptr, a, b));
    state.SetBytesProcessed(state.iterations() * 4 * static_cast<int64_t>(kMatchLength));
    APL_UnLink(a);
    APL_UnLink(b);
}

constexpr int32_t kMixItems = 100000;

void MixBaseline(benchmark::State &state) {
    std::vector<std::vector<int32_t>> items(kMixItems, std::vector<int32_t>{1, 2, 3});
    for (auto _ : state) {
        std::vector<int32_t> out(3 * static_cast<size_t>(kMixItems));
        for (size_t i = 0; i < items.size(); ++i) memcpy(out.data() + 3 * i, items[i].data(), 12);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kMixItems);
}

void Mix(benchmark::State &state) {
    const int32_t n = kMixItems;
    aplarray *nested = APL_Link(APL_Create(1, APL_NESTED, &n));
    for (int32_t i = 0; i < n; ++i) ItemsOf(nested)[i] = Linked(std::vector<int32_t>{i, i + 1, i + 2}, APL_INTG);
    for (auto _ : state) APL_UnLinkTemp(APL_Disclose(nullptr, nullptr, nested));
    state.SetItemsProcessed(state.iterations() * kMixItems);
    APL_UnLink(nested);
}

}  // namespace

BENCHMARK(MemberIntBaseline)->Arg(0)->Arg(1);
BENCHMARK(MemberInt)->Arg(0)->Arg(1);
BENCHMARK(MemberReal);
BENCHMARK(MemberCharBaseline);
BENCHMARK(MemberChar);
BENCHMARK(MatchBaseline);
BENCHMARK(MatchEqual);
BENCHMARK(MixBaseline);
BENCHMARK(Mix);

BENCHMARK_MAIN();
