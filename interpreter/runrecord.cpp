// runrecord: saving and restoring the record of a running evaluation.
// Relies on the array core (block serials), the depth counters, the evaluator,
// the session loop and the running calls of defined functions.
#include "interpreter/runrecord.h"

#include "core/arrays.h"
#include "interpreter/mainloop.h"

RunRecord SaveRunRecord() {
    return {depths,
            evaluator,
            session.loopDepth,
            session.trapDepth,
            session.unwindLevels,
            stateIndicator.count,
            stateIndicator.executing,
            currentFrame,
            MarkRunningCalls(),
            NextBlockSerial()};
}

void RestoreRunRecord(const RunRecord &record) {
    EndRunningCallsTo(record.calls);
    currentFrame = record.frame;
    if (stateIndicator.count > record.stateLevels) stateIndicator.count = record.stateLevels;
    stateIndicator.executing = record.executing;
    session.loopDepth = record.loopDepth;
    session.trapDepth = record.trapDepth;
    session.unwindLevels = record.unwindLevels;
    evaluator = record.evaluator;
    depths = record.depths;
    ReleaseTemporariesSince(record.firstSerial);
}
