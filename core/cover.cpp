// cover: the runtime interface that compiled code calls (assignment, strands,
// function descriptors and their evaluation, the KAZ_ support routines).
// Relies on arrays, symtab, errors, the line frames and the primitive tables.
#include "core/cover.h"

#include "core/arrays.h"
#include "core/call.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/symtab.h"

#include <cstring>

LineFrame *currentFrame = nullptr;

namespace {

bool CheckIndex(uint16_t index) {
    if (IsSymbol(index)) return true;
    if (!aplerrno) SetErrorText(APL_ERR_SYSTEM, "Invalid symbol index %u", index);
    return false;
}

constexpr int kLabel = APL_KIND_VARIABLE | APL_KIND_LABELBIT;
constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;

// Links the value into the entry, then unlinks the old one (so that X←X works).
aplarray *StoreVariable(uint16_t index, aplarray *value) {
    aplarray *linked = APL_LinkEx(value, COVER);
    if (!linked) return nullptr;  // the copy of a static array failed
    aplsymbol &entry = Symbol(index);
    aplarray *old = OwnsArray(entry) ? static_cast<aplarray *>(entry.value) : nullptr;
    entry.value = linked;
    entry.kind = static_cast<uint8_t>((entry.kind & APL_KIND_SYSTEM) | APL_KIND_VARIABLE);
    APL_UnLinkEx(old, COVER);
    return linked;
}

}  // namespace

// ---- Cover functions -------------------------------------------------------------

extern "C" aplarray *APL_Copy(aplarray *array) { return APL_LinkEx(array, COVER); }

extern "C" aplarray *APL_Assign(uint16_t index, aplarray *value) {
    if (aplerrno) {
        APL_UnLinkTempEx(value, COVER);
        return nullptr;
    }
    if (!value) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    if (!CheckIndex(index)) {
        APL_UnLinkTempEx(value, COVER);
        return nullptr;
    }
    const aplsymbol &entry = Symbol(index);
    constexpr int kSystemVariable = APL_KIND_SYSTEM | APL_KIND_VARIABLE;
    if ((entry.kind & kSystemVariable) == kSystemVariable && !IsLabel(entry)) return AssignSystemVariable(index, value);
    // Functions, labels and bound operands are not variables: replacing them
    // would lose (or wrongly unlink) what the entry holds.
    if ((entry.kind & APL_KIND_OPERAND) || IsLabel(entry) || ((entry.kind & kFunctionKinds) && entry.value)) {
        SetError(APL_ERR_SYNTAX);
        APL_UnLinkTempEx(value, COVER);
        return nullptr;
    }
    return StoreVariable(index, value);
}

SystemValueCheck checkSystemValue = nullptr;

aplarray *AssignSystemVariable(uint16_t index, aplarray *value) {
    if (!checkSystemValue) return StoreVariable(index, value);
    // Held by a link of ours while checked, so that the check's own links and
    // unlinks cannot free a temporary (a static value becomes a managed copy).
    aplarray *held = APL_LinkEx(value, COVER);
    if (held != value) APL_UnLinkTempEx(value, COVER);
    if (!held) return nullptr;
    aplarray *checked = checkSystemValue(index, held);
    aplarray *stored = checked ? StoreVariable(index, checked) : nullptr;
    APL_UnLinkEx(held, COVER);
    return stored;
}

extern "C" int32_t APL_GetLineNum(void) { return currentFrame ? currentFrame->line : 0; }

extern "C" int32_t APL_DidJump(void) { return currentFrame ? currentFrame->jumped : 0; }

// ---- Strands -----------------------------------------------------------------------

