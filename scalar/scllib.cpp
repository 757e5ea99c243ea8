// scllib: the scalar function engine and the 21 exported scalar functions.
// Admits argument types, matches shapes, descends into nested arrays and reuses
// temporaries in place. Relies on arrays, eltypes, rho and the member routines.
#include "scalar/scllib.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/depths.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "structural/rho.h"

#include <cfenv>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

// Nesting deeper than this cannot come from real data; the engine refuses it
// instead of running off the end of the C stack.
// A tenth of the nesting limit: each level holds a whole engine frame.
constexpr int kMaxScalarDepth = kMaxNestingDepth / 10;

class DepthGuard {
public:
    DepthGuard() { ++depths.scalar; }
    ~DepthGuard() { --depths.scalar; }
    bool tooDeep() const { return depths.scalar > kMaxScalarDepth; }
};

// An argument and whether this call owns it. An owned array (a temporary, or an
// item whose last link its temporary parent handed over) has lnkcnt 0 and is
// consumed: it becomes the result or is released. Others are only read.
struct Operand {
    aplarray *array;
    bool owned;
};

// A record the engine can read without risk: one of ours (a static one where
// its fields can be read), a sane rank and type, and an element count that
// agrees with the shape.
bool ValidRecord(const aplarray *a) {
    if (!a || (IsStatic(a) ? IsUnaligned(a) : !IsLiveBlock(a))) return false;
    if (a->rank > kMaxRank || a->lnkcnt < 0) return false;
    switch (a->eltype) {
        case APL_CHAR:
        case APL_INTG:
        case APL_REAL:
        case APL_NESTED:
        case APL_BOOL:
        case APL_SHORT: break;
        default: return false;
    }
    int64_t count = 1;
    for (int i = 0; i < a->rank; ++i) {
        if (a->shape[i] < 0) return false;
        count *= a->shape[i];
        if (count > INT32_MAX) return false;
    }
    if (a->eltype == APL_BOOL && a->rank > 0 && a->shape[a->rank - 1] != 0) {
        const int64_t row = a->shape[a->rank - 1];
        count = count / row * ((row + 31) / 32);
    }
    return a->number == count;
}

void Release(Operand &op) {
    if (op.owned && ValidRecord(op.array)) APL_UnLinkEx(op.array, HERE);
    op = {nullptr, false};
}

// Makes the argument one the routines can read: managed (a static record is
// only 4-byte aligned: it is copied) and of a type in the mask. An owned array
// that is replaced is released; a borrowed one is left as it was.
bool Admit(Operand &op, int mask) {
    aplarray *a = op.array;
    if (IsStatic(a)) {
        aplarray *copy = CopyArray(a, HERE);
        if (!copy) return false;
        op = {copy, true};
        a = copy;
    }
    if (a->eltype & mask) return true;
    // Held across the conversion, which releases a temporary argument.
    ++a->lnkcnt;
    aplarray *converted = ConvertType(a, mask);
    --a->lnkcnt;
    if (aplerrno || !converted) return false;
    Release(op);
    op = {converted, true};
    return true;
}

// Item i of a nested operand for the recursion. An owned parent hands over
// its link (the slot is emptied, the item's count drops): the item is owned
// in turn when that was its last link, so a chain of temporaries is computed
// in place down to the leaves.
Operand TakeItem(Operand &parent, int64_t i) {
    aplarray *item = ItemsOf(parent.array)[i];
    if (!parent.owned || !ValidRecord(item) || IsStatic(item)) return {item, false};
    ItemsOf(parent.array)[i] = nullptr;
    if (item->lnkcnt > 0) --item->lnkcnt;
    return {item, item->lnkcnt == 0};
}

// A new nested temporary of the array's shape, item slots empty; borrows `like`.
aplarray *NewContainer(const aplarray *like) {
    return AllocArray(APL_NESTEDARRAY | APL_TEMP, like->rank, APL_NESTED, like->shape, HERE);
}

void FinishFloatingPoint() {
    // The host's restore option: leave the status clean behind every call.
    if (CallbackFunction(kSlotMaskFloatingPoint)) feclearexcept(FE_ALL_EXCEPT);
}

// ---- Dyadic ----------------------------------------------------------------------

