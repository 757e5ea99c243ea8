// fixing: user-defined functions and operators made from their text: the
// header forms, labels, the fixed function record and the two-item function
// value, and the way back to text (vector and character representations).
// Relies on the tokenizer and constant pool, the symbol table and serialisation.
#include "interpreter/fixing.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "interpreter/execfn.h"
#include "interpreter/tokfile.h"
#include "structural/nested.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

bool lenientFixing = false;

namespace {

using glyph::kColon;
using glyph::kLeftBrace;
using glyph::kLeftParen;
using glyph::kRightBrace;
using glyph::kRightParen;
using glyph::kSemicolon;
constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;

uint32_t ReadWord(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void WriteWord(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
uint16_t ReadHalf(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool Damaged() {
    SetErrorText(APL_ERR_SYSTEM, "Damaged function record");
    return false;
}

}  // namespace

// ---- Reading a record ---------------------------------------------------------------

uint16_t FixedView::Name(uint32_t i) const { return ReadHalf(bytes + kRecordHeaderBytes + 4 * lines + 2 * i); }

StoredLine FixedView::Line(uint32_t n) const {
    // Adjacent lines share the marker between them: a line begins where the
    // one before it ends, and ends at the first line end after its last token
    // (a comment part holds no line end).
    StoredLine line;
    const auto lastOf = [this](uint32_t k) {
        return bytes + poolOffset - ReadWord(bytes + kRecordHeaderBytes + 4 * (k - 1)) - 1;
    };
    const auto endAfter = [](const uint8_t *p) {
        ++p;
        while (*p != glyph::kLineFeed) ++p;
        return p;
    };
    line.begin = n == 1 ? bytes + tokenStart : endAfter(lastOf(n - 1));
    line.last = lastOf(n);
    line.end = endAfter(line.last);
    return line;
}

aplarray *FixedView::LabelValue(uint32_t i) const {
    return reinterpret_cast<aplarray *>(const_cast<uint8_t *>(bytes + poolOffset + 20 * i));
}

bool ReadFixedRecord(const aplarray *record, FixedView &view) {
    view = FixedView{};
    if (!record || IsNested(record) || record->eltype != APL_CHAR || record->rank != 1) return Damaged();
    const auto size = static_cast<uint64_t>(record->number);
    if (size < kRecordHeaderBytes || size % 4 != 0) return Damaged();
    const uint8_t *b = DataOf<const uint8_t>(record);
    FixedView v;
    v.bytes = b;
    v.size = static_cast<uint32_t>(size);
    v.flags = ReadWord(b) & 0xFF;
    v.names = ReadWord(b + 4 * kWordNames);
    v.locals = ReadWord(b + 4 * kWordLocals);
    v.labels = ReadWord(b + 4 * kWordLabels);
    v.lines = ReadWord(b + 4 * kWordLines);
    v.poolOffset = ReadWord(b + 4 * kWordPool);
    v.lineFlagsOffset = ReadWord(b + 4 * kWordLineFlags);
    v.created = ReadWord(b + 4 * kWordCreated);
    v.fixed = ReadWord(b + 4 * kWordFixed);
    const uint64_t tokenStart = kRecordHeaderBytes + 4ull * v.lines + 2ull * v.names;
    if (!(v.flags & kRecordAlways) || static_cast<uint64_t>(v.locals) + v.labels > v.names ||
        tokenStart >= v.poolOffset || v.poolOffset > size || v.poolOffset % 4 != 0)
        return Damaged();
    v.tokenStart = static_cast<uint32_t>(tokenStart);
    if (b[v.tokenStart] != glyph::kLineFeed) return Damaged();
    // The line-flags vector: a CHAR vector image inside the pool.
    const uint64_t flagsAt = v.lineFlagsOffset;
    if (flagsAt < v.poolOffset || flagsAt % 4 != 0 || flagsAt + 20 > size) return Damaged();
    aplarray image;
    memcpy(&image, b + flagsAt, sizeof image);
    int32_t imageLength;
    memcpy(&imageLength, b + flagsAt + 16, 4);
    if (image.rank != 1 || image.eltype != APL_CHAR || image.number < 0 || imageLength != image.number ||
        image.size != 20 + image.number || flagsAt + static_cast<uint64_t>(image.size) > size)
        return Damaged();
    // Every line's last token lies in the token area, in line order, and is
    // followed by its right marker before the pool.
    const uint8_t *previous = b + v.tokenStart;
    for (uint32_t n = 1; n <= v.lines; ++n) {
        const uint64_t entry = ReadWord(b + kRecordHeaderBytes + 4 * (n - 1));
        if (entry + 1 > v.poolOffset) return Damaged();
        const uint8_t *last = b + v.poolOffset - entry - 1;
        if (last < previous || last >= b + v.poolOffset) return Damaged();
        const uint8_t *end = last + 1;
        while (end < b + v.poolOffset && *end != glyph::kLineFeed) ++end;
        if (end >= b + v.poolOffset) return Damaged();
        previous = end;
    }
    for (uint32_t i = 0; i < v.names; ++i)
        if (!IsSymbol(v.Name(i))) return Damaged();
    // The labels' line numbers open the pool, one INTG scalar each.
    for (uint32_t i = 0; i < v.labels; ++i) {
        const uint64_t at = v.poolOffset + 20ull * i;
        if (at + 20 > size) return Damaged();
        aplarray label;
        memcpy(&label, b + at, 16);
        if (label.size != 20 || label.rank != 0 || label.eltype != APL_INTG || label.number != 1) return Damaged();
    }
    view = v;
    return true;
}

// ---- Functions in the symbol table ---------------------------------------------------

bool IsUserFunction(uint16_t symbol) {
    if (!IsSymbol(symbol)) return false;
    const aplsymbol &entry = Symbol(symbol);
    return (entry.kind & APL_KIND_USER) && (entry.kind & kFunctionKinds) && !(entry.kind & APL_KIND_OPERAND) &&
           entry.value;
}

int FunctionKind(uint16_t symbol) {
    return IsSymbol(symbol) ? Symbol(symbol).kind & (kFunctionKinds | APL_KIND_LABELBIT) : 0;
}

aplarray *FixedRecord(uint16_t symbol) {
    if (!IsUserFunction(symbol)) return nullptr;
    auto *value = static_cast<aplarray *>(Symbol(symbol).value);
    if (IsNested(value)) return value->number >= 1 ? ItemsOf(value)[0] : nullptr;
    return value;
}

namespace {

bool Niladic(int kind) {
    return (kind & (APL_KIND_FUNCTION | APL_KIND_LABELBIT)) == (APL_KIND_FUNCTION | APL_KIND_LABELBIT);
}

std::string NameText(uint16_t symbol) { return SymbolName(symbol); }

// Header and body lines of a record as a new temporary nested vector.
aplarray *RenderLines(const FixedView &view, const char *name, int kind) {
    std::string header;
    uint32_t next = 0;
    const uint32_t heads = view.HeaderNames();
    auto take = [&]() -> std::string { return next < heads ? NameText(view.Name(next++)) : (++next, ""); };
    if (view.flags & kRecordResult) header += take() + static_cast<char>(glyph::kLeftArrow);
    if (view.flags & kRecordLeft) header += take() + " ";
    if (kind & (APL_KIND_MONOP | APL_KIND_DYOP)) {
        header += "(" + take() + " " + name;
        if (kind & APL_KIND_DYOP) header += " " + take();
        header += ")";
    } else {
        header += name;
    }
    if (!Niladic(kind)) header += " " + take();
    if (next != heads) {
        Damaged();
        return nullptr;
    }
    for (uint32_t i = 0; i < view.locals; ++i) header += ";" + NameText(view.Name(heads + i));
    const auto count = static_cast<int32_t>(view.lines + 1);
    aplarray *lines = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &count, HERE);
    if (!lines) return nullptr;
    aplarray **items = ItemsOf(lines);
    items[0] = APL_LinkEx(MakeString(header.c_str()), HERE);
    // No caret marks in a listing.
    const ErrorPositions saved = errorPositions;
    ClearErrorPositions();
    for (uint32_t n = 1; n <= view.lines && !aplerrno && !InterruptAt(n); ++n)
        items[n] = APL_LinkEx(LineToText(view.Line(n), view.Pool(), false), HERE);
    errorPositions = saved;
    if (aplerrno || !items[0]) {
        if (!aplerrno) SetError(APL_ERR_WSFULL);
        APL_UnLinkTempEx(lines, HERE);
        return nullptr;
    }
    return lines;
}

// ---- The header -------------------------------------------------------------------------

struct HeaderForm {
    int form;
    int namePosition;  // 1-based among all header words
    int kind;
};
constexpr HeaderForm kForms[] = {
    {1001, 2, 0x05}, {1002, 2, 0x04}, {1003, 3, 0x04}, {1, 1, 0x05},    {2, 1, 0x04},    {3, 2, 0x04},  {1021, 3, 0x08},
    {1121, 4, 0x08}, {21, 2, 0x08},   {121, 3, 0x08},  {1031, 3, 0x10}, {1131, 4, 0x10}, {31, 2, 0x10}, {131, 3, 0x10},
};

struct Header {
    std::vector<std::string> words;  // result, left, operand group, main group
    std::vector<std::string> locals;
    int result = 0, left = 0, operands = 0, main = 0;
    int namePosition = 0;
    int kind = 0;
    uint32_t flags = kRecordAlways;
    const std::string &Name() const { return words[static_cast<size_t>(namePosition - 1)]; }
};

// Only blank, the parentheses, the semicolon and the left arrow are syntax in a
// header; every other character belongs to a name.
bool IsHeaderSyntax(uint8_t c) {
    return c == ' ' || c == kLeftParen || c == kRightParen || c == kSemicolon || c == glyph::kLeftArrow;
}

// Cuts the header into its groups; false when it does not fit the pattern
// [result←] [left] [(operand group)] main group [;local]..., with
// `illegal` set when the groups are well formed but match no form.
bool ParseHeader(const uint8_t *text, int32_t length, Header &h, bool &illegal) {
    illegal = false;
    std::vector<std::string> pending, operandGroup, mainGroup;
    bool arrow = false, open = false, close = false, locals = false, localHasWord = false;
    for (int32_t i = 0; i < length;) {
        const uint8_t c = text[i];
        if (!IsHeaderSyntax(c)) {
            int32_t end = i;
            while (end < length && !IsHeaderSyntax(text[end])) ++end;
            std::string word(reinterpret_cast<const char *>(text + i), static_cast<size_t>(end - i));
            i = end;
            if (locals) {
                if (localHasWord) return false;
                h.locals.push_back(word);
                localHasWord = true;
            } else if (open && !close) {
                operandGroup.push_back(word);
            } else if (close) {
                mainGroup.push_back(word);
            } else {
                pending.push_back(word);
            }
            continue;
        }
        ++i;
        switch (c) {
            case glyph::kLeftArrow:
                if (arrow || open || locals || pending.empty()) return false;
                arrow = true;
                h.result = static_cast<int>(pending.size());
                h.words = pending;
                pending.clear();
                break;
            case kLeftParen:
                if (open || locals) return false;
                open = true;
                h.left = static_cast<int>(pending.size());
                break;
            case kRightParen:
                if (!open || close || locals) return false;
                close = true;
                break;
            case kSemicolon:
                if (open && !close) return false;
                if (locals && !localHasWord) return false;
                locals = true;
                localHasWord = false;
                break;
            default: break;
        }
    }
    if ((open && !close) || (locals && !localHasWord)) return false;
    if (!open) {
        mainGroup = pending;
        pending.clear();
    }
    h.operands = static_cast<int>(operandGroup.size());
    h.main = static_cast<int>(mainGroup.size());
    for (auto *group : {&pending, &operandGroup, &mainGroup})
        h.words.insert(h.words.end(), group->begin(), group->end());
    illegal = true;
    if (h.result > 9 || h.left > 9 || h.operands > 9 || h.main > 9) return false;
    const int form = h.result * 1000 + h.left * 100 + h.operands * 10 + h.main;
    for (const HeaderForm &f : kForms) {
        if (f.form != form) continue;
        illegal = false;
        h.namePosition = f.namePosition;
        h.kind = f.kind;
        if (h.result) h.flags |= kRecordResult;
        if (h.left || (!open && h.main == 3)) h.flags |= kRecordLeft;
        return true;
    }
    return false;
}

// ---- Body lines ---------------------------------------------------------------------------

// One line of the argument: a CHAR vector or scalar, or an empty simple vector.
bool LineText(const aplarray *item, std::string &text) {
    if (!item || IsNested(item) || item->rank > 1) return false;
    if (item->eltype != APL_CHAR) {
        if (ElementCount(item) != 0) return false;
        text.clear();
        return true;
    }
    text.assign(DataOf<const char>(item), static_cast<size_t>(ElementCount(item)));
    return true;
}

// The first lamp outside quotes, or the length.
size_t CommentStart(const std::string &line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<uint8_t>(line[i]);
        if (c == glyph::kQuote) quoted = !quoted;
        if (c == glyph::kLamp && !quoted) return i;
    }
    return line.size();
}

// The label colon: the last colon at brace depth 0, outside quotes, before
// any comment; -1 when there is none.
int64_t LabelColon(const std::string &line) {
    bool quoted = false;
    int braces = 0;
    int64_t colon = -1;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<uint8_t>(line[i]);
        if (c == glyph::kQuote) quoted = !quoted;
        if (quoted) continue;
        if (c == glyph::kLamp) break;
        if (c == kLeftBrace) ++braces;
        if (c == kRightBrace) --braces;
        if (c == kColon && braces == 0) colon = static_cast<int64_t>(i);
    }
    return colon;
}

std::string Trimmed(const std::string &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == ' ') ++begin;
    while (end > begin && text[end - 1] == ' ') --end;
    return text.substr(begin, end - begin);
}

