// find: the primitive ⍷, the structure with zeros and blanks (monadic) and the
// occurrences of a pattern in an array (dyadic, the pattern's axes aligned
// with the last axes of the array). Relies on the array core, the standard
// wrapper, prototype (rho.h) and MatchArrays.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/nested.h"
#include "structural/rho.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// ---- Comparing one pattern element with one element of the array -------------------

// Element i of a simple array as a number (items of nested arrays may still be
// BOOL or SHORT, whose rows are packed).
double NumberAt(const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_INTG: return DataOf<const int32_t>(a)[i];
        case APL_REAL: return DataOf<const double>(a)[i];
        case APL_SHORT: return DataOf<const int16_t>(a)[i];
        case APL_CHAR: return DataOf<const uint8_t>(a)[i];
        default: {
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            return (DataOf<const uint32_t>(a)[(i / row) * words + (i % row) / 32] >> ((i % row) % 32)) & 1u;
        }
    }
}

// Element i of simple `a` against element j of simple `b`: characters only
// equal characters, numbers compare exactly unless a REAL is involved.
bool SimpleEqual(const aplarray *a, int64_t i, const aplarray *b, int64_t j, double ct) {
    const bool charA = a->eltype == APL_CHAR, charB = b->eltype == APL_CHAR;
    if (charA != charB) return false;
    const double x = NumberAt(a, i), y = NumberAt(b, j);
    if (x == y) return true;
    return !charA && (a->eltype == APL_REAL || b->eltype == APL_REAL) && TolerantlyEqual(x, y, ct);
}

// An item of a nested array against element j of a simple one: the match of
// the item with the scalar of that element, so only a simple scalar item can
// be equal.
bool ItemEqualsElement(const aplarray *item, const aplarray *simple, int64_t j, double ct) {
    return item && !IsNested(item) && item->rank == 0 && SimpleEqual(item, 0, simple, j, ct);
}

// ---- Where the pattern can stand ---------------------------------------------------

// The pattern's shape aligned with the last axes of the array: the offsets of
// the pattern's elements (in its ravel order) from a start position, and the
// highest start coordinate each axis of the array allows.
struct Placement {
    std::vector<int64_t> offsets;
    std::vector<int64_t> lastStart;  // per axis of the array
    bool any = true;                 // false when no start position fits
};

Placement Place(const aplarray *pattern, const aplarray *array) {
    Placement p;
    const int rp = pattern->rank, ra = array->rank;
    p.lastStart.resize(static_cast<size_t>(ra));
    std::vector<int64_t> stride(static_cast<size_t>(ra) + 1, 1);
    for (int k = ra - 1; k >= 0; --k) stride[k] = stride[k + 1] * array->shape[k];
    for (int k = 0; k < ra; ++k) {
        const int q = k - (ra - rp);  // the pattern's axis aligned with k
        const int64_t length = q >= 0 ? pattern->shape[q] : 1;
        p.lastStart[k] = array->shape[k] - length;
        p.any = p.any && p.lastStart[k] >= 0;
    }
    if (!p.any) return p;
    // Offsets by an odometer over the pattern's axes.
    const int64_t n = ElementCount(pattern);
    p.offsets.resize(static_cast<size_t>(n));
    std::vector<int32_t> at(static_cast<size_t>(rp), 0);
    int64_t offset = 0;
    for (int64_t j = 0; j < n; ++j) {
        p.offsets[static_cast<size_t>(j)] = offset;
        for (int q = rp - 1; q >= 0; --q) {
            const int k = q + (ra - rp);
            if (++at[q] < pattern->shape[q]) {
                offset += stride[k + 1];
                break;
            }
            at[q] = 0;
            offset -= (pattern->shape[q] - 1) * stride[k + 1];
        }
    }
    return p;
}

// A pattern of m elements in a vector (or scalar) of n, m <= n.
Placement PlaceAlong(int64_t m, int64_t n, int arrayRank) {
    Placement p;
    p.offsets.resize(static_cast<size_t>(m));
    for (int64_t j = 0; j < m; ++j) p.offsets[static_cast<size_t>(j)] = j;
    if (arrayRank == 1) p.lastStart.push_back(n - m);
    return p;
}

