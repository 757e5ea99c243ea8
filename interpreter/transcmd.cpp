// transcmd: the system commands IN and OUT: transfer files read object by
// object (with a guard on what a file may execute) and written from the
// workspace. Relies on interpreter/transfer and system/transfile, the symbol
// table, lenient fixing and the output channel.
#include "interpreter/transcmd.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "interpreter/fixing.h"
#include "interpreter/syscmd.h"
#include "interpreter/tokenizer.h"
#include "interpreter/transfer.h"
#include "system/nfiles.h"
#include "system/safefile.h"
#include "system/transfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr char kHighMinus = static_cast<char>(glyph::kHighMinus);
constexpr char kLeftArrow = static_cast<char>(glyph::kLeftArrow);
constexpr char kQuad = static_cast<char>(glyph::kQuad);

bool EndsWith(const std::string &text, const char *suffix) {
    const size_t n = strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The file name in the system's spelling; false with the error reported.
bool SystemFileName(const std::string &name, FileName &file) {
    TempGuard text(MakeString(name.c_str()));
    if (text.get() && GetFileName(text.get(), &file)) return true;
    PrintError(aplerrno);
    aplerrno = 0;
    return false;
}

void ForgetError() {
    aplerrno = 0;
    APL_error_message[0] = 0;
    ClearErrorPositions();
}

// ---- What a file may execute ------------------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips one number (high minus, digits, fraction, exponent); false when the
// text there is not a whole number.
bool SkipNumber(std::string_view text, size_t &i) {
    if (i < text.size() && text[i] == kHighMinus) ++i;
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < text.size() && text[i] == kHighMinus) ++i;
        size_t exponent = 0;
        while (i < text.size() && IsDigit(text[i])) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    return true;
}

bool SkipQuoted(std::string_view text, size_t &i) {
    for (++i; i < text.size(); ++i) {
        if (text[i] != '\'') continue;
        if (i + 1 < text.size() && text[i + 1] == '\'') {
            ++i;
            continue;
        }
        ++i;
        return true;
    }
    return false;
}