uint16_t AddName(const std::string &name, int32_t kind) {
    void *none = nullptr;
    return DefineName(name.data(), static_cast<int32_t>(name.size()), kind, &none);
}

// Writes one body line into the code buffer (which grows to the left): its
// comment part, then its tokens. `entry` receives the buffer length between
// the two, from which the line table entry is made.
bool TokenizeBodyLine(const std::string &line, int32_t &entry) {
    const size_t lamp = CommentStart(line);
    size_t code = lamp;
    while (code > 0 && line[code - 1] == ' ') --code;
    const size_t commentLength = lamp < line.size() ? line.size() - code : 0;
    // A line end in the comment would end the stored line early.
    for (size_t i = code; i < code + commentLength; ++i)
        if (static_cast<uint8_t>(line[i]) == glyph::kLineFeed) {
            SetError(APL_ERR_SYNTAX);
            return false;
        }
    if (!PutText(codeBuffer, line.data() + code, static_cast<int32_t>(commentLength))) return false;
    entry = BufferLength(codeBuffer);
    tokenizerLineFlags = 0;
    return code == 0 ||
           TokenizeLine(reinterpret_cast<const uint8_t *>(line.data()), static_cast<int32_t>(code), kTokDiamonds);
}

// The record as a new temporary CHAR vector, or null (WS FULL).
struct RecordParts {
    const Header *header;
    std::vector<uint16_t> names;  // header names, locals, labels in reverse line order
    uint32_t labels = 0;
    uint32_t lines = 0;
    std::vector<int32_t> entries;  // buffer lengths per line (from 1)
    std::vector<uint8_t> lineFlags;
    const uint8_t *tokens = nullptr;
    uint32_t tokenBytes = 0;
    PoolView pool;
    uint32_t created = 0, fixed = 0;
};

