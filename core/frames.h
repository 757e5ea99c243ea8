// frames: the line frames of running functions. A frame is a block of entries,
// one per nesting level of repeated blocks; entry 0 describes the whole
// function. The line-control protocol moves the current pointer; the cover
// functions read the innermost entry.
#pragma once

#include <cstdint>

struct LineFrame {
    int32_t kind;     // 1: block repeated count times; 2: control line evaluated again after it
    int32_t first;    // first line of the block (from 1)
    int32_t last;     // last line of the block
    int32_t count;    // repetitions wanted; 0 skips the block
    int32_t done;     // repetitions completed
    int32_t line;     // the current line
    int32_t jumped;   // 1 after a branch on the current line
    LineFrame *base;  // the frame block the entry belongs to
    int32_t depth;    // index of the entry in its block
};

// The innermost active entry, null when no function runs.
extern LineFrame *currentFrame;
