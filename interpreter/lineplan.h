// lineplan: statement lines compiled once, when first run, into a short list of
// operations (read a variable, hold a constant, call a primitive, assign) that
// later runs of the same line follow without matching any reduction rule.
// Relies on the stored-line format, the primitive tables and the evaluator's assignment.
#pragma once

#include "interpreter/tokenizer.h"

// Runs a statement line through its compiled plan when it has one and every
// name it reads is a variable now. True when the plan ran (aplerrno and the
// error position tell how it went, exactly as the general walk would have
// left them); false, with nothing done, when the line must take the general
// walk.
bool RunLinePlan(const StoredLine &line, const PoolView &pool);
// Forgets every compiled line: a line of a cleared workspace may later stand
// at the same address as another.
void ForgetLinePlans();
