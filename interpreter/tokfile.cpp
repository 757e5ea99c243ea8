// tokfile: the keyword layer. Reads the token file, compiles its keywords into a
// longest-match automaton, and translates lines between keywords and codes.
// Relies on the array core, the output channel and the code buffer of the tokenizer.
#include "interpreter/tokfile.h"

#include "core/arrays.h"
#include "core/automaton.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/symtab.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

aplarray *installedLexer = nullptr;

aplarray *Item(const aplarray *nested, int i) { return ItemsOf(nested)[i]; }

// A nested vector of `n` item slots; the items are linked as they are stored.
aplarray *NewNested(int32_t n) { return AllocArray(APL_TEMP, 1, APL_NESTED, &n, HERE); }

aplarray *NewIntVector(int32_t n, int32_t fill) {
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &n, HERE);
    if (a)
        for (int32_t i = 0; i < n; ++i) DataOf<int32_t>(a)[i] = fill;
    return a;
}

aplarray *NewCharVector(const void *text, int32_t n) {
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (a && n) memcpy(DataOf(a), text, static_cast<size_t>(n));
    return a;
}

// Stores `item` (a temporary) in slot i, linked; false (item freed) when null.
bool Store(aplarray *nested, int32_t i, aplarray *item) {
    if (!item) return false;
    ItemsOf(nested)[i] = APL_LinkEx(item, HERE);
    return true;
}

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One line against token("0x%X") %s: the code and the blank-free word.
bool ScanLine(std::string_view line, int &code, std::string_view &word) {
    static constexpr std::string_view kHead = "token(\"0x";
    if (line.substr(0, kHead.size()) != kHead) return false;
    size_t i = kHead.size();
    while (i < line.size() && IsSpace(static_cast<uint8_t>(line[i]))) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    uint32_t value = 0;
    size_t digits = 0;
    for (; i < line.size() && isxdigit(static_cast<uint8_t>(line[i])); ++i, ++digits) {
        const char c = line[i];
        const uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        if (value > 0xFFFF) return false;  // far out of range: no code of ours
        value = value * 16 + digit;
    }
    if (!digits || negative || value > 255) return false;
    if (line.substr(i, 2) != "\")") return false;
    i += 2;
    while (i < line.size() && IsSpace(static_cast<uint8_t>(line[i]))) ++i;
    size_t end = i;
    while (end < line.size() && !IsSpace(static_cast<uint8_t>(line[end])) && line[end] != 0) ++end;
    if (end == i) return false;
    code = static_cast<int>(value);
    word = line.substr(i, end - i);
    return true;
}

// A word in parentheses is a delimiter entry: its inside is the keyword.
bool IsDelimiterEntry(std::string_view word) { return word.size() >= 2 && word.front() == '(' && word.back() == ')'; }

// ---- The automaton -------------------------------------------------------------------

bool IsIntVector(const aplarray *a) { return a && a->eltype == APL_INTG && a->rank == 1; }
bool IsCharVector(const aplarray *a) { return a && a->eltype == APL_CHAR && a->rank <= 1; }

// A token table as BuildKeywordLexer needs it: keywords and codes paired.
bool ValidTable(const aplarray *table) {
    if (!table || !IsNested(table) || table->rank != 1 || table->number != 4) return false;
    const aplarray *keywords = Item(table, kKeywords);
    const aplarray *codes = Item(table, kCodes);
    if (!keywords || !IsNested(keywords) || keywords->rank != 1 || !IsIntVector(codes) ||
        codes->number != keywords->number)
        return false;
    for (int32_t i = 0; i < keywords->number; ++i) {
        const aplarray *k = Item(keywords, i);
        if (!IsCharVector(k) || k->number < 1 || memchr(DataOf(k), 0, static_cast<size_t>(k->number))) return false;
    }
    return true;
}

// The parts of a lexer that translation reads, checked once per call.
struct LexerView {
    const int32_t *codeMap = nullptr;     // null when the lexer has none
    const uint8_t *delimiters = nullptr;  // null when the lexer has none
    const aplarray *keywords = nullptr;
    const int32_t *columns = nullptr;
    const int32_t *cells = nullptr;
    int32_t rows = 0;
    int32_t width = 0;

