// depths: the counters of the recursions over data and code that stop at a
// limit with LIMIT ERROR instead of running off the C stack. They are kept in
// one record so that the session can save it before an evaluation and put it
// back when a caught processor fault skips the frames that would have counted
// their levels down again.
#pragma once

struct DepthCounters {
    int scalar = 0;         // scalar functions working inside the items of nested arguments
    int operand = 0;        // operand calls inside operator calls
    int display = 0;        // levels of a nested DISPLAY picture
    int copy = 0;           // levels of a nested copy
    int activeRecords = 0;  // derived functions under evaluation (their records stacked in call)

    bool operator==(const DepthCounters &) const = default;
};

inline DepthCounters depths;
