// scllib: the scalar function engine and the interface of its 21 members.
// The engine admits argument types, matches shapes, descends into nested arrays
// and hands simple pairs to element routines. Relies on arrays, eltypes and rho.
#pragma once

#include "apl.h"

#include <cstdint>

// Element routines fill a preallocated simple result (final shape and type)
// from simple arguments that each hold the result's element count or exactly
// one element. They borrow the arguments (the result may be one of them: the
// engine reuses a temporary in place) and return result, or null with aplerrno
// set.
using DyadicRoutine = aplarray *(*)(aplarray *result, const aplarray *left, const aplarray *right);
using MonadicRoutine = aplarray *(*)(aplarray *result, const aplarray *arg);

// Type masks of the members: the element types that reach the routines
// unconverted (nested always passes: the engine descends into it).
constexpr int kMaskN = APL_INTG | APL_REAL | APL_NESTED;
constexpr int kMaskNB = kMaskN | APL_BOOL;
constexpr int kMaskNBC = kMaskNB | APL_CHAR;
constexpr int kMaskL = APL_INTG | APL_NESTED | APL_BOOL;

// Result type "decided at the leaves": REAL when either simple argument of the
// routine is REAL, else INTG.
constexpr int kTypeAtLeaves = APL_INTG | APL_REAL;

// How a member chooses its result type from the argument types.
enum class ResultRule : uint8_t {
    Real,       // REAL always
    Num,        // REAL if either is REAL, else leaves if either is nested, else INTG
    NumBool,    // as Num, but BOOL when both are BOOL
    Mul,        // REAL if either is REAL, else leaves if nested, else BOOL for two BOOLs, else REAL
    Cmp,        // BOOL when both are BOOL, else INTG
    Logic,      // BOOL when either is BOOL, else INTG
    Intg,       // INTG always (monadic signum and the NONCE forms)
    MonadicNum  // REAL if REAL, leaves if nested, else INTG (magnitude, floor, ceiling)
};

struct ScalarMember {
    uint8_t code;  // character code of the symbol
    aplfunction entry;
    DyadicRoutine dyadic;
    MonadicRoutine monadic;
    int mask;
    ResultRule dyadicRule;
    ResultRule monadicRule;
};

// The member whose exported entry point is `entry` (or whose symbol has the
// character `code`), or null: the operators use it to reach the routines.
const ScalarMember *FindScalarMember(aplfunction entry);
const ScalarMember *ScalarMemberByCode(int code);

// The member of a symbol by its character code, or null (one table lookup).
const ScalarMember *ScalarMemberOfCode(uint8_t code);
// The evaluator's scalar loops: two simple scalars (no axis) through the
// member's routine, computed aside and then written into `into` when it is a
// simple scalar record of the result type that the caller holds alone and
// gives up for the result (a variable about to receive it), else into a new
// temporary. False, with nothing done, when the arguments are not such a
// pair (the caller takes the general path); true with `result` set, or null
// with aplerrno set. Borrows both arguments; `into` is unchanged on error.
bool ScalarOfScalars(const ScalarMember &m, const aplarray *left, const aplarray *right, aplarray *into,
                     aplarray *&result);
// Result type for the argument element types (kTypeAtLeaves for "leaves").
// The first step of ScalarOfScalars, the one a counting loop takes: two INTG
// or REAL scalars under + − × | or a comparison, computed from the operands
// at once. Written into `into` under the same terms, else into `scratch` when
// given (a rank-0 record of 24 bytes that the caller owns: its header is set
// here), else into a new temporary. False, with nothing done, for any other
// pair or member; true with `result` set, or null with nothing written when
// no block could be had. Borrows both arguments.
bool NumberScalars(const ScalarMember &m, const aplarray *left, const aplarray *right, aplarray *into,
                   aplarray *scratch, aplarray *&result);
int DyadicResultType(ResultRule rule, int leftType, int rightType);
int MonadicResultType(ResultRule rule, int argType);

// The dyadic engine. An argument whose lnkcnt equals its reuse value (0 for a
// temporary; -1 never matches) is consumed: overwritten as the result or
// released, also on error. Other arguments are borrowed and left as they were.
// Returns a temporary (lnkcnt 0), or null with aplerrno set.
aplarray *ScalarDyadic(DyadicRoutine routine, int resultType, aplarray *left, int32_t leftReuse, aplarray *right,
                       int32_t rightReuse, int typeMask);
// The monadic engine, same conventions.
aplarray *ScalarMonadic(MonadicRoutine routine, int resultType, aplarray *arg, int32_t argReuse, int typeMask);

// The result of a scalar function when an argument is empty (left may be null):
// an empty INTG array, or an empty nested one with a zero prototype. Borrows
// both; returns a temporary or null with aplerrno set (LENGTH, WS FULL).
aplarray *EmptyScalarResult(const aplarray *left, const aplarray *right);

// The axis form's stretching of the lower-rank argument to the shape of the
// higher one, the axis naming which of higher's axes lower's axes are.
// Borrows all three; returns a temporary or null with aplerrno set.
aplarray *ExtendAlongAxes(const aplarray *lower, const aplarray *axis, const aplarray *higher);

// base to an integer power by repeated squaring; 0 to any non-zero power is 0.
double IntPower(double base, int64_t exponent);

// ---- Element routines of the members ----------------------------------------
aplarray *AddRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *SubRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *MulRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *DivRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *ResidueRoutine(aplarray *result, const aplarray *left, const aplarray *right);
// One residue A|B as the routine computes each element (REAL or INTG).
double ResidueOfReals(double a, double b);
int32_t ResidueOfIntegers(int32_t a, int32_t b);
aplarray *MaxRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *MinRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *PowerRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *LogRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *CircleRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *BinomialRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *EqualRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *NotEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *LessRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *LessEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *GreaterEqualRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *GreaterRoutine(aplarray *result, const aplarray *left, const aplarray *right);
// A comparison routine's value for two INTG or REAL scalars, as the routine
// computes it; false for a routine that is not a comparison.
bool CompareScalars(DyadicRoutine routine, const aplarray *left, const aplarray *right, int32_t &value);
aplarray *OrRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *NorRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *AndRoutine(aplarray *result, const aplarray *left, const aplarray *right);
aplarray *NandRoutine(aplarray *result, const aplarray *left, const aplarray *right);

aplarray *ConjugateRoutine(aplarray *result, const aplarray *arg);
aplarray *NegateRoutine(aplarray *result, const aplarray *arg);
aplarray *SignumRoutine(aplarray *result, const aplarray *arg);
aplarray *ReciprocalRoutine(aplarray *result, const aplarray *arg);
aplarray *MagnitudeRoutine(aplarray *result, const aplarray *arg);
aplarray *CeilingRoutine(aplarray *result, const aplarray *arg);
aplarray *FloorRoutine(aplarray *result, const aplarray *arg);
aplarray *ExpRoutine(aplarray *result, const aplarray *arg);
aplarray *LnRoutine(aplarray *result, const aplarray *arg);
aplarray *PiTimesRoutine(aplarray *result, const aplarray *arg);
aplarray *FactorialRoutine(aplarray *result, const aplarray *arg);
// The monadic form of the comparison and logical functions: NONCE.
aplarray *NonceRoutine(aplarray *result, const aplarray *arg);
