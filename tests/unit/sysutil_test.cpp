// The utilities exported without a system-function name (Sepword, TrailBlank,
// Xlat, Sumlab, Bitshift, Image_plot), and
// DR's promise that reinterpreted bytes never make a non-finite REAL.
#include "support.h"

#include "tests/fixtures/fixture_arrays.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace fixture;

class Utilities : public LibraryTest {
protected:
    // The items of a nested vector of CHAR vectors (consumed).
    static std::vector<std::string> Pieces(aplarray *result) {
        std::vector<std::string> pieces;
        EXPECT_TRUE(result && IsNested(result) && result->rank == 1);
        if (!result) return pieces;
        for (int32_t i = 0; i < result->number; ++i) {
            const aplarray *item = ItemsOf(result)[i];
            pieces.emplace_back(DataOf<const char>(item), static_cast<size_t>(item->number));
        }
        APL_UnLinkTemp(result);
        return pieces;
    }
    static std::string Text(aplarray *result) {
        EXPECT_TRUE(result && result->eltype == APL_CHAR);
        if (!result) return "<null>";
        std::string text(DataOf<const char>(result), static_cast<size_t>(result->number));
        APL_UnLinkTemp(result);
        return text;
    }
    template <class T>
    static std::vector<T> Values(aplarray *result) {
        std::vector<T> values;
        EXPECT_NE(result, nullptr) << "error " << aplerrno;
        if (!result) return values;
        const T *data = DataOf<const T>(result);
        values.assign(data, data + result->number);
        APL_UnLinkTemp(result);
        return values;
    }
    // A call that must fail with `code`; the error is cleared.
    static void Fails(aplarray *result, int32_t code) {
        EXPECT_EQ(result, nullptr);
        APL_UnLinkTemp(result);
        EXPECT_EQ(aplerrno, code);
        aplerrno = 0;
        APL_error_message[0] = 0;
    }
};

// ---- Text -------------------------------------------------------------------------

TEST_F(Utilities, SepwordKeepsEmptyPiecesBetweenSeparators) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Pieces(APL_Sepword(nullptr, Chars(","), Chars("A,,B"))), (V{"A", "", "B"}));
    EXPECT_EQ(Pieces(APL_Sepword(nullptr, Chars(","), Chars(",A,"))), (V{"", "A", ""}));
    EXPECT_EQ(Pieces(APL_Sepword(nullptr, nullptr, Chars("two words"))), (V{"two", "words"}));
    EXPECT_EQ(Pieces(APL_Sepword(nullptr, nullptr, Chars(""))), (V{""}));
    Fails(APL_Sepword(nullptr, Chars(",;"), Chars("A,B")), APL_ERR_DOMAIN);
    Fails(APL_Sepword(nullptr, nullptr, Ints({1, 2})), APL_ERR_DOMAIN);
    Fails(APL_Sepword(nullptr, nullptr, Chars("ABCD", {2, 2})), APL_ERR_DOMAIN);
    Fails(APL_Sepword(Ints({1}), nullptr, Chars("A B")), APL_ERR_AXIS);
}

TEST_F(Utilities, XlatMapsEveryCodeIncludingTheLast) {
    std::string table(256, ' ');
    for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = static_cast<char>(255 - c);
    const std::string text = std::string("A\xFF") + '\0';
    aplarray *result = APL_Xlat(nullptr, Chars(table), Chars(text + "B", {2, 2}));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->rank, 2);
    EXPECT_EQ(Text(result), std::string("\xBE") + '\0' + "\xFF\xBD");
    Fails(APL_Xlat(nullptr, Chars(table.substr(1)), Chars("A")), APL_ERR_LENGTH);
    Fails(APL_Xlat(nullptr, Chars(table), Ints({1})), APL_ERR_DOMAIN);
}

// ---- Numbers ----------------------------------------------------------------------

TEST_F(Utilities, SumlabCountsCodesInRangeAndIgnoresTheRest) {
    using V = std::vector<int32_t>;
    EXPECT_EQ(Values<int32_t>(APL_Sumlab(nullptr, Ints({0, 2, 2, -1, 4, 3, 2}), Ints({3}))), (V{1, 0, 3, 1}));
    EXPECT_EQ(Values<int32_t>(APL_Sumlab(nullptr, Reals({1.0, 1.0, 9.0, -2.0}), APL_Int(1))), (V{0, 2}));
    EXPECT_EQ(Values<int32_t>(APL_Sumlab(nullptr, Ints({}), APL_Int(0))), (V{0}));
    Fails(APL_Sumlab(nullptr, Reals({1.5}), APL_Int(2)), APL_ERR_DOMAIN);
    Fails(APL_Sumlab(nullptr, Chars("ab"), APL_Int(2)), APL_ERR_DOMAIN);
    Fails(APL_Sumlab(nullptr, Ints({1}), Ints({2, 3})), APL_ERR_LENGTH);
    Fails(APL_Sumlab(nullptr, Ints({1}), APL_Int(-1)), APL_ERR_DOMAIN);
}

