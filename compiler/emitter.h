// emitter: the three output texts of a compilation (a source file, the project
// header, the makefile), one string per line, with the target mask that
// selects which of them receive text, the indentation and the layout markers
// of generated expressions. Relies on nothing but the C++ library.
#pragma once

#include <string>
#include <vector>

// Target mask bits.
constexpr int kToSource = 1;
constexpr int kToHeader = 2;
constexpr int kToMakefile = 4;

// Layout markers inside generated expression text.
constexpr char kMarkOpen = '\1';      // flush, indentation +2, newline
constexpr char kMarkNext = '\2';      // flush, newline
constexpr char kMarkClose = '\3';     // flush, indentation -2, newline
constexpr char kMarkIndent = '\4';    // flush, indentation +2
constexpr char kMarkOutdent = '\5';   // flush, indentation -2
constexpr char kMarkNoCall = '\6';    // dropped; a parenthesis after it is no call

class Emitter {
public:
    explicit Emitter(bool crlf) : newline_(crlf ? "\r\n" : "\n") {
        for (auto &lines : texts_) lines.assign(1, std::string());
    }
    void Select(int mask) { mask_ = mask; }
    int Selected() const { return mask_; }
    // Appends text to the last line of every selected text.
    void Text(const std::string &text);
    // Ends the line count times; the new line starts with the indentation
    // (plus the one-shot extra, which is then reset).
    void Newline(int count = 1);
    // Text and a newline.
    void Line(const std::string &text) {
        Text(text);
        Newline();
    }
    // Expression text with layout markers, expanded.
    void Expanded(const std::string &text);
    void Indent(int step) { indent_ += step; }
    void Extra(int step) { extra_ = step; }
    // Pulls a line that holds only its indentation n columns left.
    void PullLeft(int n);
    // Starts the selected texts afresh (one empty line).
    void Clear(int mask);
    // The whole text of one target (kToSource ...), lines joined.
    std::string Joined(int target) const;
    // Lines of the source text, for splicing declarations in.
    std::vector<std::string> &SourceLines() { return texts_[0]; }
    void ResetLayout() { indent_ = extra_ = 0; }
    const std::string &NewlineText() const { return newline_; }

private:
    std::vector<std::string> texts_[3];
    int mask_ = kToSource;
    int indent_ = 0, extra_ = 0;
    std::string newline_;
};
