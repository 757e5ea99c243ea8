// The boxed picture of a static argument, as compiled code passes it (the
// pictures and the limit of nesting are in display.tr).
#include "session_support.h"

#include <string>

namespace {

class PictDisplay : public SessionTest {};

std::string Row(const aplarray *matrix, int32_t row) {
    const int32_t width = matrix->shape[1];
    return std::string(DataOf<const char>(matrix) + static_cast<size_t>(row) * width, static_cast<size_t>(width));
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

}  // namespace
