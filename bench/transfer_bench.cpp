// The transfer form TF on 1e6 REAL numbers against plain C loops in the same
// run: form 1 export against snprintf("%.17g") of every number, form 1 import
// against strtod of the same text. Relies on the exported interface.
#include "apl.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kCount = 1000000;

// Numbers with many digits, as measurements have: shortest texts of 15-17 digits.
std::vector<double> Numbers() {
    std::vector<double> numbers(kCount);
    uint64_t x = 88172645463325252ull;
    for (double &d : numbers) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        d = (static_cast<double>(x % 2000000000) - 1e9) / 997.0;
    }
    return numbers;
}

aplarray *Text(const char *text) {
    const auto n = static_cast<int32_t>(strlen(text));
    aplarray *a = APL_Create(1, APL_CHAR, &n);
    memcpy(APL_Data(a), text, static_cast<size_t>(n));
    return a;
}

// Defines R as the numbers once.
void DefineR() {
    static bool done = false;
    if (done) return;
    done = true;
    APL_Init(1, "");
    const std::vector<double> numbers = Numbers();
    const int32_t n = kCount;
    aplarray *r = APL_Create(1, APL_REAL, &n);
    memcpy(APL_Data(r), numbers.data(), numbers.size() * sizeof(double));
    void *init = APL_Link(r);
    APL_AddSymbol("R", 1, APL_KIND_VARIABLE, &init);
}

// The form 1 text of R (linked).
aplarray *ExportR() { return APL_Link(APL_TransferFormat(nullptr, APL_Int(1), Text("R"))); }

void BM_SnprintfLoop(benchmark::State &state) {
    const std::vector<double> numbers = Numbers();
    std::string text(static_cast<size_t>(kCount) * 26, ' ');
    for (auto _ : state) {
        char *p = text.data();
        for (double d : numbers) p += snprintf(p, 26, "%.17g ", d);
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_SnprintfLoop);

void BM_TransferExportReal(benchmark::State &state) {
    DefineR();
    for (auto _ : state) {
        aplarray *text = ExportR();
        if (!text) {
            state.SkipWithError("export failed");
            break;
        }
        benchmark::DoNotOptimize(text);
        APL_UnLink(text);
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_TransferExportReal);

void BM_StrtodLoop(benchmark::State &state) {
    const std::vector<double> numbers = Numbers();
    std::string text;
    char buffer[32];
    for (double d : numbers) text.append(buffer, static_cast<size_t>(snprintf(buffer, sizeof buffer, "%.17g ", d)));
    std::vector<double> out(kCount);
    for (auto _ : state) {
        const char *p = text.c_str();
        for (double &d : out) {
            char *end;
            d = strtod(p, &end);
            p = end;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_StrtodLoop);

void BM_TransferImportReal(benchmark::State &state) {
    DefineR();
    aplarray *text = ExportR();
    for (auto _ : state) {
        aplarray *name = APL_TransferFormat(nullptr, APL_Int(1), text);
        if (!name) {
            state.SkipWithError("import failed");
            break;
        }
        APL_UnLinkTemp(name);
    }
    APL_UnLink(text);
    state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(BM_TransferImportReal);

}  // namespace

BENCHMARK_MAIN();