struct DyadicEngine {
    DyadicRoutine routine;
    int resultType;
    int mask;
};

aplarray *Dyadic(const DyadicEngine &e, Operand l, Operand r);

// The result type where the routine runs: "at the leaves" becomes REAL if
// either simple argument is REAL, else INTG.
int LeafType(int resultType, const aplarray *a, const aplarray *b) {
    if (resultType != kTypeAtLeaves) return resultType;
    return a->eltype == APL_REAL || (b && b->eltype == APL_REAL) ? APL_REAL : APL_INTG;
}

// Two simple arguments. The result is a reusable argument of the result type
// (the larger one in the extension case), else a new array. Consumes owned
// operands in every case.
aplarray *SimplePair(const DyadicEngine &e, Operand &l, Operand &r, Operand *larger) {
    const int type = LeafType(e.resultType, l.array, r.array);
    Operand *reuse = nullptr;
    if (larger) {
        if (larger->owned && larger->array->eltype == type) reuse = larger;
    } else if (l.owned && l.array->eltype == type) {
        reuse = &l;
    } else if (r.owned && r.array->eltype == type) {
        reuse = &r;
    }
    const aplarray *like = larger ? larger->array : l.array;
    aplarray *result = reuse ? reuse->array : AllocArray(APL_SIMPLE | APL_TEMP, like->rank, type, like->shape, HERE);
    // A routine stopped by an interrupt returns its part-filled result with the
    // error set: that is a failure too.
    if (result && e.routine(result, l.array, r.array) && !aplerrno) {
        if (reuse) reuse->owned = false;  // it is the result now
    } else {
        if (!reuse) APL_UnLinkTempEx(result, HERE);
        result = nullptr;
    }
    Release(l);
    Release(r);
    return result;
}

// Fills the item slots of `container` with link(make(i)), make returning the
// item or null with the error set; stops at the first failure (or interrupt)
// and returns false.
template <class Make>
bool FillItems(aplarray *container, Make make) {
    const int64_t n = ElementCount(container);
    for (int64_t i = 0; i < n; ++i) {
        if (InterruptRequested()) return false;
        aplarray *item = make(i);
        if (!item) return false;
        ItemsOf(container)[i] = APL_LinkEx(item, HERE);
    }
    return true;
}

// Ends a nested case: the container is the result, or released on error
// (slots already processed hold results, the others their old items: both
// are unlinked). Owned operands that did not become the container are
// released; their handed-over slots are empty by now.
aplarray *FinishNested(aplarray *container, bool ok, Operand &l, Operand &r) {
    if (l.owned && l.array == container) l.owned = false;
    if (r.owned && r.array == container) r.owned = false;
    Release(l);
    Release(r);
    if (ok) return container;
    APL_UnLinkEx(container, HERE);
    return nullptr;
}

// One argument has a single element, the other gives the shape. Consumes
// owned operands in every case.
aplarray *Extension(const DyadicEngine &e, Operand &l, Operand &r) {
    const bool rightLarger = ElementCount(r.array) > ElementCount(l.array) || r.array->rank > l.array->rank;
    Operand &large = rightLarger ? r : l;
    Operand &small = rightLarger ? l : r;
    if (ElementCount(small.array) != 1) {
        SetError(APL_ERR_RANK);
        Release(l);
        Release(r);
        return nullptr;
    }
    if (!IsNested(large.array) && !IsNested(small.array)) return SimplePair(e, l, r, &large);

    aplarray *single = IsNested(small.array) ? ItemsOf(small.array)[0] : small.array;
    aplarray *container = IsNested(large.array) && large.owned ? large.array : NewContainer(large.array);
    if (!container) {
        Release(l);
        Release(r);
        return nullptr;
    }
    const bool ok = FillItems(container, [&](int64_t i) -> aplarray * {
        Operand x{nullptr, false};
        if (IsNested(large.array)) {
            x = TakeItem(large, i);
        } else {
            x = {ItemScalar(large.array, i), true};
            if (!x.array) return nullptr;
        }
        const Operand y{single, false};
        return rightLarger ? Dyadic(e, y, x) : Dyadic(e, x, y);
    });
    return FinishNested(container, ok, l, r);
}

