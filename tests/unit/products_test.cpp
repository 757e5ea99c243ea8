// Each and the inner and outer products on random data: the faster paths
// against the item-by-item path with the same operand as a defined function,
// +.× against a plain triple loop, and the links and blocks after failures.
#include "session_support.h"

#include "core/glyphs.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

uint16_t Name(const char *name) {
    return APL_AddSymbol(name, static_cast<int32_t>(strlen(name)), APL_KIND_VARIABLE, KAZ_InitSimple(nullptr));
}

aplarray *RandomArray(std::mt19937 &random, int eltype, std::vector<int32_t> shape) {
    aplarray *a = APL_Create(static_cast<int32_t>(shape.size()), eltype, shape.data());
    const int64_t n = ElementCount(a);
    std::uniform_int_distribution<int32_t> small(-9, 9);
    for (int64_t i = 0; i < n; ++i) {
        if (eltype == APL_INTG) DataOf<int32_t>(a)[i] = small(random) * 1000;
        if (eltype == APL_REAL) DataOf<double>(a)[i] = small(random) / 7.0;
        if (eltype == APL_CHAR) DataOf<uint8_t>(a)[i] = static_cast<uint8_t>('a' + (small(random) + 9) % 4);
    }
    return a;
}

// Same shape, type and elements (nested items compared one level down).
bool SameArray(const aplarray *a, const aplarray *b) {
    if (!a || !b || a->rank != b->rank || a->eltype != b->eltype || a->number != b->number) return false;
    for (int i = 0; i < a->rank; ++i)
        if (a->shape[i] != b->shape[i]) return false;
    if (!IsNested(a)) return memcmp(DataOf(a), DataOf(b), ElementSize(a->eltype) * a->number) == 0;
    for (int32_t i = 0; i < a->number; ++i)
        if (!SameArray(ItemsOf(a)[i], ItemsOf(b)[i])) return false;
    return true;
}

aplfnc Primitive(uint8_t code) { return aplfnc{APL_FN_PRIMITIVE | APL_FN_FUNCTION, nullptr, nullptr, code}; }

class Products : public SessionTest {
protected:
    // Assigns A and B, then compares the value of each line with that of the
    // line in which the operand is the defined function G.
    void ExpectSame(aplarray *a, aplarray *b, const std::string &fast, const std::string &general) {
        APL_Assign(Name("A"), a);
        APL_Assign(Name("B"), b);
        EXPECT_EQ(RunLines({A("X←" + fast), A("Y←" + general)}), "");
        EXPECT_TRUE(SameArray(APL_Variable(Name("X")), APL_Variable(Name("Y")))) << fast;
    }
};

TEST_F(Products, OuterProductOfAScalarPrimitiveEqualsTheItemByItemPath) {
    std::mt19937 random(19);
    const char *definitions[][2] = {
        {"×", "Z←L G R' 'Z←L×R"}, {"+", "Z←L G R' 'Z←L+R"}, {"⌈", "Z←L G R' 'Z←L⌈R"}, {"=", "Z←L G R' 'Z←L=R"}};
    const int types[] = {APL_INTG, APL_REAL};
    for (auto &definition : definitions) {
        Run(A(std::string("⎕FX '") + definition[1] + "'"));
        for (int left : types)
            for (int right : types)
                ExpectSame(RandomArray(random, left, {3, 4}), RandomArray(random, right, {5}),
                           std::string("A∘.") + definition[0] + "B", "A∘.G B");
    }
    // A row that overflows makes the whole result REAL on both paths.
    Run(A("⎕FX 'Z←L H R' 'Z←L+R'"));
    ExpectSame(MakeIntVector(std::vector<int32_t>{2147483647, 1}.data(), 2),
               MakeIntVector(std::vector<int32_t>{1, 2}.data(), 2), "A∘.+B", "A∘.H B");
}

TEST_F(Products, OuterProductInBlocksEqualsTheItemByItemPathForEveryRowLength) {
    std::mt19937 random(23);
    Run(A("⎕FX 'Z←L G R' 'Z←L-R'"));
    Run(A("⎕FX 'Z←L E R' 'Z←L=R'"));
    // Rows of one element, rows several to a block with a shorter last block,
    // and rows long enough to run one at a time.
    for (int32_t length : {1, 3, 100, 300, 2500}) {
        ExpectSame(RandomArray(random, APL_REAL, {7, 3}), RandomArray(random, APL_INTG, {length}), "A∘.-B", "A∘.G B");
        ExpectSame(RandomArray(random, APL_CHAR, {5}), RandomArray(random, APL_CHAR, {length}), "A∘.=B", "A∘.E B");
    }
    // Characters against numbers compare unequal on both paths.
    ExpectSame(RandomArray(random, APL_CHAR, {4}), RandomArray(random, APL_INTG, {2, 3}), "A∘.=B", "A∘.E B");
    // A fault in any block is the call's error on both paths, nothing kept.
    Run(A("⎕FX 'Z←L D R' 'Z←L÷R'"));
    APL_Assign(Name("B"), MakeIntVector(std::vector<int32_t>{3, 0, 2}.data(), 3));
    EXPECT_EQ(Run(A("1 0 ∘.÷ B")).substr(0, 12), "DOMAIN ERROR");
    Run(")RESET");
    EXPECT_EQ(Run(A("1 0 ∘.D B")).substr(0, 12), "DOMAIN ERROR");
    Run(")RESET");
}

