// codepage: translation between the terminal's UTF-8 and the library's 8-bit
// APL character set. The table is generated at build time from
// share/codepage.tsv, the one source of truth for the character set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace codepage {

// Unicode code point of each of the 256 codes.
uint32_t Unicode(uint8_t code);
// The code of a code point (alternative spellings included), or -1.
int CodeOf(uint32_t codePoint);

// Translates UTF-8 text to codes. On a character outside the set (or a
// malformed byte sequence) returns false and describes it in `problem`.
bool FromUtf8(std::string_view utf8, std::string &codes, std::string &problem);
// Translates codes to UTF-8; codes without a visible glyph come out as a
// visible substitute so that they cannot garble the terminal.
std::string ToUtf8(std::string_view codes);
// UTF-8 of one code point.
std::string EncodeUtf8(uint32_t codePoint);

}  // namespace codepage