aplarray *AssembleRecord(const RecordParts &p) {
    const uint64_t tokenStart = kRecordHeaderBytes + 4ull * p.lines + 2ull * p.names.size();
    const uint64_t poolOffset = (tokenStart + p.tokenBytes + 3) & ~3ull;
    const uint64_t pad = poolOffset - tokenStart - p.tokenBytes;
    const uint64_t flagsLength = p.lineFlags.size();
    const uint64_t flagsImage = (20 + flagsLength + 3) & ~3ull;
    const uint64_t total = poolOffset + p.pool.size + flagsImage;
    if (total > INT32_MAX - 64) {
        SetErrorText(APL_ERR_WSFULL, "WS full !");
        return nullptr;
    }
    const auto length = static_cast<int32_t>(total);
    aplarray *record = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &length, HERE);
    if (!record) {
        SetErrorText(APL_ERR_WSFULL, "WS full !");
        return nullptr;
    }
    uint8_t *b = DataOf<uint8_t>(record);
    memset(b, 0, static_cast<size_t>(total));
    WriteWord(b + 4 * kWordFlags, p.header->flags);
    WriteWord(b + 4 * kWordNames, static_cast<uint32_t>(p.names.size()));
    WriteWord(b + 4 * kWordLocals, static_cast<uint32_t>(p.header->locals.size()));
    WriteWord(b + 4 * kWordLabels, p.labels);
    WriteWord(b + 4 * kWordLines, p.lines);
    WriteWord(b + 4 * kWordPool, static_cast<uint32_t>(poolOffset));
    WriteWord(b + 4 * kWordLineFlags, static_cast<uint32_t>(poolOffset + p.pool.size));
    WriteWord(b + 4 * kWordCreated, p.created);
    WriteWord(b + 4 * kWordFixed, p.fixed);
    // Entry n-1 is the distance from the pool back to line n's last token.
    for (uint32_t n = 1; n <= p.lines; ++n)
        WriteWord(b + kRecordHeaderBytes + 4 * (n - 1), static_cast<uint32_t>(p.entries[n] + pad));
    for (size_t i = 0; i < p.names.size(); ++i) {
        b[kRecordHeaderBytes + 4 * p.lines + 2 * i] = static_cast<uint8_t>(p.names[i]);
        b[kRecordHeaderBytes + 4 * p.lines + 2 * i + 1] = static_cast<uint8_t>(p.names[i] >> 8);
    }
    memcpy(b + tokenStart, p.tokens, p.tokenBytes);
    if (p.pool.size) memcpy(b + poolOffset, p.pool.base, p.pool.size);
    // The line-flags vector closes the pool as a static CHAR vector image.
    uint8_t *image = b + poolOffset + p.pool.size;
    const auto imageSize = static_cast<int32_t>(20 + flagsLength);
    const auto imageLength = static_cast<int32_t>(flagsLength);
    const int32_t one = 1;
    memcpy(image, &imageSize, 4);
    image[4] = APL_SIMPLE | APL_STATIC;
    image[5] = 1;
    image[6] = APL_CHAR;
    memcpy(image + 8, &one, 4);
    memcpy(image + 12, &imageLength, 4);
    memcpy(image + 16, &imageLength, 4);
    if (flagsLength) memcpy(image + 20, p.lineFlags.data(), flagsLength);
    return record;
}