// Equal shapes. Consumes owned operands in every case.
aplarray *Matched(const DyadicEngine &e, Operand &l, Operand &r) {
    const bool lNested = IsNested(l.array), rNested = IsNested(r.array);
    if (!lNested && !rNested) return SimplePair(e, l, r, nullptr);
    aplarray *container = nullptr;
    if (lNested && l.owned)
        container = l.array;
    else if (rNested && r.owned)
        container = r.array;
    else
        container = NewContainer(l.array);
    if (!container) {
        Release(l);
        Release(r);
        return nullptr;
    }
    const bool ok = FillItems(container, [&](int64_t i) -> aplarray * {
        // Both items are read before either slot is emptied: left and right
        // may be one record.
        aplarray *rightItem = rNested ? ItemsOf(r.array)[i] : nullptr;
        Operand x, y;
        if (lNested) {
            x = TakeItem(l, i);
        } else {
            x = {ItemScalar(l.array, i), true};
            if (!x.array) return nullptr;
        }
        if (rNested) {
            y = r.owned ? TakeItem(r, i) : Operand{rightItem, false};
        } else {
            y = {ItemScalar(r.array, i), true};
            if (!y.array) {
                Release(x);
                return nullptr;
            }
        }
        return Dyadic(e, x, y);
    });
    return FinishNested(container, ok, l, r);
}

// Consumes owned operands in every case.
aplarray *Dyadic(const DyadicEngine &e, Operand l, Operand r) {
    const DepthGuard depth;
    if (!ValidRecord(l.array) || !ValidRecord(r.array)) {
        SetError(APL_ERR_DOMAIN);
        Release(l);
        Release(r);
        return nullptr;
    }
    if (depth.tooDeep()) {
        SetError(APL_ERR_LIMIT);
        Release(l);
        Release(r);
        return nullptr;
    }
    // One record on both sides is consumed once, through the left.
    const bool same = l.array == r.array;
    if (same) {
        l.owned = l.owned || r.owned;
        r.owned = false;
    }
    if (!Admit(l, e.mask) || (!same && !Admit(r, e.mask))) {
        Release(l);
        Release(r);
        return nullptr;
    }
    if (same) r.array = l.array;

    const aplarray *a = l.array, *b = r.array;
    if (ElementCount(a) == 0 || ElementCount(b) == 0) {
        aplarray *result = EmptyScalarResult(a, b);
        Release(l);
        Release(r);
        return result;
    }
    bool extension = false;
    if (a->rank != b->rank) {
        if (a->rank >= 2 && b->rank >= 2) {
            SetError(APL_ERR_RANK);
            Release(l);
            Release(r);
            return nullptr;
        }
        extension = true;
    } else {
        // The first axis whose lengths differ decides.
        for (int i = 0; i < a->rank; ++i) {
            if (a->shape[i] == b->shape[i]) continue;
            if (a->shape[i] != 1 && b->shape[i] != 1) {
                SetError(APL_ERR_LENGTH);
                Release(l);
                Release(r);
                return nullptr;
            }
            extension = true;
            break;
        }
    }
    return extension ? Extension(e, l, r) : Matched(e, l, r);
}

// ---- Monadic ---------------------------------------------------------------------

struct MonadicEngine {
    MonadicRoutine routine;
    int resultType;
    int mask;
};

