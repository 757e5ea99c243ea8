// inner: the dyadic operator `.`: the outer product L ∘.g R (rows g¨ R, one per
// element of L, laminated) and the inner product L f.g R (f/ of g¨ on cells).
// Relies on each, the registered reduce, the call path and the array core.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "scalar/operands.h"
#include "scalar/reduce.h"
#include "scalar/scllib.h"
#include "scalar/sclloops.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kAdmitted = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

// g¨ through the each operator (the scalar-primitive shortcut included).
// Returns a temporary; consumes temporary arguments.
aplarray *EachOf(aplfnc *g, aplarray *gAxis, aplarray *left, aplarray *right) {
    aplfnc none{};
    return APL_Each(nullptr, left, g, gAxis, &none, nullptr, right);
}

// f/ along the last axis through the registered reduce operator.
aplarray *ReduceOf(aplfnc *f, aplarray *fAxis, aplarray *array) {
    aplfnc none{};
    const auto reduce = reinterpret_cast<aploperator>(PrimitiveOperator(glyph::kSlash));
    return reduce(nullptr, nullptr, f, fAxis, &none, nullptr, array);
}

// Element count of a shape in 64 bits.
int64_t CountOf(const int32_t *shape, int rank) {
    int64_t count = 1;
    for (int i = 0; i < rank; ++i) count *= shape[i];
    return count;
}

