// names: the system functions about the workspace's names: NC (name class),
// NL (name list), EX (erase), CONST and VAR (constant mark) and AT (attributes
// and time stamps of defined functions). Relies on the symbol table, the
// standard wrapper and the fixed function records of interpreter/fixing.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "interpreter/fixing.h"
#include "system/compfile.h"
#include "system/nfiles.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;
constexpr int kOperatorKinds = APL_KIND_MONOP | APL_KIND_DYOP;

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// The text of a simple CHAR array with its blanks trimmed (leading ones too
// when asked). Not a CHAR array: an empty text, which names nothing.
std::string_view NameText(const aplarray *a, bool trimLeading) {
    if (a->eltype != APL_CHAR) return {};
    std::string_view text(DataOf<const char>(a), static_cast<size_t>(a->number));
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (trimLeading && !text.empty() && text.front() == ' ') text.remove_prefix(1);
    return text;
}

// The symbol of a name that has a value, or APL_symtab.count.
uint16_t ValuedSymbol(std::string_view name) {
    if (name.empty()) return APL_symtab.count;
    const uint16_t index = LookupName(name);
    return IsSymbol(index) && Symbol(index).value ? index : APL_symtab.count;
}

// The class of a symbol that has a value: 1 label (or constant), 2 variable,
// 3 function, 4 operator, 0 for anything else.
int ClassOfEntry(const aplsymbol &entry) {
    if (!entry.value) return 0;
    if (entry.kind & APL_KIND_OPERAND) {
        // A function bound as the operand of a running operator.
        const auto *operand = static_cast<const aplfnc *>(entry.value);
        return (operand->flags & (APL_FN_FUNCTION | APL_FN_DERIVED | APL_FN_DEFINED)) ? 3 : 0;
    }
    if (entry.kind & APL_KIND_FUNCTION) return 3;
    if (entry.kind & APL_KIND_LABELBIT) return 1;
    if (entry.kind & APL_KIND_VARIABLE) return 2;
    if (entry.kind & kOperatorKinds) return 4;
    return 0;
}

int32_t ClassOfName(std::string_view name) {
    const uint16_t index = ValuedSymbol(name);
    return IsSymbol(index) ? ClassOfEntry(Symbol(index)) : 0;
}

// One class per row of a name matrix.
aplarray *ClassesOfRows(const aplarray *matrix) {
    const int32_t rows = matrix->shape[0], width = matrix->shape[1];
    if (rows == 0) return MakeInt(0);
    aplarray *result = AllocArray(APL_TEMP, 1, APL_INTG, &rows, HERE);
    if (!result) return nullptr;
    const char *text = DataOf<const char>(matrix);
    for (int32_t r = 0; r < rows; ++r) {
        std::string_view row(text + static_cast<size_t>(r) * static_cast<size_t>(width), static_cast<size_t>(width));
        while (!row.empty() && row.back() == ' ') row.remove_suffix(1);
        DataOf<int32_t>(result)[r] = ClassOfName(row);
    }
    return result;
}

// ---- NL ----------------------------------------------------------------------------

// Whether NL lists the entry under one of the wanted classes (wanted[c] for 1..4).
bool Listed(const aplsymbol &entry, const bool wanted[5]) {
    if (!entry.value || (entry.kind & (APL_KIND_SYSTEM | APL_KIND_OPERAND))) return false;
    // Built-in functions and operators live in the table without the user bit.
    if ((entry.kind & kFunctionKinds) && !(entry.kind & APL_KIND_USER)) return false;
    return wanted[ClassOfEntry(entry)];
}

aplarray *NameMatrix(const std::vector<std::string_view> &names) {
    size_t width = 0;
    for (std::string_view name : names) width = std::max(width, name.size());
    const int32_t shape[2] = {static_cast<int32_t>(names.size()), static_cast<int32_t>(width)};
    aplarray *matrix = AllocArray(APL_TEMP, 2, APL_CHAR, shape, HERE);
    if (!matrix) return nullptr;
    char *cells = DataOf<char>(matrix);
    memset(cells, ' ', names.size() * width);
    for (size_t i = 0; i < names.size(); ++i) memcpy(cells + i * width, names[i].data(), names[i].size());
    return matrix;
}