// Consumes an owned operand in every case.
aplarray *Monadic(const MonadicEngine &e, Operand a) {
    const DepthGuard depth;
    if (!ValidRecord(a.array)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (depth.tooDeep()) {
        SetError(APL_ERR_LIMIT);
        Release(a);
        return nullptr;
    }
    if (!Admit(a, e.mask)) {
        Release(a);
        return nullptr;
    }
    if (ElementCount(a.array) == 0) {
        aplarray *result = EmptyScalarResult(nullptr, a.array);
        Release(a);
        return result;
    }
    if (IsNested(a.array)) {
        aplarray *container = a.owned ? a.array : NewContainer(a.array);
        if (!container) {
            Release(a);
            return nullptr;
        }
        const bool ok = FillItems(container, [&](int64_t i) { return Monadic(e, TakeItem(a, i)); });
        Operand none{nullptr, false};
        return FinishNested(container, ok, a, none);
    }
    const int type = LeafType(e.resultType, a.array, nullptr);
    const bool reuse = a.owned && a.array->eltype == type;
    aplarray *result = reuse ? a.array : AllocArray(APL_SIMPLE | APL_TEMP, a.array->rank, type, a.array->shape, HERE);
    if (result && e.routine(result, a.array) && !aplerrno) {
        if (reuse) a.owned = false;
    } else {
        if (!reuse) APL_UnLinkTempEx(result, HERE);
        result = nullptr;
    }
    Release(a);
    return result;
}

// Owned when its count equals the reuse value; an owned array is treated as a
// temporary from here on.
Operand Claim(aplarray *array, int32_t reuse) {
    if (!ValidRecord(array) || IsStatic(array) || array->lnkcnt != reuse) return {array, false};
    array->lnkcnt = 0;
    return {array, true};
}

// ---- Entry points -----------------------------------------------------------------

// Releases the temporaries among the arguments, each record once.
void ReleaseArguments(aplarray *axis, aplarray *left, aplarray *right) {
    aplarray *const all[] = {axis, left, right};
    for (int i = 0; i < 3; ++i) {
        bool seen = false;
        for (int j = 0; j < i; ++j) seen = seen || all[j] == all[i];
        if (all[i] && !seen && ValidRecord(all[i])) APL_UnLinkTempEx(all[i], HERE);
    }
}

// Returns a temporary; consumes temporary arguments (also on error), borrows
// the axis.
aplarray *AxisForm(const ScalarMember &m, int resultType, aplarray *axis, aplarray *left, aplarray *right) {
    const bool stretchRight = left->rank >= right->rank;
    aplarray *lower = stretchRight ? right : left;
    aplarray *higher = stretchRight ? left : right;
    aplarray *stretched = ExtendAlongAxes(lower, axis, higher);
    // The lower argument is consumed here unless it also stands on the other side.
    if (lower != higher) APL_UnLinkTempEx(lower, HERE);
    if (!stretched) {
        APL_UnLinkTempEx(higher, HERE);
        return nullptr;
    }
    return stretchRight ? ScalarDyadic(m.dyadic, resultType, left, 0, stretched, 0, m.mask)
                        : ScalarDyadic(m.dyadic, resultType, stretched, 0, right, 0, m.mask);
}

// A static record (a constant of a line) whose element can be read where it
// lies: pooled records are only 4-byte aligned, which a REAL may not be.
bool ReadableInPlace(const aplarray *a) {
    return !IsStatic(a) || a->eltype != APL_REAL || reinterpret_cast<uintptr_t>(DataOf(a)) % alignof(double) == 0;
}

// Two distinct simple scalars of admitted types, the everyday case of a
// scalar loop: the routine runs at once, without the analysis of shapes,
// nesting and conversions. Returns a temporary; consumes temporaries.
bool PlainScalars(const ScalarMember &m, const aplarray *left, const aplarray *right) {
    return left->rank == 0 && right->rank == 0 && left != right && (left->eltype & m.mask) &&
           (right->eltype & m.mask) && !IsNested(left) && !IsNested(right) && ReadableInPlace(left) &&
           ReadableInPlace(right);
}

aplarray *ScalarPair(const ScalarMember &m, aplarray *left, aplarray *right) {
    const DyadicEngine e{m.dyadic, DyadicResultType(m.dyadicRule, left->eltype, right->eltype), m.mask};
    Operand l{left, left->lnkcnt == 0 && !IsStatic(left)}, r{right, right->lnkcnt == 0 && !IsStatic(right)};
    aplarray *result = SimplePair(e, l, r, nullptr);
    FinishFloatingPoint();
    return result;
}

aplarray *ScalarEntry(const ScalarMember &m, aplarray *axis, aplarray *left, aplarray *right);

// A constant image of generated code fails the engine's checks only for where
// it lies: its managed copy takes its place. Kept out of the entry's frame.
__attribute__((noinline)) aplarray *ScalarEntryOfCopies(const ScalarMember &m, aplarray *axis, aplarray *left,
                                                       aplarray *right) {
    if (AlignArguments(axis, left, right)) return ScalarEntry(m, axis, left, right);
    ReleaseArguments(axis, left, right);
    return nullptr;
}

// The frame of all 21 entry points. Returns a temporary; consumes temporary
// arguments (also on error), leaves linked ones as they were.
aplarray *ScalarEntry(const ScalarMember &m, aplarray *axis, aplarray *left, aplarray *right) {
    if (aplerrno || !right || (left && !ValidRecord(left)) || !ValidRecord(right) || (axis && !ValidRecord(axis))) {
        if (!aplerrno && AnyUnaligned(axis, left, right)) return ScalarEntryOfCopies(m, axis, left, right);
        if (!aplerrno) SetError(right ? APL_ERR_DOMAIN : APL_ERR_SYNTAX);
        ReleaseArguments(axis, left, right);
        return nullptr;
    }
    if (!axis && left && PlainScalars(m, left, right)) {
        aplarray *result = ScalarPair(m, left, right);
        if (aplerrno) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        return result;
    }
    // The axis is held to the end: it may also stand as an argument.
    aplarray *heldAxis = axis ? APL_LinkEx(axis, HERE) : nullptr;
    aplarray *result = nullptr;
    if (axis && !heldAxis) {
        ReleaseArguments(nullptr, left, right);
    } else if (!left) {
        result = ScalarMonadic(m.monadic, MonadicResultType(m.monadicRule, right->eltype), right, 0, m.mask);
    } else {
        const int resultType = DyadicResultType(m.dyadicRule, left->eltype, right->eltype);
        if (!axis)
            result = ScalarDyadic(m.dyadic, resultType, left, 0, right, 0, m.mask);
        else
            result = AxisForm(m, resultType, heldAxis, left, right);
    }
    APL_UnLinkEx(heldAxis, HERE);
    if (result && IsNested(result)) result = SimplifyArray(result);
    if (aplerrno) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    CheckArray(result, HERE);
    return result;
}

// Indexed by MemberIndex: the entry points below reach their row directly.
enum MemberIndex {
    kAdd,
    kSub,
    kMul,
    kDivision,
    kResidue,
    kMax,
    kMin,
    kPower,
    kLogarithm,
    kCircle,
    kFactorial,
    kEqual,
    kNEqual,
    kLower,
    kLEqual,
    kGEqual,
    kGreater,
    kOr,
    kNor,
    kAnd,
    kNand
};

constexpr ScalarMember kMembers[] = {
    {glyph::kPlus, APL_Add, AddRoutine, ConjugateRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kMinus, APL_Sub, SubRoutine, NegateRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kTimes, APL_Mul, MulRoutine, SignumRoutine, kMaskNB, ResultRule::Mul, ResultRule::Intg},
    {glyph::kDivide, APL_Division, DivRoutine, ReciprocalRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kStile, APL_Residue, ResidueRoutine, MagnitudeRoutine, kMaskN, ResultRule::Num, ResultRule::MonadicNum},
    {glyph::kUpStile, APL_Max, MaxRoutine, CeilingRoutine, kMaskNB, ResultRule::NumBool, ResultRule::MonadicNum},
    {glyph::kDownStile, APL_Min, MinRoutine, FloorRoutine, kMaskNB, ResultRule::NumBool, ResultRule::MonadicNum},
    {glyph::kStar, APL_Power, PowerRoutine, ExpRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kLog, APL_Logarithm, LogRoutine, LnRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kCircle, APL_Circle, CircleRoutine, PiTimesRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kExclaim, APL_Factorial, BinomialRoutine, FactorialRoutine, kMaskN, ResultRule::Real, ResultRule::Real},
    {glyph::kEqual, APL_Equal, EqualRoutine, NonceRoutine, kMaskNBC, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kNotEqual, APL_NEqual, NotEqualRoutine, NonceRoutine, kMaskNBC, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kLess, APL_Lower, LessRoutine, NonceRoutine, kMaskNB, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kLessEqual, APL_LEqual, LessEqualRoutine, NonceRoutine, kMaskNB, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kGreaterEqual, APL_GEqual, GreaterEqualRoutine, NonceRoutine, kMaskNB, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kGreater, APL_Greater, GreaterRoutine, NonceRoutine, kMaskNB, ResultRule::Cmp, ResultRule::Intg},
    {glyph::kVee, APL_Or, OrRoutine, NonceRoutine, kMaskL, ResultRule::Logic, ResultRule::Intg},
    {glyph::kNor, APL_Nor, NorRoutine, NonceRoutine, kMaskL, ResultRule::Logic, ResultRule::Intg},
    {glyph::kWedge, APL_And, AndRoutine, NonceRoutine, kMaskL, ResultRule::Logic, ResultRule::Intg},
    {glyph::kNand, APL_Nand, NandRoutine, NonceRoutine, kMaskL, ResultRule::Logic, ResultRule::Intg},
};

// Each index names the row of its entry point, and every row has an index.
constexpr bool RowsMatchTheirIndex() {
    constexpr struct {
        MemberIndex index;
        aplfunction entry;
    } kExpected[] = {
        {kAdd, APL_Add},
        {kSub, APL_Sub},
        {kMul, APL_Mul},
        {kDivision, APL_Division},
        {kResidue, APL_Residue},
        {kMax, APL_Max},
        {kMin, APL_Min},
        {kPower, APL_Power},
        {kLogarithm, APL_Logarithm},
        {kCircle, APL_Circle},
        {kFactorial, APL_Factorial},
        {kEqual, APL_Equal},
        {kNEqual, APL_NEqual},
        {kLower, APL_Lower},
        {kLEqual, APL_LEqual},
        {kGEqual, APL_GEqual},
        {kGreater, APL_Greater},
        {kOr, APL_Or},
        {kNor, APL_Nor},
        {kAnd, APL_And},
        {kNand, APL_Nand},
    };
    if (std::size(kExpected) != std::size(kMembers)) return false;
    for (const auto &e : kExpected)
        if (kMembers[e.index].entry != e.entry) return false;
    return true;
}
static_assert(RowsMatchTheirIndex(), "kMembers and MemberIndex disagree");

}  // namespace

