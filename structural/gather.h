// gather: copies a strided view of an array's data (any axes, any order)
// into a fresh block in ravel order; enclose with axis and disclose with axis
// select their blocks with it. Relies on the array core only.
#pragma once

#include "apl.h"
#include "core/arrays.h"

#include <cstdint>
#include <cstring>

// Strides of the axes of `shape` in elements, last axis 1.
inline void RavelStrides(const int32_t *shape, int rank, int64_t *strides) {
    int64_t step = 1;
    for (int i = rank - 1; i >= 0; --i) {
        strides[i] = step;
        step *= shape[i];
    }
}

// Copies the view (shape, strides in elements, starting at `base`) into `out`
// in ravel order. The inner loop runs along the view's last axis.
template <class T>
void GatherStrided(T *out, const T *base, const int32_t *shape, const int64_t *strides, int rank) {
    if (rank == 0) {
        *out = *base;
        return;
    }
    int64_t rows = 1;
    for (int i = 0; i + 1 < rank; ++i) rows *= shape[i];
    const int64_t inner = shape[rank - 1], step = strides[rank - 1];
    if (rows == 0 || inner == 0) return;
    int32_t index[kMaxRank] = {0};
    const T *row = base;
    for (int64_t r = 0; r < rows; ++r, out += inner) {
        if (step == 1)
            memcpy(out, row, sizeof(T) * static_cast<size_t>(inner));
        else
            for (int64_t j = 0; j < inner; ++j) out[j] = row[j * step];
        // Next row: an odometer over the leading axes of the view.
        for (int a = rank - 2; a >= 0; --a) {
            if (++index[a] < shape[a]) {
                row += strides[a];
                break;
            }
            row -= strides[a] * (shape[a] - 1);
            index[a] = 0;
        }
    }
}

// GatherStrided for an element type known only by its size (1, 2, 4 or 8
// bytes; item pointers are copied as plain words, the caller links them).
inline void GatherElements(void *out, const void *base, size_t elementSize, const int32_t *shape,
                           const int64_t *strides, int rank) {
    switch (elementSize) {
    case 1: GatherStrided(static_cast<uint8_t *>(out), static_cast<const uint8_t *>(base), shape, strides, rank); break;
    case 2: GatherStrided(static_cast<uint16_t *>(out), static_cast<const uint16_t *>(base), shape, strides, rank); break;
    case 4: GatherStrided(static_cast<uint32_t *>(out), static_cast<const uint32_t *>(base), shape, strides, rank); break;
    default: GatherStrided(static_cast<uint64_t *>(out), static_cast<const uint64_t *>(base), shape, strides, rank); break;
    }
}