aplarray *ListNames(const aplarray *classes, const aplarray *letters) {
    bool wanted[5] = {};
    const int64_t n = ElementCount(classes);
    for (int64_t i = 0; i < n; ++i) {
        int64_t c;
        if (!IntegerElement(classes, i, &c) || c < 1 || c > 4) return Fail(APL_ERR_DOMAIN);
        wanted[c] = true;
    }
    bool initial[256] = {};
    if (letters) {
        if (letters->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
        if (letters->rank > 1) return Fail(APL_ERR_RANK);
        for (int32_t i = 0; i < letters->number; ++i) initial[DataOf<const uint8_t>(letters)[i]] = true;
    }
    std::vector<std::string_view> names;
    for (uint32_t i = 0; i < APL_symtab.count; ++i) {
        const uint16_t index = APL_symtab.sorted[i];
        const char *name = SymbolName(index);
        if (letters && !initial[static_cast<uint8_t>(name[0])]) continue;
        if (Listed(Symbol(index), wanted)) names.emplace_back(name);
    }
    return NameMatrix(names);
}

// ---- EX ----------------------------------------------------------------------------

// 1 when the name had a value (the value is then gone, unless the name is a
// system name), else 0.
int32_t EraseName(std::string_view name) {
    const uint16_t index = ValuedSymbol(name);
    if (!IsSymbol(index)) return 0;
    aplsymbol &entry = Symbol(index);
    if ((entry.kind & (APL_KIND_VARIABLE | APL_KIND_USER)) && !(entry.kind & APL_KIND_SYSTEM)) {
        // Labels hold constants of their function, bound operands a descriptor
        // of the caller: neither is the entry's to release. A running
        // function keeps its record alive through its own link.
        auto *value = static_cast<aplarray *>(entry.value);
        const bool owned = !(entry.kind & APL_KIND_OPERAND) && !IsStatic(value);
        entry.value = nullptr;
        entry.kind = 0;
        entry.kindHigh = 0;
        if (owned) APL_UnLinkEx(value, HERE);
    }
    return 1;
}

// A CHAR matrix holds one name per row, as NC reads it.
aplarray *EraseRows(const aplarray *matrix) {
    const int32_t rows = matrix->shape[0], width = matrix->shape[1];
    aplarray *result = AllocArray(APL_TEMP, 1, APL_INTG, &rows, HERE);
    if (!result) return nullptr;
    const char *text = DataOf<const char>(matrix);
    for (int32_t r = 0; r < rows; ++r) {
        std::string_view row(text + static_cast<size_t>(r) * static_cast<size_t>(width), static_cast<size_t>(width));
        while (!row.empty() && row.back() == ' ') row.remove_suffix(1);
        while (!row.empty() && row.front() == ' ') row.remove_prefix(1);
        DataOf<int32_t>(result)[r] = EraseName(row);
    }
    return result;
}

aplarray *EraseNames(const aplarray *names) {
    if (!IsNested(names)) {
        if (names->rank == 2 && names->eltype == APL_CHAR) return EraseRows(names);
        if (names->rank > 1) return Fail(APL_ERR_RANK);
        const int32_t erased = EraseName(NameText(names, true));
        return MakeIntVector(&erased, 1);
    }
    const int32_t n = names->number;
    for (int32_t i = 0; i < n; ++i) {
        const aplarray *item = ItemsOf(names)[i];
        if (IsNested(item) || item->rank > 1) return Fail(APL_ERR_DOMAIN);
    }
    aplarray *result = AllocArray(APL_TEMP, 1, APL_INTG, &n, HERE);
    if (!result) return nullptr;
    for (int32_t i = 0; i < n; ++i) DataOf<int32_t>(result)[i] = EraseName(NameText(ItemsOf(names)[i], true));
    return result;
}

// ---- CONST and VAR -----------------------------------------------------------------

// The plain user variable of a name (with a value), or null.
aplsymbol *MarkableVariable(const aplarray *name) {
    const uint16_t index = ValuedSymbol(NameText(name, true));
    if (!IsSymbol(index)) return nullptr;
    aplsymbol &entry = Symbol(index);
    constexpr int kOther = APL_KIND_SYSTEM | APL_KIND_OPERAND | APL_KIND_USER | kFunctionKinds;
    if (!(entry.kind & APL_KIND_VARIABLE) || (entry.kind & kOther)) return nullptr;
    // A label's value is a constant of its function: it never becomes a variable.
    if (IsStatic(static_cast<const aplarray *>(entry.value))) return nullptr;
    return &entry;
}

template <bool kConstant>
aplarray *MarkKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (!(args.right->type & APL_SIMPLE) || IsNested(args.right)) return Fail(APL_ERR_DOMAIN);
    if (args.right->rank > 1) return Fail(APL_ERR_RANK);
    if (aplsymbol *entry = MarkableVariable(args.right)) {
        if (kConstant)
            entry->kind |= APL_KIND_LABELBIT;
        else
            entry->kind &= static_cast<uint8_t>(~APL_KIND_LABELBIT);
    }
    return nullptr;
}

