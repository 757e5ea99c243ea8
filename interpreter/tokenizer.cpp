// tokenizer: the code buffer, the character classes and the line tokenizer
// that turns APL text into stored lines, and the renderer that turns them back.
// Relies on the symbol table and constant pool, the primitive flags and the format engine.
#include "interpreter/tokenizer.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "structural/format.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

TokenBuffer codeBuffer;
ErrorPositions errorPositions;
uint8_t tokenizerLineFlags = 0;

// ---- Code buffer -------------------------------------------------------------------

namespace {
constexpr int32_t kBufferStep = 256;

// Room for `more` bytes in front (downward) or behind (forward).
bool MakeRoom(TokenBuffer &b, int32_t more) {
    if (!b.block) b.start = b.end = b.capacity = 0;
    const int64_t spare = b.forward ? b.capacity - b.end : b.start;
    if (b.block && spare >= more) return true;
    const int64_t missing = more - spare;
    // Grown by half again at least, so that a function of many lines, written
    // a line at a time, is copied a bounded number of times in all.
    const int64_t needed = b.capacity + (missing + kBufferStep - 1) / kBufferStep * kBufferStep;
    if (needed > INT32_MAX - 64) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    const auto capacity =
        static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(needed, b.capacity + b.capacity / 2), INT32_MAX - 64));
    if (b.forward && b.owned) {
        // The end grows: the block is resized in place.
        auto *block = static_cast<uint8_t *>(ReallocBlock(b.block, static_cast<size_t>(capacity), HERE));
        if (!block) {
            SetError(APL_ERR_WSFULL);
            return false;
        }
        b.block = block;
        b.capacity = capacity;
        return true;
    }
    // A new block: downward the old contents go to its end, forward to its start.
    auto *block = static_cast<uint8_t *>(AllocBlock(static_cast<size_t>(capacity), HERE));
    if (!block) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    const int32_t used = b.block ? b.end - b.start : 0;
    const int32_t start = b.forward ? 0 : capacity - used;
    if (used) memcpy(block + start, b.block + b.start, static_cast<size_t>(used));
    if (b.owned) FreeBlock(b.block, HERE);
    b.block = block;
    b.owned = true;
    b.capacity = capacity;
    b.start = start;
    b.end = start + used;
    return true;
}
}  // namespace

void ResetTokenBuffer(TokenBuffer &buffer) {
    if (buffer.owned) FreeBlock(buffer.block, HERE);
    const bool forward = buffer.forward;
    buffer = TokenBuffer{};
    buffer.forward = forward;
}

namespace {
// Where `length` bytes go (room made first), or null with WS FULL set. Most
// writes are a byte or a few into room already there: no call is made then.
inline uint8_t *Reserve(TokenBuffer &b, int32_t length) {
    const int32_t spare = b.forward ? b.capacity - b.end : b.start;
    if ((!b.block || spare < length) && !MakeRoom(b, length)) return nullptr;
    if (b.forward) {
        b.end += length;
        return b.block + b.end - length;
    }
    b.start -= length;
    return b.block + b.start;
}
}  // namespace

bool PutText(TokenBuffer &b, const void *text, int32_t length) {
    if (length <= 0) return length == 0;
    uint8_t *to = Reserve(b, length);
    if (!to) return false;
    memcpy(to, text, static_cast<size_t>(length));
    return true;
}

bool PutByte(TokenBuffer &b, uint8_t byte) {
    uint8_t *to = Reserve(b, 1);
    if (!to) return false;
    *to = byte;
    return true;
}

bool PutShort(TokenBuffer &b, uint16_t value) {
    uint8_t *to = Reserve(b, 2);
    if (!to) return false;
    to[0] = static_cast<uint8_t>(value);
    to[1] = static_cast<uint8_t>(value >> 8);
    return true;
}

bool PutLong(TokenBuffer &b, uint32_t value) {
    uint8_t *to = Reserve(b, 4);
    if (!to) return false;
    for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(value >> (8 * i));
    return true;
}

TokenBuffer SaveCodeBuffer() {
    TokenBuffer saved = codeBuffer;
    codeBuffer = TokenBuffer{};
    codeBuffer.forward = saved.forward;
    return saved;
}

void RestoreCodeBuffer(const TokenBuffer &saved) {
    ResetTokenBuffer(codeBuffer);
    codeBuffer = saved;
}

// ---- Character classes ---------------------------------------------------------------

namespace {
constexpr uint16_t kSymbolClass = 0x0800;
constexpr uint16_t kPunctuationClass = 0x0900;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
}  // namespace

uint16_t TagClass(uint8_t code) {
    if (code == ':' || code == glyph::kLeftArrow) return kPunctuationClass;
    const uint16_t flags = PrimitiveFlags(code);
    return flags ? static_cast<uint16_t>(flags | kSymbolClass) : 0;
}

uint16_t CharClass(const uint8_t *text, int32_t pos, int32_t length) {
    const uint8_t c = text[pos];
    if (c == '.') {
        int32_t next = pos + 1;
        while (next < length && text[next] == ' ') ++next;
        if (next < length && IsDigit(text[next])) return 0;
    }
    return TagClass(c);
}

// ---- Tokenizer ---------------------------------------------------------------------

