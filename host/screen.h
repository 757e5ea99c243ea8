// screen: the host's side of the library's output channel. Text arrives in
// the APL character set, possibly in pieces of one line; byte 6 marks the
// characters that get a caret on a line of their own below.
#pragma once

#include <functional>
#include <string>
#include <string_view>

class Screen {
public:
    using Sink = std::function<void(std::string_view utf8)>;
    explicit Screen(Sink sink) : sink_(std::move(sink)) {}

    // Writes codes; ends the line when newLine is set.
    void Write(std::string_view codes, bool newLine);
    void EndLines(int count);
    // What has been written on the current line so far (codes, marks removed).
    const std::string &PendingLine() const { return line_; }
    // The current line was ended by input echoed after it (a typed line).
    void LineEndedByInput();
    int Column() const { return static_cast<int>(line_.size()); }
    // Lines ended since the counter was last reset.
    int LinesWritten() const { return linesWritten_; }
    void ResetLineCount() { linesWritten_ = 0; }

private:
    void EndLine();

    Sink sink_;
    std::string line_;
    std::string carets_;  // a caret under each marked column of the current line
    int linesWritten_ = 0;
};