// Shape (⍴a),(⍴b) after dropping `dropA` axes from the end of a and `dropB`
// from the front of b. LIMIT when the rank would be too high, WS FULL when
// the elements would be too many, before anything is allocated.
bool JoinShapes(const aplarray *a, int dropA, const aplarray *b, int dropB, int32_t *shape, int *rank) {
    const int ra = a->rank > dropA ? a->rank - dropA : 0, rb = b->rank > dropB ? b->rank - dropB : 0;
    if (ra + rb > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return false;
    }
    for (int i = 0; i < ra; ++i) shape[i] = a->shape[i];
    for (int i = 0; i < rb; ++i) shape[ra + i] = b->shape[dropB + i];
    *rank = ra + rb;
    // Each part holds at most 2^31-1 elements, so the product fits in 64 bits.
    if (CountOf(shape, ra) * CountOf(shape + ra, rb) > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    return true;
}

// ---- Scalar primitives over blocks ----------------------------------------------
// With scalar primitive operands on simple arguments, the element routines of
// the scalar engine run over whole blocks of the result: no array and no call
// per element, and the same elements and types as the call-per-item paths.

// Result elements per routine call: the scratch block stays in the cache.
constexpr int64_t kBlock = 2048;
// Rows at least this long run one at a time against R itself: copying R into
// a block would cost more than the call saved.
constexpr int64_t kLongRow = 256;

// The engine member of a scalar primitive g that can run on these arguments as
// they are (simple, of types its routine takes unconverted: any other case
// goes the specified way and meets the engine's own checks), else null.
const ScalarMember *BlockMember(const aplfnc *g, const aplarray *gAxis, const aplarray *left, const aplarray *right) {
    if (gAxis || !IsScalarPrimitive(g, true) || IsNested(left) || IsNested(right)) return nullptr;
    const ScalarMember *m = ScalarMemberByCode(static_cast<uint8_t>(g->code));
    if (!m || !(left->eltype & m->mask) || !(right->eltype & m->mask)) return nullptr;
    // Boolean rows start on fresh words, which whole-row copies would not keep.
    return DyadicResultType(m->dyadicRule, left->eltype, right->eltype) == APL_BOOL ? nullptr : m;
}

aplarray *NewVector(int eltype, int64_t count) {
    const auto n = static_cast<int32_t>(count);
    return AllocArray(APL_SIMPLE | APL_TEMP, 1, eltype, &n, HERE);
}

// Elements first … first+count-1 of `from`, each written `times` times in a
// row into `to` (CHAR, INTG or REAL; REAL copied as bits).
template <class T>
void RepeatEachOf(T *to, const T *from, int64_t count, int64_t times) {
    for (int64_t k = 0; k < count; ++k) {
        const T v = from[k];
        std::fill(to + k * times, to + (k + 1) * times, v);
    }
}
void RepeatEach(aplarray *to, const aplarray *from, int64_t first, int64_t count, int64_t times) {
    switch (ElementSize(from->eltype)) {
        case 1: RepeatEachOf(DataOf<uint8_t>(to), DataOf<const uint8_t>(from) + first, count, times); break;
        case 4: RepeatEachOf(DataOf<uint32_t>(to), DataOf<const uint32_t>(from) + first, count, times); break;
        default: RepeatEachOf(DataOf<uint64_t>(to), DataOf<const uint64_t>(from) + first, count, times); break;
    }
}

// All of `from` written `times` times one after the other into `to`.
void Tile(aplarray *to, const aplarray *from, int64_t times) {
    const size_t bytes = ElementSize(from->eltype) * static_cast<size_t>(ElementCount(from));
    for (int64_t r = 0; r < times; ++r) memcpy(DataOf<char>(to) + bytes * static_cast<size_t>(r), DataOf(from), bytes);
}

// Scratch arrays held for one product, released on every way out.
struct Scratch {
    TempGuard left, right, block;
};

// Row i (i ≥ 1) of a simple result seen as a vector of its own, for a routine
// to fill in place. The vector's header is written over the bytes just before
// the row, which belong to row i-1: rows are filled from the last to the
// first, so those bytes hold nothing yet. Row 0 is not done this way, since
// the bytes before it are the result's own header.
class RowView {
public:
    RowView(aplarray *result, int64_t i, int32_t rowLength) {
        const size_t rowBytes = ElementSize(result->eltype) * static_cast<size_t>(rowLength);
        view_ = reinterpret_cast<aplarray *>(DataOf<char>(result) + rowBytes * static_cast<size_t>(i) - HeaderBytes());
        view_->size = static_cast<int32_t>(HeaderBytes() + rowBytes);
        view_->type = APL_SIMPLE;
        view_->rank = 1;
        view_->eltype = result->eltype;
        view_->pad = 0;
        view_->lnkcnt = 1;  // held: nothing may release it
        view_->number = rowLength;
        view_->shape[0] = rowLength;
    }
    aplarray *get() const { return view_; }
    // The bytes a vector's header takes before its data.
    static size_t HeaderBytes() {
        alignas(8) unsigned char probe[sizeof(aplarray) + sizeof(int32_t)] = {};
        auto *vector = reinterpret_cast<aplarray *>(probe);
        vector->rank = 1;
        return static_cast<size_t>(DataOf<char>(vector) - reinterpret_cast<char *>(vector));
    }

private:
    aplarray *view_;
};

// Members whose routines test the floating-point status only through
// NumericRoutine, which leaves it to a caller that holds it.
bool DefersFloatFaults(const ScalarMember &g) {
    switch (g.code) {
        case glyph::kPlus:
        case glyph::kMinus:
        case glyph::kTimes:
        case glyph::kDivide:
        case glyph::kUpStile:
        case glyph::kDownStile:
        case glyph::kStile: return true;
        default: return false;
    }
}

// L ∘.g R by blocks of whole rows. Rows shorter than a block run several at a
// time (L's elements repeated along them beside copies of R) into a scratch
// block copied into place. Longer rows run one at a time against R itself,
// with L's element as the single argument, each straight into its place in
// the result (the first through the scratch block). The floating-point
// status is cleared and tested once for the whole product where the routine
// allows. Borrows; returns a temporary or null.
aplarray *BlockOuter(const ScalarMember &g, const aplarray *left, const aplarray *right) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 0, right, 0, shape, &rank)) return nullptr;
    const int64_t n = ElementCount(left), rowLength = ElementCount(right);
    const int type = DyadicResultType(g.dyadicRule, left->eltype, right->eltype);
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, rank, type, shape, HERE));
    if (!result.get()) return nullptr;
    const size_t rowBytes = ElementSize(type) * static_cast<size_t>(rowLength);
    Scratch s;
    const HeldFloatFaults status(DefersFloatFaults(g));
    int64_t last = n;  // rows from here on are done
    if (rowLength >= kLongRow) {
        s.left.reset(NewVector(left->eltype, 1));
        if (!s.left.get()) return nullptr;
        for (; last > 1; --last) {
            RepeatEach(s.left.get(), left, last - 1, 1, 1);
            RowView row(result.get(), last - 1, static_cast<int32_t>(rowLength));
            if (!g.dyadic(row.get(), s.left.get(), right) || aplerrno || InterruptRequested()) return nullptr;
        }
    }
    const int64_t rowsPerBlock = rowLength >= kLongRow ? 1 : std::max<int64_t>(1, kBlock / rowLength);
    for (int64_t i = 0; i < last; i += rowsPerBlock) {
        const int64_t rows = std::min(rowsPerBlock, last - i);
        if (!s.block.get() || ElementCount(s.block.get()) != rows * rowLength) {
            // The first block, or a shorter last one.
            s.block.reset(NewVector(type, rows * rowLength));
            s.left.reset(NewVector(left->eltype, rows == 1 ? 1 : rows * rowLength));
            s.right.reset(rows == 1 ? nullptr : NewVector(right->eltype, rows * rowLength));
            if (!s.block.get() || !s.left.get() || (rows > 1 && !s.right.get())) return nullptr;
            if (rows > 1) Tile(s.right.get(), right, rows);
        }
        RepeatEach(s.left.get(), left, i, rows, rows == 1 ? 1 : rowLength);
        if (!g.dyadic(s.block.get(), s.left.get(), rows == 1 ? right : s.right.get()) || aplerrno) return nullptr;
        memcpy(DataOf<char>(result.get()) + rowBytes * static_cast<size_t>(i), DataOf(s.block.get()),
               rowBytes * static_cast<size_t>(rows));
        if (InterruptRequested()) return nullptr;
    }
    if (status.Faulted()) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result.release();
}

