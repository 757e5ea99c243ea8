// The empty vector's entry point refuses every argument, also one temporary
// passed twice, and leaves linked ones as they were. The index generator
// itself is in iota.tr.
#include "support.h"

#include <utility>

namespace {

using EmptyVector = LibraryTest;

TEST_F(EmptyVector, IsAnEmptyIntegerVectorAndRefusesEveryArgument) {
    aplarray *z = APL_EmptyVector(nullptr, nullptr, nullptr);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(z->rank, 1);
    EXPECT_EQ(z->shape[0], 0);
    EXPECT_EQ(z->eltype, APL_INTG);
    EXPECT_EQ(z->lnkcnt, 0);
    APL_UnLinkTemp(z);
    aplarray *t = APL_Int(1);
    EXPECT_EQ(APL_EmptyVector(nullptr, t, t), nullptr);  // one temporary in two places
    EXPECT_EQ(std::exchange(aplerrno, 0), APL_ERR_VALENCE);
    aplarray *kept = APL_Link(APL_Int(2));
    EXPECT_EQ(APL_EmptyVector(APL_Int(1), nullptr, kept), nullptr);
    EXPECT_EQ(std::exchange(aplerrno, 0), APL_ERR_VALENCE);
    EXPECT_EQ(kept->lnkcnt, 1);
    APL_UnLink(kept);
}

}  // namespace