// ---- Engine interface ------------------------------------------------------------------

int DyadicResultType(ResultRule rule, int leftType, int rightType) {
    const bool real = leftType == APL_REAL || rightType == APL_REAL;
    const bool nested = leftType == APL_NESTED || rightType == APL_NESTED;
    const bool bothBool = leftType == APL_BOOL && rightType == APL_BOOL;
    switch (rule) {
        case ResultRule::Real: return APL_REAL;
        case ResultRule::Num: return real ? APL_REAL : nested ? kTypeAtLeaves : APL_INTG;
        case ResultRule::NumBool: return real ? APL_REAL : nested ? kTypeAtLeaves : bothBool ? APL_BOOL : APL_INTG;
        case ResultRule::Mul: return real ? APL_REAL : nested ? kTypeAtLeaves : bothBool ? APL_BOOL : APL_REAL;
        case ResultRule::Cmp: return bothBool ? APL_BOOL : APL_INTG;
        case ResultRule::Logic: return leftType == APL_BOOL || rightType == APL_BOOL ? APL_BOOL : APL_INTG;
        case ResultRule::Intg: return APL_INTG;
        case ResultRule::MonadicNum: return real ? APL_REAL : nested ? kTypeAtLeaves : APL_INTG;
    }
    return APL_INTG;
}