namespace {

bool Fail(int32_t code, const uint8_t *at) {
    if (!aplerrno) SetError(code);
    if (!errorPositions.tokenizer) errorPositions.tokenizer = at;
    return false;
}

// End of the quoted string that starts at `open`, or -1 when it is not closed.
int32_t StringEnd(const uint8_t *text, int32_t open, int32_t end) {
    for (int32_t j = open + 1; j < end; ++j) {
        if (text[j] != glyph::kQuote) continue;
        if (j + 1 < end && text[j + 1] == glyph::kQuote) {
            ++j;
            continue;
        }
        return j;
    }
    return -1;
}

// Characters that end a word or a number, and those the splitting of a line
// looks at; one table lookup per character instead of a chain of tests.
constexpr uint8_t kEndsWord = 1;
constexpr uint8_t kNests = 2;    // ( [ {
constexpr uint8_t kUnnests = 4;  // ) ] }
constexpr uint8_t kQuoteMark = 8;
constexpr uint8_t kSplitsLine = 16;  // ; and the diamond
// What a character starts, for the lexer's one dispatch per piece.
// kLexOther is a word character unless the primitive table names it (that
// table can change, so it is read where it is).
enum LexClass : uint8_t {
    kLexOther,
    kLexBlank,
    kLexQuote,
    kLexParenthesis,
    kLexBracket,
    kLexDiamond,
    kLexStray,
    kLexSymbol,  // the colon and the arrow
    kLexDot,     // a symbol unless a digit follows
};
struct CharTable {
    uint8_t bits[256] = {};
    LexClass lex[256] = {};
    constexpr CharTable() {
        for (uint8_t c : {uint8_t{' '}, glyph::kQuote, uint8_t{'('}, uint8_t{')'}, uint8_t{'['}, uint8_t{']'},
                          uint8_t{'{'}, uint8_t{'}'}, uint8_t{';'}, glyph::kDiamond, glyph::kLamp})
            bits[c] |= kEndsWord;
        for (uint8_t c : {uint8_t{'('}, uint8_t{'['}, uint8_t{'{'}}) bits[c] |= kNests;
        for (uint8_t c : {uint8_t{')'}, uint8_t{']'}, uint8_t{'}'}}) bits[c] |= kUnnests;
        bits[glyph::kQuote] |= kQuoteMark;
        bits[uint8_t{';'}] |= kSplitsLine;
        bits[glyph::kDiamond] |= kSplitsLine;
        bits[uint8_t{':'}] |= kSplitsLine;
        for (int c = 0; c < 256; ++c)
            if (bits[c] & kEndsWord) lex[c] = kLexStray;
        lex[uint8_t{' '}] = kLexBlank;
        lex[glyph::kQuote] = kLexQuote;
        lex[uint8_t{'('}] = lex[uint8_t{')'}] = kLexParenthesis;
        lex[uint8_t{'['}] = lex[uint8_t{'{'}] = kLexBracket;
        lex[glyph::kDiamond] = kLexDiamond;
        lex[uint8_t{':'}] = lex[glyph::kLeftArrow] = kLexSymbol;
        lex[uint8_t{'.'}] = kLexDot;
    }
};
constexpr CharTable kChars;

bool IsSeparator(uint8_t c) { return (kChars.bits[c] & kEndsWord) != 0; }

// Scratch arrays kept from line to line (plain memory, not workspace blocks):
// a level pushes above where it started and gives the part back at its end.
template <class T>
class Scratch {
public:
    size_t size() const { return count_; }
    const T &operator[](size_t i) const { return data_[i]; }
    // False when the memory cannot grow (the caller reports WS FULL).
    bool push(const T &value) {
        if (count_ == capacity_ && !Grow()) return false;
        data_[count_++] = value;
        return true;
    }
    void truncate(size_t n) { count_ = n; }
    // Room for n more at the end, or null (WS FULL); the caller writes
    // through the pointer and hands back its end with commit().
    T *reserve(size_t n) {
        while (capacity_ - count_ < n)
            if (!Grow()) return nullptr;
        return data_ + count_;
    }
    void commit(const T *end) { count_ = static_cast<size_t>(end - data_); }
    const T *data() const { return data_; }

private:
    bool Grow() {
        const size_t capacity = capacity_ ? capacity_ * 2 : 256;
        auto *data = static_cast<T *>(realloc(data_, capacity * sizeof(T)));
        if (!data) return false;
        data_ = data;
        capacity_ = capacity;
        return true;
    }
    T *data_ = nullptr;
    size_t count_ = 0, capacity_ = 0;
};

// Positions of the top-level separators (outside quotes and all brackets).
// False when the positions cannot be kept (WS FULL).
bool SplitTopLevel(const uint8_t *text, int32_t begin, int32_t end, uint8_t separator, Scratch<int32_t> &cuts) {
    int depth = 0;
    for (int32_t i = begin; i < end; ++i) {
        const uint8_t c = text[i];
        const uint8_t bits = kChars.bits[c];
        if (!(bits & (kNests | kUnnests | kQuoteMark | kSplitsLine))) continue;
        if (bits & kQuoteMark) {
            const int32_t close = StringEnd(text, i, end);
            if (close < 0) return true;  // the open quote is reported when the piece is tokenized
            i = close;
        } else if (bits & kNests) {
            ++depth;
        } else if (bits & kUnnests) {
            --depth;
        } else if (c == separator && depth == 0 && !cuts.push(i)) {
            return Fail(APL_ERR_WSFULL, text + i);
        }
    }
    return true;
}

// The closing bracket that matches text[open], or -1.
int32_t MatchingClose(const uint8_t *text, int32_t open, int32_t end) {
    const uint8_t opener = text[open];
    const uint8_t closer = opener == '[' ? ']' : '}';
    int depth = 0;
    for (int32_t i = open; i < end; ++i) {
        const uint8_t c = text[i];
        if (c == glyph::kQuote) {
            const int32_t close = StringEnd(text, i, end);
            if (close < 0) return -1;
            i = close;
        } else if (c == opener) {
            ++depth;
        } else if (c == closer && --depth == 0) {
            return i;
        }
    }
    return -1;
}

enum class Piece : uint8_t { Word, String, Symbol, Open, Close, Brackets, Braces, Diamond };
struct Span {
    Piece kind;
    int32_t begin;  // for Brackets and Braces: the opening character
    int32_t end;    // one past the piece (past the closing character)
};

// A strand of constants waiting to be written: elements gathered right to left.
struct Pending {
    enum Kind : uint8_t { None, Numbers, Chars, Text } kind = None;
    std::vector<int32_t> ints;
    std::vector<double> reals;
    bool anyReal = false;
    std::string chars;  // Chars: one per element; Text: the whole string
    int32_t count = 0;
    const uint8_t *at = nullptr;
    void Clear() {
        kind = None;
        ints.clear();
        reals.clear();
        chars.clear();
        anyReal = false;
        count = 0;
    }
};

// Scratch space kept from line to line, so that tokenizing a line allocates
// next to nothing: pieces and cut positions of all nesting levels (each level
// uses the part above where it started and gives it back), the pending strand
// and the record of a constant on its way to the pool.
Scratch<Span> spanScratch;
Scratch<int32_t> cutScratch;
Pending pendingScratch;
std::vector<uint64_t> recordScratch;

// Gives a scratch array back to the size it had when the level started.
template <class T>
struct ScratchLevel {
    Scratch<T> &v;
    size_t base;
    explicit ScratchLevel(Scratch<T> &scratch) : v(scratch), base(scratch.size()) {}
    ~ScratchLevel() { v.truncate(base); }
};

class Tokenizer {
public:
    explicit Tokenizer(const uint8_t *text) : text_(text), pending_(pendingScratch) { pending_.Clear(); }
    bool Statement(int32_t begin, int32_t end, int32_t flags, int depth);
    bool Line(int32_t begin, int32_t end, int32_t flags, int depth);
    bool Block(int32_t begin, int32_t end, int32_t flags, int depth);
    // Writes out the pending constant, if any.
    bool Flush() { return pending_.kind == Pending::None || FlushPending(); }

private:
    bool FlushPending();
    bool AddNumber(int32_t begin, int32_t end);
    bool AddString(int32_t begin, int32_t end);
    bool AddValue(bool integer, int32_t intValue, double realValue, const uint8_t *word);
    bool AddName(int32_t begin, int32_t end, bool target, int32_t flags);
    bool Lex(int32_t begin, int32_t end, Scratch<int32_t> *diamonds, Scratch<Span> &spans);
    int32_t WordEnd(int32_t from, int32_t end) const;
    bool Walk(size_t base, size_t top, int32_t end, int32_t flags, int depth);
    bool Statements(int32_t begin, int32_t end, int32_t flags, int depth);

