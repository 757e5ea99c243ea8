// output: the library's session output, collected as UTF-8 text.
#include "output.h"

#include "apl.h"
#include "codepage.h"

namespace output {
namespace {

constexpr char kCaretMark = 6;  // the next character gets a caret below it

std::string text;     // finished lines
std::string line;     // the current line (codes, marks removed)
std::string carets;   // a caret under each marked column of the current line
long reportStart = -1;
int32_t errorsSeen = 0;

void EndLine() {
    codepage::AppendUtf8(text, reinterpret_cast<const uint8_t *>(line.data()), line.size());
    text += '\n';
    if (!carets.empty()) text += carets + '\n';
    line.clear();
    carets.clear();
    APL_cursor_pos = 0;
}

}  // namespace

void Write(const char *codes, int32_t newLine) {
    // The library counts an error before it writes its report: the first
    // write after the count moved starts the report.
    if (APL_ErrorsReported() != errorsSeen) {
        errorsSeen = APL_ErrorsReported();
        std::string pending;  // the report may follow text on the same line
        codepage::AppendUtf8(pending, reinterpret_cast<const uint8_t *>(line.data()), line.size());
        reportStart = static_cast<long>(text.size() + pending.size());
    }
    for (const char *c = codes; *c; ++c) {
        if (*c != kCaretMark) {
            line += *c;
            continue;
        }
        if (carets.size() < line.size()) carets.append(line.size() - carets.size(), ' ');
        if (carets.size() == line.size()) carets += '^';
    }
    APL_cursor_pos = static_cast<int32_t>(line.size());
    if (newLine) EndLine();
}

void EndLines(int32_t count) {
    for (int32_t i = 0; i < count; ++i) EndLine();
}

void Begin() {
    text.clear();
    line.clear();
    carets.clear();
    reportStart = -1;
    errorsSeen = APL_ErrorsReported();
}

std::string Finish(long &reportAt) {
    if (!line.empty()) {
        codepage::AppendUtf8(text, reinterpret_cast<const uint8_t *>(line.data()), line.size());
        line.clear();
        carets.clear();
    }
    reportAt = reportStart;
    std::string result;
    result.swap(text);
    return result;
}

}  // namespace output
