// Nested arrays through the exported primitives: laws on random nested
// values, and membership's lookup tables against a plain linear scan.
#include "support.h"

#include "core/errors.h"
#include "core/symtab.h"
#include "tests/fixtures/fixture_arrays.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using fixture::Ints;
using fixture::Reals;
aplarray *Nest(const std::vector<aplarray *> &items) { return fixture::Nested(items); }

int32_t IntOf(aplarray *scalar) {
    EXPECT_NE(scalar, nullptr);
    if (!scalar) return -1;
    const int32_t v = *DataOf<int32_t>(scalar);
    APL_UnLinkTemp(scalar);
    return v;
}

int32_t Matches(aplarray *a, aplarray *b) { return IntOf(APL_Match(nullptr, a, b)); }

// With the system variables, so that ⎕IO and ⎕CT can be set.
using Nested = WorkspaceTest;

// ---- Laws on random nested values --------------------------------------------------------

class RandomValues {
public:
    explicit RandomValues(uint32_t seed) : rng_(seed) {}

    // A temporary: a simple scalar or vector of INTG, REAL or CHAR, or a
    // nested vector of such values (never deeper than `depth`).
    aplarray *Value(int depth) {
        const int kind = Pick(depth > 0 ? 5 : 3);
        const int32_t n = Pick(4);
        switch (kind) {
            case 0: {
                aplarray *a = APL_Create(Pick(2) ? 1 : 0, APL_INTG, &n);
                for (int32_t i = 0; i < a->number; ++i) DataOf<int32_t>(a)[i] = Pick(7) - 3;
                return a;
            }
            case 1: {
                aplarray *a = APL_Create(Pick(2) ? 1 : 0, APL_REAL, &n);
                for (int32_t i = 0; i < a->number; ++i) DataOf<double>(a)[i] = (Pick(9) - 4) * 0.5;
                return a;
            }
            case 2: {
                aplarray *a = APL_Create(Pick(2) ? 1 : 0, APL_CHAR, &n);
                for (int32_t i = 0; i < a->number; ++i) DataOf<char>(a)[i] = static_cast<char>('a' + Pick(3));
                return a;
            }
            default: {
                const int32_t count = 1 + Pick(3);
                std::vector<aplarray *> items;
                for (int32_t i = 0; i < count; ++i) items.push_back(Value(depth - 1));
                return Nest(items);
            }
        }
    }
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

private:
    std::mt19937 rng_;
};

// Simple leaves in walk order, as (is character, value) pairs.
void Leaves(const aplarray *a, std::vector<std::pair<bool, double>> &out) {
    if (IsNested(a)) {
        for (int32_t i = 0; i < a->number; ++i) Leaves(ItemsOf(a)[i], out);
        return;
    }
    for (int64_t i = 0; i < ElementCount(a); ++i) {
        switch (a->eltype) {
            case APL_CHAR: out.push_back({true, DataOf<uint8_t>(a)[i]}); break;
            case APL_INTG: out.push_back({false, static_cast<double>(DataOf<int32_t>(a)[i])}); break;
            default: out.push_back({false, DataOf<double>(a)[i]}); break;
        }
    }
}

int Depth(const aplarray *a) {
    if (!IsNested(a)) return a->rank ? 1 : 0;
    int deepest = 0;
    for (int32_t i = 0; i < ItemSlots(a); ++i) deepest = std::max(deepest, Depth(ItemsOf(a)[i]));
    return deepest + 1;
}

TEST_F(Nested, LawsHoldOnRandomNestedValues) {
    RandomValues random(20261206);
    for (int round = 0; round < 300; ++round) {
        aplarray *x = APL_Link(random.Value(3));
        SCOPED_TRACE(round);
        // ⊃⊂X ≡ X, and X matches an independent copy of itself.
        EXPECT_EQ(Matches(APL_Disclose(nullptr, nullptr, APL_Enclose(nullptr, nullptr, x)), x), 1);
        EXPECT_EQ(Matches(x, CopyArray(x, HERE)), 1);
        // Each enclosure of a non-scalar adds one to the depth.
        const int depth = Depth(x);
        EXPECT_EQ(IntOf(APL_Match(nullptr, nullptr, x)), depth);
        if (x->rank > 0 || IsNested(x)) {
            aplarray *twice = APL_Enclose(nullptr, nullptr, APL_Enclose(nullptr, nullptr, x));
            EXPECT_EQ(IntOf(APL_Match(nullptr, nullptr, twice)), depth + 2);
        }
        // Enlist gives the leaves in walk order.
        std::vector<std::pair<bool, double>> leaves;
        Leaves(x, leaves);
        aplarray *flat = APL_Link(APL_Element(nullptr, nullptr, x));
        ASSERT_NE(flat, nullptr);
        ASSERT_EQ(ElementCount(flat), static_cast<int64_t>(leaves.size()));
        std::vector<std::pair<bool, double>> again;
        Leaves(flat, again);
        EXPECT_EQ(again, leaves);
        // Partition by a random 0/1 mask then enlist equals compress of the ravel.
        if (flat->number > 0) {
            std::vector<int32_t> mask;
            std::vector<std::pair<bool, double>> kept;
            for (size_t i = 0; i < leaves.size(); ++i) {
                mask.push_back(random.Pick(2));
                if (mask.back()) kept.push_back(leaves[i]);
            }
            aplarray *pieces = APL_Enclose(nullptr, Ints(mask), flat);
            ASSERT_NE(pieces, nullptr);
            aplarray *joined = APL_Link(APL_Element(nullptr, nullptr, pieces));
            ASSERT_NE(joined, nullptr);
            std::vector<std::pair<bool, double>> got;
            Leaves(joined, got);
            EXPECT_EQ(got, kept);
            APL_UnLink(joined);
        }
        APL_UnLink(flat);
        APL_UnLink(x);
    }
}

