// Nested arrays through the exported primitives: laws on random nested values
// (membership against a plain scan is in element.tr).
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

}  // namespace