TEST_F(Utilities, BitshiftStaysWithinEachWidth) {
    EXPECT_EQ(Values<uint8_t>(APL_Bitshift(nullptr, APL_Int(1), Chars("\x81\x7F"))),
              (std::vector<uint8_t>{0x02, 0xFE}));
    EXPECT_EQ(Values<uint8_t>(APL_Bitshift(nullptr, APL_Int(-1), Chars("\x81"))), (std::vector<uint8_t>{0x40}));
    EXPECT_EQ(Values<uint8_t>(APL_Bitshift(nullptr, APL_Int(8), Chars("\xFF"))), (std::vector<uint8_t>{0}));
    Fails(APL_Bitshift(nullptr, APL_Int(9), Chars("A")), APL_ERR_DOMAIN);
    // SHORT: right shifts copy the sign bit, left shifts drop what leaves.
    EXPECT_EQ(Values<int16_t>(APL_Bitshift(nullptr, APL_Int(-1), Shorts({-2, 6}))), (std::vector<int16_t>{-1, 3}));
    EXPECT_EQ(Values<int16_t>(APL_Bitshift(nullptr, APL_Int(1), Shorts({0x4001}))), (std::vector<int16_t>{-32766}));
    EXPECT_EQ(Values<int16_t>(APL_Bitshift(nullptr, APL_Int(16), Shorts({-1}))), (std::vector<int16_t>{0}));
    EXPECT_EQ(Values<int16_t>(APL_Bitshift(nullptr, APL_Int(-16), Shorts({-5, 5}))), (std::vector<int16_t>{-1, 0}));
    Fails(APL_Bitshift(nullptr, APL_Int(17), Shorts({1})), APL_ERR_DOMAIN);
    // INTG: zeros come in from the left; 32 and -32 leave values as they are.
    EXPECT_EQ(Values<int32_t>(APL_Bitshift(nullptr, APL_Int(-1), Ints({-1, 6}))), (std::vector<int32_t>{INT32_MAX, 3}));
    EXPECT_EQ(Values<int32_t>(APL_Bitshift(nullptr, APL_Int(31), Ints({1, 3}))),
              (std::vector<int32_t>{INT32_MIN, INT32_MIN}));
    EXPECT_EQ(Values<int32_t>(APL_Bitshift(nullptr, APL_Int(32), Ints({-7, 9}))), (std::vector<int32_t>{-7, 9}));
    EXPECT_EQ(Values<int32_t>(APL_Bitshift(nullptr, APL_Int(-32), Ints({-7, 9}))), (std::vector<int32_t>{-7, 9}));
    Fails(APL_Bitshift(nullptr, APL_Int(33), Ints({1})), APL_ERR_DOMAIN);
    Fails(APL_Bitshift(nullptr, Ints({1, 2}), Ints({1})), APL_ERR_LENGTH);
    Fails(APL_Bitshift(nullptr, APL_Int(1), Reals({1.5})), APL_ERR_DOMAIN);
}

// ---- Image_plot ---------------------------------------------------------------------

TEST_F(Utilities, ImagePlotDrawsThePolylineOverTheBackground) {
    // (pen, x%, y%): along the top row, a jump with the pen up to the bottom
    // left corner (just outside), then one step up.
    aplarray *path = Reals({0, 0, 100, 1, 80, 100, 0, 0, 0, 1, 0, 25}, {4, 3});
    aplarray *image = APL_Image_plot(nullptr, Ints({5, 4, 9}), path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->shape[0], 4);
    EXPECT_EQ(image->shape[1], 5);
    EXPECT_EQ(Values<int32_t>(image), (std::vector<int32_t>{1, 1, 1, 1, 1,  //
                                                            9, 9, 9, 9, 9,  //
                                                            9, 9, 9, 9, 9,  //
                                                            1, 9, 9, 9, 9}));
}

// ---- HEAD and DR ----------------------------------------------------------------------

TEST_F(Utilities, ReinterpretedBytesNeverMakeANonFiniteReal) {
    std::mt19937 random(18);
    int refused = 0, accepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const size_t n = 8 * (1 + random() % 4);
        std::string bytes(n, '\0');
        for (char &b : bytes) b = static_cast<char>(random());
        // Half the time, steer a high byte toward an all-ones exponent.
        if (trial % 2) bytes[8 * (random() % (n / 8)) + 7] = static_cast<char>((random() % 2 ? 0x7F : 0xFF));
        if (trial % 4 == 1) bytes[8 * (random() % (n / 8)) + 6] |= static_cast<char>(0xF0);
        aplarray *source = trial % 3 ? Chars(bytes) : APL_DataRep(nullptr, APL_Int(APL_INTG), Chars(bytes));
        aplarray *reals = APL_DataRep(nullptr, APL_Int(APL_REAL), source);
        if (!reals) {
            EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
            aplerrno = 0;
            ++refused;
            continue;
        }
        ++accepted;
        for (double x : Values<double>(reals)) ASSERT_TRUE(std::isfinite(x));
    }
    EXPECT_GT(refused, 100);
    EXPECT_GT(accepted, 100);
}

}  // namespace
