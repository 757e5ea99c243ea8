// Logical not of Boolean data, which works on whole words: every bit of a row
// is complemented and the padding past each row's end stays zero.
#include "support.h"

#include <vector>

namespace {

class BooleanNot : public LibraryTest {};

bool Bit(const aplarray *a, int64_t row, int64_t column) {
    const int64_t words = (RowLength(a) + 31) / 32;
    return (DataOf<const uint32_t>(a)[row * words + column / 32] >> (column % 32)) & 1u;
}

TEST_F(BooleanNot, ComplementsEveryRowAndKeepsThePaddingZero) {
    const std::vector<std::vector<int32_t>> shapes = {{}, {1}, {31}, {32}, {33}, {3, 33}, {2, 64}, {4, 5}, {0, 7}};
    for (const auto &shape : shapes) {
        aplarray *bits = APL_Link(APL_Create(static_cast<int32_t>(shape.size()), APL_BOOL, shape.data()));
        const int64_t length = RowLength(bits), words = (length + 31) / 32;
        const int64_t rows = words ? bits->number / words : 0;
        // Every third bit of each row set; the padding left zero as allocated.
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t c = 0; c < length; c += 3) DataOf<uint32_t>(bits)[r * words + c / 32] |= 1u << (c % 32);
        aplarray *z = APL_Without(nullptr, nullptr, bits);
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->eltype, APL_BOOL);
        EXPECT_EQ(z->number, bits->number);
        for (int64_t r = 0; r < rows; ++r) {
            for (int64_t c = 0; c < length; ++c) EXPECT_NE(Bit(z, r, c), Bit(bits, r, c)) << r << ' ' << c;
            const int64_t used = length % 32;
            if (used) {
                EXPECT_EQ(DataOf<uint32_t>(z)[(r + 1) * words - 1] >> used, 0u) << "padding of row " << r;
            }
        }
        APL_UnLinkTemp(z);
        APL_UnLink(bits);
    }
}

}  // namespace
