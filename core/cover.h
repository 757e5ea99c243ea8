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

// Assignment to a system variable (kind 0x22). For now the value is stored as
// for an ordinary name; the checked path (allowed ranges, MODE, quad output)
// replaces it when the line evaluator arrives.
// Links the value into the name (a temporary becomes owned); returns the stored
// value, or null with the error set.
aplarray *AssignSystemVariable(uint16_t index, aplarray *value);