// L f.g R for scalar primitives f and g: for each row of L, g runs once over
// the whole of R (the row's elements repeated along R's rows), and f/ folds
// that block along its first axis, each result's vector from the right as f/
// folds it in L′[i] g¨ R′[j]. Borrows; returns a temporary or null.
// *declined (no error) when the folds come back in a form rows cannot hold.
aplarray *BlockInner(const ScalarMember &g, aplfnc *f, const aplarray *left, const aplarray *right, bool *declined) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 1, right, 1, shape, &rank)) return nullptr;
    const int64_t n = RowLength(left), rows = ElementCount(left) / n, cols = ElementCount(right) / n;
    const int type = DyadicResultType(g.dyadicRule, left->eltype, right->eltype);
    const int32_t blockShape[2] = {static_cast<int32_t>(n), static_cast<int32_t>(cols)};
    Scratch s;
    s.left.reset(NewVector(left->eltype, n * cols));
    s.block.reset(AllocArray(APL_SIMPLE | APL_TEMP, 2, type, blockShape, HERE));
    if (!s.left.get() || !s.block.get()) return nullptr;
    ++s.block.get()->lnkcnt;  // borrowed by reduce, never taken over
    TempGuard result;
    for (int64_t i = 0; i < rows; ++i) {
        RepeatEach(s.left.get(), left, i * n, n, cols);
        if (!g.dyadic(s.block.get(), s.left.get(), right) || aplerrno) break;
        TempGuard folded(ReduceAlongAxis(f, nullptr, s.block.get(), 0));
        if (!folded.get()) break;
        const aplarray *z = folded.get();
        if (IsNested(z) || z->eltype == APL_BOOL || ElementCount(z) != cols ||
            (result.get() && z->eltype != result.get()->eltype)) {
            *declined = true;
            break;
        }
        if (!result.get() &&
            !(result.reset(AllocArray(APL_SIMPLE | APL_TEMP, rank, z->eltype, shape, HERE)), result.get()))
            break;
        const size_t rowBytes = ElementSize(folded.get()->eltype) * static_cast<size_t>(cols);
        memcpy(DataOf<char>(result.get()) + rowBytes * static_cast<size_t>(i), DataOf(folded.get()), rowBytes);
        if (InterruptRequested()) break;
    }
    --s.block.get()->lnkcnt;
    return aplerrno || *declined ? nullptr : result.release();
}

