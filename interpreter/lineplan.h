// lineplan: statement lines compiled once, when first run, into a short list of
// operations (read a variable, hold a constant, call a primitive, assign) that
// later runs of the same line follow without matching any reduction rule.
// Relies on the stored-line reader, the primitive tables and the evaluator's
// assignment and in-place rule.
#pragma once

#include "interpreter/tokenizer.h"

#include <cstdint>

// Runs a statement line through its compiled plan when it has one and every
// name it reads is a variable now. True when the plan ran (aplerrno and the
// error position tell how it went, exactly as the general walk would have
// left them); false, with nothing done, when the line must take the general
// walk.
// With a hint, the plan the hint names is taken without looking the line up
// when its slot has not changed since, and the hint is updated.
struct LinePlanHint {
    void *plan = nullptr;
    uint32_t stamp = 0;
};
bool RunLinePlan(const StoredLine &line, const PoolView &pool, LinePlanHint *hint = nullptr);
// Forgets every compiled line: a line of a cleared workspace may later stand
// at the same address as another.
void ForgetLinePlans();

// Plans can be turned off, so that every line takes the general walk: the
// plans re-implement what the walk means for the lines they handle, and the
// two ways must agree. The environment variable ORBAX_PLANS set to 0 (or
// "off") turns them off for a session; it is read when the session starts.
// On by default.
void ReadLinePlanSwitch();
void SetLinePlans(bool on);
bool LinePlansOn();

// Lines run through their plan since the process started: the work a test
// counts to know which way its lines went.
int64_t LinePlanRuns();
