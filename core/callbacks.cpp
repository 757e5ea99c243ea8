// callbacks: the slots in which the host registers its procedures (APL_Callback)
// and the output channel over slots 1 and 2. Relies on nothing but apl.h; a
// slot left empty makes its output vanish rather than fail.
#include "core/callbacks.h"

#include <cstdarg>
#include <cstdio>

namespace {

void *callbacks[kCallbackSlots + 1];

using WriteFn = void (*)(const char *text, int32_t newLine);
using NewLinesFn = void (*)(int32_t count);

}  // namespace

extern "C" int32_t APL_Callback(int32_t slot, void *function) {
    if (slot >= 1 && slot <= kCallbackSlots) callbacks[slot] = function;
    return 0;
}

void *CallbackFunction(int slot) { return slot >= 1 && slot <= kCallbackSlots ? callbacks[slot] : nullptr; }

void WriteText(const char *text, bool newLine) {
    if (auto write = reinterpret_cast<WriteFn>(callbacks[kSlotWrite])) write(text, newLine ? 1 : 0);
}

void WriteLinef(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    WriteText(line, true);
}

void WriteNewLines(int count) {
    if (auto newLines = reinterpret_cast<NewLinesFn>(callbacks[kSlotNewLines])) {
        newLines(count);
        return;
    }
    for (int i = 0; i < count; ++i) WriteText("", true);
}

void FlushOutput() {
    if (auto newLines = reinterpret_cast<NewLinesFn>(callbacks[kSlotNewLines])) newLines(0);
}