// ---- Outer product -------------------------------------------------------------

// The element type that holds every row's elements, or APL_NESTED when they
// need items (a nested row, or characters with numbers).
int CommonType(const aplarray *rows, int64_t n) {
    int types = 0;
    for (int64_t i = 0; i < n; ++i) types |= ItemsOf(rows)[i]->eltype;
    if (types & APL_NESTED) return APL_NESTED;
    if (types == APL_CHAR || types == APL_BOOL) return types;
    if (types & APL_CHAR) return APL_NESTED;
    return (types & APL_REAL) ? APL_REAL : APL_INTG;
}

// Row i as items of a nested result: a nested row's items linked, a simple
// row's elements as new scalars. False on failure (WS FULL).
bool RowItems(const aplarray *row, aplarray **out) {
    const int64_t n = ElementCount(row);
    for (int64_t k = 0; k < n; ++k) {
        aplarray *item = IsNested(row) ? ItemsOf(row)[k] : ItemScalar(row, k);
        out[k] = item ? APL_LinkEx(item, HERE) : nullptr;
        if (!out[k]) {
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return false;
        }
    }
    return true;
}

// Copies a simple row into the result's data at row i, converted to its type
// (Booleans and short integers widen to INTG, and any number to REAL).
bool RowData(aplarray *row, aplarray *result, int64_t i) {
    aplarray *converted = row;
    if (row->eltype != result->eltype) {
        const bool real = result->eltype == APL_REAL;
        converted = ConvertType(row, real ? APL_INTG | APL_REAL : result->eltype);
        if (aplerrno) return false;
        if (real && converted->eltype == APL_INTG) converted = IntToReal(converted);
        if (!converted) return false;
    }
    const size_t bytes = static_cast<size_t>(converted->number) * ElementSize(converted->eltype);
    memcpy(DataOf<char>(result) + bytes * static_cast<size_t>(i), DataOf(converted), bytes);
    if (converted != row) APL_UnLinkTempEx(converted, HERE);
    return true;
}

// The rows (a nested array of L's shape whose items all have R's shape) as one
// array of shape (⍴L),(⍴R), as mix lays out equal-shaped items. Borrows rows.
aplarray *LaminateRows(const aplarray *rows, const aplarray *right) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(rows, 0, right, 0, shape, &rank)) return nullptr;
    const int64_t n = ElementCount(rows), rowLength = ElementCount(right);
    if (rowLength == 0) {
        const aplarray *first = ItemsOf(rows)[0];
        if (!IsNested(first)) return AllocArray(APL_SIMPLE | APL_TEMP, rank, first->eltype, shape, HERE);
        return EmptyOf(rank, shape, ItemsOf(first)[0]);
    }
    const int eltype = CommonType(rows, n);
    TempGuard result(
        AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, rank, eltype, shape, HERE));
    if (!result.get()) return nullptr;
    for (int64_t i = 0; i < n; ++i) {
        aplarray *row = ItemsOf(rows)[i];
        const bool ok =
            eltype == APL_NESTED ? RowItems(row, ItemsOf(result.get()) + i * rowLength) : RowData(row, result.get(), i);
        if (!ok) return nullptr;
    }
    return result.release();
}

