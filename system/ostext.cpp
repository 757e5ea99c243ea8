// ostext: text that leaves the process (commands for the operating system,
// file patterns and the names found) translated between the system's 8-bit
// character set and UTF-8. Relies on nothing; the table is share/codepage.tsv's.
#include "system/ostext.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace {

// The Unicode code point of every code (a unit test compares it with
// share/codepage.tsv, the one source of truth).
constexpr uint32_t kCodePoints[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 0-7
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 8-15
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 16-23
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 24-31
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 32-39
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 40-47
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 48-55
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 56-63
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 64-71
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 72-79
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 80-87
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x2227, 0x005F,  // 88-95
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 96-103
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 104-111
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 112-119
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 120-127
    0x0080, 0x22A3, 0x22A4, 0x22A5, 0x2190, 0x2192, 0x2191, 0x2193,  // 128-135
    0x2264, 0x2265, 0x2372, 0x2371, 0x2395, 0x235E, 0x2339, 0x2359,  // 136-143
    0x2207, 0x2206, 0x2363, 0x234B, 0x2352, 0x2355, 0x234E, 0x2308,  // 144-151
    0x230A, 0x2340, 0x233F, 0x2282, 0x2283, 0x009D, 0x009E, 0x2228,  // 152-159
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x22A2, 0x00A5, 0x00A6, 0x00A7,  // 160-167
    0x00A8, 0x235D, 0x22C4, 0x00AB, 0x2260, 0x2261, 0x00AE, 0x00AF,  // 168-175
    0x2218, 0x25CB, 0x233D, 0x2349, 0x2296, 0x235F, 0x00B6, 0x00B7,  // 176-183
    0x237A, 0x220A, 0x2377, 0x00BB, 0x2373, 0x2374, 0x00BE, 0x00BF,  // 184-191
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // 192-199
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // 200-207
    0x236C, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // 208-215
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x2337, 0x00DF,  // 216-223
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // 224-231
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // 232-239
    0x2364, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // 240-247
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x2368, 0x00FF,  // 248-255
};

void AppendUtf8(std::string &out, uint32_t p) {
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
}

// (code point, code) pairs sorted by code point, for the way back.
using ReverseTable = std::array<std::pair<uint32_t, uint8_t>, 256>;
const ReverseTable &Reverse() {
    static const ReverseTable table = [] {
        ReverseTable t{};
        for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = {kCodePoints[c], static_cast<uint8_t>(c)};
        std::sort(t.begin(), t.end());
        return t;
    }();
    return table;
}

// Decodes one UTF-8 sequence at text[i]; false for a malformed one (overlong
// forms, surrogates, stray or missing continuation bytes).
bool DecodeOne(std::string_view text, size_t &i, uint32_t &p) {
    const auto b0 = static_cast<uint8_t>(text[i]);
    int more;
    uint32_t minimum;
    if (b0 < 0x80) {
        p = b0, more = 0, minimum = 0;
    } else if ((b0 & 0xE0) == 0xC0) {
        p = b0 & 0x1F, more = 1, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        p = b0 & 0x0F, more = 2, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        p = b0 & 0x07, more = 3, minimum = 0x10000;
    } else {
        return false;
    }
    if (more > 0 && i + static_cast<size_t>(more) >= text.size()) return false;
    for (int k = 1; k <= more; ++k) {
        const auto b = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) return false;
        p = (p << 6) | (b & 0x3F);
    }
    if (p < minimum || p > 0x10FFFF || (p >= 0xD800 && p <= 0xDFFF)) return false;
    i += static_cast<size_t>(more) + 1;
    return true;
}

}  // namespace

uint32_t CodePoint(uint8_t code) { return kCodePoints[code]; }

std::string ToSystemText(std::string_view codes) {
    std::string out;
    out.reserve(codes.size());
    for (char c : codes) AppendUtf8(out, kCodePoints[static_cast<uint8_t>(c)]);
    return out;
}

bool FromSystemText(std::string_view utf8, std::string &codes) {
    codes.clear();
    const ReverseTable &table = Reverse();
    for (size_t i = 0; i < utf8.size();) {
        uint32_t p;
        if (!DecodeOne(utf8, i, p)) return false;
        const auto found = std::lower_bound(table.begin(), table.end(), std::pair<uint32_t, uint8_t>{p, 0});
        if (found == table.end() || found->first != p) return false;
        codes += static_cast<char>(found->second);
    }
    return true;
}

std::string ShownSystemText(std::string_view utf8) {
    std::string shown;
    const ReverseTable &table = Reverse();
    char escape[16];
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        uint32_t p;
        if (!DecodeOne(utf8, i, p)) {
            snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(static_cast<uint8_t>(utf8[start])));
            shown += escape;
            i = start + 1;
            continue;
        }
        const auto found = std::lower_bound(table.begin(), table.end(), std::pair<uint32_t, uint8_t>{p, 0});
        if (found != table.end() && found->first == p) {
            shown += static_cast<char>(found->second);
        } else {
            snprintf(escape, sizeof escape, "U+%04X", static_cast<unsigned>(p));
            shown += escape;
        }
    }
    return shown;
}
