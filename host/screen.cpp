// screen: the host's side of the library's output channel. Text arrives in
// the APL character set, possibly in pieces of one line; byte 6 marks the
// characters that get a caret on a line of their own below.
#include "screen.h"

#include "codepage.h"

namespace {
constexpr char kCaretMark = 6;
}

void Screen::Write(std::string_view codes, bool newLine) {
    std::string visible;
    for (char c : codes) {
        if (c == kCaretMark) {
            const size_t column = line_.size() + visible.size();
            if (carets_.size() < column) carets_.append(column - carets_.size(), ' ');
            if (carets_.size() == column) carets_ += '^';
            continue;
        }
        visible += c;
    }
    line_ += visible;
    if (!visible.empty()) sink_(codepage::ToUtf8(visible));
    if (newLine) EndLine();
}

void Screen::EndLines(int count) {
    for (int i = 0; i < count; ++i) EndLine();
}

void Screen::EndLine() {
    sink_("\n");
    ++linesWritten_;
    if (!carets_.empty()) {
        sink_(carets_ + "\n");
        ++linesWritten_;
    }
    line_.clear();
    carets_.clear();
}

void Screen::LineEndedByInput() {
    line_.clear();
    carets_.clear();
}