// Shape (⍴L),(⍴R) with no elements: the type and prototype of L g¨ ↑R.
aplarray *EmptyOuter(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    aplarray *first = APL_Take(nullptr, nullptr, right);
    if (first && first->rank > 0) first = APL_Enclose(nullptr, nullptr, first);
    if (!first) return nullptr;
    TempGuard typical(EachOf(op.second, op.secondAxis, left, first));
    if (!typical.get()) {
        if (!aplerrno) SetError(APL_ERR_VALUE);
        return nullptr;
    }
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 0, right, 0, shape, &rank)) return nullptr;
    if (!IsNested(typical.get())) return AllocArray(APL_SIMPLE | APL_TEMP, rank, typical.get()->eltype, shape, HERE);
    return EmptyOf(rank, shape, ItemsOf(typical.get())[0]);
}

// ---- Pairs of simple scalars ---------------------------------------------------
// L∘.,R on simple arguments makes one two-element vector per pair; made here
// directly, they cost an allocation each instead of a catenate call each.
// Characters with numbers pair into mixed items and go the general way.

bool TakesPairPath(const OperatorArgs &op) {
    const aplarray *left = op.args.left, *right = op.args.right;
    if (op.secondAxis || !IsPrimitive(op.second, glyph::kComma) || IsNested(left) || IsNested(right)) return false;
    return (left->eltype == APL_CHAR) == (right->eltype == APL_CHAR) && ElementCount(right) > 0;
}

// The pair L[i],R[j] as a vector of type T for every i and j, into the
// result's items in order. False with the error set.
template <class T, class A, class B>
bool FillPairs(aplarray *result, int type, const A *l, int64_t n, const B *r, int64_t m) {
    const int32_t two = 2;
    aplarray **items = ItemsOf(result);
    int64_t sinceCheck = 0;
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < m; ++j) {
            aplarray *pair = AllocArray(APL_SIMPLE | APL_TEMP, 1, type, &two, HERE);
            if (!pair) return false;
            T *to = DataOf<T>(pair);
            to[0] = static_cast<T>(l[i]);
            to[1] = static_cast<T>(r[j]);
            items[i * m + j] = APL_LinkEx(pair, HERE);
        }
        sinceCheck += m;
        if (sinceCheck >= kInterruptStride) {
            sinceCheck = 0;
            if (InterruptRequested()) return false;
        }
    }
    return true;
}

// L∘.,R for TakesPairPath: the types of catenate (REAL when either is REAL).
// Borrows; returns a temporary or null.
aplarray *PairOuter(const aplarray *left, const aplarray *right) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 0, right, 0, shape, &rank)) return nullptr;
    TempGuard result(AllocArray(APL_NESTEDARRAY | APL_TEMP, rank, APL_NESTED, shape, HERE));
    if (!result.get()) return nullptr;
    const int64_t n = ElementCount(left), m = ElementCount(right);
    const int types = left->eltype | right->eltype;
    bool ok;
    if (types == APL_CHAR) {
        ok = FillPairs<uint8_t>(result.get(), APL_CHAR, DataOf<const uint8_t>(left), n, DataOf<const uint8_t>(right), m);
    } else if (types == APL_INTG) {
        ok = FillPairs<int32_t>(result.get(), APL_INTG, DataOf<const int32_t>(left), n, DataOf<const int32_t>(right),
                                m);
    } else if (left->eltype == APL_INTG) {
        ok = FillPairs<double>(result.get(), APL_REAL, DataOf<const int32_t>(left), n, DataOf<const double>(right), m);
    } else if (right->eltype == APL_INTG) {
        ok = FillPairs<double>(result.get(), APL_REAL, DataOf<const double>(left), n, DataOf<const int32_t>(right), m);
    } else {
        ok = FillPairs<double>(result.get(), APL_REAL, DataOf<const double>(left), n, DataOf<const double>(right), m);
    }
    return ok ? result.release() : nullptr;
}

