// The rank operator through the exported interface: links and blocks after
// success and after failures inside the operand, the origin restored, and the
// companion without cell ranks. Shared results and recursion are in rank.tr.
#include "session_support.h"

#include "core/errors.h"
#include "scalar/rank.h"

#include <string>
#include <vector>

namespace {

// A native operand: the shape of its right argument; DOMAIN at call number failAt.
int calls = 0, failAt = 0;
aplarray *ShapeOrFail(aplarray *axis, aplarray *left, aplarray *right) {
    if (++calls == failAt) {
        ReleaseTemporaries(axis, left, right);
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    APL_UnLinkTempEx(axis, HERE);
    APL_UnLinkTempEx(left, HERE);
    return APL_Shape(nullptr, nullptr, right);
}

aplfnc Native() { return aplfnc{APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(&ShapeOrFail), 0}; }

aplarray *Matrix(int32_t rows, int32_t cols) {
    const int32_t shape[] = {rows, cols};
    aplarray *m = APL_Create(2, APL_INTG, shape);
    for (int32_t i = 0; i < rows * cols; ++i) DataOf<int32_t>(m)[i] = i;
    return m;
}

// A session fixture: the companion's local names join the symbol table once,
// at start-up, and a clear workspace is the baseline of the block count.
class RankOperator : public SessionTest {};

TEST_F(RankOperator, AxisGivesTheCellRankAndLinkedArgumentsStayLinked) {
    aplfnc f = Native(), none{};
    aplarray *m = APL_Link(Matrix(4, 3));
    calls = 0, failAt = 0;
    aplarray *z = APL_Rank(APL_Int(1), nullptr, &f, nullptr, &none, nullptr, m);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(calls, 4);  // one call per row
    ASSERT_EQ(z->rank, 2);
    EXPECT_EQ(z->shape[0], 4);
    EXPECT_EQ(z->shape[1], 1);
    EXPECT_EQ(DataOf<int32_t>(z)[3], 3);
    EXPECT_EQ(z->lnkcnt, 0);
    EXPECT_EQ(m->lnkcnt, 1);
    APL_UnLinkTemp(z);
    APL_UnLink(m);
}

TEST_F(RankOperator, FailureInsideTheOperandReleasesEverythingAndRestoresTheOrigin) {
    aplfnc f = Native(), none{};
    aplarray *m = APL_Link(Matrix(5, 2));
    aplarray *io = APL_Variable(sys_IO_idx);
    const int32_t origin = io ? DataOf<int32_t>(io)[0] : 1;
    const int32_t blocks = LiveBlocks();
    for (int at : {1, 3, 5}) {
        calls = 0, failAt = at;
        // Cell ranks at the front of right, as the evaluator passes it.
        aplarray *items[] = {APL_Int(0), m};
        aplarray *right = APL_Create(1, APL_NESTED, std::vector<int32_t>{2}.data());
        for (int i = 0; i < 2; ++i) ItemsOf(right)[i] = APL_Link(items[i]);
        EXPECT_EQ(APL_Rank(nullptr, nullptr, &f, nullptr, &none, nullptr, right), nullptr);
        EXPECT_EQ(aplerrno, APL_ERR_DOMAIN) << at;
        EXPECT_EQ(calls, at);
        aplerrno = 0;
        EXPECT_EQ(m->lnkcnt, 1) << at;
        EXPECT_EQ(LiveBlocks(), blocks) << at;
        aplarray *now = APL_Variable(sys_IO_idx);
        EXPECT_EQ(now ? DataOf<int32_t>(now)[0] : 1, origin);
    }
    APL_UnLink(m);
}

TEST_F(RankOperator, CompanionWithoutSpecificationIsSyntax) {
    aplfnc f = Native(), none{};
    aplarray *m = APL_Link(Matrix(2, 2));
    EXPECT_EQ(apl_RANK(nullptr, nullptr, &f, nullptr, &none, nullptr, m), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    APL_UnLink(m);
}

}  // namespace
