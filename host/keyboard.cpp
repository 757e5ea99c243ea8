// keyboard: the prefix-key layout for typing APL glyphs on an ordinary
// keyboard: the backtick followed by a key gives the glyph of the table.
#include "keyboard.h"

#include <iterator>

namespace keyboard {
namespace {

// The backtick layout most APL programmers already have in their fingers
// (`r rho, `i iota, `w omega), kept key for key so that nothing has to be
// relearnt. Glyphs of that layout the character set lacks (omega, cup, cap,
// ...) stay in the table so the chart shows the gap; typing them gives nothing.
constexpr Key kLayout[] = {
    // digit row
    {'`', 0x22C4, 170}, {'1', 0x00A8, 168}, {'2', 0x00AF, 175}, {'3', '<', '<'}, {'4', 0x2264, 136},
    {'5', '=', '='}, {'6', 0x2265, 137}, {'7', '>', '>'}, {'8', 0x2260, 172}, {'9', 0x2228, 159},
    {'0', 0x2227, 94}, {'-', 0x00D7, 215}, {'=', 0x00F7, 247},
    // top row
    {'q', '?', '?'}, {'w', 0x2375, kNoCode}, {'e', 0x220A, 185}, {'r', 0x2374, 189}, {'t', '~', '~'},
    {'y', 0x2191, 134}, {'u', 0x2193, 135}, {'i', 0x2373, 188}, {'o', 0x25CB, 177}, {'p', '*', '*'},
    {'[', 0x2190, 132}, {']', 0x2192, 133},
    // home row
    {'a', 0x237A, 184}, {'s', 0x2308, 151}, {'d', 0x230A, 152}, {'f', '_', '_'}, {'g', 0x2207, 144},
    {'h', 0x2206, 145}, {'j', 0x2218, 176}, {'k', '\'', '\''}, {'l', 0x2395, 140}, {';', 0x234E, 150},
    {'\'', 0x2355, 149},
    // bottom row
    {'z', 0x2282, 155}, {'x', 0x2283, 156}, {'c', 0x2229, kNoCode}, {'v', 0x222A, kNoCode},
    {'b', 0x22A5, 131}, {'n', 0x22A4, 130}, {'m', '|', '|'}, {',', 0x235D, 169}, {'.', 0x2340, 153},
    {'/', 0x233F, 154}, {'\\', 0x22A2, 164},
    // shifted digit row
    {'~', 0x233A, kNoCode}, {'!', 0x2336, kNoCode}, {'@', 0x236B, kNoCode}, {'#', 0x2352, 148},
    {'$', 0x234B, 147}, {'%', 0x233D, 178}, {'^', 0x2349, 179}, {'&', 0x2296, 180}, {'*', 0x235F, 181},
    {'(', 0x2371, 139}, {')', 0x2372, 138}, {'_', '!', '!'}, {'+', 0x2339, 142},
    // shifted letters and punctuation
    {'E', 0x2377, 186}, {'T', 0x2368, 254}, {'I', 0x2378, kNoCode}, {'O', 0x2365, kNoCode},
    {'P', 0x2363, 146}, {'{', 0x235E, 141}, {'}', 0x236C, 208}, {'H', 0x2359, 143}, {'J', 0x2364, 240},
    {'K', 0x2338, kNoCode}, {'L', 0x2337, 222}, {':', 0x2261, 173}, {'"', 0x2262, kNoCode},
    {'Z', 0x2286, kNoCode}, {'<', 0x236A, kNoCode}, {'?', 0x2360, kNoCode}, {'|', 0x22A3, 129},
};

}  // namespace

const Key *Layout(int &count) {
    count = static_cast<int>(std::size(kLayout));
    return kLayout;
}

const Key *Find(char key) {
    for (const Key &k : kLayout)
        if (k.key == key) return &k;
    return nullptr;
}

int CodeForKey(char key) {
    const Key *found = Find(key);
    return found ? found->code : kNoCode;
}

}  // namespace keyboard
