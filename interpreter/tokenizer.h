// tokenizer: the code buffer, the character classes and the line tokenizer
// that turns APL text into stored lines, and the renderer that turns them back.
// Relies on the symbol table and constant pool, the primitive flags and the format engine.
#pragma once

#include "apl.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "interpreter/storedline.h"

#include <cstdint>

// Bytes of the system's character set that the tokenizer treats specially.
constexpr uint8_t kCaretMark = 6;

// Flags of TokenizeLine.
constexpr int32_t kTokIndexList = 1;        // split at top-level semicolons; empty is an elided index
constexpr int32_t kTokAssignTarget = 4;     // the next name is an assignment target
constexpr int32_t kTokDiamonds = 16;        // split at top-level diamonds first
constexpr int32_t kTokNamesMustExist = 32;  // unknown names are VALUE unless assigned
constexpr int32_t kTokBlockInside = 128;    // the inside of a control block
constexpr int32_t kTokImmediate = kTokDiamonds | kTokNamesMustExist;

// Line flags the tokenizer leaves for function fixing (or-ed per line).
constexpr uint8_t kLineHasDiamonds = 0x80;
constexpr uint8_t kLineControlInside = 0x01;  // the control symbol, not at the right end
constexpr uint8_t kLineControlAtEnd = 0x02;

// Nested brackets and blocks deeper than this are LIMIT: every level recurses
// with a large frame, and no line written by hand comes near it.
constexpr int kMaxTokenizerDepth = kMaxNestingDepth / 50;

// ---- Code buffer ---------------------------------------------------------------
// A byte block that grows downward (each byte goes in front of what is there, so
// a line tokenized from its right end comes out in reading order) or, in
// forward mode, at its end. It grows 256 bytes at a time.
struct TokenBuffer {
    uint8_t *block = nullptr;  // raw block, or null while nothing was written
    int32_t start = 0;         // first byte in use
    int32_t end = 0;           // one past the last byte in use
    bool owned = false;        // the block is ours to free
    bool forward = false;      // append at the end instead of in front
    int32_t capacity = 0;
};

// The code buffer that the tokenizer writes into.
extern TokenBuffer codeBuffer;

// Frees the buffer's block (when owned) and empties it; the mode is kept.
void ResetTokenBuffer(TokenBuffer &buffer);
// Writers: false with WS FULL when the block cannot grow. Multi-byte values are
// stored little-endian in the final order; a text keeps its order in both modes.
bool PutByte(TokenBuffer &buffer, uint8_t byte);
bool PutShort(TokenBuffer &buffer, uint16_t value);
bool PutLong(TokenBuffer &buffer, uint32_t value);
bool PutText(TokenBuffer &buffer, const void *text, int32_t length);
inline const uint8_t *BufferData(const TokenBuffer &buffer) { return buffer.block + buffer.start; }
inline int32_t BufferLength(const TokenBuffer &buffer) { return buffer.end - buffer.start; }

// Hands back the code buffer's fields and leaves an empty buffer in its place
// (same mode); RestoreCodeBuffer frees whatever is there and puts them back.
TokenBuffer SaveCodeBuffer();
void RestoreCodeBuffer(const TokenBuffer &saved);

// ---- Error positions -------------------------------------------------------------
// Where the tokenizer (in the source text) and the evaluator (in a stored line)
// stopped; the caret display marks them.
struct ErrorPositions {
    const uint8_t *tokenizer = nullptr;
    const uint8_t *evaluator = nullptr;
};
extern ErrorPositions errorPositions;
inline void ClearErrorPositions() { errorPositions = {}; }

// ---- Character classes -----------------------------------------------------------
// The class of text[pos]: 0x0900 for a colon or a left arrow; for a period, 0 when
// the next non-blank character is a digit (it belongs to a number); otherwise the
// character's primitive flags with 0x0800 added when they are not 0.
uint16_t CharClass(const uint8_t *text, int32_t pos, int32_t length);
// The class of a tag byte of a stored line (no period rule).
uint16_t TagClass(uint8_t code);

// ---- Tokenizer --------------------------------------------------------------------
// Tokenizes `length` characters into the code buffer, adding constants to the
// constant pool and new names to the symbol table. A pending constant is written
// out before it returns. False with aplerrno set (and the tokenizer's error
// position at the character where it stopped); the caller abandons the buffer.
bool TokenizeLine(const uint8_t *text, int32_t length, int32_t flags);
// Empties the cache of names tokenized lately (a cleared workspace starts
// from nothing remembered).
void ForgetRecentNames();
// Line flags (diamonds, control symbol) gathered since the last reset.
extern uint8_t tokenizerLineFlags;

// Resets the code buffer and the line flags and tokenizes one line of source
// as a complete stored line: marker, tokens, comment part (from the first lamp
// outside quotes, with the blanks before it), marker. The constant pool is not
// reset. On success `line` points into the code buffer; on failure the code
// buffer is empty again (constants pooled before the error stay pooled).
bool TokenizeSourceLine(const uint8_t *text, int32_t length, int32_t flags, StoredLine &line);

// The pool that PoolConstant fills.
PoolView CurrentPool();

// Renders a stored line back to text: constants formatted (character constants
// quoted again), names from the symbol table, blocks expanded, the comment part
// appended, byte 6 in front of a token that either error position points into.
// With stopAtBlock the walk also ends at a colon or left brace (one block
// segment; the comment part is then left out). Returns a new temporary CHAR
// vector; null with SYSTEM ("unknown token") or WS FULL.
aplarray *LineToText(const StoredLine &line, const PoolView &pool, bool stopAtBlock);
