// The boxed picture through the exported interface: what it does with the
// links of its arguments, a static argument, and the rows it returns.
#include "session_support.h"

#include <string>

namespace {

class PictDisplay : public SessionTest {};

std::string Row(const aplarray *matrix, int32_t row) {
    const int32_t width = matrix->shape[1];
    return std::string(DataOf<const char>(matrix) + static_cast<size_t>(row) * width, static_cast<size_t>(width));
}

TEST_F(PictDisplay, ConsumesTemporariesAndLeavesLinkedArgumentsAlone) {
    const int32_t blocks = LiveBlocks();
    aplarray *vector = APL_Link(MakeString("abc"));
    aplarray *picture = APL_PictDisplay(nullptr, nullptr, vector);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(vector->lnkcnt, 1);
    EXPECT_EQ(picture->lnkcnt, 0);
    ASSERT_EQ(picture->rank, 2);
    EXPECT_EQ(picture->eltype, APL_CHAR);
    EXPECT_EQ(Row(picture, 1), "|abc|");
    APL_UnLinkTemp(picture);
    APL_UnLink(vector);
    // A temporary argument (and the left one) is released by the call.
    APL_UnLinkTemp(APL_PictDisplay(nullptr, MakeInt(0), MakeInt(5)));
    EXPECT_EQ(aplerrno, 0);
    EXPECT_EQ(LiveBlocks(), blocks);
}

TEST_F(PictDisplay, ReadsAStaticConstant) {
    // A static INTG vector 7 8 as compiled code embeds it.
    alignas(4) const unsigned char image[28] = {28, 0, 0, 0, 0x41, 1, 2, 0, 1, 0, 0, 0, 2, 0,
                                                0,  0, 2, 0, 0,    0, 7, 0, 0, 0, 8, 0, 0, 0};
    aplarray *picture =
        APL_PictDisplay(nullptr, nullptr, reinterpret_cast<aplarray *>(const_cast<unsigned char *>(image)));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(Row(picture, 1), "|7 8|");
    APL_UnLinkTemp(picture);
}

TEST_F(PictDisplay, TooDeepANestingIsALimitErrorThatRestoresTheNames) {
    Run(A("A←'kept' ⋄ ⎕IO←1"));
    const int32_t blocks = LiveBlocks();
    const int32_t pair[2] = {1, 2};
    aplarray *deep = MakeIntVector(pair, 2);
    for (int i = 0; i < 150; ++i) deep = APL_Enclose(nullptr, nullptr, deep);
    EXPECT_EQ(APL_PictDisplay(nullptr, nullptr, deep), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    aplerrno = 0;
    EXPECT_EQ(LiveBlocks(), blocks);
    EXPECT_EQ(Run("A"), "kept\n");
    EXPECT_EQ(Run(A("⎕IO")), "1\n");
    Run(")ERASE A");
}

}  // namespace