int MonadicResultType(ResultRule rule, int argType) { return DyadicResultType(rule, argType, argType); }

const ScalarMember *FindScalarMember(aplfunction entry) {
    for (const ScalarMember &m : kMembers)
        if (m.entry == entry) return &m;
    return nullptr;
}

namespace {
double NumberOf(const aplarray *a) { return a->eltype == APL_REAL ? *DataOf<double>(a) : *DataOf<int32_t>(a); }

}  // namespace

// Two INTG or REAL scalars (distinct records, readable where they lie) under
// + − × | or a comparison, the steps of a counting loop: the value straight
// from the operands, without the result-type rules or the routine's frame.
// Sums, differences and products are computed in double as their routines
// compute them (always a REAL result), comparisons as their routines compare
// (an INTG result), residues as the routine's element (INTG of two INTG,
// else REAL). False, with nothing done, for any other pair or member, and
// for a result that is not finite, which the routine turns into its DOMAIN
// ERROR. A REAL residue is taken here only for operands whose quotient and
// products stay far inside the range of doubles, so that no fault the
// routine would find in the status flags can arise.
bool NumberScalars(const ScalarMember &m, const aplarray *left, const aplarray *right, aplarray *into,
                   aplarray *scratch, aplarray *&result) {
    auto number = [](const aplarray *a) {
        return a->rank == 0 && (a->eltype == APL_INTG || a->eltype == APL_REAL) && !(a->type & APL_INDEXPOS) &&
               ReadableInPlace(a);
    };
    if (left == right || !number(left) || !number(right)) return false;
    int type = APL_REAL;
    double direct = 0;
    int32_t integer = 0;
    if (m.dyadic == AddRoutine) {
        direct = NumberOf(left) + NumberOf(right);
    } else if (m.dyadic == SubRoutine) {
        direct = NumberOf(left) - NumberOf(right);
    } else if (m.dyadic == MulRoutine) {
        direct = NumberOf(left) * NumberOf(right);
    } else if (m.dyadic == ResidueRoutine) {
        if (left->eltype == APL_INTG && right->eltype == APL_INTG) {
            type = APL_INTG;
            integer = ResidueOfIntegers(*DataOf<int32_t>(left), *DataOf<int32_t>(right));
        } else {
            constexpr double kModest = 1e150;
            const double a = NumberOf(left), b = NumberOf(right);
            if (!(std::fabs(a) < kModest && std::fabs(b) < kModest)) return false;
            direct = ResidueOfReals(a, b);
        }
    } else if (CompareScalars(m.dyadic, left, right, integer)) {
        type = APL_INTG;
    } else {
        return false;
    }
    if (type == APL_REAL && !std::isfinite(direct)) return false;
    if (into && !IsStatic(into) && into->rank == 0 && into->eltype == type) {
        result = into;
    } else if (scratch) {
        result = scratch;
        *result = aplarray{};
        result->size = type == APL_REAL ? 24 : 20;
        result->type = APL_SIMPLE;
        result->eltype = static_cast<uint8_t>(type);
        result->number = 1;
    } else {
        result = AllocArray(APL_SIMPLE | APL_TEMP, 0, type, nullptr, HERE);
        if (!result) return true;
    }
    if (type == APL_REAL)
        *DataOf<double>(result) = direct;
    else
        *DataOf<int32_t>(result) = integer;
    return true;
}

