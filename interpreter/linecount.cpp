// linecount: the niladic system functions LC (line numbers of the running
// functions) and IC (turn counters of the active control blocks). Relies on
// the state indicator and the line frames of interpreter/execfn.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/frames.h"
#include "interpreter/execfn.h"
#include "system/niladic.h"

#include <vector>

namespace {

// The frame of the function running now, or null at session level (a
// suspended function's frame stays current in its session, but its line is
// on the state indicator).
const LineFrame *RunningFrame() {
    if (!currentFrame || currentFrame == SessionFrame()) return nullptr;
    return stateIndicator.executing == kSessionLevel ? nullptr : currentFrame;
}

}  // namespace

// Niladic: a new temporary INTG vector, innermost function first. The running
// function's current line, then for each state indicator entry the line its
// function stood at (callers and suspended functions); session levels are skipped.
extern "C" aplarray *APL_LineCount(aplarray *axis, aplarray *left, aplarray *right) {
    if (!NiladicCall(axis, left, right)) return nullptr;
    std::vector<int32_t> lines;
    if (const LineFrame *frame = RunningFrame()) lines.push_back(frame->line);
    for (int i = stateIndicator.count; i-- > 0;) {
        const StateEntry &entry = stateIndicator.entries[i];
        if (entry.function != kSessionLevel && entry.line > 0) lines.push_back(entry.line);
    }
    return MakeIntVector(lines.data(), static_cast<int32_t>(lines.size()));
}

// Niladic: a new temporary 2-row INTG matrix, one column per active control
// block of the running function, innermost first: row 1 the turn being run
// (from 1), row 2 the turns the control value asked for. A block whose control
// line is evaluated again after each turn (a negative count) starts afresh
// each time, so its column reads 1 1. No function running: 2 by 0.
extern "C" aplarray *APL_IterationCount(aplarray *axis, aplarray *left, aplarray *right) {
    if (!NiladicCall(axis, left, right)) return nullptr;
    const LineFrame *frame = RunningFrame();
    const int32_t blocks = frame ? frame->depth : 0;
    const int32_t shape[2] = {2, blocks};
    aplarray *counts = AllocArray(APL_TEMP, 2, APL_INTG, shape, HERE);
    if (!counts) return nullptr;
    int32_t *turn = DataOf<int32_t>(counts), *wanted = turn + blocks;
    for (int32_t column = 0; column < blocks; ++column) {
        const LineFrame &entry = frame[-column];
        turn[column] = entry.done + 1;
        wanted[column] = entry.count;
    }
    return counts;
}
