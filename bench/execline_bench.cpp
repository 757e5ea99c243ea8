// The evaluator's cost per primitive application: the stored line X←X+1
// evaluated again and again on a scalar, against the same arithmetic done by a
// plain C++ loop in the same run; and the general walk's cost per primitive
// call on lines that no plan takes (an operator, a strand of names, each over
// a nested value, an index of two axes), all on scalars or short vectors so that the walk, not the
// primitives' work, is what is measured.
//   execline_bench                       Google Benchmark: ns per line and per call
//   execline_bench --walk LINE TURNS     runs walk line LINE (0-based) TURNS times
//                                        and exits, for bench/walk_cost.sh, which
//                                        counts instructions per primitive call
#include "apl.h"
#include "core/symtab.h"
#include "interpreter/execline.h"
#include "interpreter/lineplan.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokenizer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Discard(const char *, int32_t) {}

void StartSession() {
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    APL_SetScriptMode(1);
    APL_Init(0, "");
}

// Runs text in the session as an immediate line.
void Execute(const std::string &text) {
    bool assigned;
    APL_UnLinkEx(ExecuteText(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()),
                             assigned),
                 "bench", 0);
}

StoredLine Stored(const std::string &text) {
    StoredLine line;
    TokenizeSourceLine(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()),
                       kTokImmediate, line);
    return line;
}

void BM_EvaluateIncrement(benchmark::State &state) {
    StartSession();
    const StoredLine line = Stored("X\x84X+1");
    Execute("X\x84"
            "0");
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

// Lines the plans leave to the walk, each with the primitive calls it makes
// (a derived function's call counts once, each item of each once).
struct WalkLine {
    const char *name;
    const char *text;  // in the session's own encoding, written with the names below
    int calls;
};

// ← + × / ⌈ ¨ ⍴ ⊂ , in the stored encoding.
#define ARROW "\x84"
#define TIMES "\xd7"
#define MAX "\x97"
#define EACH "\xa8"
#define RHO "\xbd"
#define ENCLOSE "\x9b"

const WalkLine kWalkLines[] = {
    {"operator: S←A+I×+/R", "S" ARROW "A+I" TIMES "+/R", 3},
    {"strand: S←A×(A I)+I", "S" ARROW "A" TIMES "(A I)+I", 2},
    {"each: S←I+⍴¨N", "S" ARROW "I+" RHO EACH "N", 5},
    {"two axes: S←A⌈M[1;2]+I", "S" ARROW "A" MAX "M[1;2]+I", 3},
};
constexpr int kWalkLineCount = sizeof kWalkLines / sizeof kWalkLines[0];

// The names the lines read: scalars, a short vector, a nested vector of three
// and a small matrix.
void SetWalkNames() {
    Execute("A" ARROW "3");
    Execute("I" ARROW "5");
    Execute("R" ARROW "2 4 6");
    Execute("N" ARROW "(1 2)(3 4 5)(" ENCLOSE "'ab')");
    Execute("M" ARROW "2 3" RHO "6");
}

void BM_Walk(benchmark::State &state) {
    const WalkLine &walk = kWalkLines[state.range(0)];
    StartSession();
    SetWalkNames();
    const StoredLine line = Stored(walk.text);
    const PoolView pool = CurrentPool();
    const int64_t planned = LinePlanRuns();
    for (auto _ : state) EvaluateStatementLine(line, pool);
    if (LinePlanRuns() != planned) state.SkipWithError("a plan took the line");
    if (aplerrno) state.SkipWithError("the line failed");
    state.SetLabel(walk.name);
    state.counters["ns_per_call"] =
        benchmark::Counter(static_cast<double>(walk.calls), benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}
BENCHMARK(BM_Walk)->DenseRange(0, kWalkLineCount - 1)->Unit(benchmark::kNanosecond);

// --walk LINE TURNS: the line alone, for callgrind.
int RunWalkLine(int which, long turns) {
    if (which < 0 || which >= kWalkLineCount) return 2;
    StartSession();
    SetWalkNames();
    const StoredLine line = Stored(kWalkLines[which].text);
    const PoolView pool = CurrentPool();
    const int64_t planned = LinePlanRuns();
    for (long i = 0; i < turns; ++i) EvaluateStatementLine(line, pool);
    const bool walked = LinePlanRuns() == planned && !aplerrno;
    printf("%s: %ld turns, %d primitive calls a turn%s\n", kWalkLines[which].name, turns, kWalkLines[which].calls,
           walked ? "" : " (NOT WALKED)");
    return walked ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "--walk") == 0) return RunWalkLine(atoi(argv[2]), atol(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