    const uint8_t *text_;
    Pending &pending_;
};

// The end of a word or number that goes on at `from`: at a separator or a
// character of its own.
int32_t Tokenizer::WordEnd(int32_t from, int32_t end) const {
    const uint8_t *const text = text_;
    int32_t j = from;
    for (; j < end; ++j) {
        const uint8_t c = text[j];
        const LexClass lex = kChars.lex[c];
        if (lex == kLexOther ? PrimitiveFlags(c) != 0 : lex != kLexDot || CharClass(text, j, end) != 0) break;
    }
    return j;
}

// The pieces of a text, left to right. With `diamonds`, a diamond outside
// parentheses is a piece of its own that separates statements, and its index
// among the spans is kept there (brackets and braces are pieces whole, so a
// diamond in them is not seen here).
bool Tokenizer::Lex(int32_t begin, int32_t end, Scratch<int32_t> *diamonds, Scratch<Span> &spans) {
    // A piece takes at least one character: room for all at once.
    Span *out = spans.reserve(static_cast<size_t>(end > begin ? end - begin : 0));
    if (!out) return Fail(APL_ERR_WSFULL, text_ + begin);
    // Held in a local: the stores through `out` could otherwise be taken to
    // change the member, which would be read again for every character.
    const uint8_t *const text = text_;
    int parentheses = 0;
    for (int32_t i = begin; i < end;) {
        const uint8_t c = text[i];
        Span span{Piece::Word, i, i + 1};
        switch (kChars.lex[c]) {
            case kLexBlank:
                while (++i < end && text[i] == ' ') {
                }
                continue;
            case kLexQuote: {
                const int32_t close = StringEnd(text, i, end);
                if (close < 0) return Fail(APL_ERR_SYNTAX, text + i);
                span = {Piece::String, i, close + 1};
                break;
            }
            case kLexParenthesis:
                span.kind = c == '(' ? Piece::Open : Piece::Close;
                parentheses += c == '(' ? 1 : -1;
                break;
            case kLexBracket: {
                const int32_t close = MatchingClose(text, i, end);
                if (close < 0) return Fail(APL_ERR_SYNTAX, text + i);
                span = {c == '[' ? Piece::Brackets : Piece::Braces, i, close + 1};
                break;
            }
            case kLexDiamond:
                if (!diamonds || parentheses != 0) return Fail(APL_ERR_SYNTAX, text + i);
                span.kind = Piece::Diamond;
                if (!diamonds->push(static_cast<int32_t>(out - spans.data()))) return Fail(APL_ERR_WSFULL, text + i);
                break;
            case kLexStray:
                // A closing bracket without its opening one, a stray semicolon or lamp.
                return Fail(APL_ERR_SYNTAX, text + i);
            case kLexSymbol: span.kind = Piece::Symbol; break;
            case kLexDot:
            case kLexOther:
                if (c == '.' ? CharClass(text, i, end) != 0 : PrimitiveFlags(c) != 0) {
                    span.kind = Piece::Symbol;
                } else {
                    span.end = WordEnd(i + 1, end);
                }
                break;
        }
        *out++ = span;
        i = span.end;
    }
    spans.commit(out);
    return true;
}

// Room for `length` bytes of the code buffer, or null with WS FULL set. A
// line is written downward into room made for it at the start: one test.
inline uint8_t *ReserveCode(int32_t length) {
    TokenBuffer &b = codeBuffer;
    if (!b.forward && b.start >= length && b.block) {
        b.start -= length;
        return b.block + b.start;
    }
    return Reserve(b, length);
}

inline bool PutCode(uint8_t byte) {
    uint8_t *to = ReserveCode(1);
    if (!to) return false;
    *to = byte;
    return true;
}

// A tag with its payload of `Bytes` little-endian bytes to its left, in one
// reservation of the code buffer.
template <int Bytes>
inline bool PutToken(uint8_t tag, uint32_t payload) {
    uint8_t *to = ReserveCode(Bytes + 1);
    if (!to) return false;
    if (codeBuffer.forward) {
        to[0] = tag;
        ++to;
    } else {
        to[Bytes] = tag;
    }
    for (int i = 0; i < Bytes; ++i) to[i] = static_cast<uint8_t>(payload >> (8 * i));
    return true;
}

bool Tokenizer::FlushPending() {
    Pending &p = pending_;
    if (p.kind == Pending::Numbers && p.count == 1 && !p.anyReal) {
        const int32_t offset = PoolInteger(p.ints[0]);
        const uint8_t *at = p.at;
        p.Clear();
        if (offset < 0) return Fail(APL_ERR_WSFULL, at);
        return PutToken<4>(kTagConstant, static_cast<uint32_t>(offset)) || Fail(APL_ERR_WSFULL, at);
    }
    const bool strand = p.count > 1;
    const int32_t n = p.kind == Pending::Text ? static_cast<int32_t>(p.chars.size()) : p.count;
    const int eltype = p.kind != Pending::Numbers ? APL_CHAR : p.anyReal ? APL_REAL : APL_INTG;
    const int rank = strand || p.kind == Pending::Text ? 1 : 0;
    // The record as AllocArray would lay it out, marked static so that the pool
    // copies it without freeing anything: no managed block for a constant that
    // the pool already holds.
    const int64_t payload = static_cast<int64_t>(ElementSize(eltype)) * n + 4 * rank;
    const int64_t size = payload <= 4 ? 20 : payload + 16;
    const uint8_t *at = p.at;
    if (size > INT32_MAX - 64) return Fail(APL_ERR_WSFULL, at);
    // Most constants are a scalar or a short strand: a record on the stack.
    uint64_t local[8] = {};
    const auto wordCount = static_cast<size_t>(size + 7) / 8;
    uint64_t *words = local;
    if (wordCount > 8) {
        recordScratch.assign(wordCount, 0);
        words = recordScratch.data();
    }
    auto *record = reinterpret_cast<aplarray *>(words);
    record->size = static_cast<int32_t>(size);
    record->type = static_cast<uint8_t>(APL_SIMPLE | APL_STATIC | (strand ? APL_STRAND : 0));
    record->rank = static_cast<uint8_t>(rank);
    record->eltype = static_cast<uint8_t>(eltype);
    record->number = n;
    if (rank) record->shape[0] = n;
    // Elements were gathered right to left.
    if (eltype == APL_REAL) {
        // A vector's data is only 4-byte aligned here (16 + 4 bytes of header).
        char *out = DataOf<char>(record);
        for (int32_t i = 0; i < n; ++i) memcpy(out + 8 * i, &p.reals[static_cast<size_t>(n - 1 - i)], 8);
    } else if (eltype == APL_INTG) {
        auto *out = DataOf<int32_t>(record);
        for (int32_t i = 0; i < n; ++i) out[i] = p.ints[static_cast<size_t>(n - 1 - i)];
    } else {
        char *out = DataOf<char>(record);
        for (int32_t i = 0; i < n; ++i)
            out[i] =
                p.kind == Pending::Chars ? p.chars[static_cast<size_t>(n - 1 - i)] : p.chars[static_cast<size_t>(i)];
    }
    p.Clear();
    const int32_t offset = PoolConstant(record);
    if (offset < 0) return Fail(APL_ERR_WSFULL, at);
    return PutToken<4>(kTagConstant, static_cast<uint32_t>(offset)) || Fail(APL_ERR_WSFULL, at);
}

// A decimal without exponent of at most 15 digits ("12.5", "-0.25"): its
// digits as an integer are exact in a double, and so is the power of ten
// (at most 1e22), so one division gives the correctly rounded value, as
// strtod would. False for anything else, which strtod reads.
bool ShortDecimal(const std::string &digits, double &value) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t i = digits[0] == '-' ? 1 : 0;
    int64_t mantissa = 0;
    int count = 0, fraction = -1;
    for (; i < digits.size(); ++i) {
        const char c = digits[i];
        if (c == '.' && fraction < 0) {
            fraction = 0;
        } else if (IsDigit(static_cast<uint8_t>(c)) && count < 15) {
            mantissa = mantissa * 10 + (c - '0');
            ++count;
            if (fraction >= 0) ++fraction;
        } else {
            return false;
        }
    }
    if (count == 0) return false;
    const double magnitude = static_cast<double>(mantissa) / kPowers[fraction > 0 ? fraction : 0];
    value = digits[0] == '-' ? -magnitude : magnitude;
    return true;
}

