// Clearing the workspace resets every part of the runtime state: a cleared
// session behaves as a fresh one and holds as many blocks.
#include "session_support.h"

#include "interpreter/mainloop.h"
#include "interpreter/runstate.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using RuntimeState = SessionTest;

// Lines that show the state a workspace can hold.
const std::vector<std::string> kProbe = {
    "V", "F 3", A("⎕NSIZE 1"), A("⎕IO"), A("⎕MODE"), A("⎕WSID"), ")VARS", ")FNS", A("⎕NTIE 'runstate_probe.tmp'"), A("⎕MD"),
};

TEST_F(RuntimeState, EveryPartIsListedOnce) {
    int count = 0;
    const StatePart *parts = StateParts(count);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        ASSERT_NE(parts[i].reset, nullptr) << parts[i].name;
        for (int j = 0; j < i; ++j) EXPECT_NE(parts[i].reset, parts[j].reset) << parts[i].name;
    }
}

TEST_F(RuntimeState, AClearedSessionBehavesAsAFreshOne) {
    std::FILE *file = std::fopen("runstate_probe.tmp", "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const std::string fresh = RunLines(kProbe);
    // Fill every kind of state: names and functions with constants, a tie,
    // mode bits, a pending error and its message, a changed IO; then clear
    // and probe in the same run (the end of a run closes the ties).
    std::vector<std::string> lines = {
        A("V←1 2 3 ⋄ W←'text' 2.5"), A("⎕FX 'Z←F X' 'Z←X+17 ''c'''"), A("⎕IO←0"), A("⎕NTIE 'runstate_probe.tmp'"),
        ")MODE DEBUG MEMORY", A("⎕WSID←'OTHER'"), A("1÷0"), A("F 3"), ")CLEAR"};
    lines.insert(lines.end(), kProbe.begin(), kProbe.end());
    sessionMode |= kModeKeywords;
    const std::string cleared = RunLines(lines);
    ASSERT_GE(cleared.size(), fresh.size());
    EXPECT_EQ(cleared.substr(cleared.size() - fresh.size()), fresh);
    EXPECT_EQ(sessionMode, 0u) << "keyword mode and the tracing switches are off";
    std::remove("runstate_probe.tmp");
}

}  // namespace
