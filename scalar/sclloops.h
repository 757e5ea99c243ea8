// sclloops: the element loops of the scalar members, written once as templates
// over the element types and the "many / left single / right single" cases,
// the Boolean word loops and the floating-point fault test. Relies on arrays.
#pragma once

#include "apl.h"
#include "core/arrays.h"
#include "core/errors.h"

#include <cfenv>
#include <cmath>
#include <cstdint>

// ---- Floating-point faults ----------------------------------------------------
// No trap is ever armed: a routine clears the status flags before its loop and
// tests them after it. No infinity or NaN can enter the workspace, so a raised
// flag is exactly a fault of this loop.
constexpr int kFloatFaults = FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW;
inline void ClearFloatFaults() { feclearexcept(kFloatFaults); }
inline bool FloatFaulted() { return fetestexcept(kFloatFaults) != 0; }

// A caller that runs one routine over many parts of a result (the rows of an
// outer product) may hold the status for the whole call: it clears the flags
// once before and tests them once after, and meanwhile NumericRoutine leaves
// them alone. Clearing and testing cost about as much as a row of a thousand
// products. Only for routines that look at the status nowhere else.
inline bool floatFaultsHeld = false;
class HeldFloatFaults {
public:
    explicit HeldFloatFaults(bool hold) : hold_(hold && !floatFaultsHeld) {
        if (!hold_) return;
        ClearFloatFaults();
        floatFaultsHeld = true;
    }
    ~HeldFloatFaults() {
        if (hold_) floatFaultsHeld = false;
    }
    HeldFloatFaults(const HeldFloatFaults &) = delete;
    HeldFloatFaults &operator=(const HeldFloatFaults &) = delete;
    // Whether a routine faulted while the status was held here.
    bool Faulted() const { return hold_ && FloatFaulted(); }

private:
    bool hold_;
};

// Results this short of an operation whose every fault leaves an infinity or
// a NaN behind (kFaultShowsInResult) are checked by looking at them instead:
// clearing and testing the status costs more than the arithmetic of a scalar.
constexpr int64_t kCheckedByValue = 16;
// The Windows C library's exp and its kin return an infinity without raising
// the overflow flag: there every REAL result is also looked at.
#ifdef _WIN32
constexpr bool kScanEveryResult = true;
#else
constexpr bool kScanEveryResult = false;
#endif
// The natural logarithm that raises the status flags on every platform: the
// Windows library's gives -inf for 0 (and NaN below) in silence, and the
// infinity can vanish in a quotient (0⍟5) before any scan sees it.
inline double Ln(double x) {
#ifdef _WIN32
    if (x <= 0) {
        volatile double zero = 0.0;
        return (x == 0 ? -1.0 : 0.0) / zero;
    }
#endif
    return std::log(x);
}
inline bool AllFinite(const double *x, int64_t n) {
    bool finite = true;
    for (int64_t i = 0; i < n; ++i) finite = finite && x[i] - x[i] == 0.0;
    return finite;
}

// ---- Boolean rows ----------------------------------------------------------------
// Every row (last axis) of a BOOL array starts on a fresh 32-bit word. Word
// loops may leave garbage in the unused bits of a row's last word; the routines
// clear it afterwards so that every BOOL array leaving the engine has zeros there.

// A new INTG temporary holding the bits of a BOOL array as 0 and 1 (WS FULL:
// null); borrows the argument.
aplarray *WidenBits(const aplarray *bits);
// A new BOOL temporary of the array's shape, 1 for every non-zero INTG
// element; borrows the argument.
aplarray *PackBits(const aplarray *integers);

// The arguments of a routine as it needs them: BOOL widened to INTG (or INTG
// packed to BOOL) in a copy freed at scope exit; other arrays pass as they are.
class ArgumentView {
public:
    enum Want { Integers, Bits };
    ArgumentView(const aplarray *a, Want want) : array_(a) {
        if (want == Integers && a->eltype == APL_BOOL) array_ = copy_ = WidenBits(a);
        if (want == Bits && a->eltype == APL_INTG) array_ = copy_ = PackBits(a);
    }
    ArgumentView(const ArgumentView &) = delete;
    ArgumentView &operator=(const ArgumentView &) = delete;
    ~ArgumentView() { APL_UnLinkTempEx(copy_, HERE); }
    const aplarray *get() const { return array_; }
    bool ok() const { return array_ != nullptr; }

private:
    const aplarray *array_;
    aplarray *copy_ = nullptr;
};