    bool Delimiter(uint8_t c) const { return delimiters && delimiters[c]; }
    int32_t Column(uint8_t c) const { return c && columns[c] > 0 && columns[c] < width ? columns[c] : 0; }
    // The keyword of a code, or null.
    const aplarray *KeywordOf(int32_t code) const {
        if (!codeMap || code < 0 || code > 255) return nullptr;
        const int32_t position = codeMap[code];
        return position >= 0 && position < keywords->number ? Item(keywords, position) : nullptr;
    }
};

bool ViewLexer(const aplarray *lexer, LexerView &view) {
    if (!lexer || !IsNested(lexer) || lexer->rank != 1 || lexer->number != 5) return false;
    const aplarray *codeMap = Item(lexer, kCodeMap);
    const aplarray *delimiters = Item(lexer, kDelimiters);
    const aplarray *keywords = Item(lexer, kKeywords);
    const aplarray *columns = Item(lexer, kColumns);
    const aplarray *cells = Item(lexer, kTransitions);
    if (!codeMap || !delimiters || !keywords || !IsNested(keywords) || !IsIntVector(columns) ||
        columns->number != 256 || !cells || cells->eltype != APL_INTG || cells->rank != 2 || cells->shape[0] < 1 ||
        cells->shape[1] < 1)
        return false;
    if (codeMap->number == 256 && codeMap->eltype == APL_INTG) {
        view.codeMap = DataOf<int32_t>(codeMap);
        for (int32_t i = 0; i < keywords->number; ++i)
            if (!IsCharVector(Item(keywords, i)) || Item(keywords, i)->number < 1) return false;
    }
    if (delimiters->number == 256 && delimiters->eltype == APL_CHAR) view.delimiters = DataOf<uint8_t>(delimiters);
    view.keywords = keywords;
    view.columns = DataOf<int32_t>(columns);
    view.cells = DataOf<int32_t>(cells);
    view.rows = cells->shape[0];
    view.width = cells->shape[1];
    return true;
}

// The longest keyword that the text from `start` begins with, at most `limit`
// characters long: what a lexer without code map has recognised.
int32_t LongestKeyword(const LexerView &view, const uint8_t *start, int32_t limit) {
    int32_t best = 0;
    for (int32_t i = 0; i < view.keywords->number; ++i) {
        const aplarray *k = Item(view.keywords, i);
        if (!IsCharVector(k)) continue;
        const int32_t n = k->number;
        if (n > best && n <= limit && memcmp(DataOf(k), start, static_cast<size_t>(n)) == 0) best = n;
    }
    return best;
}

// Runs the automaton on the text from `start` (NUL-terminated, or `length`
// characters). True when a keyword is recognised: its code and length.
bool Match(const LexerView &view, const uint8_t *start, int32_t length, int32_t &code, int32_t &matched) {
    int32_t state = 0;
    for (int32_t j = 0;; ++j) {
        const uint8_t c = j < length ? start[j] : 0;
        const int32_t entry = view.cells[static_cast<int64_t>(state) * view.width + (c ? view.Column(c) : 0)];
        if (entry > 0 && c) {
            if (entry >= view.rows) return false;
            state = entry;
            continue;
        }
        if (entry >= 0) return false;
        code = -entry;
        // The entry either ends a keyword on this character or, filled in for a
        // longer keyword that did not follow, recognises a shorter one before it.
        const aplarray *keyword = view.KeywordOf(code);
        const int32_t n = keyword ? keyword->number : LongestKeyword(view, start, c ? j + 1 : j);
        if (n < 1 || n > (c ? j + 1 : j) || (keyword && memcmp(DataOf(keyword), start, static_cast<size_t>(n))))
            return false;
        matched = n;
        return true;
    }
}

}  // namespace

// ---- Token file --------------------------------------------------------------------

