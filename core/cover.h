// cover: the runtime interface that compiled code calls (assignment, strands,
// function descriptors and their evaluation, the KAZ_ support routines).
// Relies on arrays, symtab, errors and the primitive tables.
#pragma once

#include "apl.h"

#include <cstdint>

// Links, allocations and reports made by the cover functions are traced under
// the module name "cover".
#define COVER "cover", __LINE__

// ---- Assignment --------------------------------------------------------------

// The interpreter's check of a value for a system variable (allowed ranges,
// types, MODE into the session's mode word): the value to store (the value
// itself or a new temporary), or null with the error set. Only reads the value.
using SystemValueCheck = aplarray *(*)(uint16_t index, aplarray *value);
extern SystemValueCheck checkSystemValue;

// Assignment to a system variable (kind 0x22) through the check above, so that
// compiled code cannot store what the session would refuse.
// Links the value into the name (a temporary becomes owned); returns the stored
// value, or null with the error set (a temporary value is then released).
aplarray *AssignSystemVariable(uint16_t index, aplarray *value);
