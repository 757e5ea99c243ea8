// mergesort: a stable sort that the host's interrupt can stop, for grade's
// rows and the sorted REAL tables of search. A library sort runs to its end
// once started; this one looks at the flag by the work it has done.
// Relies on the raw blocks of core/arrays (ScratchBlock) and core/errors.
#pragma once

#include "core/errors.h"
#include "structural/scratch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// Sorts data[0..n) stably by less: short runs by insertion, then passes that
// merge neighbouring runs through a work array of n elements. Comparisons
// may be slow (long cells), so the flag is looked at by the comparisons
// made, `weight` counted for each. False with INTERRUPT or WS FULL set; the
// data is then some permutation of what it was.
template <class T, class Less>
bool InterruptibleStableSort(T *data, int64_t n, int64_t weight, Less less) {
    constexpr int64_t kRun = 16;
    StrideClock clock;
    int64_t work = 0;
    for (int64_t lo = 0; lo < n; lo += kRun) {
        const int64_t hi = std::min(n, lo + kRun);
        for (int64_t i = lo + 1; i < hi; ++i) {
            const T value = data[i];
            int64_t j = i;
            for (; j > lo && less(value, data[j - 1]); --j) data[j] = data[j - 1];
            data[j] = value;
        }
        work += weight * (hi - lo) * kRun / 2;
        if (clock.passed(work)) return false;
    }
    if (n <= kRun) return true;
    ScratchBlock<T> buffer(n);
    if (!buffer.get()) return false;
    T *from = data, *to = buffer.get();
    for (int64_t width = kRun; width < n; width *= 2) {
        for (int64_t lo = 0; lo < n; lo += 2 * width) {
            const int64_t mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
            int64_t i = lo, j = mid, k = lo;
            // Equal elements are taken from the left run first: stable.
            for (; i < mid && j < hi; ++k) {
                to[k] = less(from[j], from[i]) ? from[j++] : from[i++];
                work += weight;
                if (clock.passed(work)) return false;
            }
            std::copy(from + i, from + mid, to + k);
            std::copy(from + j, from + hi, to + k + (mid - i));
        }
        std::swap(from, to);
    }
    if (from != data) std::memcpy(static_cast<void *>(data), from, sizeof(T) * static_cast<size_t>(n));
    return true;
}
