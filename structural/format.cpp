// format: the text of any array (monadic and dyadic format) and the matrix form
// in which the session prints a value. Relies on the array core, PP and MODE in
// the symbol table; keyword spelling comes from the caller.
#include "structural/format.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/scratch.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Sign, 309 integer digits, point and kMaxFormatField decimals, with room to spare.
constexpr size_t kTextBuffer = 1400;
static_assert(kTextBuffer > 2 + 309 + 1 + kMaxFormatField + 1);

// Everything about element texts that is fixed for one call.
struct TextRules {
    int precision;           // PP, read once per call
    const FormatSpec *spec;  // null for monadic format
    KeywordSpeller speller;  // null outside keyword mode
    char minus;              // the high minus, or "_" in keyword mode
};

TextRules RulesFor(const FormatSpec *spec, KeywordSpeller speller) {
    int precision = PrintPrecision();
    // PP is checked on assignment; the clamp keeps a corrupt value from
    // asking printf for hundreds of digits.
    if (precision < 1) precision = 1;
    if (precision > 17) precision = 17;
    return {precision, spec, speller, speller ? '_' : static_cast<char>(glyph::kHighMinus)};
}

// ---- Element texts --------------------------------------------------------------

constexpr uint32_t kPowersOfTen[] = {1u,      10u,      100u,      1000u,      10000u,
                                     100000u, 1000000u, 10000000u, 100000000u, 1000000000u};

inline int DigitCount(uint32_t u) {
    // u | 1 has as many digits as u, and 0 gets its one digit.
    const uint32_t v = u | 1u;
    const int t = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;  // about log10(v)
    return t + (v >= kPowersOfTen[t] ? 1 : 0);
}

inline uint32_t Magnitude(int32_t v) {
    return static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : static_cast<int64_t>(v));
}

inline int IntegerLength(int32_t v) { return DigitCount(Magnitude(v)) + (v < 0 ? 1 : 0); }

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal text of v so that it ends just before `end`, two
// digits at a time.
inline void WriteInteger(int32_t v, char *end, char minus) {
    uint32_t u = Magnitude(v);
    while (u >= 100) {
        const uint32_t rest = u % 100;
        u /= 100;
        end -= 2;
        memcpy(end, kDigitPairs + 2 * rest, 2);
    }
    if (u >= 10) {
        end -= 2;
        memcpy(end, kDigitPairs + 2 * u, 2);
    } else {
        *--end = static_cast<char>('0' + u);
    }
    if (v < 0) *--end = minus;
}

int IntegerText(int32_t v, char *buffer, char minus) {
    const int n = IntegerLength(v);
    WriteInteger(v, buffer + n, minus);
    return n;
}

// Drops the "+" after the exponent letter and the exponent's leading zeros
// (1E+10 becomes 1E10, 1E-05 becomes 1E-5); returns the new length.
int TidyExponent(char *text, int n) {
    char *e = static_cast<char *>(memchr(text, 'E', static_cast<size_t>(n)));
    if (!e) return n;
    char *from = e + 1;
    char *to = e + 1;
    if (*from == '+')
        ++from;
    else if (*from == '-')
        *to++ = *from++;
    while (from[0] == '0' && from[1] >= '0' && from[1] <= '9') ++from;
    const size_t tail = static_cast<size_t>(text + n - from);
    memmove(to, from, tail + 1);
    return static_cast<int>(to - text) + static_cast<int>(tail);
}

// The shortest text that reads back as exactly v: the fewest significant
// digits that do (at most 17), in plain or exponent notation, whichever is
// shorter (plain on a tie). The exponent is tidied by the caller.
int ShortestText(double v, char *buffer) {
    int digits = 1;
    for (; digits < 17; ++digits) {
        snprintf(buffer, kTextBuffer, "%.*E", digits - 1, v);
        if (strtod(buffer, nullptr) == v) break;
    }
    char exponentForm[64];
    const int exponentLength = snprintf(exponentForm, sizeof exponentForm, "%.*E", digits - 1, v);
    const int exponent = atoi(strchr(exponentForm, 'E') + 1);
    const int decimals = digits - 1 - exponent > 0 ? digits - 1 - exponent : 0;
    const int plainLength = snprintf(buffer, kTextBuffer, "%.*f", decimals, v);
    if (plainLength <= TidyExponent(exponentForm, exponentLength)) return plainLength;
    memcpy(buffer, exponentForm, sizeof exponentForm);
    return static_cast<int>(strlen(buffer));
}