// ---- AT ------------------------------------------------------------------------------

constexpr int32_t kStampLength = 7;

aplarray *Zeros(int32_t n) {
    aplarray *result = AllocArray(APL_TEMP, 1, APL_INTG, &n, HERE);
    if (result) memset(DataOf(result), 0, 4 * static_cast<size_t>(n));
    return result;
}

aplarray *StampVector(uint32_t seconds) {
    if (seconds == 0) return Zeros(kStampLength);
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (!localtime_r(&t, &local)) return Zeros(kStampLength);
    const int32_t stamp[kStampLength] = {
        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0};
    return MakeIntVector(stamp, kStampLength);
}

// Bytes of the elements of an array and of all its items.
int64_t ElementBytes(const aplarray *a, int depth) {
    if (!IsNested(a)) return static_cast<int64_t>(a->number) * static_cast<int64_t>(ElementSize(a->eltype));
    if (depth > kMaxNestingDepth) return 0;
    int64_t total = 0;
    for (int32_t i = 0; i < ItemSlots(a); ++i)
        if (const aplarray *item = ItemsOf(a)[i]) total += ElementBytes(item, depth + 1);
    return total;
}

aplarray *SizeAttribute(const aplsymbol &entry) {
    const bool variable = (entry.kind & APL_KIND_VARIABLE) && !(entry.kind & (APL_KIND_OPERAND | kFunctionKinds));
    const auto *value = static_cast<const aplarray *>(entry.value);
    int64_t sizes[2] = {0, 0};
    if (variable) {
        sizes[0] = SerialLength(value);
        if (sizes[0] < 0) return nullptr;
        sizes[1] = ElementBytes(value, 0);
    } else if (entry.kind & APL_KIND_USER) {
        sizes[1] = ElementBytes(value, 0);
    }
    const int32_t clamped[2] = {static_cast<int32_t>(std::min<int64_t>(sizes[0], INT32_MAX)),
                                static_cast<int32_t>(std::min<int64_t>(sizes[1], INT32_MAX))};
    return MakeIntVector(clamped, 2);
}

aplarray *ReadAttribute(int64_t attribute, std::string_view name) {
    constexpr int32_t kUnknownLengths[6] = {0, 3, kStampLength, 4, 2, kStampLength};
    const uint16_t index = ValuedSymbol(name);
    if (!IsSymbol(index)) return Zeros(kUnknownLengths[attribute]);
    switch (attribute) {
        case 1: return Fail(APL_ERR_NONCE);
        case 3: return Zeros(4);
        case 4: return SizeAttribute(Symbol(index));
        default: {
            FixedView view;
            if (!IsUserFunction(index) || !ReadFixedRecord(FixedRecord(index), view)) {
                aplerrno = 0;
                return Zeros(kStampLength);
            }
            return StampVector(attribute == 2 ? view.fixed : view.created);
        }
    }
}