bool Tokenizer::AddNumber(int32_t begin, int32_t end) {
    const uint8_t *word = text_ + begin;
    const int32_t length = end - begin;
    // The common case first: digits only, with a high minus in front, short
    // enough for INTG (the same words that the general reading makes INTG).
    const int32_t sign = word[0] == glyph::kHighMinus ? 1 : 0;
    if (length <= 9 && length > sign) {
        int32_t value = 0;
        int32_t i = sign;
        while (i < length && IsDigit(word[i])) value = value * 10 + (word[i++] - '0');
        if (i == length) {
            // Another integer of a strand of integers: no more to decide.
            Pending &p = pending_;
            if (p.kind != Pending::Numbers || p.anyReal) return AddValue(true, sign ? -value : value, 0, word);
            p.ints.push_back(sign ? -value : value);
            ++p.count;
            p.at = word;
            return true;
        }
    }
    bool integer = length <= 9;
    for (int32_t i = 0; i < length; ++i)
        if (word[i] == '.' || word[i] == 'E' || word[i] == 'e') integer = false;
    // The characters a number may hold; a high minus is a minus sign, and so is
    // "_" after an exponent letter (keyword mode writes negative numbers with it).
    std::string digits(static_cast<size_t>(length), ' ');
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t c = word[i];
        const bool afterExponent = i > 0 && (word[i - 1] == 'E' || word[i - 1] == 'e');
        if (c == glyph::kHighMinus || (c == '_' && afterExponent)) {
            if (integer && i > 0) return Fail(APL_ERR_SYNTAX, word + i);
            digits[static_cast<size_t>(i)] = '-';
        } else if (IsDigit(c) || c == '.' || c == 'E' || c == 'e') {
            digits[static_cast<size_t>(i)] = static_cast<char>(c);
        } else {
            return Fail(APL_ERR_SYNTAX, word + i);
        }
    }
    int32_t intValue = 0;
    double realValue = 0;
    if (integer) {
        const int32_t first = word[0] == glyph::kHighMinus ? 1 : 0;
        if (first >= length) return Fail(APL_ERR_SYNTAX, word);
        int64_t value = 0;
        for (int32_t i = first; i < length; ++i) {
            if (!IsDigit(word[i])) return Fail(APL_ERR_SYNTAX, word + i);
            value = value * 10 + (word[i] - '0');
        }
        intValue = static_cast<int32_t>(first ? -value : value);
    } else if (!ShortDecimal(digits, realValue)) {
        // strtod would take "0x", "inf" and "nan"; those letters never get here.
        char *stop = nullptr;
        errno = 0;
        realValue = strtod(digits.c_str(), &stop);
        if (stop == digits.c_str() || *stop) return Fail(APL_ERR_SYNTAX, word + (stop - digits.c_str()));
        if (errno == ERANGE && std::fabs(realValue) > 1.0) return Fail(APL_ERR_DOMAIN, word);
        if (!std::isfinite(realValue)) return Fail(APL_ERR_DOMAIN, word);
        errno = 0;
    }
    return AddValue(integer, intValue, realValue, word);
}

// Adds a number to the pending strand (an INTG one while all are integers).
bool Tokenizer::AddValue(bool integer, int32_t intValue, double realValue, const uint8_t *word) {
    Pending &p = pending_;
    if (p.kind != Pending::Numbers && !Flush()) return false;
    if (p.kind == Pending::None) p.kind = Pending::Numbers;
    if (!integer && !p.anyReal) {
        p.anyReal = true;
        for (int32_t v : p.ints) p.reals.push_back(v);
    }
    if (p.anyReal)
        p.reals.push_back(integer ? intValue : realValue);
    else
        p.ints.push_back(intValue);
    ++p.count;
    p.at = word;
    return true;
}

bool Tokenizer::AddString(int32_t begin, int32_t end) {
    std::string content;
    for (int32_t i = begin + 1; i < end - 1; ++i) {
        content += static_cast<char>(text_[i]);
        if (text_[i] == glyph::kQuote) ++i;  // a doubled quote is one quote
    }
    Pending &p = pending_;
    const bool joins = content.size() == 1 && p.kind == Pending::Chars;
    if (!joins && !Flush()) return false;
    if (content.size() == 1) {
        p.kind = Pending::Chars;
        p.chars += content[0];
        ++p.count;
    } else {
        p.kind = Pending::Text;
        p.chars = std::move(content);
        p.count = 1;
    }
    p.at = text_ + begin;
    return true;
}