// printf's "%.*G" of v: std::to_chars in its general form is defined to give
// the same digits as "%.*g", several times faster (every REAL is converted
// twice, once to measure its column and once to place it).
int GeneralText(double v, int precision, char *buffer) {
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + kTextBuffer - 1, v, std::chars_format::general, precision);
    if (r.ec != std::errc()) return snprintf(buffer, kTextBuffer, "%.*G", precision, v);
    *r.ptr = 0;
    const int n = static_cast<int>(r.ptr - buffer);
    if (char *e = static_cast<char *>(memchr(buffer, 'e', static_cast<size_t>(n)))) *e = 'E';
    return n;
}

// The text of a REAL value into buffer (kTextBuffer bytes): its length, or
// -1 with DOMAIN when it does not fit the specified width.
int RealText(double v, const TextRules &rules, char *buffer) {
    if (v == 0) v = 0;  // a negative zero is shown as 0
    int n;
    if (!rules.spec) {
        n = rules.precision > 0 ? GeneralText(v, rules.precision, buffer) : ShortestText(v, buffer);
        n = TidyExponent(buffer, n);
    } else {
        const FormatSpec &spec = *rules.spec;
        n = snprintf(buffer, kTextBuffer, "%*.*f", spec.width, spec.precision, v);
        if (spec.width > 0 && n > spec.width) {
            // One position too many is forgiven for a fraction: 0.50 becomes .50.
            char *zero = strstr(buffer, "0.");
            if (n != spec.width + 1 || !(std::fabs(v) < 1) || !zero) {
                SetError(APL_ERR_DOMAIN);
                return -1;
            }
            memmove(zero, zero + 1, strlen(zero));
            --n;
        }
    }
    for (int i = 0; i < n; ++i)
        if (buffer[i] == '-') buffer[i] = rules.minus;
    return n;
}

inline double RealAt(const void *data, int64_t i) {
    double v;  // static arrays are only 4-byte aligned
    memcpy(&v, static_cast<const char *>(data) + 8 * i, sizeof v);
    return v;
}

// ---- Sources: how a layout reads the elements of what it lays out -----------------
// measure(i, row, column) is the length of the text of element i (-1: error set);
// write(i, row, column, end) places that text so that it ends just before end;
// put(i, row, column, start) places it from start on and returns its length;
// numeric(i) tells whether the element is a number (its column gets a gap).

template <class T>
struct DenseIntegers {
    static constexpr bool kNumeric = true;
    const T *data;
    char minus;
    int measure(int64_t i, int64_t, int32_t) const { return IntegerLength(data[i]); }
    void write(int64_t i, int64_t, int32_t, char *end) const { WriteInteger(data[i], end, minus); }
    int put(int64_t i, int64_t, int32_t, char *start) const {
        const int n = IntegerLength(data[i]);
        WriteInteger(data[i], start + n, minus);
        return n;
    }
    bool numeric(int64_t) const { return true; }
};

struct BoolBits {
    static constexpr bool kNumeric = true;
    const uint32_t *words;
    int64_t wordsPerRow;  // rows start on a fresh word
    int measure(int64_t, int64_t, int32_t) const { return 1; }
    void write(int64_t, int64_t row, int32_t column, char *end) const {
        const uint32_t word = words[row * wordsPerRow + column / 32];
        end[-1] = static_cast<char>('0' + ((word >> (column % 32)) & 1u));
    }
    int put(int64_t i, int64_t row, int32_t column, char *start) const {
        write(i, row, column, start + 1);
        return 1;
    }
    bool numeric(int64_t) const { return true; }
};

struct Chars {
    static constexpr bool kNumeric = false;
    const char *data;
    int measure(int64_t, int64_t, int32_t) const { return 1; }
    void write(int64_t i, int64_t, int32_t, char *end) const { end[-1] = data[i]; }
    int put(int64_t i, int64_t, int32_t, char *start) const {
        *start = data[i];
        return 1;
    }
    bool numeric(int64_t) const { return false; }
};

