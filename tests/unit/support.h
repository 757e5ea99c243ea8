// Shared helpers for the unit tests: output captured from callback slot 1,
// fixtures that check that every test gives back the blocks it took, arrays
// built and read independently of the library, and APL text in UTF-8.
#pragma once

#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// Everything the library writes through the output channel.
class CapturedOutput {
public:
    static void Write(const char *text, int32_t newLine) {
        buffer() += text;
        if (newLine) buffer() += '\n';
    }
    static std::string Take() {
        std::string text = buffer();
        buffer().clear();
        return text;
    }

private:
    static std::string &buffer() {
        static std::string text;
        return text;
    }
};

// The number of live blocks, through the exported MD function.
inline int32_t LiveBlocks() {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    if (!counts) return -1;
    const int32_t blocks = static_cast<int32_t *>(APL_Data(counts))[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

// Captures output, starts with no error and no tracing, and fails the test
// when blocks were left behind.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
        aplerrno = 0;
        APL_error_message[0] = 0;
        sessionMode = 0;
        tracingActive = false;
        blocksAtStart_ = LiveBlocks();
        CapturedOutput::Take();
    }
    void TearDown() override {
        sessionMode = 0;
        tracingActive = false;
        aplerrno = 0;
        EXPECT_EQ(LiveBlocks(), blocksAtStart_) << "blocks leaked by the test";
        CapturedOutput::Take();
    }

private:
    int32_t blocksAtStart_ = 0;
};

// With the system variables, so that IO, CT and the others can be set. A
// table left by an earlier test goes before the blocks are counted.
class WorkspaceTest : public LibraryTest {
protected:
    void SetUp() override {
        DestroySymbolTable();
        LibraryTest::SetUp();
        CreateSystemVariables(false);
    }
    void TearDown() override {
        DestroySymbolTable();
        LibraryTest::TearDown();
    }
};

// Arrays built and read element by element. BOOL is packed and unpacked here
// from the layout rule itself (each row starts on a fresh 32-bit word), so
// that the library's packing is checked against an independent one.
namespace arrays_support {

using Shape = std::vector<int32_t>;
using Values = std::vector<double>;

inline int64_t WordsPerRow(const aplarray *a) { return (RowLength(a) + 31) / 32; }

// The word that holds element i of a BOOL array, and the bit's place in it.
inline uint32_t &BoolWord(const aplarray *a, int64_t i) {
    const int64_t row = RowLength(a);
    return DataOf<uint32_t>(a)[i / row * WordsPerRow(a) + i % row / 32];
}
inline uint32_t BoolBit(const aplarray *a, int64_t i) { return 1u << (i % RowLength(a) % 32); }

// A temporary simple array of the given values (the rest zero). The padding
// bits of BOOL rows are filled with copies of the byte `padding`, so that a
// test can show that the library never reads them.
inline aplarray *Make(int eltype, const Shape &shape, const Values &v = {}, uint8_t padding = 0) {
    aplarray *a = APL_Create(static_cast<int32_t>(shape.size()), eltype, shape.data());
    if (!a) return nullptr;
    const size_t bytes = static_cast<size_t>(a->number) * (eltype == APL_BOOL ? 4 : ElementSize(eltype));
    memset(APL_Data(a), eltype == APL_BOOL ? padding : 0, bytes);
    for (size_t k = 0; k < v.size(); ++k) {
        const auto i = static_cast<int64_t>(k);
        switch (eltype) {
            case APL_CHAR: DataOf<uint8_t>(a)[i] = static_cast<uint8_t>(v[k]); break;
            case APL_SHORT: DataOf<int16_t>(a)[i] = static_cast<int16_t>(v[k]); break;
            case APL_INTG: DataOf<int32_t>(a)[i] = static_cast<int32_t>(v[k]); break;
            case APL_REAL: DataOf<double>(a)[i] = v[k]; break;
            case APL_BOOL:
                BoolWord(a, i) = v[k] != 0 ? BoolWord(a, i) | BoolBit(a, i) : BoolWord(a, i) & ~BoolBit(a, i);
        }
    }
    if (eltype == APL_BOOL)
        for (auto i = static_cast<int64_t>(v.size()); i < ElementCount(a); ++i) BoolWord(a, i) &= ~BoolBit(a, i);
    return a;
}
// A temporary vector holding the bytes of `values` as they are, for element
// types whose C++ type matches (int32_t for INTG, double for REAL, char for CHAR).
template <class T>
aplarray *VectorOf(int eltype, const std::vector<T> &values) {
    const auto n = static_cast<int32_t>(values.size());
    aplarray *a = APL_Create(1, eltype, &n);
    if (a && n) memcpy(APL_Data(a), values.data(), sizeof(T) * values.size());
    return a;
}
inline aplarray *Vec(int eltype, const Values &v) { return Make(eltype, {static_cast<int32_t>(v.size())}, v); }
inline aplarray *Ints(const Values &v) { return Vec(APL_INTG, v); }
inline aplarray *Reals(const Values &v) { return Vec(APL_REAL, v); }
inline aplarray *Real(double x) { return Make(APL_REAL, {}, {x}); }

// The elements of a simple array as doubles (-1 for each item of a nested one).
inline Values Elements(const aplarray *a) {
    Values v;
    for (int64_t i = 0; i < ElementCount(a); ++i) {
        switch (a->eltype) {
            case APL_CHAR: v.push_back(DataOf<uint8_t>(a)[i]); break;
            case APL_SHORT: v.push_back(DataOf<int16_t>(a)[i]); break;
            case APL_INTG: v.push_back(DataOf<int32_t>(a)[i]); break;
            case APL_REAL: v.push_back(DataOf<double>(a)[i]); break;
            case APL_BOOL: v.push_back((BoolWord(a, i) & BoolBit(a, i)) != 0); break;
            default: v.push_back(-1);
        }
    }
    return v;
}
inline Shape ShapeOf(const aplarray *a) { return Shape(a->shape, a->shape + a->rank); }

// Bits past the row length in each row's last word (word-wise kernels need them clear).
inline uint32_t PaddingBits(const aplarray *a) {
    const int64_t row = RowLength(a), words = WordsPerRow(a);
    if (row % 32 == 0 || a->number == 0) return 0;
    uint32_t padding = 0;
    for (int64_t w = words - 1; w < a->number; w += words) padding |= DataOf<uint32_t>(a)[w] >> (row % 32);
    return padding;
}

// A temporary nested vector that links the given items (temporaries become
// owned); `prototype` fills the one slot of an empty one.
inline aplarray *Nest(const std::vector<aplarray *> &items, aplarray *prototype = nullptr) {
    const auto n = static_cast<int32_t>(items.size());
    aplarray *a = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i) ItemsOf(a)[i] = APL_Link(items[static_cast<size_t>(i)]);
    if (n == 0) ItemsOf(a)[0] = APL_Link(prototype);
    return a;
}
// A temporary nested scalar that links the item.
inline aplarray *Enclosed(aplarray *item) {
    aplarray *a = APL_Create(0, APL_NESTED, nullptr);
    ItemsOf(a)[0] = APL_Link(item);
    return a;
}

