// Index of through its direct tables and hash against a reference linear
// scan on random data: narrow and wide INTG ranges, characters, and a REAL
// side that forces the tolerant scan.
#include "support.h"

#include "core/symtab.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

using Positions = std::vector<int32_t>;

template <class T>
aplarray *Vector(int eltype, const std::vector<T> &values) {
    const int32_t n = static_cast<int32_t>(values.size());
    aplarray *a = AllocArray(APL_TEMP, 1, eltype, &n, HERE);
    if (n) memcpy(DataOf(a), values.data(), sizeof(T) * values.size());
    return a;
}

Positions IndexOf(aplarray *left, aplarray *right) {
    aplarray *r = APL_Interval(nullptr, left, right);
    EXPECT_EQ(aplerrno, 0);
    aplerrno = 0;
    if (!r) return {};
    Positions out(DataOf<int32_t>(r), DataOf<int32_t>(r) + r->number);
    APL_UnLinkTemp(r);
    return out;
}

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

class IndexOfSearch : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        CreateSystemVariables(false);
    }
    void TearDown() override {
        DestroySymbolTable();
        LibraryTest::TearDown();
    }
    std::mt19937 random{7};
};

TEST_F(IndexOfSearch, IntegersInNarrowAndWideRangesAgreeWithALinearScan) {
    for (uint32_t spread : {10u, 3000u, 0xFFFFFFFFu}) {
        std::vector<int32_t> x(2000), y(3000);
        for (auto &v : x) v = static_cast<int32_t>(random() % spread) - 5;
        for (auto &v : y) v = random() % 2 ? x[random() % x.size()] : static_cast<int32_t>(random() % spread) - 5;
        EXPECT_EQ(IndexOf(Vector(APL_INTG, x), Vector(APL_INTG, y)), Reference(x, y));
    }
}

TEST_F(IndexOfSearch, CharactersAndRealsAgreeWithALinearScan) {
    std::vector<uint8_t> text(500), probe(300);
    for (auto &c : text) c = static_cast<uint8_t>('a' + random() % 20);
    for (auto &c : probe) c = static_cast<uint8_t>(random() % 256);
    EXPECT_EQ(IndexOf(Vector(APL_CHAR, text), Vector(APL_CHAR, probe)), Reference(text, probe));
    std::vector<double> x(400), y(400);
    for (auto &v : x) v = static_cast<double>(random() % 300) / 4;
    for (auto &v : y) v = static_cast<double>(random() % 300) / 4;
    EXPECT_EQ(IndexOf(Vector(APL_REAL, x), Vector(APL_REAL, y)), Reference(x, y));
}

}  // namespace
