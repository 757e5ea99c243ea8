// glyphs: the code-page positions of every character the runtime gives a role
// (primitives, operators, punctuation of the language, name characters).
// Relies on nothing; share/codepage.tsv is the table these numbers come from.
#pragma once

#include <cstdint>

// Named by the character's shape rather than by one of its functions, since
// most characters carry a monadic and a dyadic meaning.
namespace glyph {

// Controls and punctuation
constexpr uint8_t kBackspace = 8;
constexpr uint8_t kLineFeed = 10;  // ends each stored line
constexpr uint8_t kReturn = 13;
constexpr uint8_t kBlank = ' ';
constexpr uint8_t kAmpersand = '&';  // escape of the keyword translators
constexpr uint8_t kQuote = '\'';
constexpr uint8_t kLeftParen = '(';
constexpr uint8_t kRightParen = ')';
constexpr uint8_t kColon = ':';
constexpr uint8_t kSemicolon = ';';
constexpr uint8_t kLeftBracket = '[';
constexpr uint8_t kRightBracket = ']';
constexpr uint8_t kLeftBrace = '{';
constexpr uint8_t kRightBrace = '}';
constexpr uint8_t kLeftArrow = 132;   // assignment
constexpr uint8_t kRightArrow = 133;  // branch
constexpr uint8_t kDel = 144;
constexpr uint8_t kControlSymbol = 146;  // single-line controls
constexpr uint8_t kLamp = 169;           // comment
constexpr uint8_t kDiamond = 170;
constexpr uint8_t kHighMinus = 175;
constexpr uint8_t kMiddleDot = 183;

// Name characters
constexpr uint8_t kQuad = 140;
constexpr uint8_t kQuoteQuad = 141;
constexpr uint8_t kDeltaUnderbar = 143;
constexpr uint8_t kDelta = 145;
constexpr uint8_t kAlpha = 184;

// Functions
constexpr uint8_t kExclaim = '!';
constexpr uint8_t kStar = '*';
constexpr uint8_t kPlus = '+';
constexpr uint8_t kComma = ',';
constexpr uint8_t kMinus = '-';
constexpr uint8_t kLess = '<';
constexpr uint8_t kEqual = '=';
constexpr uint8_t kGreater = '>';
constexpr uint8_t kQuestion = '?';
constexpr uint8_t kWedge = 94;  // and
constexpr uint8_t kStile = '|';
constexpr uint8_t kTilde = '~';
constexpr uint8_t kLeftTack = 129;
constexpr uint8_t kDownTack = 130;  // representation
constexpr uint8_t kUpTack = 131;    // base value
constexpr uint8_t kUpArrow = 134;
constexpr uint8_t kDownArrow = 135;
constexpr uint8_t kLessEqual = 136;
constexpr uint8_t kGreaterEqual = 137;
constexpr uint8_t kNand = 138;
constexpr uint8_t kNor = 139;
constexpr uint8_t kDomino = 142;
constexpr uint8_t kGradeUp = 147;
constexpr uint8_t kGradeDown = 148;
constexpr uint8_t kFormat = 149;
constexpr uint8_t kExecute = 150;
constexpr uint8_t kUpStile = 151;
constexpr uint8_t kDownStile = 152;
constexpr uint8_t kLeftShoe = 155;
constexpr uint8_t kRightShoe = 156;
constexpr uint8_t kVee = 159;  // or
constexpr uint8_t kRightTack = 164;
constexpr uint8_t kNotEqual = 172;
constexpr uint8_t kMatch = 173;
constexpr uint8_t kJot = 176;
constexpr uint8_t kCircle = 177;
constexpr uint8_t kCircleStile = 178;
constexpr uint8_t kTranspose = 179;
constexpr uint8_t kCircleBar = 180;
constexpr uint8_t kLog = 181;
constexpr uint8_t kEpsilon = 185;
constexpr uint8_t kFind = 186;
constexpr uint8_t kIota = 188;
constexpr uint8_t kRho = 189;
constexpr uint8_t kZilde = 208;
constexpr uint8_t kTimes = 215;
constexpr uint8_t kSquad = 222;
constexpr uint8_t kDivide = 247;

// Operators (the slashes are also the functions replicate and expand)
constexpr uint8_t kDot = '.';
constexpr uint8_t kSlash = '/';
constexpr uint8_t kBackslash = '\\';
constexpr uint8_t kBackslashBar = 153;
constexpr uint8_t kSlashBar = 154;
constexpr uint8_t kDiaeresis = 168;       // each
constexpr uint8_t kJotDiaeresis = 240;    // rank
constexpr uint8_t kTildeDiaeresis = 254;  // commute

}  // namespace glyph
