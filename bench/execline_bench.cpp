// The evaluator's cost per primitive application: the stored line X←X+1
// evaluated again and again on a scalar, against the same arithmetic done by a
// plain C++ loop in the same run.
#include "apl.h"
#include "core/symtab.h"
#include "interpreter/execline.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokenizer.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

void Discard(const char *, int32_t) {}

void BM_EvaluateIncrement(benchmark::State &state) {
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    APL_SetScriptMode(1);
    APL_Init(0, "");
    const char text[] = "X\x84X+1";
    const char init[] =
        "X\x84"
        "0";
    StoredLine line;
    bool assigned;
    APL_UnLinkEx(ExecuteText(reinterpret_cast<const uint8_t *>(init), 3, assigned), "bench", 0);
    TokenizeSourceLine(reinterpret_cast<const uint8_t *>(text), static_cast<int32_t>(strlen(text)), kTokImmediate,
                       line);
    const PoolView pool = CurrentPool();
    for (auto _ : state) EvaluateStatementLine(line, pool);
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(APL_Variable(LookupName("X", 1)));
}
BENCHMARK(BM_EvaluateIncrement);

// Baseline: the same increment on a boxed value in plain C++.
void BM_PlainIncrement(benchmark::State &state) {
    volatile int32_t x = 0;
    for (auto _ : state) x = x + 1;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainIncrement);

}  // namespace

BENCHMARK_MAIN();