// Recently tokenized names by a hash of their text. A line names the same few
// variables again and again; an entry is confirmed against the symbol table's
// own spelling, so a stale one (the table was cleared) is only a miss.
struct RecentName {
    uint32_t hash;
    uint16_t index;
};
RecentName recentNames[256];

uint32_t NameHash(const char *name, int32_t length) {
    uint32_t h = 2166136261u;
    for (int32_t i = 0; i < length; ++i) h = (h ^ static_cast<uint8_t>(name[i])) * 16777619u;
    return h;
}

// Index of the name, or APL_symtab.count when absent.
inline uint16_t FindName(const char *name, int32_t length) {
    const uint32_t hash = NameHash(name, length);
    RecentName &recent = recentNames[hash & 255];
    if (recent.hash == hash && IsSymbol(recent.index)) {
        const char *known = SymbolName(recent.index);
        // Byte by byte, stopping at the first difference: a colliding shorter
        // name ends in its NUL, which no name character equals.
        int32_t i = 0;
        while (i < length && known[i] == name[i]) ++i;
        if (i == length && known[i] == 0) return recent.index;
    }
    const uint16_t index = LookupName(name, length);
    if (IsSymbol(index)) recent = RecentName{hash, index};
    return index;
}

bool Tokenizer::AddName(int32_t begin, int32_t end, bool target, int32_t flags) {
    const auto *name = reinterpret_cast<const char *>(text_ + begin);
    const int32_t length = end - begin;
    if (!Flush()) return false;
    uint16_t index = FindName(name, length);
    if (!IsSymbol(index)) {
        if ((flags & kTokNamesMustExist) && !target) return Fail(APL_ERR_VALUE, text_ + begin);
        void *none = nullptr;
        index = DefineName(name, length, 0, &none);
        if (!IsSymbol(index)) return Fail(APL_ERR_SYNTAX, text_ + begin);
    }
    return PutToken<2>(kTagName, index) || Fail(APL_ERR_WSFULL, text_ + begin);
}

// The inside of a brace pair: an optional for-loop header, then segments cut at
// top-level colons, each tokenized into a buffer of its own.
bool Tokenizer::Block(int32_t begin, int32_t end, int32_t flags, int depth) {
    if (!Flush()) return false;
    while (begin < end && text_[begin] == ' ') ++begin;
    int32_t loopVariable = -1;
    if (begin < end && text_[begin] == glyph::kAlpha) {
        int32_t j = begin + 1;
        while (j < end && !IsSeparator(text_[j]) && CharClass(text_, j, end) == 0) ++j;
        int32_t arrow = j;
        while (arrow < end && text_[arrow] == ' ') ++arrow;
        if (arrow < end && text_[arrow] == glyph::kLeftArrow) {
            const auto *name = reinterpret_cast<const char *>(text_ + begin);
            uint16_t index = FindName(name, j - begin);
            if (!IsSymbol(index)) {
                void *none = nullptr;
                index = DefineName(name, j - begin, 0, &none);
                if (!IsSymbol(index)) return Fail(APL_ERR_SYNTAX, text_ + begin);
            }
            loopVariable = index;
            begin = arrow + 1;
        }
    }
    ScratchLevel<int32_t> level(cutScratch);
    if (!SplitTopLevel(text_, begin, end, ':', cutScratch)) return false;
    if (!cutScratch.push(end)) return Fail(APL_ERR_WSFULL, text_ + begin);
    const size_t base = level.base;
    const auto count = static_cast<int32_t>(cutScratch.size() - base);
    // The segments' own lines use the scratch above these cuts: read by index.
    auto cut = [base](int32_t i) { return cutScratch[base + static_cast<size_t>(i)]; };
    std::vector<TokenBuffer> segments;
    segments.reserve(static_cast<size_t>(count));
    const int32_t segmentFlags = (flags & ~(kTokBlockInside | kTokIndexList | kTokAssignTarget)) | kTokDiamonds;
    bool ok = true;
    int32_t from = begin;
    for (int32_t i = 0; i < count && ok; ++i) {
        const TokenBuffer outer = SaveCodeBuffer();
        ok = Line(from, cut(i), segmentFlags, depth + 1) && Flush();
        segments.push_back(SaveCodeBuffer());
        RestoreCodeBuffer(outer);
        from = cut(i) + 1;
    }
    // Right to left: brace, header, count, table, segment 0 ... segment n-1, brace.
    if (ok) ok = PutByte(codeBuffer, '}');
    if (ok && loopVariable >= 0)
        ok = PutByte(codeBuffer, kBlockForLoop) && PutShort(codeBuffer, static_cast<uint16_t>(loopVariable));
    else if (ok)
        ok = PutByte(codeBuffer, kBlockCase);
    if (ok) ok = PutLong(codeBuffer, static_cast<uint32_t>(count));
    std::vector<uint32_t> table(segments.size());
    uint32_t reach = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        reach += static_cast<uint32_t>(BufferLength(segments[i])) + (i + 1 < segments.size() ? 1 : 0);
        table[i] = reach;
    }
    for (size_t i = table.size(); ok && i-- > 0;) ok = PutLong(codeBuffer, table[i]);
    for (size_t i = 0; ok && i < segments.size(); ++i) {
        ok = PutText(codeBuffer, BufferData(segments[i]), BufferLength(segments[i]));
        if (ok && i + 1 < segments.size()) ok = PutByte(codeBuffer, ':');
    }
    if (ok) ok = PutByte(codeBuffer, '{');
    for (TokenBuffer &segment : segments) ResetTokenBuffer(segment);
    return ok || Fail(APL_ERR_WSFULL, text_ + begin);
}

// One statement, from its right end.
bool Tokenizer::Statement(int32_t begin, int32_t end, int32_t flags, int depth) {
    ScratchLevel<Span> level(spanScratch);
    return Lex(begin, end, nullptr, spanScratch) && Walk(level.base, spanScratch.size(), end, flags, depth);
}

