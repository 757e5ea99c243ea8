// transfer: the system function TF: a variable or defined function turned into
// its transfer text (form 1: typed header and raw data; form 2: an APL
// expression) and such a text turned back into the object. Relies on the
// symbol table, fixing (FX, CR, VR), the checked assignment and execute.
#include "interpreter/transfer.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "interpreter/execline.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "structural/nested.h"
#include "system/nfiles.h"
#include "system/transfile.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace {

constexpr char kHighMinus = static_cast<char>(glyph::kHighMinus);
constexpr char kLeftArrow = static_cast<char>(glyph::kLeftArrow);
constexpr char kRho = static_cast<char>(glyph::kRho);
constexpr char kEnclose = static_cast<char>(glyph::kLeftShoe);
constexpr char kQuad = static_cast<char>(glyph::kQuad);

// A header word (name, rank, axis length) longer than this is malformed.
constexpr int64_t kMaxHeaderWord = 512;

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// ---- Numbers as text -------------------------------------------------------------

void AppendInteger(std::string &text, int64_t value) {
    char digits[24];
    char *end = std::to_chars(digits, digits + sizeof digits, value < 0 ? -value : value).ptr;
    if (value < 0) text += kHighMinus;
    text.append(digits, end);
}

// The shortest text that reads back to the same double, spelt as APL spells
// numbers: high minus, upper-case E, no "+" and no leading zeros in the exponent.
void AppendReal(std::string &text, double value) {
    char raw[40];
    const char *end = std::to_chars(raw, raw + sizeof raw, value).ptr;
    for (const char *p = raw; p < end; ++p) {
        if (*p == '-') {
            text += kHighMinus;
        } else if (*p == 'e') {
            text += 'E';
            if (p[1] == '+') ++p;
            if (p[1] == '-') text += kHighMinus, ++p;
            while (p + 2 < end && p[1] == '0') ++p;
        } else {
            text += *p;
        }
    }
}

constexpr const char *kNotFiniteText = "Infinity or NaN cannot be written";

// Element i of a simple numeric array; false with DOMAIN for an infinity or
// NaN, which no reader of the text would take back.
bool AppendNumber(std::string &text, const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_REAL: {
            const double x = DataOf<const double>(a)[i];
            if (!std::isfinite(x)) {
                SetErrorText(APL_ERR_DOMAIN, "%s", kNotFiniteText);
                return false;
            }
            AppendReal(text, x);
            break;
        }
        case APL_INTG: AppendInteger(text, DataOf<const int32_t>(a)[i]); break;
        case APL_SHORT: AppendInteger(text, DataOf<const int16_t>(a)[i]); break;
        case APL_BOOL: {
            // Rows start on a fresh word.
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            const int64_t bit = i % row, word = (i / row) * words + bit / 32;
            text += static_cast<char>('0' + ((DataOf<const uint32_t>(a)[word] >> (bit % 32)) & 1));
            break;
        }
        default: break;
    }
    return true;
}

// Every element, each followed by a blank or separated by one. False with
// DOMAIN, or with INTERRUPT when the host stops a long array.
bool AppendNumbers(std::string &text, const aplarray *a, bool trailing) {
    const int64_t n = ElementCount(a);
    for (int64_t i = 0; i < n; ++i) {
        if (InterruptAt(i)) return false;
        if (i > 0 && !trailing) text += ' ';
        if (!AppendNumber(text, a, i)) return false;
        if (trailing) text += ' ';
    }
    return true;
}

void AppendShape(std::string &text, const aplarray *a, char after) {
    for (int r = 0; r < a->rank; ++r) {
        if (r > 0 && after == kRho) text += ' ';
        AppendInteger(text, a->shape[r]);
        if (after == ' ') text += ' ';
    }
    if (after == kRho) text += kRho;
}

// ---- Form 2: value expressions ------------------------------------------------------

bool IsSimpleChar(const aplarray *a) { return !IsNested(a) && a->eltype == APL_CHAR; }