// The result of a failed definition: the line at fault; the reason stays in
// the message.
aplarray *FailedAt(int32_t line) {
    aplerrno = 0;
    return MakeInt(line);
}

// The buffers of the caller (a session line, execute, a running function) are
// put aside while a definition uses its own, and come back at scope exit.
class DefinitionBuffers {
public:
    DefinitionBuffers() : code_(SaveCodeBuffer()), pool_(TakeConstantPool()), positions_(errorPositions) {
        codeBuffer.forward = false;
    }
    ~DefinitionBuffers() {
        ResetTokenBuffer(codeBuffer);
        RestoreCodeBuffer(code_);
        RestoreConstantPool(pool_);
        errorPositions = positions_;
    }
    DefinitionBuffers(const DefinitionBuffers &) = delete;
    DefinitionBuffers &operator=(const DefinitionBuffers &) = delete;

private:
    TokenBuffer code_;
    ConstantPoolState pool_;
    ErrorPositions positions_;
};

uint32_t Now() { return static_cast<uint32_t>(time(nullptr)); }

}  // namespace

bool DefinedName(const aplarray *lines, std::string &name) {
    std::string headerText;
    if (!lines || !IsNested(lines) || lines->number < 1 || !LineText(ItemsOf(lines)[0], headerText)) return false;
    Header header;
    bool illegal = false;
    if (!ParseHeader(reinterpret_cast<const uint8_t *>(headerText.data()), static_cast<int32_t>(headerText.size()),
                     header, illegal))
        return false;
    name = header.Name();
    return true;
}

