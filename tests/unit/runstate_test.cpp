// Clearing the workspace resets every part of the runtime state: a cleared
// session behaves as a fresh one, holds as many blocks and the same internals.
#include "session_support.h"

#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "interpreter/runstate.h"
#include "interpreter/tokenizer.h"
#include "system/oserror.h"

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

    static Internals Now() {
        return {LiveBlocks(),         ConstantPoolSize(), APL_symtab.count,   sessionMode,     lenientFixing,
                stateIndicator.count, pendingOsError,     tokenizerLineFlags, evaluator.depth, evaluator.selective};
    }
    bool operator==(const Internals &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Internals &s) {
    return out << "blocks " << s.blocks << " pool " << s.pool << " symbols " << s.symbols << " mode " << s.mode
               << " lenient " << s.lenient << " levels " << s.stateLevels << " os error " << s.pendingOs
               << " line flags " << int{s.lineFlags} << " depth " << s.evaluationDepth << " selective " << s.selective;
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

}  // namespace