// What a call returned: element type, shape and elements, compared as a whole.
struct Got {
    int eltype;
    Shape shape;
    Values values;
    bool operator==(const Got &) const = default;
};
inline std::ostream &operator<<(std::ostream &os, const Got &g) {
    os << "type " << g.eltype << ", shape";
    for (int32_t n : g.shape) os << ' ' << n;
    os << ", values";
    for (double v : g.values) os << ' ' << v;
    return os;
}

}  // namespace arrays_support

// The code page: the UTF-8 text of each code and the code of each text.
struct CodePage {
    std::map<std::string, char> codes;
    std::string glyphs[256];
    CodePage() {
        std::ifstream file("share/codepage.tsv");
        std::string line;
        for (std::getline(file, line); std::getline(file, line);) {
            const int c = std::stoi(line);
            const unsigned long u = std::stoul(line.substr(line.find("U+") + 2), nullptr, 16);
            std::string utf8(1, static_cast<char>(u));
            if (u >= 0x800)
                utf8 = {static_cast<char>(0xE0 | u >> 12), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (u & 0x3F))};
            else if (u >= 0x80)
                utf8 = {static_cast<char>(0xC0 | u >> 6), static_cast<char>(0x80 | (u & 0x3F))};
            glyphs[c] = utf8;
            if (c > 0) codes.emplace(utf8, static_cast<char>(c));
        }
    }
};
inline const CodePage &Page() {
    static const CodePage page;
    return page;
}

// UTF-8 to the system's codes; a character outside the code page fails the test.
inline std::string A(const std::string &utf8) {
    std::string out;
    for (size_t i = 0, n; i < utf8.size(); i += n) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        n = lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const auto found = Page().codes.find(utf8.substr(i, n));
        EXPECT_NE(found, Page().codes.end()) << "not in the code page: " << utf8.substr(i, n);
        out += found == Page().codes.end() ? '?' : found->second;
    }
    return out;
}
