// Base value on INTG data against exact reference code: many random radices
// (negative, zero, one, large) and digits out to the ends of the INTG range,
// where the result must be the exact value, rounded once (representation
// against the floor rule is in numrep.tr).
#include "support.h"

#include "tests/fixtures/fixture_arrays.h"

#include <cstdint>
#include <random>
#include <vector>

namespace {

using fixture::Ints;

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
