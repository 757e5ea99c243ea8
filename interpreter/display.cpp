// display: the console-style display of a value (APL_Display, the quad and
// result output of compiled code): the value as a character matrix, printed
// in pieces of the page width PW. Relies on arrays, symtab, format, literal and the output channel.
#include "interpreter/display.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/cover.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/literal.h"
#include "structural/format.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// PW is range-checked when assigned; a value outside the range (possible while
// system variables are stored unchecked) is taken as the nearest allowed width.
constexpr int32_t kMinPageWidth = 30;
constexpr int32_t kMaxPageWidth = 1000;
constexpr int32_t kIndent = 6;  // continuation pieces start with six blanks

int32_t PageWidth() {
    const int32_t width = PrintWidth();
    return width < kMinPageWidth ? kMinPageWidth : width > kMaxPageWidth ? kMaxPageWidth : width;
}

// Prints the value; it keeps its links (a temporary stays allocated).
void DisplayValue(aplarray *value, bool endLine) {
    if (!value) {
        APL_DataEx(nullptr, COVER);  // reports the null pointer
        return;
    }
    if (IsStatic(value)) {
        // A constant image of generated code may lie at any address: its
        // managed copy is what is formatted.
        aplarray *copy = CopyArray(value, COVER);
        if (copy) DisplayValue(copy, endLine);
        APL_UnLinkTempEx(copy, COVER);
        return;
    }
    CheckArray(value, COVER);
    if (!IsLiveBlock(value)) return;
    // The extra link keeps formatting from freeing a temporary value.
    ++value->lnkcnt;
    if (aplarray *matrix = FormatForDisplay(value)) {
        PrintCharMatrix(matrix, !IsNested(value) && value->eltype != APL_CHAR);
        APL_UnLinkTempEx(matrix, COVER);  // the held value itself stays
    }
    --value->lnkcnt;
    if (endLine)
        WriteNewLines(1);
    else
        FlushOutput();
}

}  // namespace

namespace {

// The columns blank in every row: the gaps between columns of numbers.
std::vector<bool> BlankColumns(const uint8_t *data, int64_t rows, int64_t columns) {
    std::vector<bool> blank(static_cast<size_t>(columns), true);
    for (int64_t r = 0; r < rows; ++r)
        for (int64_t c = 0; c < columns; ++c)
            if (data[r * columns + c] != ' ') blank[static_cast<size_t>(c)] = false;
    return blank;
}

}  // namespace

void PrintCharMatrix(const aplarray *matrix, bool numbers) {
    if (!matrix || matrix->eltype != APL_CHAR) return;
    // Leading axes multiplied together give the rows.
    const int64_t columns = RowLength(matrix);
    int64_t rows = 1;
    for (int i = 0; i + 1 < matrix->rank; ++i) rows *= matrix->shape[i];
    const int32_t width = PageWidth();
    const auto *data = DataOf<const uint8_t>(matrix);
    const std::vector<bool> gaps = numbers && columns > width ? BlankColumns(data, rows, columns) : std::vector<bool>{};
    char line[kMaxPageWidth + 1];
    for (int64_t r = 0; r < rows; ++r) {
        if (InterruptRequested()) return;
        const uint8_t *row = data + r * columns;
        int64_t done = 0;
        do {
            int32_t n = 0;
            if (done > 0) {
                if (InterruptRequested()) return;
                memset(line, ' ', kIndent);
                n = kIndent;
            }
            const int64_t room = width - n;
            int64_t take = columns - done < room ? columns - done : room;
            int64_t gap = 0;
            if (!gaps.empty() && done + take < columns) {
                // Back to the last gap at which the piece ends whole.
                int64_t cut = done + take;
                while (cut > done && !gaps[static_cast<size_t>(cut)]) --cut;
                if (cut > done) take = cut - done, gap = 1;
            }
            for (int64_t k = 0; k < take; ++k) {
                const uint8_t c = row[done + k];
                line[n++] = static_cast<char>(c < 32 && c != 13 ? '.' : c);
            }
            line[n] = 0;
            done += take + gap;
            const bool endOfLine = done < columns || r + 1 < rows;
            if (n > 0 || endOfLine) WriteText(line, endOfLine);
        } while (done < columns);
    }
}

aplarray *FormatForDisplay(aplarray *value) {
    // The session's layout: character data is its own text, except in keyword
    // mode, where the format engine spells it (and negative numbers) in keywords.
    const KeywordSpeller speller = KeywordModeOn() ? KeywordText : nullptr;
    if (value->eltype == APL_CHAR && !speller) return value;
    return FormatMatrix(value, speller);
}

extern "C" void APL_Display(aplarray *array) { DisplayValue(array, true); }

extern "C" void APL_DisplayNoLF(aplarray *array) { DisplayValue(array, false); }

extern "C" void KAZ_Display(aplarray *value) {
    if (!value) return;
    APL_Display(value);
    APL_UnLinkTempEx(value, COVER);
}