// Marks in `out` (all zero on entry) every start position of the array where
// same(j, at) holds for each pattern element j at array position at.
// False with the error set (INTERRUPT, or whatever `same` set by returning -1).
template <class Same>
bool MarkOccurrences(const aplarray *array, const Placement &p, int32_t *out, Same same) {
    const int ra = array->rank;
    const int64_t n = ElementCount(array), m = static_cast<int64_t>(p.offsets.size());
    std::vector<int32_t> at(static_cast<size_t>(ra), 0);
    StrideClock clock;
    int64_t work = 0;
    for (int64_t i = 0; i < n; ++i) {
        bool fits = true;
        for (int k = 0; k < ra && fits; ++k) fits = at[k] <= p.lastStart[k];
        if (fits) {
            int result = 1;
            for (int64_t j = 0; j < m && result == 1; ++j) result = same(j, i + p.offsets[static_cast<size_t>(j)]);
            if (result < 0) return false;
            out[i] = result;
            work += m;
        }
        for (int k = ra - 1; k >= 0 && ++at[k] == array->shape[k]; --k) at[k] = 0;
        if (clock.passed(work + i)) return false;
    }
    return true;
}

// Character patterns up to this length are found by memchr and memcmp.
constexpr int64_t kShortCharPattern = 32;

// A character pattern in a character vector: candidates found by memchr on
// the pattern's first character, then compared whole. False (INTERRUPT set)
// when the host asked to stop.
bool FindChars(const uint8_t *pattern, int64_t m, const uint8_t *text, int64_t n, int32_t *out) {
    return ForEachStride(n - m + 1, [&](int64_t begin, int64_t end) {
        const uint8_t *at = text + begin, *stop = text + end;
        while (at < stop) {
            at = static_cast<const uint8_t *>(memchr(at, pattern[0], static_cast<size_t>(stop - at)));
            if (!at) return;
            if (memcmp(at + 1, pattern + 1, static_cast<size_t>(m - 1)) == 0) out[at - text] = 1;
            ++at;
        }
    });
}

// ---- Exact vector patterns: Knuth-Morris-Pratt ------------------------------------

// Failure links: fail[j] is the length of the longest proper prefix of
// pattern[0..j] that is also a suffix of it. They are sound only where
// equality is transitive (characters, integers), not under a tolerance.
template <class T>
std::vector<int64_t> FailureLinks(const T *pattern, int64_t m) {
    std::vector<int64_t> fail(static_cast<size_t>(m), 0);
    for (int64_t j = 1, k = 0; j < m; ++j) {
        while (k > 0 && pattern[j] != pattern[k]) k = fail[static_cast<size_t>(k - 1)];
        if (pattern[j] == pattern[k]) ++k;
        fail[static_cast<size_t>(j)] = k;
    }
    return fail;
}

// Marks the start of every occurrence of a vector pattern of m elements in
// each row (along the last axis) of the text, in one pass over the text
// whatever the pattern: the pattern's own repeats say how far a partial match
// falls back. False (INTERRUPT set) when the host asks to stop.
template <class T>
bool MarkAlongRows(const T *pattern, int64_t m, const T *text, int64_t n, int64_t rowLength, int32_t *out) {
    const std::vector<int64_t> fail = FailureLinks(pattern, m);
    int64_t matched = 0, column = 0;
    return ForEachStride(n, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            if (column == rowLength) column = 0, matched = 0;
            ++column;
            while (matched > 0 && text[i] != pattern[matched]) matched = fail[static_cast<size_t>(matched - 1)];
            if (text[i] == pattern[matched] && ++matched == m) {
                out[i - m + 1] = 1;
                matched = fail[static_cast<size_t>(m - 1)];
            }
        }
    });
}

// A vector (or scalar) pattern along the rows of an array of the same exact
// type. Characters of short patterns go by memchr, whose worst case is a
// small multiple of the text. `handled` false when the types are others.
bool FindAlongRows(const aplarray *pattern, const aplarray *array, int32_t *out, bool &handled) {
    const int64_t m = ElementCount(pattern), n = ElementCount(array);
    const int64_t rowLength = array->rank == 0 ? 1 : array->shape[array->rank - 1];
    handled = true;
    if (pattern->eltype == APL_CHAR && array->eltype == APL_CHAR) {
        const uint8_t *p = DataOf<const uint8_t>(pattern), *t = DataOf<const uint8_t>(array);
        if (m <= kShortCharPattern && array->rank <= 1) return FindChars(p, m, t, n, out);
        return MarkAlongRows(p, m, t, n, rowLength, out);
    }
    if (pattern->eltype == APL_INTG && array->eltype == APL_INTG)
        return MarkAlongRows(DataOf<const int32_t>(pattern), m, DataOf<const int32_t>(array), n, rowLength, out);
    handled = false;
    return true;
}

