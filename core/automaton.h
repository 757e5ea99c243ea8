// automaton: the character-transition automaton that recognises the longest of
// a list of strings, built for the keyword lexer and for text replacement.
// Relies on the array core.
#pragma once

#include "apl.h"

#include <cstdint>

// One string to recognise: its characters and its code (codes above 0; a
// string with code 0 or less is left out).
struct AutomatonWord {
    const uint8_t *text;
    int32_t length;  // at least 1
    int32_t code;
};

// The automaton as two new temporaries:
//   columns: INTG[256], the column of each character that occurs in a word
//            (-1 for the others, column 0 being "any other character"; a NUL
//            gets a column of its own only when a word holds one);
//   cells:   INTG matrix, one row per state and one column per column number.
// A positive cell is the next state. A negative cell -c recognises the word of
// code c: either it ends on this character, or (the word being shorter than
// the characters read) it ended before it and no longer word went on. 0: none.
// Words go in by increasing length, ties in the given order, so that every
// longer word inherits the shorter one it extends; of equal words the last wins.
// False with WS FULL (nothing built) when the matrix would be too large.
bool BuildAutomaton(const AutomatonWord *words, int32_t count, aplarray *&columns, aplarray *&cells);