// L ∘.g R. Borrows the held arguments; returns a temporary or null.
aplarray *OuterProductOf(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    if (ElementCount(left) == 0) return EmptyOuter(op);
    if (left->rank == 0 || right->rank == 0) return EachOf(op.second, op.secondAxis, left, right);
    const int64_t n = ElementCount(left), rowLength = ElementCount(right);
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 0, right, 0, shape, &rank)) return nullptr;
    if (TakesPairPath(op)) return PairOuter(left, right);
    const ScalarMember *g = rowLength > 0 ? BlockMember(op.second, op.secondAxis, left, right) : nullptr;
    if (g) return BlockOuter(*g, left, right);
    TempGuard rows(AllocArray(APL_NESTEDARRAY | APL_TEMP, left->rank, APL_NESTED, left->shape, HERE));
    if (!rows.get()) return nullptr;
    int64_t sinceCheck = 0;
    int64_t missing = 0;
    for (int64_t i = 0; i < n; ++i) {
        aplarray *element = ItemScalar(left, i);  // a nested L's item, enclosed
        if (!element) return nullptr;
        aplarray *row = EachOf(op.second, op.secondAxis, element, right);
        if (aplerrno) {
            APL_UnLinkTempEx(row, HERE);
            return nullptr;
        }
        if (!row) {
            ++missing;
        } else if (!(ItemsOf(rows.get())[i] = APL_LinkEx(row, HERE))) {
            APL_UnLinkTempEx(row, HERE);
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return nullptr;
        }
        sinceCheck += rowLength;
        if (sinceCheck >= kInterruptStride) {
            sinceCheck = 0;
            if (InterruptRequested()) return nullptr;
        }
    }
    if (missing) {
        // g gave no value: for every row nothing, for some rows an error.
        if (missing < n) SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    return LaminateRows(rows.get(), right);
}

// Between simple arrays match compares simple scalars, where it is equality:
// L∘.≡R runs as L∘.=R, a row at a time instead of a call per pair.
aplarray *OuterProduct(OperatorArgs &op) {
    if (op.secondAxis || !IsPrimitive(op.second, glyph::kMatch) || IsNested(op.args.left) || IsNested(op.args.right))
        return OuterProductOf(op);
    aplfnc equal = *op.second;
    equal.code = glyph::kEqual;
    equal.function = reinterpret_cast<void *>(PrimitiveFunction(glyph::kEqual));
    OperatorArgs byEquality = op;
    byEquality.second = &equal;
    return OuterProductOf(byEquality);
}

// ---- Inner product -------------------------------------------------------------

bool IsSimpleNumeric(const aplarray *a) { return a->eltype == APL_INTG || a->eltype == APL_REAL; }

// Every sum runs in increasing k from 0.0: each result row is updated in place
// over j, four values of k at a time, each added on its own after the one
// before, so that every (i, j) adds its products in the order of Σ over k.
// The products and sums stay separate operations: a fused multiply-add would
// round once and change the sums (the build targets no such instruction).
// False when the host interrupts (INTERRUPT ERROR set); the flag is looked at
// every stride of multiply-adds.
bool MatrixProduct(const double *l, const double *r, double *z, int64_t rows, int64_t n, int64_t cols) {
    int64_t since = 0;
    for (int64_t i = 0; i < rows; ++i) {
        double *__restrict row = z + i * cols;
        const double *a = l + i * n;
        for (int64_t j = 0; j < cols; ++j) row[j] = 0.0;
        int64_t k = 0;
        for (; k + 4 <= n; k += 4) {
            const double a0 = a[k], a1 = a[k + 1], a2 = a[k + 2], a3 = a[k + 3];
            const double *__restrict r0 = r + k * cols;
            const double *__restrict r1 = r0 + cols;
            const double *__restrict r2 = r1 + cols;
            const double *__restrict r3 = r2 + cols;
            for (int64_t j = 0; j < cols; ++j) {
                double sum = row[j];
                sum += a0 * r0[j];
                sum += a1 * r1[j];
                sum += a2 * r2[j];
                sum += a3 * r3[j];
                row[j] = sum;
            }
            since += 4 * cols;
            if (since >= kInterruptStride) {
                since = 0;
                if (InterruptRequested()) return false;
            }
        }
        for (; k < n; ++k) {
            const double ak = a[k];
            const double *__restrict rk = r + k * cols;
            for (int64_t j = 0; j < cols; ++j) row[j] += ak * rk[j];
        }
    }
    return true;
}

