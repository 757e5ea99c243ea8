// storedline: the stored-line format and its one reader, shared by the
// renderer, the evaluator and the compiled lines. A stored line is read right
// to left: each token is a tag byte with its payload (little-endian) to its
// left, so a reader stands on a tag and steps over the payload to the next.
// Relies on nothing but the array header.
#pragma once

#include "apl.h"

#include <cstdint>

// Tags of a stored line that carry a payload to their left.
constexpr uint8_t kTagConstant = 1;   // 4-byte pool offset
constexpr uint8_t kTagName = 2;       // 2-byte symbol index
constexpr uint8_t kBlockForLoop = 4;  // block header: loop variable's index before it
constexpr uint8_t kBlockCase = 5;

// A stored line inside some buffer: `begin` is its left marker 10, `last` the tag
// of its rightmost token (begin itself when it has none), `end` its right marker
// 10; the comment part lies between last and end.
struct StoredLine {
    const uint8_t *begin = nullptr;
    const uint8_t *last = nullptr;
    const uint8_t *end = nullptr;
};

// A constant pool seen from outside: the base of its records and its size.
struct PoolView {
    const char *base = nullptr;
    uint32_t size = 0;
};

inline uint16_t ReadShort(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t ReadLong(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The payload of the token whose tag is at `tag`.
inline uint16_t NameSymbol(const uint8_t *tag) { return ReadShort(tag - 2); }
inline uint32_t ConstantOffset(const uint8_t *tag) { return ReadLong(tag - 4); }

// Bytes of the token with this tag, the tag and its payload: what a reader
// steps over to reach the next token to the left. A block is not a token of
// fixed width; its header is read with ReadControlBlock.
inline int TokenWidth(uint8_t tag) { return tag == kTagConstant ? 5 : tag == kTagName ? 3 : 1; }
inline const uint8_t *TokenBefore(const uint8_t *tag) { return tag - TokenWidth(*tag); }

// The constant record of the token at `tag`, in place in its pool; null when
// the offset lies outside the pool (a damaged line). Every constant of every
// line is read here: inline.
inline aplarray *ConstantAt(const PoolView &pool, const uint8_t *tag) {
    // A constant record's header and smallest data: an offset past this cannot hold one.
    constexpr uint32_t kSmallestRecord = 20;
    const uint32_t offset = ConstantOffset(tag);
    if (pool.size < kSmallestRecord || offset > pool.size - kSmallestRecord) return nullptr;
    return reinterpret_cast<aplarray *>(const_cast<char *>(pool.base) + offset);
}

// A control block, read from its right brace: right to left the brace, the
// header (a case tag, or a for tag with the loop variable), the segment count,
// the table of segment reaches, then the segments separated by colons, and the
// left brace.
struct ControlBlock {
    const uint8_t *tableLeft = nullptr;  // the table's leftmost byte
    uint32_t count = 0;                  // segments
    int32_t loopVariable = -1;           // symbol index; -1 for a case block
    // The rightmost byte of segment i (0 = the control segment).
    const uint8_t *SegmentStart(uint32_t i) const {
        return i == 0 ? tableLeft - 1 : tableLeft - ReadLong(tableLeft + 4 * (i - 1)) - 1;
    }
    // The reach of segment i: bytes from the table to the segment's left end.
    uint32_t Reach(uint32_t i) const { return ReadLong(tableLeft + 4 * i); }
    const uint8_t *LeftBrace() const { return tableLeft - Reach(count - 1) - 1; }
};

// Reads the header of the block whose right brace is at `brace`. With the
// line's left marker `begin` every part is checked to lie inside the line and
// the reaches to grow; without it (a line the tokenizer wrote, run by the
// evaluator) only the count's range and the left brace are. False when the
// block does not hold up.
bool ReadControlBlock(const uint8_t *brace, const uint8_t *begin, ControlBlock &block);