const ScalarMember *ScalarMemberOfCode(uint8_t code) {
    static const auto table = [] {
        struct Table {
            const ScalarMember *byCode[256] = {};
        } t;
        for (const ScalarMember &m : kMembers) t.byCode[m.code] = &m;
        return t;
    }();
    return table.byCode[code];
}

bool ScalarOfScalars(const ScalarMember &m, const aplarray *left, const aplarray *right, aplarray *into,
                     aplarray *&result) {
    result = nullptr;
    if (!left || !right) return false;
    if (NumberScalars(m, left, right, into, nullptr, result)) return true;
    if (!PlainScalars(m, left, right) || ((left->type | right->type) & APL_INDEXPOS)) return false;
    const int type = DyadicResultType(m.dyadicRule, left->eltype, right->eltype);
    if (type != APL_INTG && type != APL_REAL && type != APL_BOOL) return false;
    const bool reuse = into && !IsStatic(into) && into->rank == 0 && into->eltype == type && !IsNested(into);
    // The value is computed into a record on the stack first, so that a
    // fault (an overflow found after the write) leaves `into` as it was.
    alignas(16) unsigned char scratch[32] = {};
    auto *aside = reinterpret_cast<aplarray *>(scratch);
    aside->size = type == APL_REAL ? 24 : 20;
    aside->type = APL_SIMPLE;
    aside->eltype = static_cast<uint8_t>(type);
    aside->number = 1;
    const bool ok = m.dyadic(aside, left, right) && !aplerrno;
    FinishFloatingPoint();
    if (!ok) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        return true;
    }
    result = reuse ? into : AllocArray(APL_SIMPLE | APL_TEMP, 0, type, nullptr, HERE);
    if (result) memcpy(DataOf(result), DataOf(aside), ElementSize(type));
    return true;
}

const ScalarMember *ScalarMemberByCode(int code) {
    for (const ScalarMember &m : kMembers)
        if (m.code == code) return &m;
    return nullptr;
}

