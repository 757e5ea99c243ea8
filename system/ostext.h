// ostext: text that leaves the process (commands for the operating system,
// file patterns and the names found) translated between the system's 8-bit
// character set and UTF-8. Relies on nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Unicode code point of a code.
uint32_t CodePoint(uint8_t code);
// Codes to UTF-8 (every code has a code point, so nothing is lost).
std::string ToSystemText(std::string_view codes);
// UTF-8 to codes; false when the text is malformed or holds a character
// outside the code page (codes is then incomplete).
bool FromSystemText(std::string_view utf8, std::string &codes);
// UTF-8 to codes for showing only, never failing: a byte that is not part of
// a well-formed character becomes the text \xHH, a character outside the code
// page the text U+HHHH, so that a name that cannot be used can still be named.
std::string ShownSystemText(std::string_view utf8);
