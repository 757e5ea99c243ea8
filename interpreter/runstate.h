// runstate: the one list of the runtime's mutable state that belongs to a
// workspace, and the reset that clearing the workspace (or a load that
// replaces it) runs over the whole list. Relies on every layer's reset routine.
#pragma once

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
