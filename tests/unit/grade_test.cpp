// Grade against a reference stable sort on random data large enough to take
// the radix and counting paths: INTG, REAL with ties and ¯0, CHAR with a
// collating sequence, in both directions.
#include "support.h"

#include "core/symtab.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

namespace {

using arrays_support::VectorOf;

using Cells = std::vector<int32_t>;

Cells Graded(aplarray *(*grade)(aplarray *, aplarray *, aplarray *), aplarray *left, aplarray *right) {
    aplarray *r = grade(nullptr, left, right);
    EXPECT_EQ(aplerrno, 0);
    aplerrno = 0;
    if (!r) return {};
    EXPECT_EQ(r->lnkcnt, 0);
    Cells out(DataOf<int32_t>(r), DataOf<int32_t>(r) + r->number);
    APL_UnLinkTemp(r);
    return out;
}

// Cell numbers from 1 of `keys` stably sorted by `before`.
template <class T, class Before>
Cells Reference(const std::vector<T> &keys, Before before) {
    Cells order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return before(keys[a], keys[b]); });
    for (int32_t &c : order) ++c;
    return order;
}

class Grade : public WorkspaceTest {
protected:
    std::mt19937 random{20};
};

TEST_F(Grade, IntegersMatchAStableSortInBothDirections) {
    for (int32_t n : {3, 255, 256, 5000, 70000}) {
        std::vector<int32_t> wide(n), narrow(n);
        for (int32_t i = 0; i < n; ++i) {
            wide[i] = static_cast<int32_t>(random());
            narrow[i] = static_cast<int32_t>(random() % 7) - 3;  // many ties
        }
        for (const auto &v : {wide, narrow}) {
            EXPECT_EQ(Graded(APL_GradeUp, nullptr, VectorOf(APL_INTG, v)), Reference(v, std::less<>()));
            EXPECT_EQ(Graded(APL_GradeDown, nullptr, VectorOf(APL_INTG, v)), Reference(v, std::greater<>()));
        }
    }
}

TEST_F(Grade, RealsMatchAStableSortWithNegativeZeroEqualToZero) {
    const double pool[] = {0.0, -0.0, 1.5, -1.5, 1e300, -1e-300, 2.0, 3.25};
    for (int32_t n : {100, 3000, 70000}) {
        std::vector<double> v(n);
        for (int32_t i = 0; i < n; ++i)
            v[i] = i % 3 ? pool[random() % 8] : std::ldexp(static_cast<double>(random()) - 2e9, random() % 40 - 20);
        EXPECT_EQ(Graded(APL_GradeUp, nullptr, VectorOf(APL_REAL, v)), Reference(v, std::less<>()));
        EXPECT_EQ(Graded(APL_GradeDown, nullptr, VectorOf(APL_REAL, v)), Reference(v, std::greater<>()));
    }
}

TEST_F(Grade, CharactersFollowTheCollatingSequence) {
    const std::vector<uint8_t> sequence{'z', 'a', 'q', 'b'};  // others rank by first appearance
    std::vector<uint8_t> text(5000);
    for (auto &c : text) c = static_cast<uint8_t>('a' + random() % 26);
    uint8_t rank[256] = {};
    int next = 1;
    for (uint8_t c : sequence) rank[c] = static_cast<uint8_t>(next++);
    for (uint8_t c : text)
        if (!rank[c]) rank[c] = static_cast<uint8_t>(next++);
    auto byRank = [&](uint8_t a, uint8_t b) { return rank[a] < rank[b]; };
    auto byRankDown = [&](uint8_t a, uint8_t b) { return rank[a] > rank[b]; };
    EXPECT_EQ(Graded(APL_GradeUp, VectorOf(APL_CHAR, sequence), VectorOf(APL_CHAR, text)), Reference(text, byRank));
    EXPECT_EQ(Graded(APL_GradeDown, VectorOf(APL_CHAR, sequence), VectorOf(APL_CHAR, text)),
              Reference(text, byRankDown));
}

}  // namespace
