// mainloop: the library's start-up and the interactive session: the
// read-evaluate-print cycle, error reports with their caret line, evaluated and
// character input, execute and the latent expression.
// Relies on the tokenizer, the evaluator, system commands and the host callbacks.
#pragma once

#include "apl.h"

#include <cstdint>

// Mode word bits read by the session (MODE and the DEBUG switches).
constexpr uint32_t kModeKeywords = 0x01;
constexpr uint32_t kModeScript = 0x04;
constexpr uint32_t kModeAutoReset = 0x08;

// The internal code of an unwind request travelling out through the session
// levels; never shown.
constexpr int32_t kUnwindRequest = 1111;

struct SessionState {
    bool programMode = false;         // started for a compiled program
    bool scriptMode = false;          // no interaction: set by the host
    bool ending = false;              // OFF: every session level returns
    bool clearPending = false;        // CLEAR waits for the suspended functions to go
    int unwindLevels = 0;             // levels an unwind request still has to cut back
    int loopDepth = 0;                // active session loops
    int trapDepth = 0;                // expressions run by EA: their errors come back, nothing suspends
    aplarray *inputRecord = nullptr;  // the lines typed, for OFF (linked)
};
extern SessionState session;

// Sets the identity of the workspace (".kaz" or ".KAZ" cut off) and tells the host.
void SetWorkspaceID(const char *name);
// Builds a clear workspace: system variables, the DISPLAY names, builtins.
void ClearWorkspace();
// The names every workspace has: the system variables (their defaults where a
// name has no value yet) and the DISPLAY names.
void CreateStandardNames();
// Destroys the workspace, builds a clear one and writes its identity.
void ClearAndAnnounce();
// Asks the session loops to cut back `levels` suspended levels.
void RequestUnwind(int levels);
// Executes text in a fresh buffer and pool (names must exist unless assigned).
// Returns the value with one link that the caller owns, or null; `assigned`
// tells that it was just assigned. The value may be a variable's own array
// (nothing is copied): the caller unlinks it, or returns it with GiveUpLink.
aplarray *ExecuteText(const uint8_t *text, int32_t length, bool &assigned);
// Gives up the caller's link on a value of ExecuteText so that it can be
// returned as a result (a temporary when nobody else holds it). A function
// under the standard wrapper returns the value as it is instead: the
// wrapper gives up the link of every result that is not an argument.
inline aplarray *GiveUpLink(aplarray *value) {
    if (value && value->lnkcnt > 0) --value->lnkcnt;
    return value;
}
void RunLatentExpression();
// The texts of executes that failed, innermost first, with their carets: an
// error report shows them after the error's name; a trapped error forgets them.
void ShowFailedTexts();
void ForgetFailedTexts();
