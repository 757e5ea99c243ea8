// operands: what each, rank and the products share about their function
// operands (is it a scalar primitive, how deep operand calls nest) and the
// nested result they collect. Relies on the primitive tables and the call path.
#pragma once

#include "apl.h"

#include <cstdint>

// Operand calls inside operand calls nest at most this deep (LIMIT beyond).
constexpr int kMaxOperandDepth = 100;

// Counts one level of operand calls for its lifetime. ok() is false, with
// LIMIT set, when the level is one too many.
class OperandDepth {
public:
    OperandDepth();
    ~OperandDepth();
    OperandDepth(const OperandDepth &) = delete;
    OperandDepth &operator=(const OperandDepth &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

// True when the operand is a primitive whose dyadic (or monadic) form is a
// scalar function of the engine. Only reads the descriptor.
bool IsScalarPrimitive(const aplfnc *operand, bool dyadic);
// True when the operand is the primitive with this character.
bool IsPrimitive(const aplfnc *operand, uint8_t code);
// True for an empty descriptor (no second operand), which monadic operators
// take. A native function's descriptor has flags 0 too, but its function.
inline bool IsEmptyOperand(const aplfnc *operand) { return !operand || (operand->flags == 0 && !operand->function); }

// The finishing step of every item-by-item result: all items without a value
// (the function returned nothing each time) give null without an error; some
// without a value give SYNTAX; otherwise the result, simplified when all items
// are simple scalars. Consumes the temporary nested result.
aplarray *FinishItems(aplarray *result);

// An empty nested array of the given shape whose prototype is `prototype`,
// simplified when that is a simple scalar. Consumes a temporary prototype.
// Returns a temporary or null with the error set.
aplarray *EmptyOf(int rank, const int32_t *shape, aplarray *prototype);
