// The random generator and deal against plain reference code: the draws of
// roll, the picks of both table forms and the distinctness of every deal.
#include "support.h"

#include "structural/roll.h"

#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace {

// The generator written out with doubles only, as a user would on paper.
struct ReferenceGenerator {
    double link;
    double Draw(double n) {
        link = std::fmod(link * 16807.0, 2147483647.0);
        return std::ceil(link * n * (1.0 / 2147483647.0));
    }
};

// Deal by the whole table, the way the method reads.
std::vector<int32_t> ReferenceDeal(int64_t count, int64_t range, int32_t origin, double &link) {
    ReferenceGenerator g{link};
    std::vector<int32_t> table(static_cast<size_t>(range)), out;
    for (int64_t j = 0; j < range; ++j) table[j] = static_cast<int32_t>(origin + j);
    for (int64_t c = range; static_cast<int64_t>(out.size()) < count; --c) {
        const int64_t j = static_cast<int64_t>(g.Draw(static_cast<double>(c))) - 1;
        out.push_back(table[j]);
        table[j] = table[c - 1];
    }
    link = g.link;
    return out;
}

TEST(RandomGenerator, MatchesThePlainDoubleFormulaForAMillionDraws) {
    RandomGenerator generator;
    ReferenceGenerator reference{16807};
    const double bounds[] = {1, 2, 6, 10, 100, 1000003, 2147483647.0, 1e15};
    int64_t differences = 0;
    for (int i = 0; i < 1000000; ++i) {
        const double n = bounds[i % 8];
        const double got = generator.Draw(n), expected = reference.Draw(n);
        differences += got != expected || generator.state != static_cast<uint64_t>(reference.link);
        differences += got < 1 || got > n;
    }
    EXPECT_EQ(differences, 0);
    EXPECT_NE(generator.state, kRandomLinkStart);
}

TEST(Deal, SparseAndDenseTablesPickWhatTheWholeTablePicks) {
    const std::pair<int64_t, int64_t> sizes[] = {{1, 1},     {2, 1},       {5, 5},         {20, 100},
                                                 {64, 1000}, {300, 90000}, {1000, 250000}, {7, 7}};
    const uint64_t links[] = {1, 16807, 282475249, 2147483646, 987654321};
    for (auto [count, range] : sizes) {
        if (count > range) count = range;
        for (uint64_t link : links)
            for (int32_t origin : {0, 1}) {
                double referenceLink = static_cast<double>(link);
                const std::vector<int32_t> expected = ReferenceDeal(count, range, origin, referenceLink);
                std::vector<int32_t> dense(static_cast<size_t>(count)), sparse(static_cast<size_t>(count));
                RandomGenerator a{link}, b{link};
                ASSERT_TRUE(DealDenseInto(dense.data(), count, range, origin, a));
                ASSERT_TRUE(DealSparseInto(sparse.data(), count, range, origin, b));
                EXPECT_EQ(dense, expected) << count << "?" << range << " link " << link;
                EXPECT_EQ(sparse, expected) << count << "?" << range << " link " << link;
                EXPECT_EQ(a.state, static_cast<uint64_t>(referenceLink));
                EXPECT_EQ(b.state, a.state);
            }
    }
}

TEST(Deal, EveryMethodGivesDistinctValuesInRange) {
    // Redrawing (few from many), the whole table, and the sparse one for a
    // range far too large for a whole table.
    const std::pair<int64_t, int64_t> sizes[] = {{10, 1000000}, {1000, 1000}, {50000, 2000000000}, {92682, 2147483647}};
    for (auto [count, range] : sizes) {
        std::vector<int32_t> out(static_cast<size_t>(count));
        RandomGenerator generator{16807};
        ASSERT_TRUE(DealInto(out.data(), count, range, 1, generator));
        std::set<int32_t> seen(out.begin(), out.end());
        EXPECT_EQ(static_cast<int64_t>(seen.size()), count) << count << "?" << range;
        EXPECT_GE(*seen.begin(), 1);
        EXPECT_LE(*seen.rbegin(), range);
    }
}

}  // namespace
