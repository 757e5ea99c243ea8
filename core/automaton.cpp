// automaton: the character-transition automaton that recognises the longest of
// a list of strings, built for the keyword lexer and for text replacement.
// Relies on the array core and the output channel for the memory message.
#include "core/automaton.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"

#include <algorithm>
#include <cstring>

namespace {

// Automata larger than this are WS FULL: keyword files and replacement lists
// are short, and neither must be a way to ask for gigabytes.
constexpr int64_t kMaxTransitionBytes = int64_t{256} << 20;

// The transition matrix while it is being built: a raw block that gains one row
// at a time (the block itself grows in larger steps).
struct GrowingMatrix {
    int32_t *cells = nullptr;
    int32_t rows = 0;
    int32_t columns = 0;
    int64_t capacityRows = 0;
    ~GrowingMatrix() { FreeBlock(cells, HERE); }

    // Appends a row filled with `value`; its number, or -1 with WS FULL.
    int32_t AddRow(int32_t value) {
        if (rows == capacityRows) {
            const int64_t wanted = capacityRows ? capacityRows * 2 : 16;
            if (wanted * columns * 4 > kMaxTransitionBytes || wanted > INT32_MAX) return Full();
            auto *grown = static_cast<int32_t *>(
                ReallocBlock(cells, static_cast<size_t>(wanted * columns) * sizeof(int32_t), HERE));
            if (!grown) return Full();
            cells = grown;
            capacityRows = wanted;
        }
        int32_t *row = cells + static_cast<int64_t>(rows) * columns;
        for (int32_t i = 0; i < columns; ++i) row[i] = value;
        return rows++;
    }
    int32_t &At(int32_t row, int32_t column) { return cells[static_cast<int64_t>(row) * columns + column]; }

    static int32_t Full() {
        WriteText("Not enough memory for Realloc !", true);
        SetError(APL_ERR_WSFULL);
        return -1;
    }
};

// Enters one word. A row made for a prefix that a shorter word completes is
// filled with that word's code, so that the shorter word is still recognised
// when the longer one does not follow.
bool AddWord(GrowingMatrix &matrix, const int32_t *column, const AutomatonWord &word) {
    int32_t state = 0;
    for (int32_t j = 0; j + 1 < word.length; ++j) {
        const int32_t entry = matrix.At(state, column[word.text[j]]);
        if (entry > 0) {
            state = entry;
            continue;
        }
        const int32_t row = matrix.AddRow(entry);
        if (row < 0) return false;
        matrix.At(state, column[word.text[j]]) = row;
        state = row;
    }
    int32_t &last = matrix.At(state, column[word.text[word.length - 1]]);
    if (last > 0) {
        // Longer words go on from here; any other character ends this one.
        for (int32_t c = 0; c < matrix.columns; ++c)
            if (matrix.At(last, c) == 0) matrix.At(last, c) = -word.code;
    } else {
        last = -word.code;
    }
    return true;
}

aplarray *NewIntegers(int rank, const int32_t *shape) {
    return AllocArray(APL_SIMPLE | APL_TEMP, rank, APL_INTG, shape, HERE);
}

}  // namespace

bool BuildAutomaton(const AutomatonWord *words, int32_t count, aplarray *&columns, aplarray *&cells) {
    columns = cells = nullptr;
    // Columns for the characters that occur in words, in ascending order.
    bool used[256] = {};
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = 0; j < words[i].length; ++j) used[words[i].text[j]] = true;
    const int32_t kCharacters = 256;
    TempGuard columnsGuard(NewIntegers(1, &kCharacters));
    if (!columnsGuard.get()) return false;
    int32_t *column = DataOf<int32_t>(columnsGuard.get());
    int32_t width = 1;
    for (int c = 0; c < 256; ++c) column[c] = used[c] ? width++ : -1;
    if (!used[0]) column[0] = 0;

    // Shorter words first: a longer word then passes through the end of every
    // shorter word it extends and inherits it (see AddWord).
    // Counted in 64 bits: a 32-bit size_t would wrap for a billion words.
    const int64_t orderBytes = (count > 0 ? int64_t{count} : 1) * 4;
    int32_t *order =
        orderBytes <= INT32_MAX ? static_cast<int32_t *>(AllocBlock(static_cast<size_t>(orderBytes), HERE)) : nullptr;
    if (!order) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) order[i] = i;
    std::stable_sort(order, order + count, [words](int32_t a, int32_t b) { return words[a].length < words[b].length; });

    GrowingMatrix matrix;
    matrix.columns = width;
    bool built = matrix.AddRow(0) >= 0;
    for (int32_t i = 0; built && i < count; ++i) {
        const AutomatonWord &word = words[order[i]];
        // -0 would read as "no transition".
        if (word.code > 0 && word.length > 0) built = AddWord(matrix, column, word);
    }
    FreeBlock(order, HERE);
    if (!built) return false;

    const int32_t shape[2] = {matrix.rows, width};
    aplarray *matrixArray = NewIntegers(2, shape);
    if (!matrixArray) return false;
    memcpy(DataOf(matrixArray), matrix.cells, static_cast<size_t>(matrix.rows) * static_cast<size_t>(width) * 4);
    columns = columnsGuard.release();
    cells = matrixArray;
    return true;
}