bool TakesMatrixPath(const OperatorArgs &op) {
    const aplarray *left = op.args.left, *right = op.args.right;
    return IsPrimitive(op.operand, glyph::kPlus) && IsPrimitive(op.second, glyph::kTimes) && !op.operandAxis &&
           !op.secondAxis && IsSimpleNumeric(left) && IsSimpleNumeric(right) && left->rank > 0 &&
           ElementCount(left) > 1 && right->rank >= 2 && RowLength(left) > 0 && right->shape[0] == RowLength(left);
}

// Scalar primitives f and g on simple arguments whose inner lengths agree and
// that give at least one result element.
bool TakesBlockPath(const OperatorArgs &op) {
    const aplarray *left = op.args.left, *right = op.args.right;
    if (op.operandAxis || !IsScalarPrimitive(op.operand, true) || !BlockMember(op.second, op.secondAxis, left, right))
        return false;
    return left->rank > 0 && right->rank > 0 && RowLength(left) > 0 && right->shape[0] == RowLength(left) &&
           ElementCount(left) > 0 && ElementCount(right) > 0;
}

// The elements of an INTG array as a REAL vector. Borrows; returns a temporary.
aplarray *Doubles(const aplarray *integers) {
    const int64_t n = ElementCount(integers);
    aplarray *reals = NewVector(APL_REAL, n);
    if (reals)
        for (int64_t i = 0; i < n; ++i) DataOf<double>(reals)[i] = DataOf<const int32_t>(integers)[i];
    return reals;
}

// L +.× R as REAL products of the flat data. Borrows; returns a temporary.
aplarray *MatrixPath(const aplarray *left, const aplarray *right) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 1, right, 1, shape, &rank)) return nullptr;
    // INTG arguments are read as doubles, converted once: every product is of doubles.
    TempGuard realLeft(left->eltype == APL_REAL ? nullptr : Doubles(left));
    TempGuard realRight(right->eltype == APL_REAL ? nullptr : Doubles(right));
    if ((left->eltype != APL_REAL && !realLeft.get()) || (right->eltype != APL_REAL && !realRight.get()))
        return nullptr;
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_REAL, shape, HERE);
    if (!result) return nullptr;
    const int64_t n = RowLength(left), rows = ElementCount(left) / n, cols = ElementCount(right) / n;
    double *z = DataOf<double>(result);
    if (!MatrixProduct(DataOf<const double>(realLeft.get() ? realLeft.get() : left),
                       DataOf<const double>(realRight.get() ? realRight.get() : right), z, rows, n, cols)) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    for (int64_t i = 0; i < rows * cols; ++i)
        if (!std::isfinite(z[i])) {
            SetError(APL_ERR_DOMAIN);
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
    return result;
}

