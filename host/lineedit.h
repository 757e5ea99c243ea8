// lineedit: reading a line at the terminal with editing and history, and the
// prefix key that types APL glyphs (libedit).
#pragma once

#include <string>

class LineEditor {
public:
    LineEditor();
    ~LineEditor();
    LineEditor(const LineEditor &) = delete;
    LineEditor &operator=(const LineEditor &) = delete;

    // Shows the prompt (UTF-8) and reads one line into `utf8`, without its
    // line end. False at the end of input.
    bool Read(const std::string &prompt, std::string &utf8);

    struct State;

private:
    State *state_;
};
