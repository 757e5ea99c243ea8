// Format of a 1e6-element INTG vector against a plain snprintf loop that
// writes the same texts, measured in the same run.
// Relies only on the exported interface of liborbaxdm.
#include "apl.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kCount = 1000000;

// Values of every length from 1 to 7 digits, a third of them negative.
std::vector<int32_t> Values() {
    std::vector<int32_t> values(kCount);
    uint32_t seed = 12345;
    for (int32_t i = 0; i < kCount; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int32_t magnitude = static_cast<int32_t>((seed >> 8) % 10000000u) >> (i % 7 * 3);
        values[i] = i % 3 == 0 ? -magnitude : magnitude;
    }
    return values;
}

void BM_FormatIntegerVector(benchmark::State &state) {
    const std::vector<int32_t> values = Values();
    aplarray *vector = APL_Link(APL_Create(1, APL_INTG, &kCount));
    memcpy(APL_Data(vector), values.data(), sizeof(int32_t) * values.size());
    int64_t bytes = 0;
    for (auto _ : state) {
        aplarray *text = APL_Format(nullptr, nullptr, vector);
        if (!text) {
            state.SkipWithError("format failed");
            break;
        }
        bytes = text->number;
        benchmark::DoNotOptimize(APL_Data(text));
        APL_UnLinkTemp(text);
    }
    APL_UnLink(vector);
    state.counters["chars"] = static_cast<double>(bytes);
    state.SetItemsProcessed(state.iterations() * kCount);
}

// The baseline: each value through snprintf into one preallocated buffer,
// blank-separated (no column bookkeeping, no high minus).
void BM_SnprintfLoop(benchmark::State &state) {
    const std::vector<int32_t> values = Values();
    std::vector<char> buffer(static_cast<size_t>(kCount) * 12 + 16);
    for (auto _ : state) {
        char *out = buffer.data();
        for (int32_t v : values) {
            out += snprintf(out, 13, "%d", v);
            *out++ = ' ';
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

}  // namespace

BENCHMARK(BM_FormatIntegerVector)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnprintfLoop)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
