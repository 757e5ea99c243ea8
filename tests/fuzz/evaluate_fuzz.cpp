// Fuzz target for the evaluator: arbitrary bytes are typed as session lines
// (split at line ends) into a script-mode session. Whatever they do, the
// session must survive, and a clear workspace afterwards must hold as many
// blocks as before. A timer interrupts input that runs for 50 ms, which the
// long primitives notice within a stride, and then ends the session, so that
// the lines after an interrupted one cannot start long work of their own. A
// workspace ceiling turns huge shapes into WS FULL instead of memory the
// fuzzer would count against us.
#include "apl.h"

#include <signal.h>
#include <sys/time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines;
size_t nextLine = 0;
volatile sig_atomic_t timeIsUp = 0;

void Discard(const char *, int32_t) {}

void Read(char *buffer, int32_t) {
    const std::string line = nextLine < lines.size() && !timeIsUp ? lines[nextLine++] : ")OFF";
    snprintf(buffer, APL_INPUT_BUFFER, "%s", line.c_str());
}

constexpr int kMillisecondsPerInput = 50;
// After the first interrupt the timer keeps ringing, in case something
// between the lines took the flag before the long work saw it.
constexpr int kMillisecondsBetweenInterrupts = 5;
constexpr int64_t kWorkspaceBytes = int64_t{256} << 20;

void OnTimer(int) {
    timeIsUp = 1;
    APL_interrupted = 1;
}

int32_t LiveBlocks() {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    if (!counts) return -1;
    const int32_t blocks = static_cast<int32_t *>(APL_Data(counts))[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

void RunSession(std::vector<std::string> input) {
    lines = std::move(input);
    nextLine = 0;
    APL_MainLoop();
    aplerrno = 0;
}

// Blocks in a clear workspace, measured after the last input's CLEAR, so that
// each input costs one CLEAR rather than two.
int32_t clearBlocks = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    APL_Callback(1, reinterpret_cast<void *>(&Discard));
    APL_Callback(3, reinterpret_cast<void *>(&Read));
    APL_SetScriptMode(1);
    APL_Init(0, "");
    APL_SetAllocationLimit(kWorkspaceBytes);
    signal(SIGALRM, OnTimer);
    RunSession({")CLEAR"});
    clearBlocks = LiveBlocks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    std::vector<std::string> input;
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            input.push_back(line);
            line.clear();
        } else if (c != 0) {
            line += c;
        }
    }
    input.push_back(line);
    // Commands that would end or leave the session, or touch files, are not typed.
    for (std::string &l : input) {
        size_t first = l.find_first_not_of(' ');
        if (first != std::string::npos && (l[first] == ')' || l[first] == ']')) l.clear();
    }
    timeIsUp = 0;
    itimerval timer{{0, kMillisecondsBetweenInterrupts * 1000}, {0, kMillisecondsPerInput * 1000}};
    setitimer(ITIMER_REAL, &timer, nullptr);
    RunSession(input);
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    APL_interrupted = 0;
    timeIsUp = 0;
    RunSession({")CLEAR"});
    const int32_t blocks = LiveBlocks();
    if (blocks != clearBlocks) {
        fprintf(stderr, "evaluate_fuzz: %d blocks left behind\n", blocks - clearBlocks);
        abort();
    }
    return 0;
}
