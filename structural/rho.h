// rho: shape and reshape, and the fill element (prototype) of an array that
// take, drop, indexing, enclose and the scalar engine build their fills from.
// Relies on the array core, the element conversions and the standard wrapper.
#pragma once

#include "apl.h"

// What prototype builds.
enum PrototypeMode {
    kPrototypeWhole = 0,    // the prototype of the whole array, same shape
    kPrototypeTypical = 1,  // the prototype of the first element, a scalar for simple arrays
    kPrototypeZeros = 2     // integer zeros of the same structure (empty scalar results)
};

// Returns a new temporary (lnkcnt 0), or null with aplerrno set. Borrows the
// array: its links are left as they were.
aplarray *prototype(const aplarray *array, int mode);
