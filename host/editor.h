// editor: the del editor of the session. A session line that begins with the
// del opens a definition (a header) or a defined function (a name); editor
// lines follow until a del closes and fixes it. )ED NAME edits the function's
// text in $EDITOR instead. The library is reached through exported functions
// only (fix, vector representation, name class).
#pragma once

#include "input.h"
#include "screen.h"

#include <string>

namespace editor {

// True when the session line (codes) is the editor's: it opens a definition
// or is the )ED command.
bool Handles(const std::string &codes);
// Runs the editor for that line, reading its further lines from `input` and
// answering on `screen`.
void Run(const std::string &codes, InputSource &input, Screen &screen);
// How many definitions failed to fix or were cut off by the end of input,
// so that a script that had one ends in failure.
int FaultsReported();

}  // namespace editor