// The statement whose pieces are spans [base, top), from its right end;
// `end` is one past its last character.
bool Tokenizer::Walk(size_t base, size_t top, int32_t end, int32_t flags, int depth) {
    // Nested levels (brackets, braces) add spans above these and may move
    // them: the pointer is taken again after each.
    const Span *spans = spanScratch.data();
    // A local copy: the stores into the code buffer could otherwise be taken
    // to change the member.
    const uint8_t *const text = text_;
    int parentheses = 0;
    bool target = (flags & kTokAssignTarget) != 0;
    // The spans of a parenthesised list of names left of an arrow: [listFrom, listTo).
    size_t listFrom = 0, listTo = 0;
    for (size_t k = top; k-- > base;) {
        const Span s = spans[k];
        const bool isTarget = target;
        target = false;
        const uint8_t c = text[s.begin];
        switch (s.kind) {
            case Piece::Word:
                if (IsDigit(c) || c == '.' || c == glyph::kHighMinus) {
                    if (!AddNumber(s.begin, s.end)) return false;
                } else if (!AddName(s.begin, s.end, isTarget || (k >= listFrom && k < listTo), flags)) {
                    return false;
                }
                break;
            case Piece::String:
                if (!AddString(s.begin, s.end)) return false;
                break;
            case Piece::Symbol:
                // Labels belong to function lines: immediate execution and execute
                // have no colon outside a block.
                if (c == ':' && (flags & kTokNamesMustExist)) return Fail(APL_ERR_SYNTAX, text + s.begin);
                if (!Flush() || !PutCode(c)) return Fail(APL_ERR_WSFULL, text + s.begin);
                if (c == glyph::kLeftArrow) {
                    target = true;
                    // (A B C)←...: a list of names only is a vector assignment, whose
                    // names are all targets.
                    if (k >= base + 2 && spans[k - 1].kind == Piece::Close) {
                        size_t j = k - 1;
                        while (j-- > base && spans[j].kind == Piece::Word && !IsDigit(text[spans[j].begin]) &&
                               text[spans[j].begin] != '.' && text[spans[j].begin] != glyph::kHighMinus) {
                        }
                        if (j >= base && j < k - 2 && spans[j].kind == Piece::Open) {
                            listFrom = j + 1;
                            listTo = k - 1;
                        }
                    }
                }
                break;
            case Piece::Close:
                ++parentheses;
                if (!Flush() || !PutCode(')')) return Fail(APL_ERR_WSFULL, text + s.begin);
                break;
            case Piece::Open:
                if (--parentheses < 0) return Fail(APL_ERR_SYNTAX, text + s.begin);
                if (!Flush() || !PutCode('(')) return Fail(APL_ERR_WSFULL, text + s.begin);
                break;
            case Piece::Brackets:
                if (depth >= kMaxTokenizerDepth) return Fail(APL_ERR_LIMIT, text + s.begin);
                if (!Flush() || !PutCode(']')) return Fail(APL_ERR_WSFULL, text + s.begin);
                if (!Line(s.begin + 1, s.end - 1, (flags & kTokNamesMustExist) | kTokIndexList, depth + 1) || !Flush())
                    return false;
                spans = spanScratch.data();
                if (!PutCode('[')) return Fail(APL_ERR_WSFULL, text + s.begin);
                break;
            case Piece::Braces:
                if (depth >= kMaxTokenizerDepth) return Fail(APL_ERR_LIMIT, text + s.begin);
                if (!Block(s.begin + 1, s.end - 1, flags, depth + 1)) return false;
                spans = spanScratch.data();
                break;
            case Piece::Diamond: return Fail(APL_ERR_SYNTAX, text + s.begin);  // Statements cuts there
        }
    }
    if (parentheses != 0) return Fail(APL_ERR_SYNTAX, text + end - 1);
    return Flush();
}

// A text with its separators: index lists at semicolons, lines at diamonds.
bool Tokenizer::Line(int32_t begin, int32_t end, int32_t flags, int depth) {
    while (begin < end && text_[begin] == ' ') ++begin;
    while (end > begin && text_[end - 1] == ' ') --end;
    if (flags & kTokIndexList) {
        ScratchLevel<int32_t> level(cutScratch);
        if (!SplitTopLevel(text_, begin, end, ';', cutScratch) || !cutScratch.push(end))
            return Fail(APL_ERR_WSFULL, text_ + begin);
        const size_t base = level.base;
        // The last index is written first: the buffer grows to the left.
        for (size_t i = cutScratch.size() - base; i-- > 0;) {
            const int32_t from = i ? cutScratch[base + i - 1] + 1 : begin;
            int32_t b = from;
            const int32_t e = cutScratch[base + i];
            while (b < e && text_[b] == ' ') ++b;
            if (b < e && !Statement(b, e, flags & ~kTokIndexList, depth)) return false;
            if (i && !PutByte(codeBuffer, ';')) return Fail(APL_ERR_WSFULL, text_ + from - 1);
        }
        return true;
    }
    if (begin == end) return Fail(APL_ERR_SYNTAX, text_ + begin);
    if (flags & kTokDiamonds) return Statements(begin, end, flags & ~kTokDiamonds, depth);
    return Statement(begin, end, flags, depth);
}

// Statements separated by diamonds, lexed in one pass over the text. The
// first statement is written first and so ends up rightmost.
bool Tokenizer::Statements(int32_t begin, int32_t end, int32_t flags, int depth) {
    ScratchLevel<Span> level(spanScratch);
    ScratchLevel<int32_t> diamonds(cutScratch);
    if (!Lex(begin, end, &cutScratch, spanScratch)) return false;
    const size_t top = spanScratch.size(), cuts = cutScratch.size();
    if (cuts == diamonds.base) return Walk(level.base, top, end, flags, depth);
    tokenizerLineFlags |= kLineHasDiamonds;
    // Read by index: the statements' brackets add spans and cuts above these
    // and may move both arrays.
    size_t from = level.base;
    for (size_t d = diamonds.base; d <= cuts; ++d) {
        const size_t k = d < cuts ? static_cast<size_t>(cutScratch[d]) : top;
        const int32_t cut = d < cuts ? spanScratch[k].begin : end;
        if (from == k) return Fail(APL_ERR_SYNTAX, text_ + cut);  // nothing but blanks
        if (!Walk(from, k, spanScratch[k - 1].end, flags, depth)) return false;
        if (d < cuts && !PutCode(glyph::kDiamond)) return Fail(APL_ERR_WSFULL, text_ + cut);
        from = k + 1;
    }
    return true;
}

// The first lamp outside quotes, or `length`. A doubled quote inside a string
// closes it and opens another, which comes to the same.
int32_t CommentStart(const uint8_t *text, int32_t length) {
    const uint8_t *at = text, *end = text + length;
    const auto *lamp = static_cast<const uint8_t *>(memchr(at, glyph::kLamp, static_cast<size_t>(length)));
    while (lamp) {
        const auto *open = static_cast<const uint8_t *>(memchr(at, glyph::kQuote, static_cast<size_t>(lamp - at)));
        if (!open) return static_cast<int32_t>(lamp - text);
        const auto *close =
            static_cast<const uint8_t *>(memchr(open + 1, glyph::kQuote, static_cast<size_t>(end - open - 1)));
        if (!close) return length;
        at = close + 1;
        // A lamp inside that string is text: the next one after it is tried.
        if (close > lamp) lamp = static_cast<const uint8_t *>(memchr(at, glyph::kLamp, static_cast<size_t>(end - at)));
    }
    return length;
}

