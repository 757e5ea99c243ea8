// The index generator with both index origins and its errors, and the empty
// vector.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

using Values = std::vector<int32_t>;

aplarray *Vector(int eltype, const void *values, int32_t n) {
    aplarray *a = AllocArray(APL_TEMP, 1, eltype, &n, HERE);
    if (n) memcpy(DataOf(a), values, ElementSize(eltype) * static_cast<size_t>(n));
    return a;
}
aplarray *Ints(const Values &v) { return Vector(APL_INTG, v.data(), static_cast<int32_t>(v.size())); }

// The result of interval: error number, shape and values.
struct Outcome {
    int32_t error;
    Values shape, values;
};
Outcome Iota(aplarray *right, aplarray *axis = nullptr, aplarray *left = nullptr) {
    aplarray *r = APL_Interval(axis, left, right);
    Outcome o{std::exchange(aplerrno, 0), {}, {}};
    if (!r) return o;
    EXPECT_EQ(r->eltype, APL_INTG);
    EXPECT_EQ(r->lnkcnt, 0);
    o.shape.assign(r->shape, r->shape + r->rank);
    o.values.assign(DataOf<const int32_t>(r), DataOf<const int32_t>(r) + r->number);
    APL_UnLinkTemp(r);
    return o;
}

class Interval : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        CreateSystemVariables(false);
    }
    void TearDown() override {
        DestroySymbolTable();
        LibraryTest::TearDown();
    }
};

TEST_F(Interval, CountsFromTheIndexOrigin) {
    EXPECT_EQ(Iota(APL_Int(5)).values, (Values{1, 2, 3, 4, 5}));
    EXPECT_EQ(Iota(Ints({2, 3})).values, (Values{1, 2, 3, 4, 5, 6}));
    SetSymbolValue(sys_IO_idx, APL_Int(0));
    EXPECT_EQ(Iota(APL_Int(5)).values, (Values{0, 1, 2, 3, 4}));
    const Outcome matrix = Iota(Ints({2, 3}));
    EXPECT_EQ(matrix.shape, (Values{2, 3}));
    EXPECT_EQ(matrix.values, (Values{0, 1, 2, 3, 4, 5}));
}

TEST_F(Interval, EmptyAxesAndOtherNumericTypes) {
    const Outcome zero = Iota(APL_Int(0));
    EXPECT_EQ(zero.error, 0);
    EXPECT_EQ(zero.shape, Values{0});
    EXPECT_EQ(Iota(Ints({3, 0, 2})).shape, (Values{3, 0, 2}));
    EXPECT_EQ(Iota(MakeReal(3.0)).values, (Values{1, 2, 3}));
    const int16_t shorts[] = {2, 2};
    EXPECT_EQ(Iota(Vector(APL_SHORT, shorts, 2)).shape, (Values{2, 2}));
    const uint32_t one = 1;
    EXPECT_EQ(Iota(Vector(APL_BOOL, &one, 1)).values, Values{1});
}

TEST_F(Interval, ErrorsReleaseTheTemporariesAndKeepLinkedArguments) {
    const int32_t square[] = {1, 1};
    aplarray *matrix = AllocArray(APL_TEMP, 2, APL_INTG, square, HERE);
    *DataOf<int32_t>(matrix) = 3;
    const struct {
        aplarray *right;
        int32_t error;
    } cases[] = {
        {matrix, APL_ERR_RANK},
        {Ints({}), APL_ERR_LENGTH},
        {MakeReal(2.5), APL_ERR_DOMAIN},
        {APL_Int(-1), APL_ERR_DOMAIN},
        {Ints({2, -3}), APL_ERR_DOMAIN},
        {MakeReal(3e9), APL_ERR_DOMAIN},
        {MakeString("abc"), APL_ERR_DOMAIN},
        {Ints(Values(kMaxRank + 1, 1)), APL_ERR_LIMIT},
        {Ints({100000, 100000}), APL_ERR_WSFULL},
    };
    for (const auto &c : cases) EXPECT_EQ(Iota(c.right).error, c.error);
    EXPECT_EQ(Iota(APL_Int(3), APL_Int(1)).error, APL_ERR_AXIS);
    EXPECT_EQ(Iota(APL_Int(3), nullptr, APL_Int(1)).error, APL_ERR_RANK);
    EXPECT_EQ(Iota(nullptr).error, APL_ERR_SYNTAX);
    aplarray *n = APL_Link(APL_Int(4));
    EXPECT_EQ(Iota(n).values, (Values{1, 2, 3, 4}));
    EXPECT_EQ(n->lnkcnt, 1);
    APL_UnLink(n);
}

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