// A 7-element time stamp as seconds since 1970 (local time); false with the error set.
bool StampSeconds(const aplarray *stamp, uint32_t &seconds) {
    if (IsNested(stamp)) return Fail(APL_ERR_DOMAIN), false;
    if (ElementCount(stamp) != kStampLength) return Fail(APL_ERR_LENGTH), false;
    int64_t v[kStampLength];
    for (int i = 0; i < kStampLength; ++i)
        if (!IntegerElement(stamp, i, &v[i]) || v[i] < INT32_MIN || v[i] > INT32_MAX) return false;
    struct tm local {};
    local.tm_year = static_cast<int>(v[0] - 1900);
    local.tm_mon = static_cast<int>(v[1] - 1);
    local.tm_mday = static_cast<int>(v[2]);
    local.tm_hour = static_cast<int>(v[3]);
    local.tm_min = static_cast<int>(v[4]);
    local.tm_sec = static_cast<int>(v[5]);
    local.tm_isdst = -1;
    // The record keeps unsigned 32-bit seconds (time_t may be 32 or 64 bits wide).
    const int64_t t = mktime(&local);
    if (t < 0 || t > int64_t{UINT32_MAX}) return Fail(APL_ERR_DOMAIN), false;
    seconds = static_cast<uint32_t>(t);
    return true;
}

void WriteRecordWord(aplarray *record, int word, uint32_t value) {
    uint8_t *b = DataOf<uint8_t>(record) + 4 * word;
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
}

aplarray *SetStamps(const aplarray *stamps, std::string_view name) {
    if (stamps->rank != 1 || stamps->number != 2) return Fail(APL_ERR_LENGTH);
    const uint16_t index = ValuedSymbol(name);
    FixedView view;
    aplarray *record = IsSymbol(index) && IsUserFunction(index) ? FixedRecord(index) : nullptr;
    if (!record || !ReadFixedRecord(record, view)) return Fail(APL_ERR_DOMAIN);
    uint32_t created, fixed;
    if (!StampSeconds(ItemsOf(stamps)[0], created) || !StampSeconds(ItemsOf(stamps)[1], fixed)) return nullptr;
    WriteRecordWord(record, kWordCreated, created);
    WriteRecordWord(record, kWordFixed, fixed);
    return nullptr;
}

aplarray *AttributesKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    const aplarray *name = args.right;
    if (IsNested(name)) return Fail(APL_ERR_DOMAIN);
    if (name->rank > 1) return Fail(APL_ERR_RANK);
    const std::string_view text = NameText(name, true);
    if (IsNested(args.left)) return SetStamps(args.left, text);
    int64_t attribute;
    if (!SingleInteger(args.left, &attribute)) return nullptr;
    if (attribute < 1 || attribute > 5) return Fail(APL_ERR_DOMAIN);
    return ReadAttribute(attribute, text);
}

}  // namespace

// Returns a temporary INTG scalar, or a vector for a matrix of names.
// Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_NameClass(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) return Fail(APL_ERR_AXIS);
        const aplarray *names = args.right;
        if (IsNested(names)) return Fail(APL_ERR_DOMAIN);
        if (names->rank > 2) return Fail(APL_ERR_RANK);
        if (names->rank == 2) return names->eltype == APL_CHAR ? ClassesOfRows(names) : Fail(APL_ERR_DOMAIN);
        return MakeInt(ClassOfName(NameText(names, false)));
    });
}

// Returns a temporary CHAR matrix. Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_NameList(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) return Fail(APL_ERR_AXIS);
        if (IsNested(args.right) || (args.left && IsNested(args.left))) return Fail(APL_ERR_DOMAIN);
        return ListNames(args.right, args.left);
    });
}

// Returns a temporary INTG vector. Consumes temporary arguments; linked ones are
// left as they were; the values of erased names are unlinked.
extern "C" aplarray *APL_EraseItem(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (args.axis) return Fail(APL_ERR_AXIS);
        return EraseNames(args.right);
    });
}

// No result. Consume temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_MakeConst(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, MarkKernel<true>);
}

extern "C" aplarray *APL_MakeVar(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), kRefused, Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, MarkKernel<false>);
}

// Returns a temporary INTG vector, or nothing when stamps are set. Consumes
// temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Attributes(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAnyType), Required(kAnyType)};
    return StandardCall(kSignature, axis, left, right, AttributesKernel);
}