// Numbers, quoted text, blanks, parentheses, reshape and enclose: nothing
// there can name a function or reach a command.
bool IsValueExpression(std::string_view text) {
    const auto rho = static_cast<char>(glyph::kRho), enclose = static_cast<char>(glyph::kLeftShoe);
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '(' || c == ')' || c == rho || c == enclose) {
            ++i;
        } else if (c == '\'') {
            if (!SkipQuoted(text, i)) return false;
        } else if (IsDigit(c) || c == '.' || c == kHighMinus) {
            if (!SkipNumber(text, i)) return false;
            // A letter or digit straight after a number would make a name of it.
            if (i < text.size() && text[i] != ' ' && text[i] != '(' && text[i] != ')' && text[i] != rho &&
                text[i] != enclose && text[i] != '\'')
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// A name that IN may assign: an ordinary name, never a system one.
bool IsPlainName(std::string_view name) {
    if (!IsValidName(name.data(), static_cast<int32_t>(name.size()))) return false;
    if (name[0] == kQuad || name[0] == static_cast<char>(glyph::kQuoteQuad)) return false;
    const uint16_t symbol = LookupName(name);
    return !IsSymbol(symbol) || !(Symbol(symbol).kind & APL_KIND_SYSTEM);
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// ---- Reading ---------------------------------------------------------------------

// One object of a transfer file, ready for the transfer form.
struct ImportItem {
    std::string name;
    int form = 0;           // 0: skipped without a word
    std::string_view text;  // what the transfer form gets
    bool allowed = true;    // false: reported and skipped
};

ImportItem Classify(const std::string &object) {
    ImportItem item;
    if (object.empty()) return item;
    const std::string_view all(object);
    // Room for any word, so that even a name too long to import is named.
    std::vector<char> buffer(object.size() + 1);
    char *word = buffer.data();
    if (object[0] == 'A') {
        const size_t arrow = all.find(kLeftArrow);
        item.name = std::string(Trimmed(all.substr(1, arrow == std::string_view::npos ? 0 : arrow - 1)));
        item.form = 2;
        item.text = all.substr(1);
        item.allowed = IsSafeAssignment(item.text);
        return item;
    }
    if (object[0] != 'C' && object[0] != 'N' && object[0] != 'F') return item;
    if (WordOf(object.data(), static_cast<int64_t>(object.size()), word, static_cast<int64_t>(buffer.size()), 0))
        item.name = word + 1;
    const char *second =
        WordOf(object.data(), static_cast<int64_t>(object.size()), word, static_cast<int64_t>(buffer.size()), 1);
    if (object[0] == 'F' && second && *second == kQuad) {
        item.form = 2;
        item.text = all.substr(static_cast<size_t>(second - object.data()));
        item.allowed = IsSafeFix(item.text);
        return item;
    }
    item.form = 1;
    item.text = all;
    item.allowed = object[0] == 'F' || IsPlainName(item.name);
    return item;
}

bool Wanted(const std::vector<std::string> &names, const std::string &name) {
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

// Imports one object; false when it did not come in.
bool Import(const ImportItem &item) {
    if (!item.allowed) return false;
    aplarray *result = ImportTransferText(item.form, item.text.data(), static_cast<int64_t>(item.text.size()));
    // FX answers a line number when the function does not fix.
    const bool named = result && !aplerrno && !IsNested(result) && result->eltype == APL_CHAR;
    APL_UnLinkTempEx(result, HERE);
    ForgetError();
    return named;
}

void ReadObjects(TransferFile &file, const std::vector<std::string> &names, std::vector<std::string> &found) {
    std::string object;
    while (ReadTransferRecords(file, object)) {
        const ImportItem item = Classify(object);
        if (item.form == 0 || !Wanted(names, item.name)) continue;
        found.push_back(item.name);
        if (!Import(item)) WriteLinef("NOT IMPORTED : %s", item.name.c_str());
        if (InterruptRequested()) break;
    }
}

// ---- Writing ---------------------------------------------------------------------

// Simple CHAR variables go in form 1, which carries every character as it is;
// other variables and functions in form 2, which keeps nesting, INTG stays
// INTG and function lines keep their exact text.
int FormFor(uint16_t symbol) {
    const aplsymbol &entry = Symbol(symbol);
    const auto *value = static_cast<const aplarray *>(entry.value);
    if (IsUserFunction(symbol)) return 2;
    return !IsNested(value) && value->eltype == APL_CHAR ? 1 : 2;
}

// Every user variable and function. Labels are left out: their values are
// constants of their functions, which bring them back.
bool Exported(uint16_t symbol) {
    const aplsymbol &entry = Symbol(symbol);
    if (!entry.value || (entry.kind & (APL_KIND_SYSTEM | APL_KIND_OPERAND))) return false;
    if (IsUserFunction(symbol)) return true;
    return (entry.kind & APL_KIND_VARIABLE) && !IsStatic(static_cast<const aplarray *>(entry.value));
}

bool AppendObject(uint16_t symbol, std::string &records) {
    std::string text;
    return ExportObject(symbol, FormFor(symbol), text) && AppendTransferRecords(text, records);
}

// Adds the records of one object, or says that it is not written; false
// when an error (INTERRUPT, WS FULL, DOMAIN) must end the command.
bool WriteObject(uint16_t symbol, const std::string &name, std::string &records) {
    if (IsSymbol(symbol) && Exported(symbol) && AppendObject(symbol, records)) return true;
    if (aplerrno) return false;
    WriteLinef("NOT WRITTEN : %s", name.c_str());
    return true;
}

}  // namespace

bool IsSafeAssignment(std::string_view text) {
    const size_t arrow = text.find(kLeftArrow);
    if (arrow == std::string_view::npos) return false;
    return IsPlainName(Trimmed(text.substr(0, arrow))) && IsValueExpression(text.substr(arrow + 1));
}

bool IsSafeFix(std::string_view text) {
    text = Trimmed(text);
    return text.size() > 3 && text[0] == kQuad && text[1] == 'F' && text[2] == 'X' && IsValueExpression(text.substr(3));
}

bool TransferIn(const char *arguments) {
    std::vector<std::string> names = CommandWords(arguments);
    if (names.empty()) return false;
    const std::string given = names.front();
    names.erase(names.begin());
    FileName path;
    if (!SystemFileName(given, path)) return true;
    FILE *stream = fopen(path.text, "rb");
    if (!stream && !EndsWith(given, ".atf")) {
        if (!SystemFileName(given + ".atf", path)) return true;
        stream = fopen(path.text, "rb");
    }
    if (!stream) {
        SetErrorText(APL_ERR_FILEIO, "Cannot open '%s'", given.c_str());
        PrintError(aplerrno);
        aplerrno = 0;
        return true;
    }
    TransferFile file{stream};
    std::vector<std::string> found;
    const bool wasLenient = lenientFixing;
    lenientFixing = true;
    try {
        ReadObjects(file, names, found);
    } catch (const std::bad_alloc &) {
        WriteText("WS FULL", true);
    }
    lenientFixing = wasLenient;
    fclose(stream);
    for (const std::string &name : names)
        if (std::find(found.begin(), found.end(), name) == found.end()) WriteLinef("NOT FOUND : %s", name.c_str());
    return true;
}

bool TransferOut(const char *arguments) {
    std::vector<std::string> names = CommandWords(arguments);
    if (names.empty()) return false;
    std::string given = names.front();
    names.erase(names.begin());
    if (!IsFileNameToWrite(given, ".atf")) {
        PrintError(aplerrno);
        aplerrno = 0;
        return true;
    }
    given = WithExtension(given, ".atf");
    FileName path;
    if (!SystemFileName(given, path)) return true;
    std::string records;
    try {
        if (names.empty()) {
            for (uint32_t i = 0; i < APL_symtab.count; ++i) {
                const uint16_t symbol = APL_symtab.sorted[i];
                if (Exported(symbol) && !WriteObject(symbol, SymbolName(symbol), records)) break;
            }
        } else {
            for (const std::string &name : names) {
                const uint16_t symbol = LookupName(name);
                if (aplerrno || !WriteObject(symbol, name, records)) break;
            }
        }
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
    }
    // Names that all failed leave the file as it was.
    if (!aplerrno && !(records.empty() && !names.empty())) {
        const FilePiece piece{records.data(), static_cast<int64_t>(records.size())};
        ReplaceFile(path.text, &piece, 1);
    }
    if (aplerrno) {
        PrintError(aplerrno);
        aplerrno = 0;
    }
    return true;
}
