// Fuzz target for defined functions: the bytes, cut at line ends, are fixed
// as a function (header and body lines) and, when that works, the function
// is run with arguments that fit its header and a time limit that arrives as
// an interrupt, as a host's would. Rendering it back must fix again, and
// every block must be given back.
#include "apl.h"
#include "core/arrays.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "interpreter/tokenizer.h"
#include "system/register.h"

#include "fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "fixrun_fuzz", what); }

int32_t emptyBlocks = 0;

void FreshWorkspace() { fuzz::FreshWorkspace("fixrun_fuzz", emptyBlocks); }

// Two texts of lines are the same.
bool SameLines(const aplarray *a, const aplarray *b) {
    if (!a || !b || a->number != b->number) return false;
    for (int32_t i = 0; i < a->number; ++i) {
        const aplarray *x = ItemsOf(a)[i], *y = ItemsOf(b)[i];
        if (x->number != y->number || memcmp(DataOf(x), DataOf(y), static_cast<size_t>(x->number)) != 0) return false;
    }
    return true;
}

// Fixes the text again and returns the function's text then (a temporary).
aplarray *Refixed(uint16_t symbol, aplarray *text) {
    aplarray *again = DefineFunction(text);
    Require(again && again->eltype == APL_CHAR, "the canonical text does not fix again");
    APL_UnLinkTemp(again);
    aplarray *shown = FunctionLines(symbol);
    Require(shown != nullptr, "a fixed function cannot be shown");
    return shown;
}

void Run(uint16_t symbol) {
    const int kind = FunctionKind(symbol);
    FixedView view;
    if (!ReadFixedRecord(FixedRecord(symbol), view)) return;
    const bool niladic = (kind & 0x05) == 0x05;
    const int32_t values[3] = {1, 2, 3};
    aplarray *left = (view.flags & kRecordLeft) ? MakeIntVector(values, 3) : nullptr;
    aplarray *right = niladic ? nullptr : MakeInt(2);
    aplfnc plus = KAZ_Fn('+', PrimitiveFlags('+'), PrimitiveFunction('+'));
    aplop record{};
    record.left = plus;
    record.kind = (kind & APL_KIND_DYOP) ? APL_FN_DYOP : APL_FN_MONOP;
    if (kind & APL_KIND_DYOP) record.right = plus;
    aplfnc function = (kind & (APL_KIND_MONOP | APL_KIND_DYOP))
                          ? aplfnc{APL_FN_DERIVED | APL_FN_FUNCTION, &record, nullptr, 0}
                          : aplfnc{APL_FN_DEFINED | kind, nullptr, nullptr, symbol};
    if (function.flags & APL_FN_DERIVED) record.code = symbol;
    fuzz::InterruptAfter(20);
    aplarray *result = RunUserFunction(function, nullptr, left, right);
    fuzz::Disarm();
    APL_UnLinkTemp(result);
    aplerrno = 0;
    Require(stateIndicator.count == 0, "the state indicator keeps entries");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    APL_Callback(1, reinterpret_cast<void *>(&fuzz::Discard));
    APL_SetAllocationLimit(int64_t{256} << 20);  // huge shapes are WS FULL, not fuzzer memory
    RegisterBuiltins();
    // Primitives whose work is bounded by the size of their arguments, so that
    // only loops of lines and blocks can take long (and the interrupt ends them).
    const struct {
        uint8_t code;
        aplfunction function;
    } kBounded[] = {{'+', APL_Add},   {'-', APL_Sub},     {215, APL_Mul},  {247, APL_Division}, {'=', APL_Equal},
                    {'<', APL_Lower}, {'>', APL_Greater}, {133, APL_Jump}, {146, APL_Control},  {155, APL_Enclose}};
    for (const auto &p : kBounded) primitiveTables.functions[p.code] = p.function;
    InstallFunctionRunners();
    DestroySymbolTable();
    FreshWorkspace();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lenientFixing = size % 3 == 0;
    aplarray *lines = fuzz::InputLines(data, size, 64);
    aplarray *result = DefineFunction(lines);
    APL_UnLinkTemp(lines);
    Require(result && aplerrno == 0, "fixing leaves an error set");
    if (result->eltype == APL_CHAR) {
        const uint16_t symbol =
            LookupName(std::string_view(DataOf<const char>(result), static_cast<size_t>(result->number)));
        Require(IsUserFunction(symbol), "a fixed name is no function");
        // The canonical text fixes again, and after one round it stays the
        // same (a first rendering may still normalise constants).
        aplarray *first = FunctionLines(symbol);
        Require(first != nullptr, "a fixed function cannot be shown");
        aplarray *second = Refixed(symbol, first);
        aplarray *third = Refixed(symbol, second);
        Require(SameLines(second, third), "the canonical text changes");
        APL_UnLinkTemp(first);
        APL_UnLinkTemp(second);
        APL_UnLinkTemp(third);
        Run(symbol);
    }
    APL_UnLinkTemp(result);
    aplerrno = 0;
    lenientFixing = false;
    // Whatever the function left in the workspace goes with the table.
    FreshWorkspace();
    return 0;
}