aplarray *DefineFunction(const aplarray *lines) {
    APL_error_message[0] = 0;
    if (!lines || !IsNested(lines) || lines->number < 1) return FailedAt(0);
    const int32_t count = lines->number;
    std::string headerText;
    if (!LineText(ItemsOf(lines)[0], headerText)) return FailedAt(0);
    Header header;
    bool illegal = false;
    if (!ParseHeader(reinterpret_cast<const uint8_t *>(headerText.data()), static_cast<int32_t>(headerText.size()),
                     header, illegal)) {
        if (illegal) snprintf(APL_error_message, sizeof APL_error_message, "Illegal function header!");
        return FailedAt(0);
    }
    const std::string name = header.Name();
    const auto nameIndex = static_cast<size_t>(header.namePosition - 1);
    // System names cannot be the function, its result, arguments or operands
    // (only locals may be system variables, which a function may localise).
    for (const std::string &word : header.words) {
        const auto first = word.empty() ? 0 : static_cast<uint8_t>(word[0]);
        if (first == glyph::kQuad || first == glyph::kQuoteQuad) {
            SetError(APL_ERR_DEFN);
            return FailedAt(0);
        }
    }
    std::vector<std::string> body(static_cast<size_t>(count));
    for (int32_t n = 1; n < count; ++n)
        if (!LineText(ItemsOf(lines)[n], body[static_cast<size_t>(n)])) {
            SetError(APL_ERR_DOMAIN);
            return FailedAt(n);
        }

    DefinitionBuffers buffers;
    RecordParts parts;
    parts.header = &header;
    parts.lines = static_cast<uint32_t>(count - 1);
    parts.lineFlags.assign(static_cast<size_t>(count), 0);
    parts.entries.assign(static_cast<size_t>(count), 0);

    // Labels: entered as plain names (their meaning as labels exists only
    // while the function runs); their line numbers open the pool.
    std::vector<uint16_t> labels;
    for (int32_t n = 1; n < count; ++n) {
        const std::string &line = body[static_cast<size_t>(n)];
        const int64_t colon = LabelColon(line);
        if (colon < 0) continue;
        const std::string label = Trimmed(line.substr(0, static_cast<size_t>(colon)));
        if (label.empty()) {
            if (!lenientFixing) parts.lineFlags[static_cast<size_t>(n)] |= kLineSeparator;
            continue;
        }
        const uint16_t index = AddName(label, APL_KIND_VARIABLE);
        if (index == APL_symtab.count) {
            if (!lenientFixing) return FailedAt(n);
            aplerrno = 0;
            continue;
        }
        if (PoolConstant(MakeInt(n)) < 0) return FailedAt(n);
        labels.push_back(index);
    }
    // Header names: everything but the function's own name.
    for (size_t i = 0; i < header.words.size(); ++i) {
        if (i == nameIndex) continue;
        const uint16_t index = AddName(header.words[i], APL_KIND_VARIABLE);
        if (index == APL_symtab.count) return FailedAt(0);
        parts.names.push_back(index);
    }
    for (const std::string &local : header.locals) {
        const uint16_t index = AddName(local, APL_KIND_VARIABLE);
        if (index == APL_symtab.count) return FailedAt(0);
        parts.names.push_back(index);
    }
    parts.names.insert(parts.names.end(), labels.rbegin(), labels.rend());
    parts.labels = static_cast<uint32_t>(labels.size());

    // Body lines from the last to the first into a buffer that grows to the
    // left, so that line 1 ends up leftmost.
    if (!PutByte(codeBuffer, glyph::kLineFeed)) return FailedAt(count - 1);
    bool lenientUsed = false;
    for (int32_t n = count - 1; n >= 1; --n) {
        // A function of millions of lines takes seconds: Ctrl-C reaches it.
        if (InterruptAt(count - n)) return nullptr;
        std::string &line = body[static_cast<size_t>(n)];
        const int32_t before = BufferLength(codeBuffer);
        int32_t entry = 0;
        bool ok = TokenizeBodyLine(line, entry);
        if (!ok && lenientFixing && !lenientUsed && aplerrno != APL_ERR_WSFULL) {
            // The line becomes a comment that shows what was rejected.
            lenientUsed = true;
            codeBuffer.start = codeBuffer.end - before;
            line = std::string("--------") + static_cast<char>(glyph::kLamp) + " " + line;
            WriteLinef("%s[%d] syntax error", name.c_str(), static_cast<int>(n));
            aplerrno = 0;
            ok = TokenizeBodyLine(line, entry);
        }
        if (!ok) return FailedAt(n);
        uint8_t &flags = parts.lineFlags[static_cast<size_t>(n)];
        flags = static_cast<uint8_t>(flags | tokenizerLineFlags);
        if ((flags & kLineHasDiamonds) && (flags & (kLineControlInside | kLineControlAtEnd))) {
            SetErrorText(APL_ERR_SYNTAX, "Mixture of diamond and control not supported!");
            return FailedAt(n);
        }
        parts.entries[static_cast<size_t>(n)] = entry;
        if (!PutByte(codeBuffer, glyph::kLineFeed)) return FailedAt(n);
    }
    parts.tokens = BufferData(codeBuffer);
    parts.tokenBytes = static_cast<uint32_t>(BufferLength(codeBuffer));
    parts.pool = CurrentPool();
    parts.fixed = Now();
    parts.created = parts.fixed;
    // A redefinition keeps the creation time of the function it replaces.
    const uint16_t existing = LookupName(name);
    FixedView old;
    if (IsUserFunction(existing) && ReadFixedRecord(FixedRecord(existing), old)) parts.created = old.created;
    aplerrno = 0;
    aplarray *record = AssembleRecord(parts);
    if (!record) return FailedAt(count - 1);
    TempGuard recordGuard(record);

    FixedView view;
    if (!ReadFixedRecord(record, view)) return FailedAt(0);
    aplarray *text = APL_Serialize(nullptr, MakeInt(0), RenderLines(view, name.c_str(), header.kind));
    if (!text) return FailedAt(0);
    const int32_t two = 2;
    aplarray *value = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &two, HERE);
    if (!value) {
        APL_UnLinkTempEx(text, HERE);
        return FailedAt(0);
    }
    ItemsOf(value)[0] = APL_LinkEx(recordGuard.release(), HERE);
    ItemsOf(value)[1] = APL_LinkEx(text, HERE);
    void *init = APL_LinkEx(value, HERE);
    const uint16_t index =
        DefineName(name.data(), static_cast<int32_t>(name.size()), header.kind | APL_KIND_USER, &init);
    if (index == APL_symtab.count || Symbol(index).value != init) {
        // A label or an operand of a running function keeps its meaning.
        if (!aplerrno) SetError(APL_ERR_DEFN);
        APL_UnLinkEx(value, HERE);
        return FailedAt(0);
    }
    aplerrno = 0;
    return MakeString(name.c_str());
}

