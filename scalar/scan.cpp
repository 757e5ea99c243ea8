// scan: APL_Scan and APL_Scan1 (f\ and f⍀): one-pass loops for the primitive
// operands, each prefix folded from the right for the rest.
// Relies on core/call, the fold steps and reduce's folding of items.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("tree-vectorize")
#endif

#include "core/call.h"
#include "core/eltypes.h"
#include "core/symtab.h"
#include "scalar/foldsteps.h"
#include "scalar/reduce.h"
#include "scalar/sclloops.h"
#include "structural/cells.h"

namespace {

using fold::Kind;

using Layout = FoldLayout;

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// Runs `step(r[k-1], x[k], k)` along every vector: element 0 is x0, element k
// the step from element k-1. The T vectors of one leading position advance
// together, a row at a time.
template <class Out, class In, class Step>
bool RunAlong(const In *x, Out *out, const Layout &f, Step step) {
    int64_t since = 0;
    for (int64_t i = 0; i < f.L; ++i) {
        const In *v = x + i * f.n * f.T;
        Out *r = out + i * f.n * f.T;
        if (f.T == 1) {
            // One long vector is cut into strides, so that the flag is seen
            // while it runs, not after it.
            Out a = r[0] = static_cast<Out>(v[0]);
            for (int64_t begin = 1; begin < f.n; begin += kInterruptStride) {
                const int64_t end = f.n - begin < kInterruptStride ? f.n : begin + kInterruptStride;
                for (int64_t k = begin; k < end; ++k) r[k] = a = step(a, static_cast<Out>(v[k]), k);
                since += end - begin;
                if (since >= kInterruptStride) {
                    since = 0;
                    if (InterruptRequested()) return false;
                }
            }
            continue;
        }
        for (int64_t j = 0; j < f.T; ++j) r[j] = static_cast<Out>(v[j]);
        for (int64_t k = 1; k < f.n; ++k) {
            const In *row = v + k * f.T;
            Out *now = r + k * f.T;
            const Out *before = now - f.T;
            for (int64_t j = 0; j < f.T; ++j) now[j] = step(before[j], static_cast<Out>(row[j]), k);
            since += f.T;
            if (since >= kInterruptStride) {
                since = 0;
                if (InterruptRequested()) return false;
            }
        }
    }
    return true;
}

// The comparisons are not associative: every prefix is folded from the right,
// directly over the data.
template <class T, Kind K>
bool FoldPrefixes(const T *x, T *out, const Layout &f, double ct) {
    const fold::Cmp<K> cmp{ct};
    int64_t since = 0;
    for (int64_t i = 0; i < f.L; ++i)
        for (int64_t j = 0; j < f.T; ++j) {
            const T *v = x + i * f.n * f.T + j;
            T *r = out + i * f.n * f.T + j;
            for (int64_t k = 0; k < f.n; ++k) {
                T a = v[k * f.T];
                for (int64_t m = k - 1; m >= 0; --m) a = cmp(v[m * f.T], a);
                r[k * f.T] = a;
                // Each prefix costs its length: a long vector checks within.
                since += k + 1;
                if (since >= kInterruptStride) {
                    since = 0;
                    if (InterruptRequested()) return false;
                }
            }
        }
    return true;
}

template <class T>
bool ScanComparison(Kind kind, const T *x, T *out, const Layout &f, double ct) {
    switch (kind) {
        case Kind::Eq: return FoldPrefixes<T, Kind::Eq>(x, out, f, ct);
        case Kind::Ne: return FoldPrefixes<T, Kind::Ne>(x, out, f, ct);
        case Kind::Lt: return FoldPrefixes<T, Kind::Lt>(x, out, f, ct);
        case Kind::Le: return FoldPrefixes<T, Kind::Le>(x, out, f, ct);
        case Kind::Ge: return FoldPrefixes<T, Kind::Ge>(x, out, f, ct);
        default: return FoldPrefixes<T, Kind::Gt>(x, out, f, ct);
    }
}

// + × run; − and ÷ alternate, which is exactly the fold from the right:
// x0 − (x1 − (x2 …)) = x0 − x1 + x2 − …
template <class In>
bool ScanArithmetic(Kind kind, const In *x, double *out, const Layout &f, double div) {
    switch (kind) {
        case Kind::Add: return RunAlong(x, out, f, [](double r, double v, int64_t) { return r + v; });
        case Kind::Mul: return RunAlong(x, out, f, [](double r, double v, int64_t) { return r * v; });
        case Kind::Sub: return RunAlong(x, out, f, [](double r, double v, int64_t k) { return k & 1 ? r - v : r + v; });
        default: {
            bool zeroDivide = false;
            const fold::Quotient divide{div, &zeroDivide};
            const bool ok =
                RunAlong(x, out, f, [divide](double r, double v, int64_t k) { return k & 1 ? divide(r, v) : r * v; });
            if (ok && zeroDivide) return Fail(APL_ERR_DOMAIN), false;
            return ok;
        }
    }
}

template <class T>
bool ScanExtremum(Kind kind, const T *x, T *out, const Layout &f) {
    if (kind == Kind::Max) return RunAlong(x, out, f, [](T r, T v, int64_t) { return fold::Max{}(v, r); });
    return RunAlong(x, out, f, [](T r, T v, int64_t) { return fold::Min{}(v, r); });
}

// The one-pass loop of a primitive operand over a simple argument; `handled`
// false sends the scan to the general path. Borrows right.
aplarray *FastScan(Kind kind, aplarray *right, const Layout &f, bool &handled) {
    handled = kind != Kind::None && kind != Kind::Nand && kind != Kind::Nor;
    if (!handled) return nullptr;
    if (right->eltype == APL_CHAR) {
        handled = !fold::IsComparison(kind) && kind != Kind::Max && kind != Kind::Min;
        return handled ? Fail(APL_ERR_DOMAIN) : nullptr;
    }
    const bool real = right->eltype == APL_REAL;
    int type = right->eltype;
    if (fold::IsArithmetic(kind)) type = APL_REAL;
    if (fold::IsLogical(kind)) type = APL_INTG;
    TempGuard result(NewResult(right->rank, type, right->shape));
    if (!result.get()) return nullptr;
    ClearFloatFaults();
    bool ok;
    if (fold::IsArithmetic(kind)) {
        const double div = DivisionMode();
        ok = real ? ScanArithmetic(kind, DataOf<const double>(right), DataOf<double>(result.get()), f, div)
                  : ScanArithmetic(kind, DataOf<const int32_t>(right), DataOf<double>(result.get()), f, div);
        if (ok && FloatFaulted()) return Fail(APL_ERR_DOMAIN);
    } else if (fold::IsComparison(kind)) {
        const double ct = ComparisonTolerance();
        ok = real ? ScanComparison(kind, DataOf<const double>(right), DataOf<double>(result.get()), f, ct)
                  : ScanComparison(kind, DataOf<const int32_t>(right), DataOf<int32_t>(result.get()), f, ct);
    } else if (kind == Kind::Max || kind == Kind::Min) {
        ok = real ? ScanExtremum(kind, DataOf<const double>(right), DataOf<double>(result.get()), f)
                  : ScanExtremum(kind, DataOf<const int32_t>(right), DataOf<int32_t>(result.get()), f);
    } else {
        int32_t *integers = nullptr;
        const bool owned = IntegerData(right, &integers);
        if (!integers) return Fail(APL_ERR_DOMAIN);
        ok = kind == Kind::And ? RunAlong(integers, DataOf<int32_t>(result.get()), f,
                                          [](int32_t r, int32_t v, int64_t) { return r & v; })
                               : RunAlong(integers, DataOf<int32_t>(result.get()), f,
                                          [](int32_t r, int32_t v, int64_t) { return r | v; });
        if (owned) FreeBlock(integers, HERE);
    }
    return ok ? result.release() : nullptr;
}

// Element p of each vector is the fold of its first p+1 items (n(n-1)/2 calls
// per vector); the first error ends the scan. Borrows right.
aplarray *GeneralScan(aplfnc *fn, aplarray *fnAxis, aplarray *right, const Layout &f) {
    TempGuard result(NewResult(right->rank, APL_NESTED, right->shape));
    if (!result.get()) return nullptr;
    aplarray **slots = ItemsOf(result.get());
    for (int64_t i = 0; i < f.L; ++i)
        for (int64_t j = 0; j < f.T; ++j)
            for (int64_t p = 0; p < f.n; ++p) {
                const int64_t first = i * f.n * f.T + j;
                if (!StoreItem(slots + first + p * f.T, FoldItems(fn, fnAxis, right, first, f.T, p + 1)))
                    return nullptr;
            }
    return SimplifyArray(result.release());
}

constexpr int kScanTypes = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

aplarray *Scan(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second, aplarray *secondAxis,
               aplarray *right, bool firstAxis) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kScanTypes)};
    return OperatorCall(
        kSignature, true, axis, left, fn, fnAxis, second, secondAxis, right,
        [firstAxis](OperatorArgs &op) -> aplarray * {
            aplarray *r = op.args.right;
            if (aplarray *mask = OperatorArgs::ArrayOf(op.operand)) {
                // An array operand makes the function expand.
                if (op.args.left) return Fail(APL_ERR_SYNTAX);
                return CallWithArrayOperand(firstAxis ? APL_Expand1 : APL_Expand, op.args.axis, mask, r);
            }
            if (op.args.left) return Fail(APL_ERR_SYNTAX);
            int d = firstAxis ? 0 : r->rank - 1;
            if (!ReductionAxis(op.args.axis, r->rank, d)) return nullptr;
            if (r->rank == 0 || ElementCount(r) == 0 || r->shape[d] == 1) return r;
            const AxisSplit s = SplitAlong(r, d);
            const Layout f{s.outer, s.length, s.inner};
            if (!IsNested(r) && !op.operandAxis && IsPrimitiveOperand(op.operand)) {
                bool handled;
                aplarray *z = FastScan(fold::KindOf(static_cast<int>(op.operand->code & 0xff)), r, f, handled);
                if (handled) return z;
            }
            return GeneralScan(op.operand, op.operandAxis, r, f);
        });
}

}  // namespace

// Both return a temporary (or the argument itself: a scalar, an empty array,
// an axis of length 1); consume temporary arguments and operand axes, leave
// linked ones as they were.
extern "C" aplarray *APL_Scan(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right) {
    return Scan(axis, left, fn, fnAxis, second, secondAxis, right, false);
}

extern "C" aplarray *APL_Scan1(aplarray *axis, aplarray *left, aplfnc *fn, aplarray *fnAxis, aplfnc *second,
                               aplarray *secondAxis, aplarray *right) {
    return Scan(axis, left, fn, fnAxis, second, secondAxis, right, true);
}
