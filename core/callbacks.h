// callbacks: the host's callback slots and the session output channel built on
// slots 1 and 2. Relies on nothing but apl.h; every layer writes through here
// so that no layer below the host needs to know how text reaches a screen.
#pragma once

#include "apl.h"

constexpr int kCallbackSlots = 11;

enum CallbackSlot {
    kSlotWrite = 1,
    kSlotNewLines = 2,
    kSlotReadLine = 3,
    kSlotWorkspaceName = 4,
    kSlotCopyFile = 5,
    kSlotMakeDirectory = 6,
    kSlotListPlugins = 7,
    kSlotLoadLibrary = 8,
    kSlotFindProcedure = 9,
    kSlotMaskFloatingPoint = 10,
    kSlotKeyboard = 11
};

// The function stored in a slot (1 ... 11), or null.
void *CallbackFunction(int slot);

// Writes text through slot 1, ending the line when newLine is set.
void WriteText(const char *text, bool newLine);
// Writes one formatted line through slot 1.
void WriteLinef(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Ends count lines through slot 2 (or slot 1 when slot 2 is not set).
void WriteNewLines(int count);
// Tells the host that what has been written must be seen now: before the
// session waits for input and after an error report. It is slot 2 with a
// count of 0, which ends no line; a host that buffers its output (a pipe, a
// file) flushes it then, so that a program driving the session sees each
// answer before it writes the next line, while a long display stays buffered.
void FlushOutput();