aplarray *FunctionLines(uint16_t symbol) {
    if (!IsUserFunction(symbol)) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    auto *value = static_cast<aplarray *>(Symbol(symbol).value);
    if (IsNested(value) && value->rank == 1 && value->number == 2) {
        aplarray *text = ItemsOf(value)[1];
        if (text && !IsNested(text) && text->eltype == APL_CHAR) {
            aplarray *lines = APL_Serialize(nullptr, nullptr, text);
            if (lines && IsNested(lines) && lines->rank == 1 && lines->number >= 1) return lines;
            APL_UnLinkTempEx(lines, HERE);
            aplerrno = 0;
        }
    }
    FixedView view;
    if (!ReadFixedRecord(FixedRecord(symbol), view)) return nullptr;
    return RenderLines(view, SymbolName(symbol), FunctionKind(symbol));
}

void ShowLine(uint16_t function, int32_t lineNumber) {
    aplarray *lines = FunctionLines(function);
    if (!lines) {
        aplerrno = 0;
        return;
    }
    if (lineNumber >= 0 && lineNumber < lines->number) {
        const aplarray *text = ItemsOf(lines)[lineNumber];
        std::string shown = "[" + std::to_string(lineNumber) + "]  ";
        if ((sessionMode & 0x01) && InstalledKeywordLexer()) {
            TokenBuffer out;
            out.forward = true;
            if (CodesToKeywords(DataOf<const uint8_t>(text), text->number, InstalledKeywordLexer(), out))
                shown.append(reinterpret_cast<const char *>(BufferData(out)), static_cast<size_t>(BufferLength(out)));
            ResetTokenBuffer(out);
            aplerrno = 0;
        } else {
            shown.append(DataOf<const char>(text), static_cast<size_t>(text->number));
        }
        WriteText(shown.c_str(), true);
    }
    APL_UnLinkTempEx(lines, HERE);
}

