// take: the take engine that take, drop and disclose share, which cuts an
// array to given lengths per axis and pads what lies beyond it with a fill.
// Relies on the array core and the pieces in structural/cells.
#pragma once

#include "apl.h"

#include <cstdint>

// `array` taken to lengths[j] along axis j: the first |L| elements of the axis
// for L >= 0, the last |L| for L < 0; positions beyond the array receive the
// fill element `fill` (a scalar as prototype(array, 1) gives it: its value for
// simple data, a link to it in each slot of nested data, the prototype slot of
// an empty nested result included). `count` must equal the rank of `array`,
// or `array` is a scalar, which then stands at the first position of every
// axis with L >= 0 and at the last of every axis with L < 0.
// BOOL and SHORT data come back as INTG. A nested result made only of simple
// scalars is simplified.
// Returns a new temporary; borrows `array` and `fill`. Every slot that holds
// the fill links it, and a result that simplifies to scalars unlinks those
// slots again, so the caller keeps a link of its own on the fill.
// Null with the error set: LENGTH (count neither the rank nor any for a
// scalar), LIMIT (more than 64 axes), DOMAIN (a length beyond 2^31-1 or too
// many elements), WS FULL, INTERRUPT.
aplarray *TakeEngine(const aplarray *array, const int64_t *lengths, int count, aplarray *fill);
