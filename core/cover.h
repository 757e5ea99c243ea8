// cover: the runtime interface that compiled code calls (assignment, strands,
// function descriptors and their evaluation, the KAZ_ support routines, display).
// Relies on arrays, symtab, errors and the primitive tables of system/register.
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

// ---- Display -------------------------------------------------------------------

// The value as text for the session: a CHAR matrix, or any CHAR array (which the
// printer shows as a matrix). Returns a temporary, or the value itself when it is
// character data outside keyword mode; only reads the value. Null with the error set.
aplarray *FormatForDisplay(aplarray *value);
// Writes the rows of a CHAR array in pieces of at most PW characters, every row
// but the last ended; only reads the array. Stops with INTERRUPT when the host
// has set APL_interrupted.
void PrintCharMatrix(const aplarray *matrix);

// ---- Defined functions -------------------------------------------------------------
// APL_Evaluate hands a descriptor with APL_FN_DEFINED to this runner, which the
// interpreter installs; without one the call is a SYSTEM error. The runner
// follows the calling convention (consumes temporary arguments).
using DefinedFunctionRunner = aplarray *(*)(aplfnc *function, aplarray *axis, aplarray *left,
                                            aplarray *right);
extern DefinedFunctionRunner runDefinedFunction;