namespace {

// What one argument adds to a strand: the array as one item, or its elements
// (the values of a simple array, the items of a nested one).
struct StrandPart {
    const aplarray *array;
    bool whole;
};

// A simple scalar added whole is just its value.
bool AddsItsElements(const StrandPart &part) { return !part.whole || (part.array->rank == 0 && !IsNested(part.array)); }

int64_t PartLength(const StrandPart &part) { return AddsItsElements(part) ? ElementCount(part.array) : 1; }

// Element type of what the part adds: CHAR, INTG or REAL for values, NESTED for items.
int PartType(const StrandPart &part) {
    if (!AddsItsElements(part) || IsNested(part.array)) return APL_NESTED;
    switch (part.array->eltype) {
        case APL_CHAR: return APL_CHAR;
        case APL_REAL: return APL_REAL;
        default: return APL_INTG;  // BOOL and SHORT widen to INTG
    }
}

// INTG and REAL join as REAL; any other mixture is a nested strand.
int JoinTypes(int a, int b) {
    if (a == 0 || a == b) return b;
    if ((a | b) == (APL_INTG | APL_REAL)) return APL_REAL;
    return APL_NESTED;
}

// Element i of a simple array, read byte-wise: static records are only 4-byte aligned.
template <class T>
T ReadElement(const aplarray *a, int64_t i) {
    const auto *data = DataOf<const unsigned char>(a);
    switch (a->eltype) {
        case APL_INTG: {
            int32_t v;
            memcpy(&v, data + 4 * i, 4);
            return static_cast<T>(v);
        }
        case APL_REAL: {
            double v;
            memcpy(&v, data + 8 * i, 8);
            return static_cast<T>(v);
        }
        case APL_SHORT: {
            int16_t v;
            memcpy(&v, data + 2 * i, 2);
            return static_cast<T>(v);
        }
        case APL_BOOL: {
            // Every row starts on a fresh word.
            const int64_t rowLength = RowLength(a);
            const int64_t row = i / rowLength, column = i % rowLength;
            uint32_t word;
            memcpy(&word, data + 4 * (row * ((rowLength + 31) / 32) + column / 32), 4);
            return static_cast<T>((word >> (column % 32)) & 1u);
        }
        default: return T{};
    }
}

template <class T>
void AppendNumbers(T *&out, const aplarray *a) {
    const int64_t n = ElementCount(a);
    if (a->eltype == (sizeof(T) == 8 ? APL_REAL : APL_INTG)) {
        memcpy(out, DataOf(a), sizeof(T) * static_cast<size_t>(n));
        out += n;
        return;
    }
    for (int64_t i = 0; i < n; ++i) *out++ = ReadElement<T>(a, i);
}

// A temporary scalar holding element i of a simple array.
aplarray *ElementScalar(const aplarray *a, int64_t i) {
    const int eltype = a->eltype == APL_BOOL || a->eltype == APL_SHORT ? int{APL_INTG} : a->eltype;
    aplarray *scalar = AllocArray(APL_SIMPLE | APL_TEMP, 0, eltype, nullptr, COVER);
    if (!scalar) return nullptr;
    if (eltype == APL_CHAR)
        *DataOf<char>(scalar) = DataOf<const char>(a)[i];
    else if (eltype == APL_REAL)
        *DataOf<double>(scalar) = ReadElement<double>(a, i);
    else
        *DataOf<int32_t>(scalar) = ReadElement<int32_t>(a, i);
    return scalar;
}

// A new temporary holding the values of the parts; the parts are only read.
aplarray *SimpleStrand(const StrandPart *parts, int count, int eltype, int32_t length) {
    aplarray *result = AllocArray(APL_STRAND | APL_TEMP, 1, eltype, &length, COVER);
    if (!result) return nullptr;
    if (eltype == APL_CHAR) {
        char *out = DataOf<char>(result);
        for (int p = 0; p < count; ++p) {
            const auto n = static_cast<size_t>(ElementCount(parts[p].array));
            memcpy(out, DataOf(parts[p].array), n);
            out += n;
        }
    } else if (eltype == APL_REAL) {
        double *out = DataOf<double>(result);
        for (int p = 0; p < count; ++p) AppendNumbers(out, parts[p].array);
    } else {
        int32_t *out = DataOf<int32_t>(result);
        for (int p = 0; p < count; ++p) AppendNumbers(out, parts[p].array);
    }
    return result;
}

// A new temporary whose items are linked (values become new scalars); the parts
// keep their own links.
aplarray *NestedStrand(const StrandPart *parts, int count, int32_t length) {
    aplarray *result = AllocArray(APL_STRAND | APL_TEMP, 1, APL_NESTED, &length, COVER);
    if (!result) return nullptr;
    aplarray **slot = ItemsOf(result);
    for (int p = 0; p < count && !aplerrno; ++p) {
        const aplarray *a = parts[p].array;
        if (!AddsItsElements(parts[p])) {
            *slot++ = APL_LinkEx(const_cast<aplarray *>(a), COVER);
            continue;
        }
        const int64_t n = ElementCount(a);
        for (int64_t i = 0; i < n && !aplerrno; ++i) {
            if (!IsNested(a)) {
                *slot++ = APL_LinkEx(ElementScalar(a, i), COVER);
            } else if (aplarray *item = ItemsOf(a)[i]) {
                *slot++ = APL_LinkEx(item, COVER);
            } else {
                SetErrorText(APL_ERR_SYSTEM, "Nested array with a missing item");
            }
        }
    }
    if (aplerrno) {
        APL_UnLinkTempEx(result, COVER);
        return nullptr;
    }
    return result;
}

// An empty strand (the elements of two empty arrays) keeps the left one's type.
// A new temporary; a nested one links the left prototype.
aplarray *EmptyStrand(const aplarray *left) {
    const int32_t zero = 0;
    if (!IsNested(left)) {
        const int eltype = left->eltype == APL_CHAR ? APL_CHAR : left->eltype == APL_REAL ? APL_REAL : APL_INTG;
        return AllocArray(APL_STRAND | APL_TEMP, 1, eltype, &zero, COVER);
    }
    aplarray *result = AllocArray(APL_STRAND | APL_TEMP, 1, APL_NESTED, &zero, COVER);
    if (result) ItemsOf(result)[0] = APL_LinkEx(ItemsOf(left)[0], COVER);  // the prototype
    return result;
}

// A new temporary; the parts are only read (items taken from them are linked).
aplarray *BuildStrand(const StrandPart *parts, int count) {
    int64_t length = 0;
    int eltype = 0;
    for (int p = 0; p < count; ++p) {
        const int64_t n = PartLength(parts[p]);
        length += n;
        if (n > 0) eltype = JoinTypes(eltype, PartType(parts[p]));
    }
    if (length > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    if (length == 0) return EmptyStrand(parts[0].array);
    if (eltype == APL_NESTED) return NestedStrand(parts, count, static_cast<int32_t>(length));
    return SimpleStrand(parts, count, eltype, static_cast<int32_t>(length));
}

}  // namespace

// Returns a temporary vector marked APL_STRAND. Consumes temporary arguments,
// also on error; linked ones are left as they were.
extern "C" aplarray *APL_CatArray(aplarray *left, aplarray *right, int32_t leftIsStrand, int32_t spliceRight) {
    left = Aligned(left);
    right = Aligned(right);
    if (!aplerrno && (!left || !right)) SetError(APL_ERR_VALUE);
    if (!aplerrno && (right->type & APL_INDEXPOS)) SetError(APL_ERR_SYNTAX);
    aplarray *result = nullptr;
    if (!aplerrno) {
        CheckArray(left, COVER);
        CheckArray(right, COVER);
        // The strand so far gives its elements; a new item is added whole
        // (a simple scalar being its value) unless it is a strand to splice.
        StrandPart parts[2];
        if (leftIsStrand)
            parts[0] = {left, false};
        else
            parts[0] = {left, true};
        const bool splice = spliceRight && (leftIsStrand || right->rank == 1);
        parts[1] = {right, !splice};
        result = BuildStrand(parts, 2);
    }
    APL_UnLinkTempEx(left, COVER);
    if (right != left) APL_UnLinkTempEx(right, COVER);
    return result;
}

// ---- Function descriptors -----------------------------------------------------------------

// Returns a temporary; consumes temporary arguments, leaves linked ones as they were.
extern "C" aplarray *APL_Evaluate(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right, ...) {
    // A copy that cannot be made leaves WS FULL pending, which the call
    // answers by releasing what it holds.
    AlignArguments(axis, left, right);
    return CallFunction(function, axis, left, right);
}

extern "C" aplfnc KAZ_Fn(int32_t code, int32_t flags, aplfunction function) {
    return aplfnc{flags | APL_FN_PRIMITIVE, nullptr, reinterpret_cast<void *>(function), code & 0xFF};
}

extern "C" aplfnc KAZ_CFn(aplfunction function) { return aplfnc{0, nullptr, reinterpret_cast<void *>(function), 0}; }

extern "C" aplfnc *KAZ_MonOp(aplfnc *derived, aplop *record, aploperator function, aplarray *axis, aplfnc operand,
                             aplarray *operandAxis) {
    *record = aplop{};
    record->left = operand;
    record->leftAxis = operandAxis;
    record->kind = APL_FN_MONOP;
    record->function = reinterpret_cast<void *>(function);
    record->axis = axis;
    *derived = aplfnc{APL_FN_DERIVED, record, nullptr, 0};
    return derived;
}

extern "C" aplfnc *KAZ_DyOp(aplfnc *derived, aplop *record, aploperator function, aplarray *axis, aplfnc left,
                            aplarray *leftAxis, aplfnc right, aplarray *rightAxis) {
    KAZ_MonOp(derived, record, function, axis, left, leftAxis);
    record->kind = APL_FN_DYOP;
    record->right = right;
    record->rightAxis = rightAxis;
    return derived;
}

// ---- Localised names -------------------------------------------------------------------
// A compiled function shadows the global entry of each of its local names: the
// entry moves to the function's save area (keeping the links it holds) and comes
// back on exit.

namespace {
// Moves the entry to the save area and returns it for its local meaning, or
// null (save area marked unused) for an invalid index.
aplsymbol *Localise(aplsymbol *save, uint16_t index) {
    *save = aplsymbol{};
    if (!CheckIndex(index)) {
        save->name = UINT32_MAX;  // no entry has this name offset
        return nullptr;
    }
    aplsymbol &entry = Symbol(index);
    *save = entry;
    entry.kindHigh = 0;
    return &entry;
}

// The saved entry comes back; only a save area filled for this name is used.
void Restore(const aplsymbol *save, uint16_t index, bool unlink) {
    if (!IsSymbol(index) || save->name != Symbol(index).name) return;
    aplsymbol &entry = Symbol(index);
    if (unlink && OwnsArray(entry)) APL_UnLinkEx(static_cast<aplarray *>(entry.value), COVER);
    entry = *save;
}
}  // namespace

extern "C" void KAZ_InitVar(aplsymbol *save, uint16_t index) {
    aplsymbol *entry = Localise(save, index);
    if (!entry) return;
    constexpr int kSystemVariable = APL_KIND_SYSTEM | APL_KIND_VARIABLE;
    if ((entry->kind & kSystemVariable) == kSystemVariable && entry->value) {
        // A local system variable starts with the global value.
        entry->value = APL_LinkEx(static_cast<aplarray *>(entry->value), COVER);
        entry->kind = kSystemVariable;
    } else {
        entry->value = nullptr;
        entry->kind = APL_KIND_VARIABLE;
    }
}

extern "C" int32_t KAZ_InitArg(aplsymbol *save, uint16_t index, aplarray *value) {
    aplsymbol *entry = Localise(save, index);
    if (!entry) {
        APL_UnLinkTempEx(value, COVER);
        return value != nullptr;
    }
    entry->value = APL_LinkEx(value, COVER);
    entry->kind = APL_KIND_VARIABLE;
    return value != nullptr;
}

// A label's value is a constant of the function, used where it lies. One
// that lies where its fields cannot be read is held as a linked copy, since
// everything that reads names (the session's evaluator too) takes a label's
// value as any array; a managed value is held by a link as well.
extern "C" void KAZ_InitLabel(aplsymbol *save, uint16_t index, aplarray *value) {
    aplsymbol *entry = Localise(save, index);
    if (!entry) return;
    const bool inPlace = !value || (IsStatic(value) && !IsUnaligned(value));
    entry->value = inPlace ? value : APL_LinkEx(value, COVER);
    entry->kind = kLabel;
}

extern "C" void KAZ_ResumeVar(aplsymbol *save, uint16_t index) { Restore(save, index, true); }

extern "C" void KAZ_ResumeArg(aplsymbol *save, uint16_t index, aplarray *) {
    // The argument itself is not read: the name's link was its only hold, and a
    // reassignment inside the function may already have freed it.
    Restore(save, index, true);
}

extern "C" void KAZ_ResumeLabel(aplsymbol *save, uint16_t index) {
    // The link KAZ_InitLabel took, if it took one.
    if (IsSymbol(index) && save->name == Symbol(index).name) {
        auto *value = static_cast<aplarray *>(Symbol(index).value);
        if (value && !IsStatic(value)) APL_UnLinkEx(value, COVER);
    }
    Restore(save, index, false);
}

extern "C" void *const *KAZ_InitSimple(const void *value) {
    static void *word;
    word = const_cast<void *>(value);
    return &word;
}
