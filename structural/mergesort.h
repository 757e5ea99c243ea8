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

// Sorts data[0..n) stably by less: short runs by the library's stable sort,
// then passes that merge neighbouring runs through a work array of n
// elements. Comparisons may be slow (long cells), so the flag is looked at by
// the comparisons made, `weight` counted for each. False with INTERRUPT or WS FULL set; the
// data is then some permutation of what it was.
template <class T, class Less>
bool InterruptibleStableSort(T *data, int64_t n, int64_t weight, Less less) {
    // Runs of about a stride's work each are sorted by the library, between
    // looks at the flag; then they are merged here.
    const int64_t run = std::max<int64_t>(16, kInterruptStride / std::max<int64_t>(weight, 1) / 16);
    StrideClock clock;
    int64_t work = 0;
    for (int64_t lo = 0; lo < n; lo += run) {
        const int64_t hi = std::min(n, lo + run);
        std::stable_sort(data + lo, data + hi, less);
        work += weight * (hi - lo) * 16;
        if (clock.passed(work)) return false;
    }
    if (n <= run) return true;
    ScratchBlock<T> buffer(n);
    if (!buffer.get()) return false;
    T *from = data, *to = buffer.get();
    const int64_t burstLength = std::max<int64_t>(1, kInterruptStride / std::max<int64_t>(weight, 1));
    for (int64_t width = run; width < n; width *= 2) {
        for (int64_t lo = 0; lo < n; lo += 2 * width) {
            const int64_t mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
            // A pair of runs that is a stride's work or less goes to the
            // library's merge (stable: the left run's element first when equal).
            if ((hi - lo) * weight <= kInterruptStride) {
                std::merge(from + lo, from + mid, from + mid, from + hi, to + lo, less);
                work += (hi - lo) * weight;
                if (clock.passed(work)) return false;
                continue;
            }
            int64_t i = lo, j = mid, k = lo;
            // Equal elements are taken from the left run first: stable. The
            // flag is looked at between bursts of about a stride's work.
            while (i < mid && j < hi) {
                const int64_t start = k;
                for (int64_t burst = burstLength; burst > 0 && i < mid && j < hi; --burst, ++k)
                    to[k] = less(from[j], from[i]) ? from[j++] : from[i++];
                work += (k - start) * weight;
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
