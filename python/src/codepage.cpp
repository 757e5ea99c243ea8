// codepage: the library's 8-bit APL character set and Python's Unicode
// strings. The table is generated at build time from share/codepage.tsv.
#include "codepage.h"

#include <array>
#include <cstdio>
#include <utility>

namespace codepage {
namespace {

// kUnicode[code]: generated from share/codepage.tsv.
#include "codepage_table.inc"

// Other spellings that the console also reads as these codes.
constexpr std::pair<uint32_t, uint8_t> kAlternatives[] = {
    {0x005E, 94},   // ^ for and
    {0x2212, 45},   // minus sign for -
    {0x223C, 126},  // tilde operator for ~
    {0x2223, 124},  // divides for |
    {0x22C6, 42},   // star operator for *
};

constexpr uint32_t kPlane = 0x10000;

// code + 1 for each code point of the basic plane (every glyph of the set is
// there), 0 for the rest: one look-up per character.
struct Reverse {
    std::array<uint16_t, kPlane> codes{};
    Reverse() {
        for (const auto &[point, code] : kAlternatives) codes[point] = static_cast<uint16_t>(code + 1);
        for (int c = 0; c < 256; ++c)
            if (kUnicode[c] < kPlane) codes[kUnicode[c]] = static_cast<uint16_t>(c + 1);
    }
};

const Reverse &ReverseTable() {
    static const Reverse table;
    return table;
}

void RaiseOutside(Py_UCS4 point, Py_ssize_t at) {
    char code[16];  // Python's own formatting has no %04X
    snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(point));
    PyErr_Format(PyExc_ValueError, "character '%c' (%s) at position %zd is not in the APL character set",
                 static_cast<int>(point), code, at);
}

}  // namespace

PyObject *ToUnicode(const uint8_t *codes, Py_ssize_t count) {
    Py_UCS4 widest = 0;
    for (Py_ssize_t i = 0; i < count; ++i) widest = std::max<Py_UCS4>(widest, kUnicode[codes[i]]);
    PyObject *text = PyUnicode_New(count, widest);
    if (!text) return nullptr;
    const int kind = PyUnicode_KIND(text);
    void *data = PyUnicode_DATA(text);
    for (Py_ssize_t i = 0; i < count; ++i) PyUnicode_WRITE(kind, data, i, kUnicode[codes[i]]);
    return text;
}

bool FromUnicode(PyObject *text, std::string &codes) {
    const Py_ssize_t count = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    const void *data = PyUnicode_DATA(text);
    const Reverse &reverse = ReverseTable();
    codes.reserve(codes.size() + static_cast<size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        const Py_UCS4 point = PyUnicode_READ(kind, data, i);
        const uint16_t code = point < kPlane ? reverse.codes[point] : 0;
        if (code == 0) {
            RaiseOutside(point, i);
            return false;
        }
        codes += static_cast<char>(code - 1);
    }
    return true;
}

void AppendUtf8(std::string &out, const uint8_t *codes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t point = kUnicode[codes[i]];
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | (point >> 6));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (point >> 12));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
}

}  // namespace codepage
