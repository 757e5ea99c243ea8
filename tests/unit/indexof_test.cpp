// Index of through its direct tables and hash against a reference linear
// scan on random data: narrow and wide INTG ranges, characters, and a REAL
// side that forces the tolerant scan.
#include "support.h"

#include "core/symtab.h"
#include "structural/nested.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

using arrays_support::VectorOf;

using Positions = std::vector<int32_t>;

// The INTG result of a dyadic search primitive, which must not fail.
Positions Searched(aplfunction search, aplarray *left, aplarray *right) {
    aplarray *r = search(nullptr, left, right);
    EXPECT_EQ(aplerrno, 0);
    aplerrno = 0;
    if (!r) return {};
    Positions out(DataOf<int32_t>(r), DataOf<int32_t>(r) + r->number);
    APL_UnLinkTemp(r);
    return out;
}

Positions IndexOf(aplarray *left, aplarray *right) { return Searched(APL_Interval, left, right); }

// 1 + the first position of each y in x, 1 + length when absent.
template <class T, class U>
Positions Reference(const std::vector<T> &x, const std::vector<U> &y) {
    Positions out;
    for (const U &v : y) {
        size_t i = 0;
        while (i < x.size() && !(x[i] == v)) ++i;
        out.push_back(static_cast<int32_t>(i + 1));
    }
    return out;
}

class IndexOfSearch : public WorkspaceTest {
protected:
    std::mt19937 random{7};
};

TEST_F(IndexOfSearch, IntegersInNarrowAndWideRangesAgreeWithALinearScan) {
    for (uint32_t spread : {10u, 3000u, 0xFFFFFFFFu}) {
        std::vector<int32_t> x(2000), y(3000);
        for (auto &v : x) v = static_cast<int32_t>(random() % spread) - 5;
        for (auto &v : y) v = random() % 2 ? x[random() % x.size()] : static_cast<int32_t>(random() % spread) - 5;
        EXPECT_EQ(IndexOf(VectorOf(APL_INTG, x), VectorOf(APL_INTG, y)), Reference(x, y));
    }
}

TEST_F(IndexOfSearch, CharactersAndRealsAgreeWithALinearScan) {
    std::vector<uint8_t> text(500), probe(300);
    for (auto &c : text) c = static_cast<uint8_t>('a' + random() % 20);
    for (auto &c : probe) c = static_cast<uint8_t>(random() % 256);
    EXPECT_EQ(IndexOf(VectorOf(APL_CHAR, text), VectorOf(APL_CHAR, probe)), Reference(text, probe));
    std::vector<double> x(400), y(400);
    for (auto &v : x) v = static_cast<double>(random() % 300) / 4;
    for (auto &v : y) v = static_cast<double>(random() % 300) / 4;
    EXPECT_EQ(IndexOf(VectorOf(APL_REAL, x), VectorOf(APL_REAL, y)), Reference(x, y));
}

// A random item: integer, character or REAL vectors and scalars, empty
// vectors of both kinds, and pairs of such items, with many repeats.
aplarray *RandomItem(std::mt19937 &random, int depth, bool reals) {
    int kind = static_cast<int>(random() % (depth > 1 ? 5 : 6));
    if (kind == 4 && !reals) kind = 2;
    const int32_t n = static_cast<int32_t>(random() % 3);
    switch (kind) {
        case 0: return MakeInt(static_cast<int32_t>(random() % 4));
        case 1: return MakeChar(static_cast<uint8_t>('a' + random() % 3));
        case 2: {
            std::vector<int32_t> v(static_cast<size_t>(n));
            for (auto &x : v) x = static_cast<int32_t>(random() % 3);
            return VectorOf(APL_INTG, v);
        }
        case 3: {
            std::vector<uint8_t> v(static_cast<size_t>(n));
            for (auto &x : v) x = static_cast<uint8_t>('a' + random() % 2);
            return VectorOf(APL_CHAR, v);
        }
        case 4: {
            // Near-integers that equal integers only tolerantly, and fractions.
            std::vector<double> v(static_cast<size_t>(n));
            for (auto &x : v) x = random() % 2 ? static_cast<double>(random() % 3) * (1 + 1e-15) : 0.5;
            return VectorOf(APL_REAL, v);
        }
        default: {
            const int32_t two = 2;
            aplarray *pair = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &two, HERE);
            for (int i = 0; i < 2; ++i) ItemsOf(pair)[i] = APL_LinkEx(RandomItem(random, depth + 1, reals), HERE);
            return pair;
        }
    }
}

aplarray *RandomItems(std::mt19937 &random, int32_t n, bool reals) {
    aplarray *a = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE);
    for (int32_t i = 0; i < n; ++i) ItemsOf(a)[i] = APL_LinkEx(RandomItem(random, 0, reals), HERE);
    return a;
}

// Whether each item of `keys` matches some item of `table`.
Positions MatchReference(const aplarray *keys, const aplarray *table) {
    Positions out;
    for (int32_t j = 0; j < keys->number; ++j) {
        int32_t i = 0;
        while (i < table->number && MatchArrays(ItemsOf(table)[i], ItemsOf(keys)[j]) != 1) ++i;
        out.push_back(i < table->number);
    }
    return out;
}

Positions Members(aplarray *keys, aplarray *table) { return Searched(APL_Element, keys, table); }

TEST_F(IndexOfSearch, MembershipInNestedItemsAgreesWithAScanByMatch) {
    // Without REAL items the table is hashed; with them it is scanned, and
    // REAL keys are scanned against a hashed table.
    for (bool tableReals : {false, true}) {
        aplarray *left = APL_LinkEx(RandomItems(random, 300, tableReals), HERE);
        aplarray *right = APL_LinkEx(RandomItems(random, 400, true), HERE);
        EXPECT_EQ(Members(right, left), MatchReference(right, left)) << tableReals;
        APL_UnLinkEx(left, HERE);
        APL_UnLinkEx(right, HERE);
    }
}

TEST_F(IndexOfSearch, SimpleMembersOfNestedItemsAreFoundAsScalars) {
    aplarray *left = APL_LinkEx(RandomItems(random, 200, false), HERE);
    const std::vector<int32_t> numbers = {0, 1, 2, 3, 4};
    const std::vector<uint8_t> letters = {'a', 'b', 'c', 'd'};
    auto check = [&](aplarray *keys, aplarray *nestedKeys) {
        aplarray *linked = APL_LinkEx(keys, HERE), *items = APL_LinkEx(nestedKeys, HERE);
        EXPECT_EQ(Members(linked, left), MatchReference(items, left));
        APL_UnLinkEx(linked, HERE);
        APL_UnLinkEx(items, HERE);
    };
    check(VectorOf(APL_INTG, numbers), APL_MakeNested(VectorOf(APL_INTG, numbers)));
    check(VectorOf(APL_CHAR, letters), APL_MakeNested(VectorOf(APL_CHAR, letters)));
    APL_UnLinkEx(left, HERE);
}

}  // namespace