void NoteControlSymbols(const uint8_t *text, int32_t length) {
    if (!memchr(text, glyph::kControlSymbol, static_cast<size_t>(length))) return;
    int32_t last = length;
    while (last > 0 && text[last - 1] == ' ') --last;
    bool quoted = false;
    for (int32_t i = 0; i < last; ++i) {
        if (text[i] == glyph::kQuote) quoted = !quoted;
        if (text[i] == glyph::kControlSymbol && !quoted)
            tokenizerLineFlags |= i == last - 1 ? kLineControlAtEnd : kLineControlInside;
    }
}

}  // namespace

bool TokenizeLine(const uint8_t *text, int32_t length, int32_t flags) {
    if (!text || length < 0) return Fail(APL_ERR_SYNTAX, text);
    // A comment in the text (execute) ends the code.
    length = CommentStart(text, length);
    NoteControlSymbols(text, length);
    Tokenizer tokenizer(text);
    if (flags & kTokBlockInside) return tokenizer.Block(0, length, flags, 0) && tokenizer.Flush();
    return tokenizer.Line(0, length, flags, 0);
}

bool TokenizeSourceLine(const uint8_t *text, int32_t length, int32_t flags, StoredLine &line) {
    // Room for a line of ordinary density at once, so that the buffer is not
    // copied as it grows (a name of one letter takes three bytes stored).
    // The last line's block is used again when it is large enough, and not so
    // large that one long line would keep it: that line is given up here
    // either way.
    const int64_t room = length >= 0 && length < (1 << 20) ? 2 * int64_t{length} + 16 : 0;
    if (codeBuffer.owned && !codeBuffer.forward && codeBuffer.block && codeBuffer.capacity >= room &&
        codeBuffer.capacity <= 4 * room + 4096) {
        codeBuffer.start = codeBuffer.end = codeBuffer.capacity;
    } else {
        ResetTokenBuffer(codeBuffer);
        codeBuffer.forward = false;
    }
    tokenizerLineFlags = 0;
    if (!text || length < 0) return Fail(APL_ERR_SYNTAX, text);
    if (room && !MakeRoom(codeBuffer, static_cast<int32_t>(room))) return false;
    // The comment part: the blanks before the first lamp outside quotes, the
    // lamp and the rest of the line.
    const int32_t lamp = CommentStart(text, length);
    int32_t code = lamp;
    while (code > 0 && text[code - 1] == ' ') --code;
    const int32_t commentLength = lamp < length ? length - code : 0;
    // A line end inside the comment would end the stored line early.
    for (int32_t i = code; i < code + commentLength; ++i)
        if (text[i] == glyph::kLineFeed) return Fail(APL_ERR_SYNTAX, text + i);
    if (!PutByte(codeBuffer, glyph::kLineFeed) || !PutText(codeBuffer, text + code, commentLength) ||
        (code > 0 && !TokenizeLine(text, code, flags)) || !PutByte(codeBuffer, glyph::kLineFeed)) {
        ResetTokenBuffer(codeBuffer);
        return false;
    }
    const uint8_t *data = BufferData(codeBuffer);
    line.begin = data;
    line.end = data + BufferLength(codeBuffer) - 1;
    line.last = line.end - commentLength - 1;
    return true;
}

void ForgetRecentNames() { std::fill(std::begin(recentNames), std::end(recentNames), RecentName{}); }

PoolView CurrentPool() {
    const uint32_t size = ConstantPoolSize();
    return {size ? reinterpret_cast<const char *>(PooledConstant(0)) : nullptr, size};
}

// ---- Rendering stored lines ----------------------------------------------------------

namespace {

constexpr int kMaxRenderDepth = kMaxNestingDepth / 10;

bool UnknownToken(uint8_t byte) {
    WriteLinef("SYSTEM ERROR: unknown token ('%c' %d ) in fixed line!", byte ? byte : ' ', byte);
    SetError(APL_ERR_SYSTEM);
    return false;
}

// The text of a pooled constant; false when the record does not hold up (or,
// with the error set, when formatting fails).
bool ConstantText(const PoolView &pool, uint32_t offset, std::string &text) {
    if (offset > pool.size || pool.size - offset < 20 || offset % 4) return false;
    const char *record = pool.base + offset;
    int32_t header[5];
    memcpy(header, record, sizeof header);
    const auto rank = static_cast<uint8_t>(record[5]);
    const auto eltype = static_cast<uint8_t>(record[6]);
    const int32_t size = header[0];
    if (rank > 1 || size < 20 || static_cast<uint32_t>(size) > pool.size - offset) return false;
    int32_t count = 1;
    if (rank) memcpy(&count, record + 16, 4);
    const size_t elementSize = ElementSize(eltype);
    if (count < 0 || header[3] != count || elementSize == 0 || eltype == APL_NESTED || eltype == APL_BOOL ||
        16 + 4 * rank + elementSize * static_cast<uint64_t>(count) > static_cast<uint64_t>(size))
        return false;
    const char *data = record + 16 + 4 * rank;
    if (eltype == APL_CHAR) {
        text += static_cast<char>(glyph::kQuote);
        for (int32_t i = 0; i < count; ++i) {
            text += data[i];
            if (static_cast<uint8_t>(data[i]) == glyph::kQuote) text += static_cast<char>(glyph::kQuote);
        }
        text += static_cast<char>(glyph::kQuote);
        return true;
    }
    // Numbers as monadic format writes them (high minus, no keyword spelling)
    // but never rounded to PP, so that the text reads back as the same constant;
    // from an aligned copy: the pooled record is only 4-byte aligned.
    aplarray *copy = CopyArray(reinterpret_cast<const aplarray *>(record), HERE);
    aplarray *formatted = copy ? FormatExact(copy) : nullptr;
    APL_UnLinkTempEx(copy, HERE);
    if (!formatted) return false;
    text.append(DataOf<const char>(formatted), static_cast<size_t>(formatted->number));
    APL_UnLinkTempEx(formatted, HERE);
    return true;
}

class Renderer {
public:
    Renderer(const StoredLine &line, const PoolView &pool) : line_(line), pool_(pool) {}
    ~Renderer() { ResetTokenBuffer(out_); }
    // Renders the tokens from `p` leftwards up to the line's start marker (or,
    // for a segment, a colon or left brace); `stop` receives where it ended.
    bool Walk(const uint8_t *p, bool segment, const uint8_t *&stop, int depth);
    bool Emit(const void *text, size_t length, const uint8_t *first, const uint8_t *tag, bool wordLike);
    TokenBuffer &out() { return out_; }

private:
    bool Block(const uint8_t *&p, int depth);
    bool Marked(const uint8_t *first, const uint8_t *tag) const {
        for (const uint8_t *at : {errorPositions.tokenizer, errorPositions.evaluator})
            if (at && at >= first && at <= tag) return true;
        return false;
    }

