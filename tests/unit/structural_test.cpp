// Catenate, take, drop, replicate, expand, rotate and transpose through the
// exported interface on Boolean rows of more than one word (their properties
// on random shapes are in random_shapes.tr).
#include "support.h"

#include <numeric>
#include <ostream>
#include <vector>

namespace {

using namespace arrays_support;

// What a call returned (type 0 with the error for null); the result released
// (a linked argument passed through keeps its links).
Got Take(aplarray *r) {
    if (!r) return {0, {aplerrno}, {}};
    Got got{r->eltype, Shape(r->shape, r->shape + r->rank), IsNested(r) ? Values{} : Elements(r)};
    APL_UnLinkTemp(r);
    return got;
}

using StructuralTypes = LibraryTest;

// Rows of 33 and more bits span two words each: every element must arrive
// from its own row, whatever the padding of the words holds.
TEST_F(StructuralTypes, BooleanRowsOfMoreThanOneWord) {
    Values bits(3 * 33);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = (i * 7 % 5) < 2;
    auto matrix = [&] {
        aplarray *m = Make(APL_BOOL, {3, 33}, bits);
        for (int row = 0; row < 3; ++row) DataOf<uint32_t>(m)[row * 2 + 1] |= 0xFFFFFFFEu;  // padding
        return m;
    };
    Values transposed, reversed, dropped;
    for (int c = 0; c < 33; ++c)
        for (int r = 0; r < 3; ++r) transposed.push_back(bits[r * 33 + c]);
    for (int r = 0; r < 3; ++r)
        for (int c = 32; c >= 0; --c) reversed.push_back(bits[r * 33 + c]);
    for (int r = 1; r < 3; ++r)
        for (int c = 0; c < 32; ++c) dropped.push_back(bits[r * 33 + c + 1]);
    EXPECT_EQ(Take(APL_Transpose(nullptr, nullptr, matrix())), (Got{APL_INTG, {33, 3}, transposed}));
    EXPECT_EQ(Take(APL_Rotate(nullptr, nullptr, matrix())), (Got{APL_INTG, {3, 33}, reversed}));
    EXPECT_EQ(Take(APL_Drop(nullptr, Ints({1, 1}), matrix())), (Got{APL_INTG, {2, 32}, dropped}));
    EXPECT_EQ(Take(APL_Catenate(nullptr, nullptr, matrix())), (Got{APL_INTG, {99}, bits}));
    // A 33-bit compress mask picks exactly the elements of its set bits.
    Values mask(40), kept, numbers(40);
    std::iota(numbers.begin(), numbers.end(), 1);
    for (size_t i = 0; i < 40; ++i) mask[i] = i % 3 == 0 || i == 39;
    for (size_t i = 0; i < 40; ++i)
        if (mask[i]) kept.push_back(numbers[i]);
    aplarray *m = Make(APL_BOOL, {40}, mask);
    DataOf<uint32_t>(m)[1] |= 0xFFFFFF00u;  // padding beyond element 39
    EXPECT_EQ(Take(APL_Replicate(nullptr, m, Ints(numbers))),
              (Got{APL_INTG, {static_cast<int32_t>(kept.size())}, kept}));
}

}  // namespace
