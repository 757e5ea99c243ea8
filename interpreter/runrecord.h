// runrecord: the record of what a running evaluation changes and puts back as
// it returns, which the session saves before each evaluation and restores when
// a caught processor fault has skipped those returns.
// Relies on the depth counters, the evaluator, the session and the running calls.
#pragma once

#include "core/depths.h"
#include "core/frames.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"

#include <cstdint>

// What an evaluation changes as it runs and puts back as its frames return:
// the depth counters, the evaluator's state, the session's loop, trap and
// unwind counts, the state indicator with the line frame and the function
// being executed, the names and records of running calls, and the serial
// number from which blocks are the evaluation's own. A caught processor
// fault skips those returns; the session saves the record before each
// evaluation and restores it after a fault.
struct RunRecord {
    DepthCounters depths;
    EvaluatorState evaluator;
    int loopDepth;
    int trapDepth;
    int unwindLevels;
    int stateLevels;
    uint16_t executing;
    LineFrame *frame;
    RunningCallsMark calls;
    int32_t firstSerial;
};

RunRecord SaveRunRecord();
// Puts the runtime back as the record found it: the calls begun since are
// ended (names, frames, records), the counters and the state indicator are
// as they were, and the temporary arrays made since and held by no one (the
// skipped frames' own) are released.
void RestoreRunRecord(const RunRecord &record);
