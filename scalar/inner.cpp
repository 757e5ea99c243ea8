// inner: the dyadic operator `.`: the outer product L ∘.g R (rows g¨ R, one per
// element of L, laminated) and the inner product L f.g R (f/ of g¨ on cells).
// Relies on each, the registered reduce, the call path and the array core.
#include "core/call.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "scalar/operands.h"

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

// Shape (⍴a),(⍴b) after dropping `dropA` axes from the end of a and `dropB`
// from the front of b. LIMIT when the rank would be too high.
bool JoinShapes(const aplarray *a, int dropA, const aplarray *b, int dropB, int32_t *shape, int *rank) {
    const int ra = a->rank > dropA ? a->rank - dropA : 0, rb = b->rank > dropB ? b->rank - dropB : 0;
    if (ra + rb > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return false;
    }
    for (int i = 0; i < ra; ++i) shape[i] = a->shape[i];
    for (int i = 0; i < rb; ++i) shape[ra + i] = b->shape[dropB + i];
    *rank = ra + rb;
    return true;
}

// Element count of a shape in 64 bits.
int64_t CountOf(const int32_t *shape, int rank) {
    int64_t count = 1;
    for (int i = 0; i < rank; ++i) count *= shape[i];
    return count;
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

// Copies a simple row into the result's data at row i, converted to its type.
bool RowData(aplarray *row, aplarray *result, int64_t i) {
    aplarray *converted = row->eltype == result->eltype ? row : ConvertType(row, result->eltype);
    if (!converted) return false;
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
    TempGuard result(AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, rank, eltype,
                                shape, HERE));
    if (!result.get()) return nullptr;
    for (int64_t i = 0; i < n; ++i) {
        aplarray *row = ItemsOf(rows)[i];
        const bool ok = eltype == APL_NESTED ? RowItems(row, ItemsOf(result.get()) + i * rowLength)
                                             : RowData(row, result.get(), i);
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
    if (!IsNested(typical.get()))
        return AllocArray(APL_SIMPLE | APL_TEMP, rank, typical.get()->eltype, shape, HERE);
    return EmptyOf(rank, shape, ItemsOf(typical.get())[0]);
}

// L ∘.g R. Borrows the held arguments; returns a temporary or null.
aplarray *OuterProduct(OperatorArgs &op) {
    aplarray *left = op.args.left, *right = op.args.right;
    if (ElementCount(left) == 0) return EmptyOuter(op);
    if (left->rank == 0 || right->rank == 0) return EachOf(op.second, op.secondAxis, left, right);
    const int64_t n = ElementCount(left), rowLength = ElementCount(right);
    if (n * rowLength > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
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

// ---- Inner product -------------------------------------------------------------

bool IsSimpleNumeric(const aplarray *a) { return a->eltype == APL_INTG || a->eltype == APL_REAL; }

// Every sum runs in increasing k from 0.0, each result row updated in place
// over j: the order of the additions is that of Σ over k for each (i, j).
// False when the host interrupts (INTERRUPT ERROR set); the flag is looked at
// every stride of multiply-adds.
template <class TL, class TR>
bool MatrixProduct(const TL *l, const TR *r, double *z, int64_t rows, int64_t n, int64_t cols) {
    int64_t since = 0;
    for (int64_t i = 0; i < rows; ++i) {
        double *row = z + i * cols;
        for (int64_t j = 0; j < cols; ++j) row[j] = 0.0;
        for (int64_t k = 0; k < n; ++k) {
            const double a = static_cast<double>(l[i * n + k]);
            const TR *rk = r + k * cols;
            for (int64_t j = 0; j < cols; ++j) {
                // Kept as a separate product and sum: a fused multiply-add
                // would round once and change the sums.
                const double product = a * static_cast<double>(rk[j]);
                row[j] += product;
            }
            since += cols;
            if (since >= kInterruptStride) {
                since = 0;
                if (InterruptRequested()) return false;
            }
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

// L +.× R as REAL products of the flat data. Borrows; returns a temporary.
aplarray *MatrixPath(const aplarray *left, const aplarray *right) {
    int32_t shape[2 * kMaxRank];
    int rank = 0;
    if (!JoinShapes(left, 1, right, 1, shape, &rank)) return nullptr;
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_REAL, shape, HERE);
    if (!result) return nullptr;
    const int64_t n = RowLength(left), rows = ElementCount(left) / n, cols = ElementCount(right) / n;
    double *z = DataOf<double>(result);
    const bool realLeft = left->eltype == APL_REAL, realRight = right->eltype == APL_REAL;
    bool done;
    if (realLeft && realRight)
        done = MatrixProduct(DataOf<const double>(left), DataOf<const double>(right), z, rows, n, cols);
    else if (realLeft)
        done = MatrixProduct(DataOf<const double>(left), DataOf<const int32_t>(right), z, rows, n, cols);
    else if (realRight)
        done = MatrixProduct(DataOf<const int32_t>(left), DataOf<const double>(right), z, rows, n, cols);
    else
        done = MatrixProduct(DataOf<const int32_t>(left), DataOf<const int32_t>(right), z, rows, n, cols);
    if (!done) {
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
    return GeneralPath(op);
}

}  // namespace

// Returns a temporary; consumes temporary arguments and operand axes, leaves
// linked ones as they were.
extern "C" aplarray *APL_InnerProduct(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplfnc *g,
                                      aplarray *gAxis, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAdmitted), Required(kAdmitted)};
    return OperatorCall(kSignature, false, axis, left, f, fAxis, g, gAxis, right,
                        [](OperatorArgs &op) -> aplarray * {
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