// Arrays of rank 2 or more and vectors of 0 or 1 elements carry their shape,
// except the empty CHAR vector, which '' spells.
bool HasShapePrefix(const aplarray *a) {
    if (a->rank >= 2) return true;
    if (a->rank == 0) return false;
    const int32_t n = a->shape[0];
    return n == 1 || (n == 0 && !IsSimpleChar(a));
}

// False with INTERRUPT when the host stops a long text.
bool AppendQuoted(std::string &text, const aplarray *a) {
    const char *chars = DataOf<const char>(a);
    const int64_t n = ElementCount(a);
    text += '\'';
    for (int64_t i = 0; i < n; ++i) {
        if (InterruptAt(i)) return false;
        if (chars[i] == '\'') text += '\'';
        text += chars[i];
    }
    text += '\'';
    return true;
}

bool AppendValue(std::string &text, const aplarray *a, int depth);

// An item of a nested array: in parentheses unless it is a CHAR scalar or
// vector without a shape, which a blank ends instead.
bool AppendItem(std::string &text, const aplarray *item, int depth) {
    const bool bare = IsSimpleChar(item) && item->rank <= 1 && !HasShapePrefix(item);
    if (!bare) text += '(';
    if (!AppendValue(text, item, depth + 1)) return false;
    text += bare ? ' ' : ')';
    return true;
}

bool AppendValue(std::string &text, const aplarray *a, int depth) {
    if (depth > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return false;
    }
    if (HasShapePrefix(a)) AppendShape(text, a, kRho);
    const int64_t n = ElementCount(a);
    if (!IsNested(a)) {
        if (a->eltype == APL_CHAR) return AppendQuoted(text, a);
        if (n > 0) return AppendNumbers(text, a, false);
        text += '0';
        return true;
    }
    // One item, or none (whose prototype then gives the empty array its kind),
    // is enclosed; several stand side by side.
    if (n <= 1) {
        const aplarray *item = ItemsOf(a)[0];
        if (!item) {
            text += '0';
            return true;
        }
        text += kEnclose;
        return AppendItem(text, item, depth);
    }
    for (int64_t i = 0; i < n; ++i)
        if (InterruptAt(i) || !AppendItem(text, ItemsOf(a)[i], depth)) return false;
    return true;
}

// ---- Export -------------------------------------------------------------------------

bool IsTransferable(const aplsymbol &entry) {
    if (!entry.value || (entry.kind & APL_KIND_OPERAND)) return false;
    return (entry.kind & (APL_KIND_VARIABLE | APL_KIND_USER)) != 0;
}

// The name word of a form 1 text must fit the reader's header words: a longer
// name is not written (no error), as the reader could not take it back.
bool FitsForm1(const char *name) { return strlen(name) + 1 < kMaxHeaderWord; }

bool ExportVariable(const char *name, const aplarray *value, int form, std::string &text) {
    if (form == 2) {
        text += 'A';
        text += name;
        text += kLeftArrow;
        return AppendValueExpression(value, text);
    }
    if (IsNested(value) || !FitsForm1(name)) return false;
    text += value->eltype == APL_CHAR ? 'C' : 'N';
    text += name;
    text += ' ';
    AppendInteger(text, value->rank);
    text += ' ';
    AppendShape(text, value, ' ');
    if (value->eltype != APL_CHAR) return AppendNumbers(text, value, true);
    text.append(DataOf<const char>(value), static_cast<size_t>(ElementCount(value)));
    return true;
}

bool ExportFunction(uint16_t symbol, int form, std::string &text) {
    const char *name = SymbolName(symbol);
    TempGuard lines(FunctionLines(symbol));
    if (!lines.get()) return false;
    if (form == 2) {
        text += 'F';
        text += name;
        text += ' ';
        text += kQuad;
        text += "FX ";
        return AppendValueExpression(lines.get(), text);
    }
    if (!FitsForm1(name)) return false;
    TempGuard matrix(MixTextRows(lines.get()));
    if (!matrix.get()) return false;
    text += 'F';
    text += name;
    text += " 2 ";
    AppendShape(text, matrix.get(), ' ');
    text.append(DataOf<const char>(matrix.get()), static_cast<size_t>(ElementCount(matrix.get())));
    return true;
}

