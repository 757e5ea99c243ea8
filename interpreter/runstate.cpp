// runstate: the one list of the runtime's mutable workspace state (names,
// constant pool, ties, mode bits, tracing, pending errors, the code buffer)
// and its reset. Relies on the reset routine of each layer that holds state.
#include "interpreter/runstate.h"

#include "core/arrays.h"
#include "core/blockmem.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "interpreter/fixing.h"
#include "interpreter/lineplan.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokenizer.h"
#include "system/nfiles.h"
#include "system/oserror.h"

#include <cerrno>
#include <iterator>

namespace {

void ResetTies() { UntieAll(); }

// What a line of a function left for the next one (a control value, the flags
// of the line being fixed) and the evaluator's selective-assignment marks.
// Clearing runs at session level, where no evaluation is under way.
void ResetLineControl() {
    ClearPendingControl();
    tokenizerLineFlags = 0;
    evaluator = EvaluatorState{};
}

// The system variables, display names and built-ins of a clear workspace.
void ResetNames() {
    DestroySymbolTable();
    ResetConstantPool();
    ClearWorkspace();
}

// The mode word (keyword mode, memory statistics, the tracing switches)
// follows MODE's start value.
void ResetModes() {
    sessionMode = session.programMode ? kModeScript : 0;
    lenientFixing = false;
}

void ResetErrors() {
    aplerrno = 0;
    APL_error_message[0] = 0;
    APL_interrupted = 0;
    errno = 0;
    SetPendingOsError(0);
    ClearErrorPositions();
}

void ResetCodeBuffer() { ResetTokenBuffer(codeBuffer); }

// What is remembered only to go faster: compiled lines, names and constants
// found lately, the file names of allocations. The constant pool's reset
// empties its own.
void ForgetCaches() {
    ForgetLinePlans();
    ForgetRecentNames();
    ForgetRecentFileNames();
}

constexpr StatePart kParts[] = {
    {"ties", ResetTies},
    {"line control", ResetLineControl},
    {"names, functions and the constant pool", ResetNames},
    {"mode bits and tracing", ResetModes},
    {"pending errors", ResetErrors},
    {"code buffer", ResetCodeBuffer},
    {"caches of compiled lines, names and file names", ForgetCaches},
};

}  // namespace

const StatePart *StateParts(int &count) {
    count = static_cast<int>(std::size(kParts));
    return kParts;
}

void ResetRuntimeState() {
    for (const StatePart &part : kParts) part.reset();
}
