// keyboard: the prefix-key layout for typing APL glyphs on an ordinary
// keyboard: the backtick followed by a key gives the glyph of the table.
#include "keyboard.h"

#include <iterator>

namespace keyboard {
namespace {

// Letters are mnemonic where a mnemonic exists (r rho, i iota, l quad); the
// digit row follows the usual APL layout (2 high minus, 4 less-or-equal, ...).
constexpr Key kLayout[] = {
    {'`', 170}, {'1', 168}, {'2', 175}, {'4', 136}, {'6', 137}, {'8', 172}, {'9', 159}, {'0', 94},   {'-', 215},
    {'=', 247}, {'a', 184}, {'b', 131}, {'c', 169}, {'d', 152}, {'e', 185}, {'f', 149}, {'g', 144},  {'h', 145},
    {'i', 188}, {'j', 176}, {'k', 141}, {'l', 140}, {'m', 240}, {'n', 130}, {'o', 177}, {'p', 181},  {'q', 254},
    {'r', 189}, {'s', 151}, {'t', 146}, {'u', 135}, {'v', 148}, {'w', 147}, {'x', 156}, {'y', 134},  {'z', 155},
    {'[', 132}, {']', 133}, {';', 150}, {'%', 178}, {'&', 180}, {'^', 179}, {'/', 154}, {'\\', 153}, {'{', 129},
    {'}', 164}, {':', 173}, {'_', 208}, {'E', 186}, {'I', 222}, {'M', 142}, {'H', 143}, {'(', 139},  {')', 138},
};

}  // namespace

const Key *Layout(int &count) {
    count = static_cast<int>(std::size(kLayout));
    return kLayout;
}

int CodeForKey(char key) {
    for (const Key &k : kLayout)
        if (k.key == key) return k.code;
    return -1;
}

}  // namespace keyboard
