// transcript: checking transcripts. A transcript is a session written down:
// lines that begin with six blanks are typed, every other line is the output
// expected; each file runs in a fresh clear workspace.
#include "transcript.h"

#include "apl.h"
#include "codepage.h"
#include "hostio.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

const std::string kTyped = "      ";

bool IsTyped(const std::string &line) { return line.compare(0, kTyped.size(), kTyped) == 0; }

std::vector<std::string> ReadLines(const std::string &path, bool &ok) {
    std::ifstream file(path, std::ios::binary);
    ok = static_cast<bool>(file);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string WithoutTrailingBlanks(std::string line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    return line;
}

std::string JoinNormalised(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += WithoutTrailingBlanks(line) + "\n";
    return text;
}

// "⋯" in an expected line matches any run of text, for output that differs
// from run to run (the time a workspace was saved).
const std::string kAnyText = "\xE2\x8B\xAF";

bool LineMatches(std::string_view expected, std::string_view actual) {
    const size_t any = expected.find(kAnyText);
    if (any == std::string_view::npos) return expected == actual;
    if (actual.substr(0, any) != expected.substr(0, any)) return false;
    const std::string_view rest = expected.substr(any + kAnyText.size());
    for (size_t from = any; from <= actual.size(); ++from)
        if (LineMatches(rest, actual.substr(from))) return true;
    return false;
}

bool SameOutput(const std::vector<std::string> &expected, const std::vector<std::string> &actual) {
    if (expected.size() != actual.size()) return false;
    for (size_t i = 0; i < expected.size(); ++i)
        if (!LineMatches(WithoutTrailingBlanks(expected[i]), WithoutTrailingBlanks(actual[i]))) return false;
    return true;
}

std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// Feeds the typed lines of a transcript and records what a terminal would
// show: each typed line echoed, then the library's output.
class TranscriptInput : public InputSource {
public:
    TranscriptInput(const std::vector<std::string> &lines, Screen &screen, std::string &shown)
        : lines_(lines), screen_(screen), shown_(shown) {}

    bool Line(int mode, std::string &codes) override {
        std::string text;
        if (mode == kReadSession) {
            while (next_ < lines_.size() && !IsTyped(lines_[next_])) ++next_;
            if (next_ >= lines_.size()) return false;
            shown_ += lines_[next_] + "\n";
            text = lines_[next_++].substr(kTyped.size());
        } else {
            // An answer to evaluated input is the next line after the output
            // printed since the last line read, taken whole; the prompt that is
            // already on the screen is not typed again.
            next_ += static_cast<size_t>(screen_.LinesWritten());
            if (next_ >= lines_.size()) return false;
            const std::string &line = lines_[next_++];
            const std::string prompt = codepage::ToUtf8(screen_.PendingLine());
            text = line.compare(0, prompt.size(), prompt) == 0 ? line.substr(prompt.size()) : line;
            shown_ += text + "\n";
        }
        screen_.LineEndedByInput();
        screen_.ResetLineCount();
        std::string problem;
        if (!codepage::FromUtf8(text, codes, problem)) {
            shown_ += "orbax: " + problem + "\n";
            codes.clear();
        }
        return true;
    }

private:
    const std::vector<std::string> &lines_;
    Screen &screen_;
    std::string &shown_;
    size_t next_ = 0;
};

int32_t LiveBlocks() {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    if (!counts) return -1;
    const int32_t blocks = static_cast<int32_t *>(APL_Data(counts))[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

// Clears the workspace, discarding what that prints, and returns the number
// of live blocks after it.
int32_t ClearWorkspace() {
    Screen discard([](std::string_view) {});
    const std::vector<std::string> clear = {")CLEAR"};
    RunLines(clear, discard);
    aplerrno = 0;
    return LiveBlocks();
}

#ifdef _WIN32
// Windows has no diff program: the part between the lines that the two texts
// share at the start and at the end, the expected lines marked '-' and the
// actual ones '+'.
void PrintDiff(const std::string &path, const std::string &expected, const std::string &actual) {
    const std::vector<std::string> want = SplitLines(expected), got = SplitLines(actual);
    size_t same = 0, tail = 0;
    while (same < want.size() && same < got.size() && LineMatches(want[same], got[same])) ++same;
    while (tail < want.size() - same && tail < got.size() - same &&
           LineMatches(want[want.size() - 1 - tail], got[got.size() - 1 - tail]))
        ++tail;
    printf("--- %s (expected)\n+++ %s (actual)\n@@ line %zu @@\n", path.c_str(), path.c_str(), same + 1);
    for (size_t i = same; i < want.size() - tail; ++i) printf("-%s\n", want[i].c_str());
    for (size_t i = same; i < got.size() - tail; ++i) printf("+%s\n", got[i].c_str());
}
#else
void PrintDiff(const std::string &path, const std::string &expected, const std::string &actual) {
    char expectedPath[] = "/tmp/orbax-expected-XXXXXX";
    char actualPath[] = "/tmp/orbax-actual-XXXXXX";
    const int e = mkstemp(expectedPath), a = mkstemp(actualPath);
    if (e >= 0 && a >= 0 && write(e, expected.data(), expected.size()) >= 0 &&
        write(a, actual.data(), actual.size()) >= 0) {
        fflush(stdout);
        const std::string command = "diff -u --label '" + path + " (expected)' --label '" + path + " (actual)' " +
                                    expectedPath + " " + actualPath;
        if (system(command.c_str()) == -1) printf("--- %s: could not run diff\n", path.c_str());
    }
    if (e >= 0) close(e), unlink(expectedPath);
    if (a >= 0) close(a), unlink(actualPath);
}
#endif

bool CheckOne(const std::string &path) {
    bool readable;
    const std::vector<std::string> lines = ReadLines(path, readable);
    if (!readable) {
        printf("%s: cannot be read\n", path.c_str());
        return false;
    }
    const int32_t blocksBefore = ClearWorkspace();
    std::string shown;
    Screen screen([&shown](std::string_view utf8) { shown.append(utf8); });
    TranscriptInput input(lines, screen, shown);
    UseScreen(&screen);
    UseInput(&input);
    APL_MainLoop();
    UseScreen(nullptr);
    UseInput(nullptr);
    if (!screen.PendingLine().empty()) shown += "\n";
    aplerrno = 0;
    const std::vector<std::string> actualLines = SplitLines(shown);
    bool passed = true;
    if (!SameOutput(lines, actualLines)) {
        // Lines that matched through "⋯" are shown as the text they matched.
        std::vector<std::string> shownExpected = lines;
        for (size_t i = 0; i < shownExpected.size() && i < actualLines.size(); ++i)
            if (LineMatches(WithoutTrailingBlanks(shownExpected[i]), WithoutTrailingBlanks(actualLines[i])))
                shownExpected[i] = actualLines[i];
        PrintDiff(path, JoinNormalised(shownExpected), JoinNormalised(actualLines));
        passed = false;
    }
    const int32_t blocksAfter = ClearWorkspace();
    if (blocksAfter != blocksBefore) {
        printf("%s: %d memory blocks left behind\n", path.c_str(), blocksAfter - blocksBefore);
        passed = false;
    }
    return passed;
}

}  // namespace

int CheckTranscripts(const std::vector<std::string> &files) {
    int passed = 0, failed = 0;
    for (const std::string &file : files) (CheckOne(file) ? passed : failed) += 1;
    printf("%d passed, %d failed\n", passed, failed);
    fflush(stdout);
    return failed;
}