// ---- Import -------------------------------------------------------------------------

// The header of a form 1 text: type letter, name, shape, and where the data starts.
struct Form1Header {
    char letter = 0;
    std::string name;
    int rank = 0;
    int32_t shape[kMaxRank] = {};
    int64_t count = 1;      // elements the shape holds
    int64_t dataStart = 0;  // offset of the first character after the header
};

// A header word read as a count: digits only, at most `limit`.
bool CountWord(const char *word, int64_t limit, int64_t &value) {
    const char *end = word + strlen(word);
    const auto [stop, error] = std::from_chars(word, end, value);
    return error == std::errc() && stop == end && *word != '-' && value >= 0 && value <= limit;
}

bool ReadForm1Header(const char *text, int64_t length, Form1Header &header) {
    char word[kMaxHeaderWord];
    if (!WordOf(text, length, word, sizeof word, 0) || text[0] == ' ') return Fail(APL_ERR_DOMAIN), false;
    header.letter = word[0];
    if (header.letter != 'C' && header.letter != 'N' && header.letter != 'F') return Fail(APL_ERR_DOMAIN), false;
    header.name = word + 1;
    int64_t rank;
    if (!WordOf(text, length, word, sizeof word, 1) || !CountWord(word, kMaxRank, rank))
        return Fail(APL_ERR_DOMAIN), false;
    if (header.letter == 'F' && rank != 2) return Fail(APL_ERR_DOMAIN), false;
    header.rank = static_cast<int>(rank);
    const char *last = nullptr;
    for (int r = 0; r < header.rank; ++r) {
        int64_t axis;
        last = WordOf(text, length, word, sizeof word, 2 + r);
        if (!last || !CountWord(word, INT32_MAX, axis)) return Fail(APL_ERR_DOMAIN), false;
        header.shape[r] = static_cast<int32_t>(axis);
        // No text holds more elements than it has characters.
        header.count = std::min<int64_t>(header.count * axis, length + 1);
    }
    if (!last) last = WordOf(text, length, word, sizeof word, 1);
    // The data begins after the blank that follows the last header word.
    header.dataStart = std::min<int64_t>(length, (last - text) + static_cast<int64_t>(strlen(word)) + 1);
    return true;
}

// CHAR data: exactly the characters the shape holds, then nothing but the
// blanks that pad the last record.
aplarray *ReadCharData(const Form1Header &header, const char *text, int64_t length) {
    const int64_t available = length - header.dataStart;
    if (available < header.count) return Fail(APL_ERR_LENGTH);
    for (int64_t i = header.dataStart + header.count; i < length; ++i)
        if (text[i] != ' ') return Fail(APL_ERR_LENGTH);
    aplarray *array = AllocArray(APL_SIMPLE | APL_TEMP, header.rank, APL_CHAR, header.shape, HERE);
    if (array && header.count) memcpy(DataOf(array), text + header.dataStart, static_cast<size_t>(header.count));
    return array;
}

// The numbers of a form 1 text, spelt for the C library ("-" and "e").
struct NumberWords {
    std::string text;
    std::vector<std::pair<uint32_t, uint32_t>> words;  // offset and length
    bool real = false;
};

bool SplitNumbers(const char *text, int64_t length, NumberWords &numbers) {
    numbers.text.assign(text, static_cast<size_t>(length));
    for (char &c : numbers.text) {
        if (c == kHighMinus)
            c = '-', numbers.real = true;
        else if (c == 'E')
            c = 'e', numbers.real = true;
        else if (c == 'e' || c == '.')
            numbers.real = true;
    }
    const char *p = numbers.text.data();
    for (int64_t i = 0; i < length;) {
        while (i < length && p[i] == ' ') ++i;
        const int64_t start = i;
        while (i < length && p[i] != ' ') ++i;
        if (i > start) numbers.words.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(i - start));
    }
    return true;
}

