// codepage: translation between the terminal's UTF-8 and the library's 8-bit
// APL character set. The table is generated at build time from
// share/codepage.tsv, the one source of truth for the character set.
#include "codepage.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace codepage {
namespace {

// kUnicode[code]: generated from share/codepage.tsv.
#include "codepage_table.inc"

// Other spellings accepted on input.
constexpr std::pair<uint32_t, uint8_t> kAlternatives[] = {
    {0x005E, 94},   // ^ for and
    {0x2212, 45},   // minus sign for -
    {0x223C, 126},  // tilde operator for ~
    {0x2223, 124},  // divides for |
    {0x22C6, 42},   // star operator for *
};

// Codes that the table leaves without a glyph (the C1 controls).
bool Invisible(uint8_t code) { return kUnicode[code] >= 0x80 && kUnicode[code] < 0xA0; }

struct Reverse {
    std::array<std::pair<uint32_t, uint8_t>, 256 + std::size(kAlternatives)> entries;
    size_t count = 0;
    Reverse() {
        for (int c = 0; c < 256; ++c)
            if (!Invisible(static_cast<uint8_t>(c))) entries[count++] = {kUnicode[c], static_cast<uint8_t>(c)};
        for (const auto &alternative : kAlternatives) entries[count++] = alternative;
        std::sort(entries.begin(), entries.begin() + static_cast<long>(count));
    }
};

const Reverse &ReverseTable() {
    static const Reverse table;
    return table;
}

constexpr uint32_t kMalformed = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i] and moves i past it; kMalformed for a
// malformed one (i then moves one byte on).
uint32_t DecodeAt(std::string_view text, size_t &i) {
    const auto lead = static_cast<uint8_t>(text[i]);
    int extra;
    uint32_t point;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        point = lead & 0x07;
    } else {
        ++i;
        return kMalformed;
    }
    for (int k = 1; k <= extra; ++k) {
        const size_t at = i + static_cast<size_t>(k);
        if (at >= text.size() || (static_cast<uint8_t>(text[at]) & 0xC0) != 0x80) {
            ++i;
            return kMalformed;
        }
        point = (point << 6) | (static_cast<uint8_t>(text[at]) & 0x3F);
    }
    // Overlong forms (C0 A7 for a quote), UTF-16 surrogates and code points
    // beyond U+10FFFF are not characters: reading them would let one
    // character pass for another.
    constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[extra] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
        ++i;
        return kMalformed;
    }
    i += static_cast<size_t>(extra) + 1;
    return point;
}

}  // namespace

uint32_t Unicode(uint8_t code) { return kUnicode[code]; }

int CodeOf(uint32_t codePoint) {
    const Reverse &table = ReverseTable();
    const auto *begin = table.entries.data();
    const auto *end = begin + table.count;
    const auto *found = std::lower_bound(begin, end, std::pair<uint32_t, uint8_t>{codePoint, 0});
    return found != end && found->first == codePoint ? found->second : -1;
}

std::string EncodeUtf8(uint32_t p) {
    std::string out;
    if (p < 0x80) {
        out += static_cast<char>(p);
    } else if (p < 0x800) {
        out += static_cast<char>(0xC0 | (p >> 6));
        out += static_cast<char>(0x80 | (p & 0x3F));
    } else if (p < 0x10000) {
        out += static_cast<char>(0xE0 | (p >> 12));
        out += static_cast<char>(0x80 | ((p >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (p & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (p >> 18));
        out += static_cast<char>(0x80 | ((p >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((p >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (p & 0x3F));
    }
    return out;
}

bool FromUtf8(std::string_view utf8, std::string &codes, std::string &problem) {
    codes.clear();
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const uint32_t point = DecodeAt(utf8, i);
        if (point == kMalformed || point == 0) {
            char text[96];
            if (point == 0)
                snprintf(text, sizeof text, "NUL byte at byte offset %zu", start);
            else
                snprintf(text, sizeof text, "invalid UTF-8 byte 0x%02X at byte offset %zu",
                         static_cast<uint8_t>(utf8[start]), start);
            problem = text;
            return false;
        }
        const int code = CodeOf(point);
        if (code < 0) {
            char text[96];
            snprintf(text, sizeof text, "the character U+%04X \"%s\" is not in the APL character set", point,
                     std::string(utf8.substr(start, i - start)).c_str());
            problem = text;
            return false;
        }
        codes += static_cast<char>(code);
    }
    return true;
}

std::string ToUtf8(std::string_view codes) {
    std::string out;
    out.reserve(codes.size() * 2);
    for (char c : codes) {
        const auto code = static_cast<uint8_t>(c);
        out += Invisible(code) ? EncodeUtf8(0xFFFD) : EncodeUtf8(kUnicode[code]);
    }
    return out;
}

}  // namespace codepage
