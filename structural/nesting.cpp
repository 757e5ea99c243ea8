// nesting: the small pieces of enclose, disclose and depth that function
// definition needs (rows of a matrix as items, text rows as a matrix, depth).
// Relies on the array core only; the nested-array primitives may take them over.
#include "structural/nesting.h"

#include "core/arrays.h"
#include "core/errors.h"

#include <cstring>
#include <vector>

namespace {

// Bytes of one row of a simple array: BOOL rows start on a fresh word, so a
// row is a whole number of words there.
size_t RowBytes(const aplarray *array, int32_t length) {
    if (array->eltype == APL_BOOL) return 4 * static_cast<size_t>((static_cast<int64_t>(length) + 31) / 32);
    return ElementSize(array->eltype) * static_cast<size_t>(length);
}

bool IsEmptySimple(const aplarray *item) { return !IsNested(item) && ElementCount(item) == 0 && item->rank <= 1; }

}  // namespace

aplarray *SplitRows(const aplarray *array) {
    if (!array) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    if (IsNested(array)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (array->rank == 0) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    const int32_t length = RowLength(array);
    int64_t rows = 1;
    for (int i = 0; i + 1 < array->rank; ++i) rows *= array->shape[i];
    aplarray *result = AllocArray(APL_NESTEDARRAY | APL_TEMP, array->rank - 1, APL_NESTED, array->shape, HERE);
    if (!result) return nullptr;
    const size_t bytes = RowBytes(array, length);
    const auto *from = DataOf<const char>(array);
    aplarray **items = ItemsOf(result);
    // An empty result still holds its prototype: an empty row.
    const int64_t slots = rows > 0 ? rows : 1;
    for (int64_t r = 0; r < slots; ++r) {
        const int32_t n = rows > 0 ? length : 0;
        aplarray *row = AllocArray(APL_SIMPLE | APL_TEMP, 1, array->eltype, &n, HERE);
        if (!row) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        if (rows > 0 && bytes) memcpy(DataOf(row), from + static_cast<size_t>(r) * bytes, bytes);
        items[r] = APL_LinkEx(row, HERE);
    }
    return result;
}

aplarray *MixTextRows(const aplarray *vector) {
    if (!vector) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    if (vector->rank > 1) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    // The rows as (text, length) pairs; a simple argument is its own one row.
    const int64_t count = IsNested(vector) ? ElementCount(vector) : 1;
    std::vector<const aplarray *> rows;
    rows.reserve(static_cast<size_t>(count));
    int32_t width = 0;
    for (int64_t i = 0; i < count; ++i) {
        const aplarray *item = IsNested(vector) ? ItemsOf(vector)[i] : vector;
        if (!item) {
            SetErrorText(APL_ERR_SYSTEM, "Nested array with a missing item");
            return nullptr;
        }
        if (item->rank > 1) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        if (item->eltype != APL_CHAR && !IsEmptySimple(item)) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        const auto n = static_cast<int32_t>(ElementCount(item));
        if (n > width) width = n;
        rows.push_back(item);
    }
    const int32_t shape[2] = {static_cast<int32_t>(count), width};
    aplarray *matrix = AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_CHAR, shape, HERE);
    if (!matrix) return nullptr;
    char *out = DataOf<char>(matrix);
    for (const aplarray *row : rows) {
        const auto n = static_cast<size_t>(ElementCount(row));
        if (row->eltype == APL_CHAR && n) memcpy(out, DataOf<const char>(row), n);
        memset(out + n, ' ', static_cast<size_t>(width) - n);
        out += width;
    }
    return matrix;
}

namespace {
int32_t DepthAt(const aplarray *array, int level) {
    if (level > kMaxDepthWalk) {
        SetError(APL_ERR_LIMIT);
        return -1;
    }
    if (!IsNested(array)) return array->rank == 0 ? 0 : 1;
    int32_t deepest = 0;
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        const aplarray *item = ItemsOf(array)[i];
        if (!item) continue;
        const int32_t d = DepthAt(item, level + 1);
        if (d < 0) return -1;
        if (d > deepest) deepest = d;
    }
    return deepest + 1;
}
}  // namespace

int32_t ArrayDepth(const aplarray *array) {
    if (!array) return 0;
    return DepthAt(array, 0);
}