aplarray *ScalarDyadic(DyadicRoutine routine, int resultType, aplarray *left, int32_t leftReuse, aplarray *right,
                       int32_t rightReuse, int typeMask) {
    const DyadicEngine e{routine, resultType, typeMask | APL_NESTED};
    aplarray *result = Dyadic(e, Claim(left, leftReuse), Claim(right, rightReuse));
    FinishFloatingPoint();
    return result;
}

aplarray *ScalarMonadic(MonadicRoutine routine, int resultType, aplarray *arg, int32_t argReuse, int typeMask) {
    const MonadicEngine e{routine, resultType, typeMask | APL_NESTED};
    aplarray *result = Monadic(e, Claim(arg, argReuse));
    FinishFloatingPoint();
    return result;
}

// Returns a temporary; borrows both arguments.
aplarray *EmptyScalarResult(const aplarray *left, const aplarray *right) {
    auto oneElementVector = [](const aplarray *a) { return a->rank == 1 && a->shape[0] == 1; };
    if (left && left->rank > 0 && right->rank > 0 && !oneElementVector(left) && !oneElementVector(right)) {
        bool same = left->rank == right->rank;
        for (int i = 0; same && i < left->rank; ++i) same = left->shape[i] == right->shape[i];
        if (!same) {
            SetError(APL_ERR_LENGTH);
            return nullptr;
        }
    }
    const aplarray *source = left && ElementCount(left) == 0 ? left : right;
    aplarray *typical = prototype(source, kPrototypeTypical);
    if (!typical) return nullptr;
    aplarray *result = nullptr;
    if (typical->rank > 0) {
        // Integer zeros of the typical item's structure fill the empty result.
        aplarray *zeros = prototype(typical, kPrototypeZeros);
        result = zeros ? NewContainer(source) : nullptr;
        if (result)
            ItemsOf(result)[0] = APL_LinkEx(zeros, HERE);
        else
            APL_UnLinkTempEx(zeros, HERE);
    } else {
        result = AllocArray(APL_SIMPLE | APL_TEMP, source->rank, APL_INTG, source->shape, HERE);
    }
    APL_UnLinkTempEx(typical, HERE);
    return result;
}

// ---- The 21 scalar functions --------------------------------------------------------
// Each returns a temporary (or a temporary argument reused in place); consumes
// temporary arguments, leaves linked ones as they were. left null: monadic.

extern "C" aplarray *APL_Add(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kAdd], axis, left, right);
}
extern "C" aplarray *APL_Sub(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kSub], axis, left, right);
}
extern "C" aplarray *APL_Mul(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kMul], axis, left, right);
}
extern "C" aplarray *APL_Division(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kDivision], axis, left, right);
}
extern "C" aplarray *APL_Residue(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kResidue], axis, left, right);
}
extern "C" aplarray *APL_Max(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kMax], axis, left, right);
}
extern "C" aplarray *APL_Min(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kMin], axis, left, right);
}
extern "C" aplarray *APL_Power(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kPower], axis, left, right);
}
extern "C" aplarray *APL_Logarithm(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kLogarithm], axis, left, right);
}
extern "C" aplarray *APL_Circle(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kCircle], axis, left, right);
}
extern "C" aplarray *APL_Factorial(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kFactorial], axis, left, right);
}
extern "C" aplarray *APL_Equal(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kEqual], axis, left, right);
}
extern "C" aplarray *APL_NEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kNEqual], axis, left, right);
}
extern "C" aplarray *APL_Lower(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kLower], axis, left, right);
}
extern "C" aplarray *APL_LEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kLEqual], axis, left, right);
}
extern "C" aplarray *APL_GEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kGEqual], axis, left, right);
}
extern "C" aplarray *APL_Greater(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kGreater], axis, left, right);
}
extern "C" aplarray *APL_Or(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kOr], axis, left, right);
}
extern "C" aplarray *APL_Nor(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kNor], axis, left, right);
}
extern "C" aplarray *APL_And(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kAnd], axis, left, right);
}
extern "C" aplarray *APL_Nand(aplarray *axis, aplarray *left, aplarray *right) {
    return ScalarEntry(kMembers[kNand], axis, left, right);
}
