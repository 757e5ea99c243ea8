// Clearing the workspace resets every part of the runtime state, and so does
// the session's recovery from a caught processor fault: a cleared or
// recovered session behaves as a fresh one, holds as many blocks and the same
// internals.
#include "session_support.h"
#include "testos.h"

#include "core/depths.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "interpreter/runrecord.h"
#include "interpreter/runstate.h"
#include "interpreter/tokenizer.h"
#include "system/oserror.h"
#include "system/platform.h"

#include <csignal>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using RuntimeState = SessionTest;

constexpr const char *kProbeFile = "runstate_probe.tmp";

// Lines that show the state a workspace can hold: names, functions, the state
// indicator, system variables, the tie numbers in use and the block count.
const std::vector<std::string> kProbe = {
    "V",        "W",     "F 3",  A("⎕NSIZE 1"), A("⎕IO"),  A("⎕MODE"),
    A("⎕WSID"), ")VARS", ")FNS", ")SI",         ")CONSTS", A("⎕NTIE 'runstate_probe.tmp'"),
    A("⎕MD"),
};

// What the session's output cannot show of the state after a run.
struct Internals {
    int32_t blocks;
    uint32_t pool;
    uint32_t symbols;
    uint32_t mode;
    bool lenient;
    int stateLevels;
    int pendingOs;
    uint8_t lineFlags;
    int evaluationDepth;
    bool selective;
    DepthCounters depths;
    uint16_t executing;
    const LineFrame *frame;
    size_t localised;
    size_t calls;
    int loops;
    int traps;

    static Internals Now() {
        const RunningCallsMark calls = MarkRunningCalls();
        return {LiveBlocks(),         ConstantPoolSize(),        APL_symtab.count,   sessionMode,     lenientFixing,
                stateIndicator.count, pendingOsError,            tokenizerLineFlags, evaluator.depth, evaluator.selective,
                ::depths,             stateIndicator.executing, currentFrame,       calls.localised, calls.calls,
                session.loopDepth,    session.trapDepth};
    }
    bool operator==(const Internals &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Internals &s) {
    return out << "blocks " << s.blocks << " pool " << s.pool << " symbols " << s.symbols << " mode " << s.mode
               << " lenient " << s.lenient << " levels " << s.stateLevels << " os error " << s.pendingOs
               << " line flags " << int{s.lineFlags} << " depth " << s.evaluationDepth << " selective " << s.selective
               << " scalar " << s.depths.scalar << " operand " << s.depths.operand << " display " << s.depths.display
               << " copy " << s.depths.copy << " records " << s.depths.activeRecords << " executing " << s.executing
               << " frame " << s.frame << " localised " << s.localised << " calls " << s.calls << " loops " << s.loops
               << " traps " << s.traps;
}

// Fills every kind of workspace state: variables and functions whose lines
// hold constants, two suspended functions (one with a local that shadows a
// variable), a tie, a changed system variable and identity, the mode bits
// with memory statistics and array tracing, a pending error.
const std::vector<std::string> kFill = {
    A("V←1 2 3 ⋄ W←'text' 2.5"),
    A("⎕FX 'Z←F X' 'Z←X+17 ''c'''"),
    A("⎕FX 'Z←G X;V' 'V←5 ⍬ ''local''' 'Z←F X'"),
    A("⎕IO←0"),
    A("⎕NTIE 'runstate_probe.tmp'"),
    A("⎕WSID←'OTHER'"),
    ")MODE DEBUG MEMORY",
    A("F 3"),
    A("G 4"),
    ")MODE DEBUG ARRAYS",
    A("1÷0"),
    ")SI",
};

TEST_F(RuntimeState, AClearedSessionBehavesAsAFreshOne) {
    std::FILE *file = std::fopen(kProbeFile, "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const std::string fresh = RunLines(kProbe);
    const Internals freshInternals = Internals::Now();

    // Fill, clear and probe in one run (the end of a run closes the ties).
    // Keyword mode and lenient fixing have no command of their own here.
    std::vector<std::string> lines = kFill;
    lines.push_back(")CLEAR");
    lines.insert(lines.end(), kProbe.begin(), kProbe.end());
    sessionMode |= kModeKeywords;
    lenientFixing = true;
    const std::string cleared = RunLines(lines);

    EXPECT_NE(cleared.find("G[2]"), std::string::npos) << "the functions were not suspended:\n" << cleared;
    ASSERT_GE(cleared.size(), fresh.size());
    EXPECT_EQ(cleared.substr(cleared.size() - fresh.size()), fresh);
    EXPECT_EQ(Internals::Now(), freshInternals);
    std::remove(kProbeFile);
}

// The fault of the recovery test: raised at a check of the interrupt flag, as
// a processor fault would come in the middle of the work, with the depths of
// that moment kept for the test to see.
struct FaultMoment {
    DepthCounters depths;
    int levels;
    size_t calls;
};
FaultMoment lastFault;

void FaultNow() {
    lastFault = {depths, stateIndicator.count, MarkRunningCalls().calls};
    testos::RaiseFault(SIGSEGV);
}

// A function with a local that shadows a variable, run through an operator,
// adding nested data and drawing it with DISPLAY: every counter of depth is
// up somewhere inside the line.
const std::vector<std::string> kDeepDefinitions = {
    A("V←'global'"),
    A("⎕FX 'Z←G X;V' 'V←X' 'Z←⎕DISPLAY ⊂X+⊂1 2'"),
};
const std::string kDeepLine = A("⍴G¨(1 2)(3 4)");
// Arrays that the skipped frames had linked (not only made) stay allocated:
// the block count is left out of the comparison.
const std::vector<std::string> kAfterFault = {"V", ")SI", kDeepLine};

TEST_F(RuntimeState, ARecoveredSessionBehavesAsAFreshOne) {
    if (!FaultGuardActive()) GTEST_SKIP() << "the sanitizers take the fault signals in this build";
    RunLines(kDeepDefinitions);
    CallAtInterruptCheck(0, nullptr);
    const std::string clean = Run(kDeepLine);
    const int64_t checks = InterruptChecksMade();
    ASSERT_EQ(clean, "2\n");
    ASSERT_GT(checks, 2);
    const std::string fresh = RunLines(kAfterFault);
    const Internals freshInternals = Internals::Now();

    // A fault at each check of the line in turn, each time recovered from.
    bool deep = false;
    for (int64_t n = 1; n <= checks; ++n) {
        CallAtInterruptCheck(n, FaultNow);
        const std::string faulted = Run(kDeepLine);
        CallAtInterruptCheck(0, nullptr);
        EXPECT_EQ(faulted.rfind("SYSTEM ERROR : B\n", 0), 0u) << "check " << n << ":\n" << faulted;
        const DepthCounters &at = lastFault.depths;
        deep = deep || (at.activeRecords > 0 && at.operand > 0 && (at.scalar > 0 || at.display > 0) &&
                        lastFault.levels > 0 && lastFault.calls > 0);
        EXPECT_EQ(RunLines(kAfterFault), fresh) << "after a fault at check " << n;
        Internals now = Internals::Now();
        now.blocks = freshInternals.blocks;
        EXPECT_EQ(now, freshInternals) << "after a fault at check " << n;
    }
    EXPECT_TRUE(deep) << "no fault came with every kind of depth raised";
    Run(")CLEAR");
    RecountBlocks();
}

}  // namespace
