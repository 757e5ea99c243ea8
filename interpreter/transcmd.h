// transcmd: the system commands IN and OUT, which read and write transfer
// files of variables and defined functions. Relies on the transfer forms and
// the transfer-file records of system/, and on the symbol table.
#pragma once

#include <string>
#include <string_view>

// )IN file [names]: imports the objects of a transfer file (only the named
// ones when names are given), with lenient fixing. A form 2 text is executed
// only when it is a value expression assigned to a name or FX of character
// vectors; any other object is reported by name and skipped. False when the
// arguments do not fit (no file name).
bool TransferIn(const char *arguments);
// )OUT file [names]: writes the named objects, or every variable and defined
// function, to a transfer file (".atf" added unless present). False when the
// arguments do not fit.
bool TransferOut(const char *arguments);

// Whether a form 2 text (without its type letter) may be executed by IN:
// NAME←expression, or FX expression, where the expression holds only
// numbers, quoted text, blanks, parentheses, reshape and enclose.
bool IsSafeAssignment(std::string_view text);
bool IsSafeFix(std::string_view text);
