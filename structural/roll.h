// roll: the random generator under roll and deal, and deal's pick methods,
// open to the tests that compare them with plain reference code.
// Relies on nothing but the standard library.
#pragma once

#include <cmath>
#include <cstdint>

constexpr uint64_t kRandomModulus = 2147483647;  // 2^31 - 1
constexpr uint64_t kRandomMultiplier = 16807;
constexpr uint64_t kRandomLinkStart = 16807;  // RL in a clear workspace
// Deal keeps a whole table for ranges up to this size (64 MB of INTG).
constexpr int64_t kDenseDealRange = int64_t{1} << 24;

// The multiplicative congruential generator. The state stays below 2^31, so
// state × multiplier is exact in 64 bits (and in a double).
struct RandomGenerator {
    uint64_t state = kRandomLinkStart;
    // One draw for the bound n: the next state x, then ⌈x × n × (1 ÷ modulus)⌉,
    // a value from 1 to n for a positive integer n (0 for 0).
    double Draw(double n) {
        state = state * kRandomMultiplier % kRandomModulus;
        return std::ceil(static_cast<double>(state) * n * (1.0 / static_cast<double>(kRandomModulus)));
    }
};

// Deals `count` distinct values from origin ... origin + range - 1 into `out`,
// count ≤ range: by redrawing when 2 × √range exceeds count, else by the pick
// table (the whole table or only its moved entries; the picks are the same).
// False with WS FULL or INTERRUPT set.
bool DealInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator);
// The two forms of the table method, whatever the sizes.
bool DealDenseInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator);
bool DealSparseInto(int32_t *out, int64_t count, int64_t range, int32_t origin, RandomGenerator &generator);
