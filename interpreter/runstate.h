// runstate: the one list of the runtime's mutable state that belongs to a
// workspace, and the reset that clearing the workspace (or a load that
// replaces it) runs over the whole list. Relies on every layer's reset routine.
#pragma once

// Mutable state that is not the workspace's, and so not in the list: the
// process and the session own it, and clearing leaves it as it is.
// - Set by the host or at start-up: the callback slots, the file-name buffers
//   (APL_tokenfile, APL_workspacefile, ...), APL_cursor_pos, script and program
//   mode, the allocation ceiling, the installed token file, the primitive
//   dispatch tables, the system-function table and the loaded plug-ins, the
//   runners of defined functions and the system-value check.
// - The memory manager's own books: the block list, the registry of live
//   blocks, free lists and kept large blocks, the serial counter, the recorded
//   source-file names; tracingActive (off only while the library starts).
// - The session's bookkeeping: the loops and unwind requests, the state
//   indicator, the line frames and the derived-function records being run
//   (all empty when clearing runs: it waits for suspended functions to go),
//   and the input record of typed lines that OFF writes.
// - Scratch that holds nothing between calls (tokenizer vectors, the string
//   and slot scratch of arrays, the signal guards of the platform layer).

// One piece of workspace state and how it is put back to its start.
struct StatePart {
    const char *name;
    void (*reset)();
};

// Every part, in the order in which they are reset (ties before the names
// that may hold their numbers, the tables before the names defined in them).
const StatePart *StateParts(int &count);

// Puts every part back to its start: the workspace is then as APL_Init left
// it. Suspended functions must be gone (they hold entries of the table).
void ResetRuntimeState();