aplarray *ReadTokenFile(const char *fileName) {
    FILE *file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) {
        WriteLinef("Error opening '%s'", fileName ? fileName : "");
        return nullptr;
    }
    std::string content;
    char chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
    fclose(file);

    std::vector<std::string_view> lines;
    for (size_t from = 0; from <= content.size();) {
        size_t to = content.find('\n', from);
        if (to == std::string::npos) to = content.size();
        lines.push_back(std::string_view(content).substr(from, to - from));
        from = to + 1;
    }
    if (!content.empty() && content.back() == '\n') lines.pop_back();

    // Pass 1: the delimiter flags and the number of keywords.
    uint8_t delimiters[256] = {};
    int32_t entries = 0;
    for (std::string_view line : lines) {
        int code;
        std::string_view word;
        if (!ScanLine(line, code, word) || word.substr(0, 2) == "/*") continue;
        if (IsDelimiterEntry(word)) {
            word = word.substr(1, word.size() - 2);
            delimiters[word.empty() ? code : static_cast<uint8_t>(word[0])] = 1;
        }
        if (!word.empty()) ++entries;
    }

    // Pass 2: the keywords and the code map.
    aplarray *table = NewNested(4);
    if (!table) return nullptr;
    TempGuard guard(table);
    aplarray *keywords = NewNested(entries);
    if (!Store(table, kKeywords, keywords) || !Store(table, kCodeMap, NewIntVector(256, -1)) ||
        !Store(table, kDelimiters, NewCharVector(delimiters, 256)))
        return nullptr;
    if (entries == 0 && !Store(keywords, 0, NewCharVector("", 0))) return nullptr;  // the prototype
    int32_t *codeMap = DataOf<int32_t>(Item(table, kCodeMap));
    std::vector<int32_t> codes;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (line.size() <= 1 || line.substr(0, 2) == "/*") continue;
        int code;
        std::string_view word;
        // Codes must rise: keywords and codes are paired by position.
        const bool scanned = ScanLine(line, code, word);
        if (!scanned || (word.substr(0, 2) != "/*" && !(IsDelimiterEntry(word) && word.size() == 2) && !codes.empty() &&
                         code <= codes.back())) {
            WriteLinef("Syntax error in '%s' line %d.", fileName, static_cast<int>(n + 1));
            return nullptr;
        }
        if (word.substr(0, 2) == "/*") continue;
        if (IsDelimiterEntry(word)) word = word.substr(1, word.size() - 2);
        if (word.empty()) continue;
        const auto position = static_cast<int32_t>(codes.size());
        if (!Store(keywords, position, NewCharVector(word.data(), static_cast<int32_t>(word.size())))) return nullptr;
        codeMap[code] = position;
        codes.push_back(code);
    }
    if (!Store(table, kCodes, MakeIntVector(codes.data(), static_cast<int32_t>(codes.size())))) return nullptr;
    return guard.release();
}