// REAL texts are produced twice, once to measure and once to place, in one
// reused buffer: no text store that grows with the argument.
struct Reals {
    static constexpr bool kNumeric = true;
    const void *data;
    const TextRules &rules;
    char buffer[kTextBuffer];
    int measure(int64_t i, int64_t, int32_t) { return RealText(RealAt(data, i), rules, buffer); }
    void write(int64_t i, int64_t, int32_t, char *end) {
        const int n = RealText(RealAt(data, i), rules, buffer);
        if (n > 0) memcpy(end - n, buffer, static_cast<size_t>(n));
    }
    int put(int64_t i, int64_t, int32_t, char *start) {
        const int n = RealText(RealAt(data, i), rules, buffer);
        if (n > 0) memcpy(start, buffer, static_cast<size_t>(n));
        return n > 0 ? n : 0;
    }
    bool numeric(int64_t) const { return true; }
};

// A nested array whose items are all simple scalars: each by its own type.
struct ScalarItems {
    static constexpr bool kNumeric = false;
    aplarray *const *items;
    const TextRules &rules;
    char buffer[kTextBuffer];
    int text(int64_t i) {
        const aplarray *item = items[i];
        switch (item->eltype) {
            case APL_CHAR: buffer[0] = *DataOf<const char>(item); return 1;
            case APL_INTG: return IntegerText(*DataOf<const int32_t>(item), buffer, rules.minus);
            case APL_SHORT: return IntegerText(*DataOf<const int16_t>(item), buffer, rules.minus);
            case APL_BOOL:
                return IntegerText(static_cast<int32_t>(*DataOf<const uint32_t>(item) & 1u), buffer, rules.minus);
            case APL_REAL: return RealText(RealAt(DataOf(item), 0), rules, buffer);
            default: SetError(APL_ERR_DOMAIN); return -1;
        }
    }
    int measure(int64_t i, int64_t, int32_t) { return text(i); }
    void write(int64_t i, int64_t, int32_t, char *end) {
        const int n = text(i);
        if (n > 0) memcpy(end - n, buffer, static_cast<size_t>(n));
    }
    int put(int64_t i, int64_t, int32_t, char *start) {
        const int n = text(i);
        if (n > 0) memcpy(start, buffer, static_cast<size_t>(n));
        return n > 0 ? n : 0;
    }
    bool numeric(int64_t i) const { return items[i]->eltype != APL_CHAR; }
};

// The product of the axes before the last (1 for a scalar or vector), as a
// double so that no axis product can wrap.
double LeadingProduct(const aplarray *a) {
    double product = 1;
    for (int i = 0; i + 1 < a->rank; ++i) product *= a->shape[i];
    return product;
}

// A new blank-filled CHAR array, or null with WS FULL when it would not fit
// the 32-bit element count.
aplarray *BlankArray(int rank, const int32_t *shape) {
    double count = 1;
    for (int i = 0; i < rank; ++i) count *= shape[i];
    if (count > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_CHAR, shape, HERE);
    if (result) memset(DataOf(result), ' ', static_cast<size_t>(result->number));
    return result;
}

// An array without elements: every column is empty, so the row length is
// just the gaps (one before every numeric column but the first). Nothing is
// allocated per column, however long the last axis.
aplarray *EmptyLayout(const aplarray *value, bool numeric) {
    int32_t shape[kMaxRank];
    if (value->rank) memcpy(shape, value->shape, 4 * static_cast<size_t>(value->rank));
    const int32_t columns = RowLength(value);
    if (value->rank) shape[value->rank - 1] = numeric && columns > 1 ? columns - 1 : 0;
    return BlankArray(value->rank, shape);
}