TEST_F(Products, InnerProductOfScalarPrimitivesEqualsTheItemByItemPath) {
    std::mt19937 random(31);
    const char *functions[][2] = {{"+", "Z←L F R' 'Z←L+R"},
                                  {"⌈", "Z←L F R' 'Z←L⌈R"},
                                  {"=", "Z←L F R' 'Z←L=R"},
                                  {"-", "Z←L F R' 'Z←L-R"},
                                  {"×", "Z←L F R' 'Z←L×R"}};
    const char *second[][2] = {
        {"×", "Z←L G R' 'Z←L×R"}, {"=", "Z←L G R' 'Z←L=R"}, {"-", "Z←L G R' 'Z←L-R"}, {"⌈", "Z←L G R' 'Z←L⌈R"}};
    const std::vector<int32_t> shapes[][2] = {{{3, 4}, {4, 5}}, {{2, 3, 1}, {1, 6}}, {{5}, {5, 2, 3}}, {{2, 7}, {7}}};
    for (auto &f : functions)
        for (auto &g : second) {
            if (std::string(f[0]) == "+" && std::string(g[0]) == "×") continue;  // the matrix path
            Run(A(std::string("⎕FX '") + f[1] + "'"));
            Run(A(std::string("⎕FX '") + g[1] + "'"));
            for (auto &shape : shapes)
                for (int left : {APL_INTG, APL_REAL})
                    ExpectSame(RandomArray(random, left, shape[0]), RandomArray(random, APL_INTG, shape[1]),
                               std::string("A") + f[0] + "." + g[0] + "B", "A F.G B");
        }
    // Rows of characters compared, and a fault inside g or f.
    Run(A("⎕FX 'Z←L F R' 'Z←L∧R'"));
    Run(A("⎕FX 'Z←L G R' 'Z←L=R'"));
    ExpectSame(RandomArray(random, APL_CHAR, {6, 3}), RandomArray(random, APL_CHAR, {3, 6}), "A∧.=B", "A F.G B");
    Run(A("⎕FX 'Z←L F R' 'Z←L÷R'"));
    Run(A("⎕FX 'Z←L G R' 'Z←L÷R'"));
    APL_Assign(Name("A"), MakeIntVector(std::vector<int32_t>{1, 2, 3}.data(), 3));
    APL_Assign(Name("B"), MakeIntVector(std::vector<int32_t>{1, 1, 0}.data(), 3));
    for (const char *line : {"A ÷.× B", "A F.× B", "A -.÷ B", "A -.G B"}) {
        EXPECT_EQ(Run(A(line)).substr(0, 12), "DOMAIN ERROR") << line;
        Run(")RESET");
    }
}

// The plain loop the product must equal bit for bit: Σ in increasing k from 0.0.
template <class TL, class TR>
std::vector<double> PlainProduct(const aplarray *l, const aplarray *r, int rows, int n, int cols) {
    std::vector<double> z(static_cast<size_t>(rows) * cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < n; ++k) {
                volatile double product = static_cast<double>(DataOf<const TL>(l)[i * n + k]) *
                                          static_cast<double>(DataOf<const TR>(r)[k * cols + j]);
                sum += product;
            }
            z[static_cast<size_t>(i) * cols + j] = sum;
        }
    return z;
}

using MatrixProduct = LibraryTest;

TEST_F(MatrixProduct, EqualsAPlainTripleLoopBitForBit) {
    std::mt19937 random(300);
    aplfnc plus = Primitive(glyph::kPlus), times = Primitive(glyph::kTimes);
    for (int left : {APL_INTG, APL_REAL})
        for (int right : {APL_INTG, APL_REAL}) {
            aplarray *l = APL_Link(RandomArray(random, left, {7, 33}));
            aplarray *r = APL_Link(RandomArray(random, right, {33, 2, 5}));
            std::vector<double> expected = left == APL_INTG
                                               ? (right == APL_INTG ? PlainProduct<int32_t, int32_t>(l, r, 7, 33, 10)
                                                                    : PlainProduct<int32_t, double>(l, r, 7, 33, 10))
                                               : (right == APL_INTG ? PlainProduct<double, int32_t>(l, r, 7, 33, 10)
                                                                    : PlainProduct<double, double>(l, r, 7, 33, 10));
            aplarray *z = APL_InnerProduct(nullptr, l, &plus, nullptr, &times, nullptr, r);
            ASSERT_NE(z, nullptr);
            ASSERT_EQ(z->eltype, APL_REAL);
            ASSERT_EQ(z->rank, 3);
            EXPECT_EQ(z->shape[0], 7);
            EXPECT_EQ(z->shape[2], 5);
            EXPECT_EQ(memcmp(DataOf(z), expected.data(), expected.size() * sizeof(double)), 0);
            EXPECT_EQ(l->lnkcnt, 1);
            APL_UnLinkTemp(z);
            APL_UnLink(l);
            APL_UnLink(r);
        }
}

using Operators = LibraryTest;

// A native operand that asks to stop at its thousandth call.
int nativeCalls = 0;
aplarray *CountingIdentity(aplarray *axis, aplarray *left, aplarray *right) {
    ReleaseTemporaries(axis, left, right);
    if (++nativeCalls == 1000) APL_interrupted = 1;
    return APL_Int(nativeCalls);
}

TEST_F(Operators, EachOfALongArgumentCanBeInterrupted) {
    const int32_t n = 1000000;
    aplarray *right = APL_Link(APL_Create(1, APL_INTG, &n));
    aplfnc f{APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(&CountingIdentity), 0}, none{};
    nativeCalls = 0;
    EXPECT_EQ(APL_Each(nullptr, nullptr, &f, nullptr, &none, nullptr, right), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_LT(nativeCalls, n);
    EXPECT_EQ(right->lnkcnt, 1);
    APL_interrupted = 0;
    APL_UnLink(right);
}

}  // namespace