// The comparison for the types of the two arguments, then the marking.
bool Occurrences(const aplarray *pattern, const aplarray *array, const Placement &p, int32_t *out) {
    const double ct = ComparisonTolerance();
    const bool nestedP = IsNested(pattern), nestedA = IsNested(array);
    if (nestedP && nestedA) {
        aplarray *const *items = ItemsOf(pattern);
        aplarray *const *cells = ItemsOf(array);
        return MarkOccurrences(array, p, out, [&](int64_t j, int64_t i) { return MatchArrays(items[j], cells[i]); });
    }
    if (nestedP)
        return MarkOccurrences(array, p, out, [&](int64_t j, int64_t i) {
            return ItemEqualsElement(ItemsOf(pattern)[j], array, i, ct) ? 1 : 0;
        });
    if (nestedA)
        return MarkOccurrences(array, p, out, [&](int64_t j, int64_t i) {
            return ItemEqualsElement(ItemsOf(array)[i], pattern, j, ct) ? 1 : 0;
        });
    if ((pattern->eltype == APL_CHAR) != (array->eltype == APL_CHAR) && !p.offsets.empty()) return true;
    if (pattern->eltype == APL_INTG && array->eltype == APL_INTG) {
        const int32_t *x = DataOf<const int32_t>(pattern), *y = DataOf<const int32_t>(array);
        return MarkOccurrences(array, p, out, [&](int64_t j, int64_t i) { return x[j] == y[i] ? 1 : 0; });
    }
    if (pattern->eltype == APL_CHAR) {
        const uint8_t *x = DataOf<const uint8_t>(pattern), *y = DataOf<const uint8_t>(array);
        return MarkOccurrences(array, p, out, [&](int64_t j, int64_t i) { return x[j] == y[i] ? 1 : 0; });
    }
    return MarkOccurrences(array, p, out,
                           [&](int64_t j, int64_t i) { return SimpleEqual(pattern, j, array, i, ct) ? 1 : 0; });
}

// pattern ⍷ array: INTG of the array's shape. Returns a new temporary, or null
// with the error set; borrows both.
aplarray *Find(const aplarray *pattern, const aplarray *array) {
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, array->rank, APL_INTG, array->shape, HERE));
    if (!result.get()) return nullptr;
    int32_t *out = DataOf<int32_t>(result.get());
    const int64_t n = ElementCount(array), m = ElementCount(pattern);
    memset(out, 0, 4 * static_cast<size_t>(n));
    try {
        Placement p;
        if (pattern->rank <= 1 && m > 0 && m <= (array->rank == 0 ? 1 : array->shape[array->rank - 1])) {
            bool handled;
            const bool done = FindAlongRows(pattern, array, out, handled);
            if (handled) return done ? result.release() : nullptr;
        }
        if (pattern->rank <= 1 && array->rank <= 1) {
            // Vectors (a scalar counts as one element): an empty one finds nothing.
            if (m == 0 || n == 0 || m > n) return result.release();
            p = PlaceAlong(m, n, array->rank);
        } else {
            // A pattern with more axes than the array, or longer on some axis, is nowhere.
            if (pattern->rank > array->rank) return result.release();
            p = Place(pattern, array);
            if (!p.any) return result.release();
        }
        return Occurrences(pattern, array, p, out) ? result.release() : nullptr;
    } catch (const std::bad_alloc &) {
        return SetError(APL_ERR_WSFULL), nullptr;
    }
}

aplarray *FindKernel(CallArgs &args) {
    if (args.axis) return SetError(APL_ERR_AXIS), nullptr;
    if (!args.left) return prototype(args.right, kPrototypeWhole);
    return Find(args.left, args.right);
}

}  // namespace

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones
// are left as they were.
extern "C" aplarray *APL_Find(aplarray *axis, aplarray *left, aplarray *right) {
    // The dyadic form reads BOOL and SHORT arguments as INTG; the monadic
    // form keeps the argument's type.
    constexpr int kSearched = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
    if (!left) return StandardCall({Optional(kAnyType), kRefused, Required(kAnyType)}, axis, left, right, FindKernel);
    return StandardCall({Optional(kAnyType), Optional(kSearched), Required(kSearched)}, axis, left, right, FindKernel);
}