// The vector of a's elements from `start` in steps of `stride` (count of
// them), nested items linked. a is CHAR, INTG, REAL or nested. Borrows a.
aplarray *Gather(const aplarray *a, int64_t start, int64_t stride, int32_t count) {
    aplarray *cell = AllocArray((IsNested(a) ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, 1, a->eltype, &count, HERE);
    if (!cell) return nullptr;
    const size_t size = ElementSize(a->eltype);
    const char *from = DataOf<const char>(a);
    char *to = DataOf<char>(cell);
    for (int64_t k = 0; k < count; ++k) {
        const int64_t at = start + k * stride;
        if (IsNested(a))
            ItemsOf(cell)[k] = APL_LinkEx(ItemsOf(a)[at], HERE);
        else
            memcpy(to + static_cast<size_t>(k) * size, from + static_cast<size_t>(at) * size, size);
    }
    if (IsNested(a) && count == 0) ItemsOf(cell)[0] = APL_LinkEx(ItemsOf(a)[0], HERE);
    return cell;
}

// Cell i of L′ (L along its last axis) or of R′ (R along its first axis); a
// scalar is its own only cell (a nested scalar's item). Returns a temporary,
// or the borrowed item of a nested scalar.
aplarray *LeftCell(const aplarray *left, int64_t i) {
    if (left->rank == 0) return IsNested(left) ? ItemsOf(left)[0] : const_cast<aplarray *>(left);
    const int32_t n = RowLength(left);
    return Gather(left, i * n, 1, n);
}
aplarray *RightCell(const aplarray *right, int64_t j) {
    if (right->rank == 0) return IsNested(right) ? ItemsOf(right)[0] : const_cast<aplarray *>(right);
    const int32_t n = right->shape[0];
    const int64_t cols = n ? ElementCount(right) / n : CountOf(right->shape + 1, right->rank - 1);
    return Gather(right, j, cols, n);
}

// L f.g R by cells: item (i, j) = f/ L′[i] g¨ R′[j]. Borrows; returns a temporary.
aplarray *GeneralPath(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 1, right, 1, shape, &rank)) return nullptr;
    const int64_t leftCells = left->rank ? CountOf(left->shape, left->rank - 1) : 1;
    const int64_t rightCells = right->rank ? CountOf(right->shape + 1, right->rank - 1) : 1;
    // No cell pairs: an empty result of numbers.
    if (leftCells * rightCells == 0) return AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_INTG, shape, HERE);
    TempGuard result(AllocArray(APL_NESTEDARRAY | APL_TEMP, rank, APL_NESTED, shape, HERE));
    if (!result.get()) return nullptr;
    for (int64_t i = 0; i < leftCells; ++i) {
        for (int64_t j = 0; j < rightCells; ++j) {
            aplarray *l = LeftCell(left, i);
            aplarray *r = l ? RightCell(right, j) : nullptr;
            if (!r) {
                APL_UnLinkTempEx(l, HERE);
                return nullptr;
            }
            aplarray *t = EachOf(op.second, op.secondAxis, l, r);
            if (!t) {
                if (!aplerrno) SetError(APL_ERR_VALUE);
                return nullptr;
            }
            aplarray *z = ReduceOf(op.operand, op.operandAxis, t);
            if (!z) {
                if (!aplerrno) SetError(APL_ERR_VALUE);
                return nullptr;
            }
            ItemsOf(result.get())[i * rightCells + j] = APL_LinkEx(z, HERE);
            if (InterruptRequested()) return nullptr;
        }
    }
    return SimplifyArray(result.release());
}

aplarray *InnerProduct(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    if (left->rank > 0 && right->rank > 0 && ElementCount(left) != 1 && ElementCount(right) != 1 &&
        RowLength(left) != right->shape[0]) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    if (TakesMatrixPath(op)) return MatrixPath(left, right);
    if (TakesBlockPath(op)) {
        bool declined = false;
        aplarray *result =
            BlockInner(*BlockMember(op.second, op.secondAxis, left, right), op.operand, left, right, &declined);
        if (!declined) return result;
    }
    return GeneralPath(op);
}

}  // namespace

// Returns a temporary; consumes temporary arguments and operand axes, leaves
// linked ones as they were.
extern "C" aplarray *APL_InnerProduct(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplfnc *g,
                                      aplarray *gAxis, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAdmitted), Required(kAdmitted)};
    return OperatorCall(kSignature, false, axis, left, f, fAxis, g, gAxis, right, [](OperatorArgs &op) -> aplarray * {
        if (!op.second || IsEmptyOperand(op.second) || OperatorArgs::ArrayOf(op.second)) {
            SetError(APL_ERR_SYNTAX);
            return nullptr;
        }
        OperandDepth depth;
        if (!depth.ok()) return nullptr;
        if (IsPrimitive(op.operand, glyph::kJot)) return OuterProduct(op);
        return InnerProduct(op);
    });
}

// Always null with SYNTAX; consumes temporary arguments.
extern "C" aplarray *APL_Jot(aplarray *axis, aplarray *left, aplarray *right) {
    ReleaseTemporaries(axis, left, right);
    SetError(APL_ERR_SYNTAX);
    return nullptr;
}