    const StoredLine &line_;
    PoolView pool_;
    TokenBuffer out_;
    bool rightIsWord_ = false;  // the text just right of here is a name or constant
};

bool Renderer::Emit(const void *text, size_t length, const uint8_t *first, const uint8_t *tag, bool wordLike) {
    if (wordLike && rightIsWord_ && !PutByte(out_, ' ')) return false;
    if (!PutText(out_, text, static_cast<int32_t>(length))) return false;
    if (first && Marked(first, tag) && !PutByte(out_, kCaretMark)) return false;
    rightIsWord_ = wordLike;
    return true;
}

bool Renderer::Block(const uint8_t *&p, int depth) {
    const uint8_t *brace = p;
    ControlBlock block;
    if (!ReadControlBlock(brace, line_.begin, block)) return UnknownToken(*p);
    const int32_t loopVariable = block.loopVariable;
    if (loopVariable >= 0 && !IsSymbol(static_cast<uint16_t>(loopVariable))) return UnknownToken(*p);
    const uint32_t count = block.count;
    if (!Emit("}", 1, brace, brace, false)) return false;
    for (uint32_t i = count; i-- > 0;) {
        const uint8_t *right = block.SegmentStart(i);
        // A segment ends at its colon; the last one, which has none, at the brace.
        const uint8_t *expected = block.tableLeft - block.Reach(i) - (i + 1 == count ? 1 : 0);
        const uint8_t *stop = nullptr;
        if (!Walk(right, true, stop, depth + 1)) return false;
        if (stop != expected || *stop != (i + 1 == count ? '{' : ':')) return UnknownToken(*p);
        if (i && !Emit(":", 1, nullptr, nullptr, false)) return false;
    }
    if (loopVariable >= 0) {
        const char arrow = static_cast<char>(glyph::kLeftArrow);
        const char *name = SymbolName(static_cast<uint16_t>(loopVariable));
        if (!Emit(&arrow, 1, nullptr, nullptr, false) || !Emit(name, strlen(name), nullptr, nullptr, true))
            return false;
    }
    const uint8_t *open = block.LeftBrace();
    if (!Emit("{", 1, open, open, false)) return false;
    p = open - 1;
    return true;
}

bool Renderer::Walk(const uint8_t *p, bool segment, const uint8_t *&stop, int depth) {
    if (depth > kMaxRenderDepth) {
        SetError(APL_ERR_LIMIT);
        return false;
    }
    rightIsWord_ = false;
    // Statements are stored last one leftmost: each is taken out of the buffer
    // as it is finished, and they are put back in their written order.
    std::vector<std::string> statements;
    int32_t mark = BufferLength(out_);
    const auto takeStatement = [&]() {
        const int32_t n = BufferLength(out_) - mark;
        statements.emplace_back(reinterpret_cast<const char *>(BufferData(out_)), static_cast<size_t>(n));
        out_.start += n;
    };
    for (;;) {
        if (p < line_.begin) return UnknownToken(0);
        const uint8_t tag = *p;
        if (tag == glyph::kLineFeed || (segment && (tag == ':' || tag == '{'))) {
            stop = p;
            if (statements.empty()) return true;
            takeStatement();
            for (size_t i = statements.size(); i-- > 0;) {
                if (!PutText(out_, statements[i].data(), static_cast<int32_t>(statements[i].size()))) return false;
                if (i && !PutByte(out_, glyph::kDiamond)) return false;
            }
            return true;
        }
        if (tag == glyph::kDiamond) {
            takeStatement();
            rightIsWord_ = false;
            --p;
            continue;
        }
        if (tag == kTagConstant) {
            if (p - 4 <= line_.begin) return UnknownToken(tag);
            std::string text;
            if (!ConstantText(pool_, ConstantOffset(p), text)) return aplerrno ? false : UnknownToken(tag);
            // A period right before a number would read as its decimal point.
            const bool wrap = p - 5 > line_.begin && p[-5] == '.' && IsDigit(static_cast<uint8_t>(text[0]));
            if (wrap && !Emit(")", 1, nullptr, nullptr, false)) return false;
            if (!Emit(text.data(), text.size(), p - 4, p, true)) return false;
            if (wrap && !Emit("(", 1, nullptr, nullptr, false)) return false;
            p = TokenBefore(p);
        } else if (tag == kTagName) {
            if (p - 2 <= line_.begin) return UnknownToken(tag);
            const uint16_t index = NameSymbol(p);
            if (!IsSymbol(index)) return UnknownToken(tag);
            const char *name = SymbolName(index);
            if (!Emit(name, strlen(name), p - 2, p, true)) return false;
            p = TokenBefore(p);
        } else if (tag == '}') {
            if (!Block(p, depth)) return false;
            rightIsWord_ = false;
        } else if (tag == '(' || tag == ')' || tag == '[' || tag == ']' || tag == ';' || tag == ':' ||
                   TagClass(tag) != 0) {
            if (!Emit(&tag, 1, p, p, false)) return false;
            --p;
        } else {
            return UnknownToken(tag);
        }
    }
}

}  // namespace

aplarray *LineToText(const StoredLine &line, const PoolView &pool, bool stopAtBlock) {
    if (!line.begin || !line.last || !line.end || line.last < line.begin || line.end < line.last) {
        SetError(APL_ERR_SYSTEM);
        return nullptr;
    }
    Renderer renderer(line, pool);
    TokenBuffer &out = renderer.out();
    if (!stopAtBlock && line.end > line.last + 1 &&
        !PutText(out, line.last + 1, static_cast<int32_t>(line.end - line.last - 1)))
        return nullptr;
    const uint8_t *stop = nullptr;
    if (line.last > line.begin && !renderer.Walk(line.last, stopAtBlock, stop, 0)) return nullptr;
    const int32_t length = out.block ? BufferLength(out) : 0;
    aplarray *text = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &length, HERE);
    if (text && length) memcpy(DataOf(text), BufferData(out), static_cast<size_t>(length));
    return text;
}
