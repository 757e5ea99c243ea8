// lineedit_plain: the line reader of builds without libedit (the 32-bit
// build): the prompt, then a plain line from standard input, no editing.
#include "lineedit.h"

#include <cstdio>
#include <iostream>

struct LineEditor::State {};

LineEditor::LineEditor() : state_(nullptr) {}
LineEditor::~LineEditor() = default;

bool LineEditor::Read(const std::string &prompt, std::string &utf8) {
    fputs(prompt.c_str(), stdout);
    fflush(stdout);
    if (!std::getline(std::cin, utf8)) return false;
    if (!utf8.empty() && utf8.back() == '\r') utf8.pop_back();
    return true;
}