// The result of a layout: the shape of the value with the last axis
// replaced by the row length; a character scalar stays a scalar, a number
// becomes a vector. Blank-filled; null with the error set.
aplarray *LayoutResult(const aplarray *value, int64_t rowLength, bool characterScalar) {
    if (rowLength > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const int rank = value->rank;
    int32_t shape[kMaxRank];
    if (rank) memcpy(shape, value->shape, 4 * static_cast<size_t>(rank));
    if (rank == 0) {
        shape[0] = static_cast<int32_t>(rowLength);
        return BlankArray(characterScalar ? 0 : 1, shape);
    }
    shape[rank - 1] = static_cast<int32_t>(rowLength);
    return BlankArray(rank, shape);
}

// One row (a vector or scalar): every column holds one text, so no widths
// are kept; a first pass adds up the lengths, a second writes the texts
// left to right into the one result.
template <class Source>
aplarray *LayOutRow(const aplarray *value, Source &source) {
    const int32_t columns = RowLength(value);
    auto gap = [&](int32_t j) { return j > 0 && (Source::kNumeric || source.numeric(j)) ? 1 : 0; };
    int64_t rowLength = 0;
    for (int32_t j = 0; j < columns; ++j) {
        const int n = InterruptAt(j) ? -1 : source.measure(j, 0, j);
        if (n < 0) return nullptr;
        rowLength += gap(j) + n;
    }
    aplarray *result = LayoutResult(value, rowLength, !source.numeric(0));
    if (!result) return nullptr;
    char *at = DataOf<char>(result);
    for (int32_t j = 0; j < columns; ++j) {
        if (InterruptAt(j)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        at += gap(j);
        at += source.put(j, 0, j, at);
    }
    return result;
}

// Lays the element texts out in columns: a first pass measures the column
// widths, a second writes every text right-aligned into the one result.
template <class Source>
aplarray *LayOut(const aplarray *value, Source &source) {
    const int32_t columns = RowLength(value) > 0 ? RowLength(value) : 1;
    const int64_t rows = ElementCount(value) / columns;
    if (rows == 0) return EmptyLayout(value, Source::kNumeric);
    if (rows == 1) return LayOutRow(value, source);
    ScratchBlock<int32_t> widths;
    ScratchBlock<uint8_t> gaps;
    if (!widths.AllocateZeroed(columns) || !gaps.AllocateZeroed(columns)) return nullptr;
    if (Source::kNumeric) memset(&gaps[0], 1, static_cast<size_t>(columns));
    for (int64_t r = 0, i = 0; r < rows; ++r) {
        for (int32_t j = 0; j < columns; ++j, ++i) {
            const int n = InterruptAt(i) ? -1 : source.measure(i, r, j);
            if (n < 0) return nullptr;
            if (n > widths[j]) widths[j] = n;
            if (!Source::kNumeric && source.numeric(i)) gaps[j] = 1;
        }
    }
    gaps[0] = 0;
    int64_t rowLength = 0;
    for (int32_t j = 0; j < columns; ++j) rowLength += gaps[j] + widths[j];
    aplarray *result = LayoutResult(value, rowLength, false);
    if (!result) return nullptr;
    char *out = DataOf<char>(result);
    for (int64_t r = 0, i = 0; r < rows; ++r) {
        char *edge = out + r * rowLength;
        for (int32_t j = 0; j < columns; ++j, ++i) {
            if (InterruptAt(i)) {
                APL_UnLinkTempEx(result, HERE);
                return nullptr;
            }
            edge += gaps[j] + widths[j];
            source.write(i, r, j, edge);
        }
    }
    return result;
}

// Character data in keyword mode: each row (along the last axis) in its
// keyword spelling, the rows padded with blanks to the longest.
aplarray *KeywordRows(const aplarray *value, KeywordSpeller spell) {
    const auto *codes = DataOf<const uint8_t>(value);
    if (value->rank <= 1) return spell(codes, value->number);
    const int32_t length = RowLength(value);
    if (length == 0 || value->number == 0) return CopyArray(value, HERE);
    const int64_t rows = value->number / length;
    ScratchBlock<aplarray *> spelt;
    if (!spelt.AllocateZeroed(rows)) return nullptr;
    struct Release {
        ScratchBlock<aplarray *> &rows;
        int64_t count;
        ~Release() {
            for (int64_t r = 0; r < count; ++r) APL_UnLinkTempEx(rows[r], HERE);
        }
    } release{spelt, rows};
    int32_t longest = 0;
    StrideClock clock;
    for (int64_t r = 0; r < rows; ++r) {
        if (clock.passed(r * length)) return nullptr;
        spelt[r] = spell(codes + r * length, length);
        if (!spelt[r]) return nullptr;
        if (spelt[r]->number > longest) longest = spelt[r]->number;
    }
    int32_t shape[kMaxRank];
    memcpy(shape, value->shape, 4 * static_cast<size_t>(value->rank));
    shape[value->rank - 1] = longest;
    aplarray *result = BlankArray(value->rank, shape);
    if (!result) return nullptr;
    for (int64_t r = 0; r < rows; ++r)
        memcpy(DataOf<char>(result) + r * longest, DataOf(spelt[r]), static_cast<size_t>(spelt[r]->number));
    return result;
}

bool IsScalarItemList(const aplarray *value) {
    if (value->number == 0) return false;
    aplarray *const *items = ItemsOf(value);
    for (int32_t i = 0; i < value->number; ++i)
        if (!items[i] || IsNested(items[i]) || items[i]->rank != 0) return false;
    return true;
}

aplarray *FormatAny(const aplarray *value, const TextRules &rules, int depth);

// Blank rows in front of plane p of an array whose axes before the last two
// are lead[0 .. nLead-1]: one for the plane axis, one more for each outer
// axis that completes there.
int BoundaryBlanks(const int32_t *lead, int nLead, int64_t p) {
    if (p == 0) return 0;
    int blanks = 1;
    int64_t stride = 1;
    for (int a = nLead - 1; a > 0; --a) {
        stride *= lead[a];
        if (p % stride != 0) break;
        ++blanks;
    }
    return blanks;
}

// A CHAR array of rank 3 or more as a matrix: its planes one below the
// other with blank rows between them. The argument is only read.
aplarray *StackPlanes(const aplarray *text) {
    const int rank = text->rank;
    const int nLead = rank - 2;
    const int32_t height = text->shape[rank - 2];
    const int32_t width = text->shape[rank - 1];
    double planes = 1;
    for (int a = 0; a < nLead; ++a) planes *= text->shape[a];
    // Every plane but the first brings at least one blank row.
    if (planes * (height + 1.0) > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const auto planeCount = static_cast<int64_t>(planes);
    int64_t rows = planeCount * height;
    if (planeCount > 0) {
        // Axis a completes planes / stride - 1 times inside the array.
        int64_t stride = 1;
        for (int a = nLead - 1; a >= 0; --a) {
            rows += planeCount / stride - 1;
            stride *= text->shape[a];
        }
    }
    if (rows > INT32_MAX) {  // axes of length 1 each add a blank row at every plane
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const int32_t shape[2] = {static_cast<int32_t>(rows), width};
    aplarray *result = BlankArray(2, shape);
    if (!result || result->number == 0) return result;
    const char *from = DataOf<const char>(text);
    char *to = DataOf<char>(result);
    const size_t planeBytes = static_cast<size_t>(height) * static_cast<size_t>(width);
    int64_t row = 0;
    for (int64_t p = 0; p < planeCount; ++p) {
        row += BoundaryBlanks(text->shape, nLead, p);
        memcpy(to + row * width, from + p * static_cast<int64_t>(planeBytes), planeBytes);
        row += height;
    }
    return result;
}

// The layout of a nested array: the items' texts in a grid of cells, each
// placed at the top left of its cell, with gaps that grow with the ranks.
aplarray *FormatNested(const aplarray *value, const TextRules &rules, int depth) {
    const int rank = value->rank;
    const int32_t columns = RowLength(value);
    const double gridRowsExact = LeadingProduct(value);
    if (gridRowsExact > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const auto gridRows = static_cast<int64_t>(gridRowsExact);
    const int64_t count = value->number;
    aplarray *const *items = ItemsOf(value);
    if (count == 0) {
        // No items to measure: blank rows (one per row of the grid when the
        // last axis is empty), one blank gap and the trailing blank column.
        const int32_t shape[2] = {columns == 0 ? static_cast<int32_t>(gridRows) : 0, columns == 0 ? 1 : 2};
        return shape[0] == 1 ? BlankArray(1, shape + 1) : BlankArray(2, shape);
    }

    ScratchBlock<aplarray *> texts;
    if (!texts.AllocateZeroed(count)) return nullptr;
    struct Release {
        ScratchBlock<aplarray *> &texts;
        int64_t count;
        ~Release() {
            for (int64_t i = 0; i < count; ++i) APL_UnLinkTempEx(texts[i], HERE);
        }
    } release{texts, count};
    ScratchBlock<int64_t> widths, heights, gaps, blanks;
    if (!widths.AllocateZeroed(columns) || !gaps.AllocateZeroed(columns) || !heights.AllocateZeroed(gridRows) ||
        !blanks.AllocateZeroed(gridRows))
        return nullptr;

    // k of an item: its rank, plus one unless it is character data.
    auto kOf = [&](int64_t i) -> int64_t {
        const aplarray *item = items[i];
        if (!item) return 1;  // shown as the text "null_pointer!"
        return item->rank + (!IsNested(item) && item->eltype == APL_CHAR ? 0 : 1);
    };
    auto rankOf = [&](int64_t i) -> int64_t { return items[i] ? items[i]->rank : 1; };

    // A character vector or matrix is its own text (the pictures of DISPLAY
    // are such items): it is placed from where it lies, never copied first.
    auto ownText = [&](const aplarray *item) {
        return item && !IsNested(item) && item->eltype == APL_CHAR && !rules.speller && item->rank >= 1 &&
               item->rank <= 2 && item->number > 0;
    };
    for (int64_t i = 0; i < count; ++i) {
        if (ownText(items[i])) {
            texts[i] = items[i];  // borrowed: releasing a linked item does nothing
            continue;
        }
        aplarray *text = InterruptAt(i) ? nullptr : FormatAny(items[i], rules, depth + 1);
        if (text && text->rank > 2) {
            aplarray *stacked = StackPlanes(text);
            APL_UnLinkTempEx(text, HERE);
            text = stacked;
        }
        if (!text) return nullptr;
        texts[i] = text;
    }

    for (int64_t r = 0; r < gridRows; ++r) {
        heights[r] = columns == 0 ? 1 : 0;
        for (int32_t j = 0; j < columns; ++j) {
            const aplarray *text = texts[r * columns + j];
            const int64_t h = text->rank <= 1 ? 1 : text->shape[0];
            const int64_t w = text->rank == 0 ? 1 : text->shape[text->rank - 1];
            if (h > heights[r]) heights[r] = h;
            if (w > widths[j]) widths[j] = w;
            if (j > 0) {
                const int64_t k = std::max(kOf(r * columns + j), kOf(r * columns + j - 1));
                if (k > gaps[j]) gaps[j] = k;
            }
            if (r + 1 < gridRows && rankOf(r * columns + j) - 1 > blanks[r + 1])
                blanks[r + 1] = rankOf(r * columns + j) - 1;
        }
    }
    if (columns > 0) gaps[0] = 1;
    if (rank >= 3) {
        const int32_t planeRows = value->shape[rank - 2];
        for (int64_t r = 1; planeRows > 0 && r < gridRows; ++r)
            if (r % planeRows == 0) blanks[r] += BoundaryBlanks(value->shape, rank - 2, r / planeRows);
    }

    int64_t rowLength = 1;  // the trailing blank column
    for (int32_t j = 0; j < columns; ++j) rowLength += gaps[j] + widths[j];
    int64_t totalRows = 0;
    for (int64_t r = 0; r < gridRows; ++r) totalRows += blanks[r] + heights[r];
    if (rowLength > INT32_MAX || totalRows > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const int32_t shape[2] = {static_cast<int32_t>(totalRows), static_cast<int32_t>(rowLength)};
    aplarray *result = totalRows == 1 ? BlankArray(1, shape + 1) : BlankArray(2, shape);
    if (!result) return nullptr;
    char *out = DataOf<char>(result);
    int64_t top = 0;
    for (int64_t r = 0; r < gridRows; ++r) {
        top += blanks[r];
        int64_t left = 0;
        for (int32_t j = 0; j < columns; ++j) {
            left += gaps[j];
            const aplarray *text = texts[r * columns + j];
            const int64_t h = text->rank <= 1 ? 1 : text->shape[0];
            const int64_t w = text->rank == 0 ? 1 : text->shape[text->rank - 1];
            for (int64_t y = 0; y < h && w > 0; ++y)
                memcpy(out + (top + y) * rowLength + left, DataOf<const char>(text) + y * w, static_cast<size_t>(w));
            left += widths[j];
        }
        top += heights[r];
    }
    return result;
}

aplarray *FormatAny(const aplarray *value, const TextRules &rules, int depth) {
    if (!value) return MakeString("null_pointer!");
    if (depth > kMaxFormatDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    if (value->rank > kMaxRank) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    switch (value->eltype) {
        case APL_NESTED:
            if (IsScalarItemList(value)) {
                ScalarItems source{ItemsOf(value), rules, {}};
                return LayOut(value, source);
            }
            return FormatNested(value, rules, depth);
        case APL_CHAR: {
            if (rules.speller) return KeywordRows(value, rules.speller);
            Chars source{DataOf<const char>(value)};
            return LayOut(value, source);
        }
        case APL_INTG: {
            DenseIntegers<int32_t> source{DataOf<const int32_t>(value), rules.minus};
            return LayOut(value, source);
        }
        case APL_SHORT: {
            DenseIntegers<int16_t> source{DataOf<const int16_t>(value), rules.minus};
            return LayOut(value, source);
        }
        case APL_BOOL: {
            BoolBits source{DataOf<const uint32_t>(value), (RowLength(value) + 31) / 32};
            return LayOut(value, source);
        }
        case APL_REAL: {
            Reals source{DataOf(value), rules, {}};
            return LayOut(value, source);
        }
        default: SetError(APL_ERR_DOMAIN); return nullptr;
    }
}

// Reads the left argument of dyadic format into a field layout; false with
// the error set.
bool ReadSpecification(aplarray *left, FormatSpec *spec) {
    if (left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return false;
    }
    if (left->eltype == APL_CHAR) {
        SetErrorText(APL_ERR_NONCE, "Format by example not yet available");
        return false;
    }
    if (left->number == 0) {
        SetError(APL_ERR_LENGTH);
        return false;
    }
    if (left->number >= 3) {
        SetErrorText(APL_ERR_NONCE, "Extended Format by specification not yet available");
        return false;
    }
    if (IsNested(left)) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    int32_t *values = nullptr;
    const bool owned = IntegerData(left, &values);
    if (!values) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return false;
    }
    *spec = left->number == 1 ? FormatSpec{0, values[0]} : FormatSpec{values[0], values[1]};
    if (owned) FreeBlock(values, HERE);
    if (spec->width < 0 || spec->precision < 0 || spec->width > kMaxFormatField || spec->precision > kMaxFormatField) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    return true;
}

}  // namespace

bool KeywordModeOn() {
    if (!IsSymbol(sys_MODE_idx)) return false;
    return (static_cast<int64_t>(FirstNumber(APL_Variable(sys_MODE_idx), 0)) & 1) != 0;
}

aplarray *FormatArray(const aplarray *value, const FormatSpec *spec, KeywordSpeller speller) {
    const TextRules rules = RulesFor(spec, speller);
    return FormatAny(value, rules, 0);
}

aplarray *FormatExact(const aplarray *value) {
    TextRules rules = RulesFor(nullptr, nullptr);
    rules.precision = 0;  // the shortest text that reads back, whatever PP says
    return FormatAny(value, rules, 0);
}

aplarray *FormatMatrix(const aplarray *value, KeywordSpeller speller) {
    aplarray *text = FormatArray(value, nullptr, speller);
    if (!text || text->rank == 2) return text;
    TempGuard guard(text);
    // Leading axes multiplied together give the rows, as the printer takes any
    // character array: simple planes follow each other without blank rows.
    int64_t rows = 1;
    for (int i = 0; i + 1 < text->rank; ++i) rows *= text->shape[i];
    if (rows > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const int32_t shape[2] = {text->rank <= 1 ? 1 : static_cast<int32_t>(rows),
                              text->rank == 0 ? 1 : text->shape[text->rank - 1]};
    aplarray *matrix = AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_CHAR, shape, HERE);
    if (matrix) memcpy(DataOf(matrix), DataOf(text), static_cast<size_t>(matrix->number));
    return matrix;
}

// Returns a temporary CHAR array. Consumes temporary arguments; linked ones
// are left as they were. The axis is accepted and ignored.
extern "C" aplarray *APL_Format(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL and SHORT specifications arrive as INTG.
    constexpr Signature kSignature{Optional(kAnyType), Optional(APL_CHAR | APL_INTG | APL_REAL | APL_NESTED),
                                   Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        FormatSpec spec{};
        if (args.left && !ReadSpecification(args.left, &spec)) return nullptr;
        // Results of format always carry the high minus, whatever MODE says.
        return FormatArray(args.right, args.left ? &spec : nullptr, nullptr);
    });
}