bool ParseReal(const char *p, uint32_t size, double &value) {
    const auto [stop, error] = std::from_chars(p, p + size, value);
    return error == std::errc() && stop == p + size && std::isfinite(value);
}

aplarray *ReadNumberData(const Form1Header &header, const char *text, int64_t length) {
    NumberWords numbers;
    if (length - header.dataStart > UINT32_MAX) return Fail(APL_ERR_LIMIT);
    SplitNumbers(text + header.dataStart, length - header.dataStart, numbers);
    if (static_cast<int64_t>(numbers.words.size()) != header.count) return Fail(APL_ERR_LENGTH);
    // Integers too large for INTG make the array REAL.
    std::vector<int32_t> integers;
    if (!numbers.real) {
        integers.resize(numbers.words.size());
        for (size_t i = 0; i < numbers.words.size() && !numbers.real; ++i) {
            const char *p = numbers.text.data() + numbers.words[i].first;
            const char *end = p + numbers.words[i].second;
            const auto [stop, error] = std::from_chars(p, end, integers[i]);
            if (error == std::errc::result_out_of_range)
                numbers.real = true;
            else if (error != std::errc() || stop != end)
                return Fail(APL_ERR_DOMAIN);
        }
    }
    const int type = numbers.real ? APL_REAL : APL_INTG;
    TempGuard array(AllocArray(APL_SIMPLE | APL_TEMP, header.rank, type, header.shape, HERE));
    if (!array.get()) return nullptr;
    if (!numbers.real) {
        if (!integers.empty()) memcpy(DataOf(array.get()), integers.data(), integers.size() * sizeof(int32_t));
        return array.release();
    }
    double *out = DataOf<double>(array.get());
    for (size_t i = 0; i < numbers.words.size(); ++i)
        if (!ParseReal(numbers.text.data() + numbers.words[i].first, numbers.words[i].second, out[i]))
            return Fail(APL_ERR_DOMAIN);
    return array.release();
}

// Assigns a form 1 variable; returns its name.
// The value (a temporary, consumed) is held linked while it is assigned, as
// the evaluator holds its values: the check of a system variable gives back a
// temporary it refuses, which would free the value under us.
aplarray *DefineVariable(const std::string &name, aplarray *value) {
    APL_Link(value);
    void *none = nullptr;
    const uint16_t symbol = DefineName(name.data(), static_cast<int32_t>(name.size()), APL_KIND_VARIABLE, &none);
    const bool assigned = symbol != APL_symtab.count && AssignName(symbol, value);
    APL_UnLink(value);
    return assigned ? MakeString(name.c_str()) : nullptr;
}

aplarray *ImportForm1(const char *text, int64_t length) {
    Form1Header header;
    if (!ReadForm1Header(text, length, header)) return nullptr;
    if (header.letter == 'N') {
        aplarray *value = ReadNumberData(header, text, length);
        return value ? DefineVariable(header.name, value) : nullptr;
    }
    aplarray *value = ReadCharData(header, text, length);
    if (!value) return nullptr;
    if (header.letter == 'C') return DefineVariable(header.name, value);
    return APL_Fix(nullptr, nullptr, value);
}

aplarray *MakeText(const char *text, int64_t length) {
    const auto n = static_cast<int32_t>(length);
    aplarray *result = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (result && n) memcpy(DataOf(result), text, static_cast<size_t>(n));
    return result;
}

