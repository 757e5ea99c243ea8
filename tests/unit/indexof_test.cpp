// Index of and membership through their tables and hashes against a
// reference linear scan on random data: narrow and wide INTG ranges,
// characters, REAL and mixed data with values exactly at the tolerance edge,
// and nested items.
#include "support.h"

#include "core/symtab.h"
#include "structural/nested.h"

#include <cmath>
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

// ---- Tolerant searches against the plain tolerant scan ----------------------------

// A number with its type: INTG pairs compare exactly, any REAL tolerantly.
struct Number {
    double value;
    bool real;
};

int32_t TolerantScan(const std::vector<Number> &table, const Number &key, double ct) {
    for (size_t i = 0; i < table.size(); ++i) {
        const Number &t = table[i];
        const bool equal = t.real || key.real ? TolerantlyEqual(t.value, key.value, ct) : t.value == key.value;
        if (equal) return static_cast<int32_t>(i);
    }
    return static_cast<int32_t>(table.size());
}

aplarray *NumbersOf(const std::vector<Number> &numbers) {
    std::vector<double> reals;
    std::vector<int32_t> ints;
    for (const Number &x : numbers) reals.push_back(x.value), ints.push_back(static_cast<int32_t>(x.value));
    return numbers.empty() || numbers[0].real ? VectorOf(APL_REAL, reals) : VectorOf(APL_INTG, ints);
}

// The same numbers as items: one-element vectors, which match when the numbers are equal.
aplarray *ItemsFrom(const std::vector<Number> &numbers) {
    const auto n = static_cast<int32_t>(numbers.size());
    aplarray *a = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE);
    for (int32_t i = 0; i < n; ++i) ItemsOf(a)[i] = APL_LinkEx(NumbersOf({numbers[static_cast<size_t>(i)]}), HERE);
    return a;
}

// The last value on one side of `a` still within ⎕CT of it, or the first beyond.
double Edge(double a, double ct, double side, bool inside) {
    double b = side * a > 0 ? a / (1 - ct) : a * (1 - ct);
    const double outward = side * HUGE_VAL;
    while (TolerantlyEqual(a, b, ct)) b = std::nextafter(b, outward);
    while (!TolerantlyEqual(a, b, ct)) b = std::nextafter(b, -outward);
    return inside ? b : std::nextafter(b, outward);
}

class TolerantSearch : public IndexOfSearch {
protected:
    // Bases of many magnitudes and both signs, zero, integers, and values a
    // hair from integers.
    double Base() {
        switch (random() % 6) {
            case 0: return 0;
            case 1: return static_cast<double>(static_cast<int32_t>(random() % 41) - 20);
            case 2: return std::ldexp(static_cast<double>(random() % 1000) + 0.5, static_cast<int>(random() % 80) - 40);
            case 3: return -std::ldexp(static_cast<double>(random() % 1000) + 0.25, static_cast<int>(random() % 80) - 40);
            case 4: return static_cast<double>(random() % 7) * (1 + 1e-15);
            default: return Scattered();
        }
    }
    // A value with every bit of its mantissa random, so that some lie near
    // whatever boundaries a search draws between values.
    double Scattered() {
        const double mantissa = 1 + static_cast<double>(random() >> 5) / 0x1p27 + static_cast<double>(random()) / 0x1p59;
        return std::ldexp(random() % 2 ? mantissa : -mantissa, static_cast<int>(random() % 40) - 20);
    }
    // A base, or a value exactly at or just past the tolerance edge of one.
    double Near(const std::vector<double> &bases, double ct) {
        const double a = bases[random() % bases.size()];
        if (a == 0 || random() % 3 == 0) return a;
        return Edge(a, ct, random() % 2 ? 1.0 : -1.0, random() % 2);
    }
    double integerBound_ = 1e6;
    std::vector<Number> Draw(const std::vector<double> &bases, size_t n, bool real, bool integral, double ct) {
        std::vector<Number> out;
        while (out.size() < n) {
            const double v = integral ? std::round(Near(bases, ct)) : Near(bases, ct);
            if ((real || v == std::trunc(v)) && (!integral || std::fabs(v) < integerBound_)) out.push_back({v, real});
        }
        return out;
    }
    void ExpectScanResults(const std::vector<Number> &table, const std::vector<Number> &keys, double ct,
                           aplarray *(*make)(const std::vector<Number> &) = NumbersOf) {
        Positions expected, members;
        for (const Number &key : keys) {
            expected.push_back(TolerantScan(table, key, ct) + 1);
            members.push_back(expected.back() <= static_cast<int32_t>(table.size()));
        }
        aplarray *x = APL_LinkEx(make(table), HERE), *y = APL_LinkEx(make(keys), HERE);
        EXPECT_EQ(IndexOf(x, y), expected) << "ct " << ct << " table REAL " << table[0].real;
        EXPECT_EQ(Searched(APL_Element, y, x), members) << "ct " << ct;
        APL_UnLinkEx(x, HERE);
        APL_UnLinkEx(y, HERE);
    }
};

TEST_F(TolerantSearch, RealIntegralAndMixedDataAgreeWithTheScanAtTheToleranceEdge) {
    for (double ct : {1e-13, 1e-10, 0.001}) {
        SetSymbolValue(sys_CT_idx, MakeReal(ct));
        std::vector<double> bases(60);
        for (double &b : bases) b = Base();
        for (int round = 0; round < 7; ++round) {
            // REAL against REAL, INTG keys and REAL tables of integers (searched
            // as integers), and INTG tables against REAL keys; the last two
            // again with integers of a narrow range.
            const int kind = round < 5 ? round : round - 3;
            integerBound_ = round < 5 ? 1e6 : 3e4;
            const bool integralTable = kind >= 2, realTable = kind != 3, realKeys = kind != 1 && kind != 4;
            const auto table = Draw(bases, 300, realTable, integralTable, ct);
            const auto keys = Draw(bases, 500, realKeys, !realKeys, ct);
            ExpectScanResults(table, keys, ct);
        }
    }
    // Items: equal numbers on two sides of any boundary the search draws must
    // still be found, which only many scattered values reach often enough.
    for (double ct : {1e-13, 1e-10}) {
        SetSymbolValue(sys_CT_idx, MakeReal(ct));
        std::vector<double> bases(3000);
        for (double &b : bases) b = random() % 4 ? Scattered() : Base();
        ExpectScanResults(Draw(bases, 3000, true, false, ct), Draw(bases, 6000, true, false, ct), ct, ItemsFrom);
        ExpectScanResults(Draw(bases, 500, true, false, ct), Draw(bases, 2000, false, true, ct), ct, ItemsFrom);
    }
    // Integers too large for the exact shortcut, under the widest tolerance.
    SetSymbolValue(sys_CT_idx, MakeReal(0.001));
    std::vector<double> large;
    for (int i = 0; i < 200; ++i) large.push_back(990 + static_cast<double>(random() % 40));
    std::vector<Number> table, keys;
    for (int i = 0; i < 200; ++i) table.push_back({large[random() % large.size()], true});
    for (int i = 0; i < 200; ++i) keys.push_back({large[random() % large.size()] + (random() % 2 ? 0.5 : 0), true});
    ExpectScanResults(table, keys, 0.001);
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
            for (auto &x : v) {
                const double base = static_cast<double>(random() % 3) + (random() % 2 ? 0.5 : 0);
                x = random() % 2 ? base : Edge(base, 1e-13, random() % 2 ? 1.0 : -1.0, random() % 2);
            }
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
    // Tables with and without REAL items, REAL keys at the tolerance edge.
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