// ---- The system functions FX, VR and CR, and loading functions from a file ----------------

namespace {

// The lines of the argument of FX as a nested vector (linked by the caller),
// or null when the argument is not a character matrix or a nested vector.
aplarray *FixLines(aplarray *right) {
    if (IsNested(right)) return right->rank == 1 ? right : nullptr;
    if (right->rank == 2 && right->eltype == APL_CHAR) return SplitRows(right);
    return nullptr;
}

aplarray *FixKernel(CallArgs &args) {
    aplarray *lines = FixLines(args.right);
    if (aplerrno) return nullptr;
    if (!lines || lines->number < 2) {
        if (lines != args.right) APL_UnLinkTempEx(lines, HERE);
        return MakeInt(0);
    }
    aplarray *result = DefineFunction(lines);
    if (lines != args.right) APL_UnLinkTempEx(lines, HERE);
    return result;
}

// The function named by a CHAR scalar or vector, trailing blanks ignored; on
// a name that is no user function the message is set and the count returned.
uint16_t NamedFunction(const aplarray *name) {
    std::string text(DataOf<const char>(name), static_cast<size_t>(ElementCount(name)));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const uint16_t symbol = LookupName(text);
    if (IsUserFunction(symbol)) return symbol;
    snprintf(APL_error_message, sizeof APL_error_message, "'%s' is no user defined function/operator", text.c_str());
    return APL_symtab.count;
}

aplarray *EmptyTextMatrix() {
    const int32_t shape[2] = {0, 0};
    return AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_CHAR, shape, HERE);
}

