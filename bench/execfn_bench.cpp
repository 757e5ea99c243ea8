// A defined function that loops with a branch, doing scalar arithmetic on
// each turn, run through the interpreter's line protocol; reported as time
// per function line executed, beside a plain C++ loop of the same
// arithmetic measured in the same run.
// Relies on fixing, function execution and the scalar functions (orbaxcore).
#include "apl.h"
#include "core/arrays.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "system/register.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// ORBAX_TURNS overrides the count, for instruction counts under callgrind.
const int32_t kTurns = [] {
    const char *text = getenv("ORBAX_TURNS");
    return text && atoi(text) > 0 ? atoi(text) : 1000000;
}();

// LOOP N;I;S     (three lines a turn, one more to start)
// [1] I←0 ⋄ S←0
// [2] TOP: I←I+1
// [3] S←S+I×2
// [4] →TOP×⍳I<N
std::vector<std::string> LoopText() {
    const std::string arrow = "\x84", branch = "\x85", diamond = "\xaa", times = "\xd7", iota = "\xbc";
    return {"LOOP N;I;S", "I" + arrow + "0 " + diamond + " S" + arrow + "0", "TOP: I" + arrow + "I+1",
            "S" + arrow + "S+I" + times + "2", branch + "TOP" + times + iota + "I<N"};
}

void Discard(const char *, int32_t) {}

// BRANCH N;I     (two lines a turn, one more to start)
// [1] I←0
// [2] L: I←I+1
// [3] →(I<N)⍴L
std::vector<std::string> BranchText() {
    const std::string arrow = "\x84", branch = "\x85", rho = "\xbd";
    return {"BRANCH N;I", "I" + arrow + "0", "L: I" + arrow + "I+1", branch + "(I<N)" + rho + "L"};
}

void PrepareSession() {
    static bool done = false;
    if (done) return;
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    RegisterBuiltins();
    const struct {
        uint8_t code;
        aplfunction function;
    } kUsed[] = {{'+', APL_Add},      {215, APL_Mul},  {'<', APL_Lower},
                 {188, APL_Interval}, {133, APL_Jump}, {189, APL_Shape}};
    for (const auto &p : kUsed) primitiveTables.functions[p.code] = p.function;
    InstallFunctionRunners();
    CreateSystemVariables(false);
    done = true;
}

// Fixes the function whose text is given; returns its symbol or 0.
uint16_t Define(const std::vector<std::string> &text, const char *fnName) {
    PrepareSession();
    const auto n = static_cast<int32_t>(text.size());
    aplarray *lines = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i) ItemsOf(lines)[i] = APL_Link(MakeString(text[static_cast<size_t>(i)].c_str()));
    aplarray *name = DefineFunction(lines);
    APL_UnLinkTemp(lines);
    const uint16_t symbol = name && name->eltype == APL_CHAR ? LookupName(fnName) : 0;
    APL_UnLinkTemp(name);
    return symbol;
}

uint16_t Prepare() {
    static uint16_t loop = Define(LoopText(), "LOOP");
    return loop;
}

void BM_DefinedLoop(benchmark::State &state) {
    const uint16_t loop = Prepare();
    if (!loop) {
        state.SkipWithError("the function does not fix");
        return;
    }
    const aplfnc function{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, loop};
    for (auto _ : state) {
        aplarray *result = RunUserFunction(function, nullptr, nullptr, MakeInt(kTurns));
        if (aplerrno) {
            state.SkipWithError("the loop failed");
            aplerrno = 0;
            break;
        }
        APL_UnLinkTemp(result);
    }
    const double lines = 1.0 + 3.0 * kTurns;
    state.counters["us_per_line"] =
        benchmark::Counter(lines * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DefinedLoop)->Unit(benchmark::kMillisecond);

// The branch loop I←I+1 / →(I<N)⍴L: time per turn (two lines).
void BM_BranchLoop(benchmark::State &state) {
    static const uint16_t loop = Define(BranchText(), "BRANCH");
    if (!loop) {
        state.SkipWithError("the function does not fix");
        return;
    }
    const aplfnc function{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, loop};
    for (auto _ : state) {
        aplarray *result = RunUserFunction(function, nullptr, nullptr, MakeInt(kTurns));
        if (aplerrno) {
            state.SkipWithError("the loop failed");
            aplerrno = 0;
            break;
        }
        APL_UnLinkTemp(result);
    }
    state.counters["ns_per_turn"] =
        benchmark::Counter(kTurns * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BranchLoop)->Unit(benchmark::kMillisecond);

// The same arithmetic as a plain loop: the cost of the work itself.
void BM_PlainLoop(benchmark::State &state) {
    for (auto _ : state) {
        int64_t i = 0, s = 0;
        int64_t n = kTurns;
        benchmark::DoNotOptimize(n);
        do {
            ++i;
            s += i * 2;
            benchmark::DoNotOptimize(s);
        } while (i < n);
        benchmark::DoNotOptimize(s);
    }
    const double lines = 1.0 + 3.0 * kTurns;
    state.counters["us_per_line"] =
        benchmark::Counter(lines * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
