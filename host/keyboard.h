// keyboard: the prefix-key layout for typing APL glyphs on an ordinary
// keyboard: the backtick followed by a key gives the glyph of the table.
#pragma once

#include <cstdint>

namespace keyboard {

constexpr char kPrefix = '`';

struct Key {
    char key;      // the key typed after the prefix
    uint8_t code;  // the APL character it gives
};

// The layout, in the order the README's chart shows it.
const Key *Layout(int &count);
// The code for a key typed after the prefix, or -1.
int CodeForKey(char key);

}  // namespace keyboard
