// keyboard: the prefix-key layout for typing APL glyphs on an ordinary
// keyboard: the backtick followed by a key gives the glyph of the table.
#pragma once

#include <cstdint>

namespace keyboard {

constexpr char kPrefix = '`';
constexpr int kNoCode = -1;

struct Key {
    char key;        // the key typed after the prefix
    uint32_t glyph;  // the glyph this key gives in the common APL layout (Unicode)
    int code;        // its APL character, or kNoCode when the character set lacks it
};

// The layout, keyboard row by row, unshifted keys before shifted ones; the
// keyboard chart and the help read it from here.
const Key *Layout(int &count);
// The layout's entry for a key typed after the prefix, or null when the key
// has no place in it.
const Key *Find(char key);
// The code for a key typed after the prefix, or kNoCode.
int CodeForKey(char key);

}  // namespace keyboard
