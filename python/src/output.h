// output: the library's session output, collected as UTF-8 text the way the
// console shows it (a caret line under marked characters), and the place
// where the last error report began.
#pragma once

#include <cstdint>
#include <string>

namespace output {

// The write and new-line callbacks (slots 1 and 2).
void Write(const char *codes, int32_t newLine);
void EndLines(int32_t count);
// Starts a collection; what was collected before is dropped.
void Begin();
// The text collected (an unfinished line included), and the byte offset in it
// where the last error report began, -1 when none was written.
std::string Finish(long &reportAt);

}  // namespace output