aplarray *ImportForm2(const char *text, int64_t length) {
    if (length > INT32_MAX) return Fail(APL_ERR_LIMIT);
    bool assigned = false;
    aplarray *value = ExecuteText(reinterpret_cast<const uint8_t *>(text), static_cast<int32_t>(length), assigned);
    if (aplerrno) return nullptr;
    if (value && !assigned) {
        // A temporary for the caller: a value that a variable holds as well
        // (the text was a name) is copied.
        if (value->lnkcnt == 1) return GiveUpLink(value);
        aplarray *copy = CopyArray(value, HERE);
        APL_UnLinkEx(value, HERE);
        if (!copy && !aplerrno) SetError(APL_ERR_WSFULL);
        return copy;
    }
    // The value assigned stays with its name: nothing is copied.
    APL_UnLinkEx(value, HERE);
    // The name that was assigned: the text before the arrow, blanks trimmed.
    const char *arrow = static_cast<const char *>(memchr(text, kLeftArrow, static_cast<size_t>(length)));
    const char *begin = text, *end = arrow ? arrow : text;
    while (begin < end && *begin == ' ') ++begin;
    while (end > begin && end[-1] == ' ') --end;
    return MakeText(begin, end - begin);
}

// ---- The system function ------------------------------------------------------------

// A text is a name when NC finds something under it, unless it is an FX
// expression.
bool IsTransferText(aplarray *right) {
    const char *chars = DataOf<const char>(right);
    const int32_t n = right->number;
    if (n >= 4 && chars[0] == kQuad && chars[1] == 'F' && chars[2] == 'X') return true;
    TempGuard nameClass(APL_NameClass(nullptr, nullptr, right));
    if (!nameClass.get()) return true;
    return FirstNumber(nameClass.get(), 0) == 0;
}

aplarray *ExportNamed(const aplarray *right, int form) {
    std::string_view name(DataOf<const char>(right), static_cast<size_t>(right->number));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    const uint16_t symbol = LookupName(name);
    std::string text;
    if (IsSymbol(symbol) && !ExportObject(symbol, form, text)) {
        if (aplerrno) return nullptr;
        text.clear();
    }
    if (text.size() > INT32_MAX) return Fail(APL_ERR_WSFULL);
    return MakeText(text.data(), static_cast<int64_t>(text.size()));
}

aplarray *TransferKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (!args.left) return Fail(APL_ERR_VALENCE);
    int64_t form;
    if (!SingleInteger(args.left, &form)) return nullptr;
    if (form != 1 && form != 2) return Fail(APL_ERR_DOMAIN);
    aplarray *right = args.right;
    if (IsNested(right) || right->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
    if (right->rank > 1) return Fail(APL_ERR_RANK);
    const int formNumber = static_cast<int>(form);
    try {
        if (!IsTransferText(right)) return ExportNamed(right, formNumber);
        // Copied: the text may reassign the name it came from.
        const std::string text(DataOf<const char>(right), static_cast<size_t>(right->number));
        return ImportTransferText(formNumber, text.data(), static_cast<int64_t>(text.size()));
    } catch (const std::bad_alloc &) {
        return Fail(APL_ERR_WSFULL);
    }
}

}  // namespace

bool AppendValueExpression(const aplarray *value, std::string &text) {
    try {
        return AppendValue(text, value, 0);
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
}

bool ExportObject(uint16_t symbol, int form, std::string &text) {
    if (!IsSymbol(symbol) || !IsTransferable(Symbol(symbol))) return false;
    const size_t before = text.size();
    bool done = false;
    try {
        if (IsUserFunction(symbol))
            done = ExportFunction(symbol, form, text);
        else
            done = ExportVariable(SymbolName(symbol), static_cast<const aplarray *>(Symbol(symbol).value), form, text);
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
    }
    if (!done) text.resize(before);
    return done;
}

aplarray *ImportTransferText(int form, const char *text, int64_t length) {
    try {
        return form == 1 ? ImportForm1(text, length) : ImportForm2(text, length);
    } catch (const std::bad_alloc &) {
        return Fail(APL_ERR_WSFULL);
    }
}

// TF. Returns a temporary: the transfer text of a name (empty when the name
// cannot be transferred), or the result of importing a transfer text.
// Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_TransferFormat(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, TransferKernel);
}