// ---- Element loops ------------------------------------------------------------------
// C is the type the operation computes in; each operand is converted to it
// before the call (INTG operands of a REAL computation exactly). A single
// operand is read once before the loop, so the loop body is the same in all
// three cases and carries no test. The result may share storage with an
// operand of its own type: element i is read before element i is written.
// The operation object is taken by value and returned, so that state it keeps
// (a fault flag) lives in registers during the loop. Each loop runs in strides
// and stops early, with INTERRUPT ERROR set and the result part filled, when
// the host asks: every caller tests aplerrno before using the result.

template <class C, class R, class A, class B, class Op>
Op ZipLoop(R *out, const A *a, int64_t na, const B *b, int64_t nb, int64_t n, Op op) {
    ForEachStride(n, [&](int64_t begin, int64_t end) {
        Op piece = op;  // a local copy keeps the fault flag in a register
        if (na == n && nb == n) {
            for (int64_t i = begin; i < end; ++i)
                out[i] = static_cast<R>(piece(static_cast<C>(a[i]), static_cast<C>(b[i])));
        } else if (na == 1) {
            const C x = static_cast<C>(a[0]);
            for (int64_t i = begin; i < end; ++i) out[i] = static_cast<R>(piece(x, static_cast<C>(b[i])));
        } else {
            const C y = static_cast<C>(b[0]);
            for (int64_t i = begin; i < end; ++i) out[i] = static_cast<R>(piece(static_cast<C>(a[i]), y));
        }
        op = piece;
    });
    return op;
}

template <class C, class R, class A, class Op>
Op MapLoop(R *out, const A *a, int64_t n, Op op) {
    ForEachStride(n, [&](int64_t begin, int64_t end) {
        Op piece = op;
        for (int64_t i = begin; i < end; ++i) out[i] = static_cast<R>(piece(static_cast<C>(a[i])));
        op = piece;
    });
    return op;
}

// Whole words of packed bits; a single operand's one bit is spread over a word.
template <class Op>
void WordLoop(uint32_t *out, const uint32_t *a, bool aSingle, const uint32_t *b, bool bSingle, int64_t words, Op op) {
    ForEachStride(words, [&](int64_t begin, int64_t end) {
        if (aSingle == bSingle) {
            for (int64_t w = begin; w < end; ++w) out[w] = op(a[w], b[w]);
        } else if (aSingle) {
            const uint32_t x = 0u - (a[0] & 1u);
            for (int64_t w = begin; w < end; ++w) out[w] = op(x, b[w]);
        } else {
            const uint32_t y = 0u - (b[0] & 1u);
            for (int64_t w = begin; w < end; ++w) out[w] = op(a[w], y);
        }
    });
}

// A routine on packed bits: INTG arguments (only the logical functions get
// them) are packed first, non-zero giving 1.
template <class Op>
aplarray *BoolRoutine(aplarray *result, const aplarray *left, const aplarray *right, Op op) {
    ArgumentView l(left, ArgumentView::Bits), r(right, ArgumentView::Bits);
    if (!l.ok() || !r.ok()) return nullptr;
    const int64_t n = ElementCount(result);
    const bool lSingle = ElementCount(l.get()) == 1 && n != 1;
    const bool rSingle = ElementCount(r.get()) == 1 && n != 1;
    WordLoop(DataOf<uint32_t>(result), DataOf<const uint32_t>(l.get()), lSingle, DataOf<const uint32_t>(r.get()),
             rSingle, result->number, op);
    if (aplerrno) return nullptr;  // interrupted
    ClearBoolPadding(result);
    return result;
}

// ---- Numeric routines ---------------------------------------------------------------
// An operation for numeric results defines `double operator()(double, double)`
// for REAL results and, when INTG results are possible (nested leaves, INTG
// residue, maximum, minimum, product), `int32_t operator()(int32_t, int32_t)`.
// `fault` set by an operation ends the routine with DOMAIN ERROR.