aplarray *BuildKeywordLexer(aplarray *tokenTable) {
    TempGuard guard(tokenTable && tokenTable->lnkcnt == 0 ? tokenTable : nullptr);
    struct LinkDrop {
        aplarray *a;
        ~LinkDrop() {
            if (a) APL_UnLinkEx(a, HERE);
        }
    } drop{tokenTable && tokenTable->lnkcnt > 0 ? tokenTable : nullptr};
    if (!ValidTable(tokenTable)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    const aplarray *keywords = Item(tokenTable, kKeywords);
    const int32_t *codes = DataOf<int32_t>(Item(tokenTable, kCodes));

    // Keywords hold no NUL (ValidTable), so column 0 stays "any other character".
    AutomatonWord *words = static_cast<AutomatonWord *>(
        AllocBlock(static_cast<size_t>(keywords->number > 0 ? keywords->number : 1) * sizeof(AutomatonWord), HERE));
    if (!words) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    for (int32_t i = 0; i < keywords->number; ++i) {
        const aplarray *k = Item(keywords, i);
        words[i] = {DataOf<uint8_t>(k), k->number, codes[i]};
    }
    aplarray *columns = nullptr, *cells = nullptr;
    const bool built = BuildAutomaton(words, keywords->number, columns, cells);
    FreeBlock(words, HERE);
    if (!built) return nullptr;
    TempGuard columnsGuard(columns);
    TempGuard cellsGuard(cells);
    aplarray *lexer = NewNested(5);
    if (!lexer) return nullptr;
    for (int i : {kCodeMap, kDelimiters, kKeywords}) ItemsOf(lexer)[i] = APL_LinkEx(Item(tokenTable, i), HERE);
    ItemsOf(lexer)[kColumns] = APL_LinkEx(columnsGuard.release(), HERE);
    ItemsOf(lexer)[kTransitions] = APL_LinkEx(cellsGuard.release(), HERE);
    return lexer;
}

const aplarray *InstalledKeywordLexer() { return installedLexer; }

bool LoadTokenFile(const char *fileName) {
    ReleaseKeywordLexer();
    aplarray *table = ReadTokenFile(fileName);
    aplarray *lexer = table ? BuildKeywordLexer(table) : nullptr;
    installedLexer = APL_LinkEx(lexer, HERE);
    return lexer != nullptr;
}

void ReleaseKeywordLexer() {
    APL_UnLinkEx(installedLexer, HERE);
    installedLexer = nullptr;
}

// ---- APL_Lextable ----------------------------------------------------------------------

namespace {

// Element i of a simple numeric array as an integer; false for other values.
// Read with memcpy: a static argument is only 4-byte aligned.
bool IntegerAt(const aplarray *a, int32_t i, int32_t &value) {
    const char *data = DataOf<const char>(a);
    switch (a->eltype) {
        case APL_INTG: memcpy(&value, data + 4 * i, 4); return true;
        case APL_SHORT: {
            int16_t v;
            memcpy(&v, data + 2 * i, 2);
            value = v;
            return true;
        }
        case APL_BOOL: {
            uint32_t word;
            memcpy(&word, data + 4 * (i / 32), 4);
            value = (word >> (i % 32)) & 1;
            return true;
        }
        case APL_REAL: {
            double d;
            memcpy(&d, data + 8 * i, 8);
            if (!(d >= INT32_MIN && d <= INT32_MAX) || d != static_cast<int32_t>(d)) return false;
            value = static_cast<int32_t>(d);
            return true;
        }
        default: return false;
    }
}

aplarray *LextableKernel(const aplarray *right) {
    if (!IsNested(right) || right->rank != 1 || right->number != 2 || !Item(right, 0) || !Item(right, 1)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    const aplarray *words = Item(right, 0);
    const aplarray *numbers = Item(right, 1);
    if (words->rank > 1 || numbers->rank > 1 || IsNested(numbers)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    // A simple character vector stands for its characters, one keyword each.
    const int32_t count = words->rank ? words->shape[0] : 1;
    if (static_cast<int64_t>(count) != ElementCount(numbers)) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    aplarray *keywords = NewNested(count);
    if (!keywords) return nullptr;
    TempGuard keywordsGuard(keywords);
    std::vector<int32_t> codes(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const aplarray *w = IsNested(words) ? Item(words, i) : nullptr;
        const char *text = w ? DataOf<char>(w) : DataOf<char>(words) + i;
        const int32_t length = w ? w->number : 1;
        if ((w && (IsNested(w) || w->eltype != APL_CHAR || w->rank > 1)) || (!w && words->eltype != APL_CHAR) ||
            length < 1 || memchr(text, 0, static_cast<size_t>(length)) ||
            !IntegerAt(numbers, i, codes[static_cast<size_t>(i)]) || codes[static_cast<size_t>(i)] <= 0) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        if (!Store(keywords, i, NewCharVector(text, length))) return nullptr;
    }
    if (count == 0 && !Store(keywords, 0, NewCharVector("", 0))) return nullptr;
    aplarray *table = NewNested(4);
    if (!table) return nullptr;
    TempGuard tableGuard(table);
    if (!Store(table, kCodeMap, NewIntVector(0, 0)) || !Store(table, kDelimiters, NewIntVector(0, 0)) ||
        !Store(table, kCodes, MakeIntVector(codes.data(), count)))
        return nullptr;
    ItemsOf(table)[kKeywords] = APL_LinkEx(keywordsGuard.release(), HERE);
    return BuildKeywordLexer(tableGuard.release());
}

}  // namespace

// Returns a temporary. Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Lextable(aplarray *axis, aplarray *left, aplarray *right) {
    aplarray *result = nullptr;
    // Without the copy of a constant image WS FULL is set and nothing is done.
    if (AlignArguments(axis, left, right)) {
        if (axis || left || !right)
            SetError(APL_ERR_SYNTAX);
        else
            result = LextableKernel(right);
    }
    APL_UnLinkTempEx(axis, HERE);
    APL_UnLinkTempEx(left, HERE);
    APL_UnLinkTempEx(right, HERE);
    return result;
}

// ---- Translation -----------------------------------------------------------------------

void KeywordsToCodes(char *line, const aplarray *lexer, bool removeEscapes) {
    LexerView view;
    if (!line || !ViewLexer(lexer, view)) return;
    auto *text = reinterpret_cast<uint8_t *>(line);
    size_t out = 0, i = 0;
    bool boundary = true;
    while (text[i]) {
        const uint8_t c = text[i];
        if (c == kEscape) {
            // The escaped character is copied; the boundary is as before the "&".
            const bool before = boundary;
            if (!removeEscapes) text[out++] = c;
            if (!text[++i]) break;
            const uint8_t escaped = text[i++];
            text[out++] = escaped;
            boundary = before && view.Delimiter(escaped);
            continue;
        }
        if (view.Delimiter(c)) boundary = true;
        int32_t code = 0, matched = 0;
        if (boundary && Match(view, text + i, INT32_MAX, code, matched)) {
            const bool delimiterFirst = view.Delimiter(c) || view.Delimiter(text[i + static_cast<size_t>(matched) - 1]);
            text[out++] = static_cast<uint8_t>(code);
            i += static_cast<size_t>(matched);
            boundary = delimiterFirst;
            continue;
        }
        text[out++] = c;
        ++i;
        boundary = view.Delimiter(c);
    }
    text[out] = 0;
}

namespace {

// Characters that may stand inside a name or a number: a blank between two of
// them would split one word into two.
bool IsWordCharacter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == glyph::kHighMinus || c == glyph::kDelta || c == glyph::kDeltaUnderbar || c == glyph::kQuad ||
           c == glyph::kQuoteQuad || c == glyph::kAlpha;
}

struct Unit {
    uint8_t code;
    const aplarray *keyword;  // null: the character is written as it is
    bool blankBefore;
    int32_t offset;  // where its text starts in the plain spelling
};

}  // namespace

bool CodesToKeywords(const uint8_t *text, int32_t length, const aplarray *lexer, TokenBuffer &out) {
    LexerView view;
    if (!ViewLexer(lexer, view) || !view.codeMap) return PutText(out, text, length);
    // First the plain spelling: keywords, and blanks where a keyword would run
    // into its neighbour (never inside a name or number).
    std::vector<Unit> units;
    std::string plain;
    units.reserve(static_cast<size_t>(length));
    const Unit *previous = nullptr;  // skipping caret marks
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        Unit unit{c, c == kEscape ? nullptr : view.KeywordOf(c), false, 0};
        if (previous && !(IsWordCharacter(previous->code) && IsWordCharacter(c))) {
            const bool previousWordKeyword =
                previous->keyword && !view.Delimiter(DataOf<uint8_t>(previous->keyword)[0]);
            if (unit.keyword)
                unit.blankBefore = !view.Delimiter(DataOf<uint8_t>(unit.keyword)[0]) &&
                                   (previousWordKeyword || (!previous->keyword && !view.Delimiter(previous->code)));
            else
                unit.blankBefore = previousWordKeyword && !view.Delimiter(c);
        }
        if (unit.blankBefore) plain += ' ';
        unit.offset = static_cast<int32_t>(plain.size());
        if (c == kEscape)
            plain += "&&";
        else if (unit.keyword)
            plain.append(DataOf<char>(unit.keyword), static_cast<size_t>(unit.keyword->number));
        else
            plain += static_cast<char>(c);
        units.push_back(unit);
        if (c != kCaretMark) previous = &units.back();
    }
    // Then the spelling as KeywordsToCodes will read it: a character that would
    // start a keyword there gets an "&" in front.
    std::string spelled;
    spelled.reserve(plain.size() + plain.size() / 4);
    bool boundary = true;
    const auto *base = reinterpret_cast<const uint8_t *>(plain.data());
    const auto plainLength = static_cast<int32_t>(plain.size());
    for (const Unit &unit : units) {
        if (unit.blankBefore) {
            spelled += ' ';
            boundary = view.Delimiter(' ');
        }
        if (unit.code == kEscape) {
            spelled += "&&";
            boundary = boundary && view.Delimiter(kEscape);
        } else if (unit.keyword) {
            const auto *k = DataOf<uint8_t>(unit.keyword);
            spelled.append(reinterpret_cast<const char *>(k), static_cast<size_t>(unit.keyword->number));
            boundary = view.Delimiter(k[0]) || view.Delimiter(k[unit.keyword->number - 1]);
        } else {
            const uint8_t c = unit.code;
            int32_t code = 0, matched = 0;
            const bool atBoundary = boundary || view.Delimiter(c);
            if (atBoundary && Match(view, base + unit.offset, plainLength - unit.offset, code, matched)) {
                spelled += static_cast<char>(kEscape);
                boundary = boundary && view.Delimiter(c);
            } else {
                boundary = view.Delimiter(c);
            }
            spelled += static_cast<char>(c);
        }
    }
    return PutText(out, spelled.data(), static_cast<int32_t>(spelled.size()));
}