// ---- Membership against a reference scan ----------------------------------------------

// The rules written out plainly: characters equal characters only, two
// integers exactly, a REAL on either side tolerantly.
bool ReferenceEqual(const aplarray *a, int64_t i, const aplarray *b, int64_t j, double ct) {
    if ((a->eltype == APL_CHAR) != (b->eltype == APL_CHAR)) return false;
    if (a->eltype == APL_CHAR) return DataOf<uint8_t>(a)[i] == DataOf<uint8_t>(b)[j];
    if (a->eltype == APL_INTG && b->eltype == APL_INTG) return DataOf<int32_t>(a)[i] == DataOf<int32_t>(b)[j];
    const double x = a->eltype == APL_INTG ? DataOf<int32_t>(a)[i] : DataOf<double>(a)[i];
    const double y = b->eltype == APL_INTG ? DataOf<int32_t>(b)[j] : DataOf<double>(b)[j];
    return std::fabs(x - y) <= ct * std::max(std::fabs(x), std::fabs(y));
}

void ExpectMembershipLikeScan(aplarray *left, aplarray *right, double ct) {
    left = APL_Link(left);
    right = APL_Link(right);
    SetSymbolValue(sys_CT_idx, MakeReal(ct));
    aplarray *result = APL_Element(nullptr, left, right);
    ASSERT_NE(result, nullptr);
    int64_t differences = 0, found = 0;
    for (int64_t i = 0; i < ElementCount(left); ++i) {
        bool expected = false;
        for (int64_t j = 0; !expected && j < ElementCount(right); ++j) expected = ReferenceEqual(left, i, right, j, ct);
        differences += DataOf<int32_t>(result)[i] != static_cast<int32_t>(expected);
        found += expected;
    }
    EXPECT_EQ(differences, 0);
    // The data must exercise both answers to mean anything.
    EXPECT_GT(found, 0);
    EXPECT_LT(found, ElementCount(left));
    APL_UnLinkTemp(result);
    APL_UnLink(left);
    APL_UnLink(right);
}

TEST_F(Nested, MembershipTablesAgreeWithALinearScan) {
    std::mt19937 rng(17);
    auto ints = [&](int n, int32_t low, int32_t high) {
        std::uniform_int_distribution<int32_t> d(low, high);
        std::vector<int32_t> v(static_cast<size_t>(n));
        for (auto &x : v) x = d(rng);
        return v;
    };
    // Small range (direct table) and wide range (hash), negative values too.
    ExpectMembershipLikeScan(Ints(ints(500, -50, 50)), Ints(ints(60, -50, 50)), 1e-13);
    std::vector<int32_t> wide = ints(300, INT32_MIN, INT32_MAX);
    std::vector<int32_t> keys = ints(200, INT32_MIN, INT32_MAX);
    keys.insert(keys.end(), wide.begin(), wide.begin() + 100);
    ExpectMembershipLikeScan(Ints(keys), Ints(wide), 1e-13);
    // REAL on both sides of the tolerance: each table value and keys just
    // inside and just outside ct × |value| from it, at two tolerances.
    for (double ct : {1e-13, 1e-3}) {
        std::vector<double> table, probes;
        std::uniform_real_distribution<double> d(-1e6, 1e6);
        for (int i = 0; i < 100; ++i) table.push_back(d(rng));
        for (double v : table)
            for (double f : {0.5, 0.98, 1.02, 3.0, -0.5, -0.98, -1.02, -3.0})
                probes.push_back(v + f * ct * std::fabs(v));
        ExpectMembershipLikeScan(Reals(probes), Reals(table), ct);
    }
    // Mixed: REAL keys near INTG values (few and many integers in the
    // window), and INTG keys against REAL values.
    for (double ct : {1e-13, 1e-3}) {
        std::vector<int32_t> table = ints(200, -2000000000, 2000000000);
        std::vector<int32_t> small = ints(50, -100, 100);
        table.insert(table.end(), small.begin(), small.end());
        std::vector<double> probes;
        for (int32_t v : table)
            for (double f : {0.0, 0.9, 1.1, -0.9, -1.1})
                probes.push_back(v + f * ct * std::fabs(static_cast<double>(v)) + (f == 0 ? 0.25 : 0));
        ExpectMembershipLikeScan(Reals(probes), Ints(table), ct);
        std::vector<double> reals;
        for (int32_t v : small) reals.push_back(v + ct * 0.5 * std::fabs(static_cast<double>(v)));
        reals.push_back(0.5);
        ExpectMembershipLikeScan(Ints(ints(300, -100, 100)), Reals(reals), ct);
    }
    // Characters against characters (all 256 codes) and against numbers.
    const int32_t n = 256;
    aplarray *all = APL_Create(1, APL_CHAR, &n);
    for (int i = 0; i < 256; ++i) DataOf<uint8_t>(all)[i] = static_cast<uint8_t>(i);
    ExpectMembershipLikeScan(all, APL_String("hello\xff\x80"), 1e-13);
    aplarray *none = APL_Element(nullptr, APL_String("ab"), Ints({97, 98}));
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(DataOf<int32_t>(none)[0] + DataOf<int32_t>(none)[1], 0);
    APL_UnLinkTemp(none);
}

}  // namespace