bool RepresentationArgument(const aplarray *right) {
    if (right->rank > 1) {
        SetError(APL_ERR_RANK);
        return false;
    }
    if (right->eltype != APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    return true;
}

}  // namespace

// FX. Returns a temporary (the name, or the INTG index of the line at fault);
// consumes temporary arguments, leaves linked ones as they were.
extern "C" aplarray *APL_Fix(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({kRefused, kRefused, Required(kAnyType)}, axis, left, right, FixKernel);
}

// VR. Returns a temporary nested vector of lines; consumes temporary arguments.
extern "C" aplarray *APL_VectorRep(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({kRefused, kRefused, Required(kAnyType)}, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (!RepresentationArgument(args.right)) return nullptr;
        const uint16_t symbol = NamedFunction(args.right);
        if (symbol == APL_symtab.count) return EmptyTextMatrix();
        return FunctionLines(symbol);
    });
}

// CR. Returns a temporary CHAR matrix; consumes temporary arguments.
extern "C" aplarray *APL_CharRep(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({kRefused, kRefused, Required(kAnyType)}, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (!RepresentationArgument(args.right)) return nullptr;
        const uint16_t symbol = NamedFunction(args.right);
        if (symbol == APL_symtab.count) return EmptyTextMatrix();
        TempGuard lines(FunctionLines(symbol));
        if (!lines.get()) return nullptr;
        return MixTextRows(lines.get());
    });
}

// Reads a file of function definitions (a serialised array, one item per
// function) and fixes each item. Returns a temporary of the file value's
// shape: names, or line indices where fixing failed. Consumes temporary
// arguments.
extern "C" aplarray *APL_Loadfns(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({kRefused, kRefused, Required(APL_CHAR)}, axis, left, right, [](CallArgs &args) -> aplarray * {
        TempGuard contents(APL_ReadWrite(nullptr, nullptr, args.right));
        aplarray *items = contents.get();
        if (!items) return nullptr;
        if (!IsNested(items) || items->number == 0) {
            // Each item of a simple array is a scalar, which fixes nothing.
            aplarray *zeros = AllocArray(APL_SIMPLE | APL_TEMP, items->rank, APL_INTG, items->shape, HERE);
            if (zeros) memset(DataOf(zeros), 0, 4 * static_cast<size_t>(ElementCount(zeros)));
            return zeros;
        }
        aplarray *results = AllocArray(APL_NESTEDARRAY | APL_TEMP, items->rank, APL_NESTED, items->shape, HERE);
        if (!results) return nullptr;
        for (int32_t i = 0; i < items->number && !aplerrno; ++i)
            ItemsOf(results)[i] = APL_LinkEx(APL_Fix(nullptr, nullptr, ItemsOf(items)[i]), HERE);
        if (aplerrno) {
            APL_UnLinkTempEx(results, HERE);
            return nullptr;
        }
        return SimplifyArray(results);
    });
}
