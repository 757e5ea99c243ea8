// Base value and representation on INTG data against plain 64-bit reference
// code: many random radices (negative, zero, one, large) and values out to the
// ends of the INTG range, where the fast paths must agree with the exact rule.
#include "support.h"

#include "tests/fixtures/fixture_arrays.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using fixture::Ints;

// The floor rule written out in 64 bits: the digit is the residue under its
// radix, a zero radix takes what is left.
std::vector<int64_t> ReferenceDigits(const std::vector<int32_t> &radices, int64_t value) {
    std::vector<int64_t> digits(radices.size());
    for (size_t k = radices.size(); k-- > 0;) {
        const int64_t r = radices[k];
        if (r == 0) {
            digits[k] = value;
            value = 0;
            continue;
        }
        int64_t q = value / r;
        if (value % r != 0 && ((value < 0) != (r < 0))) --q;
        digits[k] = value - q * r;
        value = q;
    }
    return digits;
}

int32_t RandomRadix(std::mt19937 &random) {
    switch (random() % 6) {
        case 0: return static_cast<int32_t>(random() % 5) - 2;  // -2 ... 2, with 0 and ±1
        case 1: return 10;
        case 2: return -static_cast<int32_t>(random() % 1000) - 2;
        case 3: return static_cast<int32_t>(random() % 100000) + 2;
        case 4: return INT32_MAX - static_cast<int32_t>(random() % 3);
        default: return static_cast<int32_t>(random() % 30) + 2;
    }
}

int32_t RandomValue(std::mt19937 &random) {
    switch (random() % 4) {
        case 0: return INT32_MIN + static_cast<int32_t>(random() % 3);
        case 1: return INT32_MAX - static_cast<int32_t>(random() % 3);
        case 2: return static_cast<int32_t>(random() % 2001) - 1000;
        default: return static_cast<int32_t>(random());
    }
}

class NumberRepresentation : public LibraryTest {};

TEST_F(NumberRepresentation, IntegerDigitsFollowTheFloorRuleEverywhere) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<int32_t> radices(1 + random() % 5), values(1 + random() % 40);
        for (int32_t &r : radices) r = RandomRadix(random);
        for (int32_t &v : values) v = RandomValue(random);
        aplarray *digits = APL_Decode(nullptr, Ints(radices), Ints(values));
        ASSERT_NE(digits, nullptr) << "trial " << trial;
        const auto m = radices.size(), n = values.size();
        for (size_t j = 0; j < n; ++j) {
            const std::vector<int64_t> expected = ReferenceDigits(radices, values[j]);
            for (size_t k = 0; k < m; ++k) {
                // A zero radix may be left 2^31, which only a REAL result holds.
                const double got =
                    digits->eltype == APL_INTG ? DataOf<int32_t>(digits)[k * n + j] : DataOf<double>(digits)[k * n + j];
                ASSERT_EQ(got, static_cast<double>(expected[k]))
                    << "trial " << trial << " radix " << radices[k] << " value " << values[j];
            }
        }
        APL_UnLinkTemp(digits);
    }
}

TEST_F(NumberRepresentation, IntegerBaseValueIsExactAndIntgWhereItFits) {
    std::mt19937 random(12);
    for (int trial = 0; trial < 300; ++trial) {
        // Small radices and digits keep the values in INTG; large ones leave
        // it, though two of them stay within 64 bits (and a long double).
        const bool small = random() % 2;
        const int32_t length = 1 + static_cast<int32_t>(random() % (small ? 4 : 2));
        const int32_t columns = 1 + static_cast<int32_t>(random() % 30);
        std::vector<int32_t> radices(static_cast<size_t>(length)), digits(static_cast<size_t>(length * columns));
        for (int32_t &r : radices) r = small ? static_cast<int32_t>(random() % 21) - 10 : RandomRadix(random);
        for (int32_t &d : digits) d = small ? static_cast<int32_t>(random() % 201) - 100 : RandomValue(random);
        aplarray *values = APL_Encode(nullptr, Ints(radices), Ints(digits, {length, columns}));
        ASSERT_NE(values, nullptr) << "trial " << trial;
        bool allFit = true;
        for (int32_t c = 0; c < columns; ++c) {
            long double expected = 0;
            for (int32_t k = 0; k < length; ++k) expected = expected * radices[k] + digits[k * columns + c];
            allFit = allFit && expected >= INT32_MIN && expected <= INT32_MAX;
            const double got = values->eltype == APL_INTG ? DataOf<int32_t>(values)[c] : DataOf<double>(values)[c];
            ASSERT_EQ(got, static_cast<double>(expected)) << "trial " << trial << " column " << c;
        }
        EXPECT_EQ(values->eltype, allFit ? APL_INTG : APL_REAL) << "trial " << trial;
        APL_UnLinkTemp(values);
    }
}

}  // namespace
