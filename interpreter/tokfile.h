// tokfile: the keyword layer. Reads the token file, compiles its keywords into a
// longest-match automaton, and translates lines between keywords and codes.
// Relies on the array core, the output channel and the code buffer of the tokenizer.
#pragma once

#include "apl.h"
#include "interpreter/tokenizer.h"

#include <cstdint>

constexpr uint8_t kEscape = '&';

// Items of a token table (4 items) and of a keyword lexer (5 items); items 1 to 3
// are the same in both.
enum TokenTableItem {
    kCodeMap = 0,     // INTG[256]: position of each code's keyword in kKeywords, or -1
    kDelimiters = 1,  // CHAR[256]: 1 for a delimiter character
    kKeywords = 2,    // nested vector of CHAR vectors, in file order
    kCodes = 3,       // token table: INTG vector, the codes with a keyword, ascending
    kColumns = 3,     // lexer: INTG[256], the automaton column of each character or -1
    kTransitions = 4  // lexer: INTG matrix, one row per state and one column per column number
};

// Reads a token file. Returns a temporary 4-item token table, or null: "Error
// opening '%s'" or "Syntax error in '%s' line %d." on the output channel (a
// malformed line), or WS FULL.
aplarray *ReadTokenFile(const char *fileName);
// Returns a temporary 5-item keyword lexer, or null (WS FULL). The table is
// consumed: its link is given up (items 1 to 3 live on in the lexer).
aplarray *BuildKeywordLexer(aplarray *tokenTable);

// The lexer of the session's token file (not linked for the caller), or null when
// none was read (keyword mode then changes nothing). LoadTokenFile drops the installed lexer, reads and
// compiles the file and installs the result (linked); after a failure none is
// installed. ReleaseKeywordLexer drops it.
const aplarray *InstalledKeywordLexer();
bool LoadTokenFile(const char *fileName);
void ReleaseKeywordLexer();

// Rewrites a NUL-terminated line in place, each recognised keyword replaced by its
// code. Keywords count only at the start, at a delimiter or right after one; "&"
// makes the next character literal and is dropped when removeEscapes is set.
// A null or malformed lexer leaves the line as it is. The lexer is only read.
void KeywordsToCodes(char *line, const aplarray *lexer, bool removeEscapes);
// Appends the keyword spelling of `length` codes to `out`. Blanks separate
// keywords from neighbours that would otherwise run into them, and "&" is put in
// front of a character that would read back as the start of a keyword, so that
// KeywordsToCodes (with escapes removed) gives the codes back. With a null lexer
// the codes are copied. The lexer is only read. False with WS FULL.
bool CodesToKeywords(const uint8_t *text, int32_t length, const aplarray *lexer, TokenBuffer &out);