struct NoFault {
    static constexpr bool kIntegers = false;  // has the int32_t form
    static constexpr bool kFaultShowsInResult = false;
    bool fault = false;
};

// An operation of plain IEEE arithmetic: a fault always leaves a non-finite value.
struct ValueFault : NoFault {
    static constexpr bool kFaultShowsInResult = true;
};

template <class C, class R, class Op>
Op ZipTyped(R *out, const aplarray *l, const aplarray *r, int64_t n, Op op) {
    const int64_t nl = ElementCount(l), nr = ElementCount(r);
    const bool lReal = l->eltype == APL_REAL, rReal = r->eltype == APL_REAL;
    if (lReal && rReal) return ZipLoop<C>(out, DataOf<const double>(l), nl, DataOf<const double>(r), nr, n, op);
    if (lReal) return ZipLoop<C>(out, DataOf<const double>(l), nl, DataOf<const int32_t>(r), nr, n, op);
    if (rReal) return ZipLoop<C>(out, DataOf<const int32_t>(l), nl, DataOf<const double>(r), nr, n, op);
    return ZipLoop<C>(out, DataOf<const int32_t>(l), nl, DataOf<const int32_t>(r), nr, n, op);
}

// Runs a dyadic numeric operation into a REAL or INTG result; INTG results
// need INTG operands. BOOL operands arrive widened to INTG.
template <class Op>
aplarray *NumericRoutine(aplarray *result, const aplarray *left, const aplarray *right, Op op) {
    ArgumentView l(left, ArgumentView::Integers), r(right, ArgumentView::Integers);
    if (!l.ok() || !r.ok()) return nullptr;
    const int64_t n = ElementCount(result);
    const bool byValue = Op::kFaultShowsInResult && n <= kCheckedByValue;
    const bool ownStatus = !byValue && !floatFaultsHeld;
    if (ownStatus) ClearFloatFaults();
    bool fault;
    if (result->eltype == APL_REAL) {
        fault = ZipTyped<double>(DataOf<double>(result), l.get(), r.get(), n, op).fault;
        if (byValue || kScanEveryResult) fault = fault || !AllFinite(DataOf<const double>(result), n);
    } else if constexpr (Op::kIntegers) {
        const bool integers = result->eltype == APL_INTG && l.get()->eltype == APL_INTG && r.get()->eltype == APL_INTG;
        // No member is asked for another pairing; refusing it keeps that true.
        fault = !integers || ZipTyped<int32_t>(DataOf<int32_t>(result), l.get(), r.get(), n, op).fault;
    } else {
        fault = true;
    }
    if (aplerrno) return nullptr;  // interrupted
    if (fault || (ownStatus && FloatFaulted())) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result;
}

// The monadic counterpart: REAL results compute in double, INTG results from
// INTG arguments in int32_t.
template <class Op>
aplarray *NumericMonadic(aplarray *result, const aplarray *arg, Op op) {
    ArgumentView a(arg, ArgumentView::Integers);
    if (!a.ok()) return nullptr;
    const int64_t n = ElementCount(result);
    const bool byValue = Op::kFaultShowsInResult && n <= kCheckedByValue;
    if (!byValue) ClearFloatFaults();
    bool fault;
    if (result->eltype == APL_REAL) {
        fault = a.get()->eltype == APL_REAL
                    ? MapLoop<double>(DataOf<double>(result), DataOf<const double>(a.get()), n, op).fault
                    : MapLoop<double>(DataOf<double>(result), DataOf<const int32_t>(a.get()), n, op).fault;
        if (byValue || kScanEveryResult) fault = fault || !AllFinite(DataOf<const double>(result), n);
    } else if constexpr (Op::kIntegers) {
        fault = result->eltype != APL_INTG || a.get()->eltype != APL_INTG ||
                MapLoop<int32_t>(DataOf<int32_t>(result), DataOf<const int32_t>(a.get()), n, op).fault;
    } else {
        fault = true;
    }
    if (aplerrno) return nullptr;  // interrupted
    if (fault || (!byValue && FloatFaulted())) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    return result;
}
