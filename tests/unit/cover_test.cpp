// The runtime interface of compiled code: localised names, function
// descriptors and APL_Evaluate (strands and assignment show in the session
// transcripts and the compiler's end-to-end cases).
#include "support.h"

#include "core/cover.h"
#include "core/glyphs.h"
#include "core/primitives.h"
#include "core/symtab.h"

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Cover = WorkspaceTest;

uint16_t Name(const char *name) {
    return APL_AddSymbol(name, static_cast<int32_t>(strlen(name)), APL_KIND_VARIABLE, KAZ_InitSimple(nullptr));
}
aplarray *Ints(std::vector<int32_t> v) { return MakeIntVector(v.data(), static_cast<int32_t>(v.size())); }
aplarray *Marked(aplarray *a) {
    a->type |= APL_INDEXPOS;
    return a;
}

// A picture of an array: I1, R2.5, Ca, I[1 2], C[ab], (items), <enclosed>.
std::string Describe(const aplarray *a) {
    std::ostringstream out;
    if (IsNested(a)) {
        out << (a->rank ? "(" : "<");
        for (int32_t i = 0; i < a->number; ++i) out << (i ? " " : "") << Describe(ItemsOf(a)[i]);
        out << (a->rank ? ")" : ">");
        return out.str();
    }
    out << (a->eltype == APL_CHAR ? "C" : a->eltype == APL_REAL ? "R" : "I") << (a->rank ? "[" : "");
    for (int32_t i = 0; i < a->number; ++i) {
        if (a->eltype == APL_CHAR)
            out << DataOf<const char>(a)[i];
        else
            out << (i ? " " : "") << (a->eltype == APL_REAL ? DataOf<const double>(a)[i] : DataOf<const int32_t>(a)[i]);
    }
    out << (a->rank ? "]" : "");
    return out.str();
}

// Describes and releases a result.
std::string Take(aplarray *a) {
    const std::string text = a ? Describe(a) : "null";
    APL_UnLinkTemp(a);
    return text;
}
using LocalNames = Cover;

TEST_F(LocalNames, FrameLeavesTheTableExactlyAsItWas) {
    const uint16_t x = Name("X"), r = Name("R"), z = Name("Z"), lab = Name("LAB");
    aplarray *global = APL_Assign(x, Ints({1, 2}));
    aplarray *constant = APL_Variable(sys_FC_idx);
    const std::vector<aplsymbol> before(APL_symtab.entries, APL_symtab.entries + APL_symtab.count);
    const int32_t blocks = LiveBlocks();
    aplsymbol save[6];
    EXPECT_EQ(KAZ_InitArg(save + 0, r, Ints({5})), 1);
    KAZ_InitVar(save + 1, x);
    KAZ_InitVar(save + 2, sys_IO_idx);
    KAZ_InitLabel(save + 3, lab, constant);
    EXPECT_EQ(KAZ_InitArg(save + 4, z, nullptr), 0);
    KAZ_InitVar(save + 5, x);  // a recursive call localises X again
    KAZ_ResumeVar(save + 5, x);
    EXPECT_EQ(APL_Variable(x), nullptr);
    EXPECT_EQ(APL_Variable(r)->lnkcnt, 1);
    EXPECT_EQ(APL_Variable(sys_IO_idx)->lnkcnt, 2);  // local IO starts with the global value
    EXPECT_EQ(Symbol(lab).kind, 3);
    EXPECT_EQ(APL_Variable(lab), constant);
    APL_Assign(x, Ints({3}));
    APL_Assign(r, Ints({4}));
    APL_Assign(sys_IO_idx, APL_Int(0));
    KAZ_ResumeArg(save + 4, z, nullptr);
    KAZ_ResumeLabel(save + 3, lab);
    KAZ_ResumeVar(save + 2, sys_IO_idx);
    KAZ_ResumeVar(save + 1, x);
    KAZ_ResumeArg(save + 0, r, nullptr);
    EXPECT_EQ(memcmp(before.data(), APL_symtab.entries, before.size() * sizeof(aplsymbol)), 0);
    EXPECT_EQ(LiveBlocks(), blocks);
    EXPECT_EQ(global->lnkcnt, 1);
    // A bad index consumes the argument; its save area restores nothing, even
    // when the index has come to name an entry.
    aplsymbol bad;
    KAZ_InitArg(&bad, APL_symtab.count, Ints({3}));
    EXPECT_EQ(aplerrno, APL_ERR_SYSTEM);
    KAZ_ResumeArg(&bad, Name("NEW"), nullptr);
    EXPECT_STREQ(SymbolName(APL_symtab.count - 1), "NEW");
    EXPECT_EQ(memcmp(before.data(), APL_symtab.entries, before.size() * sizeof(aplsymbol)), 0);
}

// ---- Descriptors and APL_Evaluate ---------------------------------------------------------

std::vector<int64_t> nativeAxes, operatorAxes;  // each call's axis value, -1 for none
aplfnc *lastOperand, *lastSecond;

int64_t AxisValue(aplarray *axis) { return axis ? *DataOf<int32_t>(axis) : -1; }

// A native function: consumes temporaries, returns 42.
aplarray *Native(aplarray *axis, aplarray *left, aplarray *right) {
    nativeAxes.push_back(AxisValue(axis));
    for (aplarray *a : {axis, left, right}) APL_UnLinkTemp(a);
    return APL_Int(42);
}

// An operator that applies its operand twice to its right argument.
aplarray *Twice(aplarray *axis, aplarray *, aplfnc *operand, aplarray *operandAxis, aplfnc *second, aplarray *,
                aplarray *right) {
    operatorAxes.push_back(AxisValue(axis));
    lastOperand = operand;
    lastSecond = second;
    aplarray *held = APL_Link(right);
    APL_UnLinkTemp(APL_Evaluate(operand, operandAxis, nullptr, held));
    aplarray *result = APL_Evaluate(operand, operandAxis, nullptr, held);
    APL_UnLink(held);
    APL_UnLinkTemp(axis);
    return result;
}

using Descriptors = Cover;

TEST_F(Descriptors, NativeAndPrimitiveDescriptors) {
    static_assert(sizeof(aplfnc) == 4 * sizeof(void *));
    aplfnc native = KAZ_CFn(Native);
    EXPECT_EQ(native.flags, 0);
    EXPECT_EQ(Take(APL_Evaluate(&native, APL_Int(6), nullptr, Ints({1}), nullptr)), "I42");
    EXPECT_EQ(nativeAxes.back(), 6);
    // Only the monadic form of this primitive may select.
    aplfnc primitive = KAZ_Fn(0x101, APL_FN_FUNCTION | APL_FN_SELECT1, Native);
    EXPECT_EQ(primitive.flags, APL_FN_FUNCTION | APL_FN_SELECT1 | APL_FN_PRIMITIVE);
    EXPECT_EQ(primitive.code, 1);
    EXPECT_EQ(APL_Evaluate(&primitive, nullptr, APL_Int(1), Marked(Ints({1}))), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    EXPECT_STREQ(APL_error_message, "Function '\x01' not allowed in selective specification");
    aplerrno = 0;
    EXPECT_EQ(APL_Evaluate(&primitive, nullptr, nullptr, Marked(Ints({1}))), nullptr);
    EXPECT_STREQ(APL_error_message, "primitive Function not implemented !");
    aplerrno = 0;
    aplfnc defined{APL_FN_DEFINED, nullptr, nullptr, 0};
    aplarray *same = Ints({2});
    EXPECT_EQ(APL_Evaluate(&defined, nullptr, same, same), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYSTEM);
}

TEST_F(Descriptors, DerivedFunctionGetsTheRecordsOperandsAndAxis) {
    aplfnc derived;
    aplop record;
    KAZ_DyOp(&derived, &record, Twice, APL_Int(2), KAZ_CFn(Native), APL_Int(3), KAZ_Fn('+', 4, Native), nullptr);
    EXPECT_EQ(derived.flags, APL_FN_DERIVED);
    EXPECT_EQ(record.kind, APL_FN_DYOP);
    nativeAxes.clear();
    operatorAxes.clear();
    EXPECT_EQ(Take(APL_Evaluate(&derived, nullptr, nullptr, Ints({5}))), "I42");
    EXPECT_EQ(lastOperand, &record.left);
    EXPECT_EQ(lastSecond->code, '+');
    EXPECT_EQ(operatorAxes, std::vector<int64_t>{2});
    EXPECT_EQ(nativeAxes, (std::vector<int64_t>{3, 3}));
    KAZ_MonOp(&derived, &record, Twice, nullptr, KAZ_CFn(Native), nullptr);
    APL_UnLinkTemp(APL_Evaluate(&derived, nullptr, nullptr, Ints({1})));
    EXPECT_EQ(lastSecond->flags, 0);  // a monadic operator's empty second operand
}

// A compiled function (a native descriptor, flags 0) is an operand like any
// other: the outer product with it is not taken for a missing operand.
TEST_F(Descriptors, NativeFunctionIsTheSecondOperandOfAProduct) {
    aplfnc derived;
    aplop record;
    KAZ_DyOp(&derived, &record, APL_InnerProduct, nullptr, KAZ_Fn(glyph::kJot, PrimitiveFlags(glyph::kJot), APL_Jot),
             nullptr, KAZ_CFn(Native), nullptr);
    EXPECT_EQ(Take(APL_Evaluate(&derived, nullptr, Ints({1, 2}), Ints({3}))), "I[42 42]");
    EXPECT_EQ(aplerrno, 0);
}

// A derived operand runs once per use: its temporary axes live through all
// of them and go when the outermost evaluation ends.
TEST_F(Descriptors, AxesOfOperandRecordsLiveThroughRepeatedCalls) {
    aplfnc inner, outer;
    aplop innerRecord, outerRecord;
    KAZ_MonOp(&outer, &outerRecord, Twice, nullptr,
              *KAZ_MonOp(&inner, &innerRecord, Twice, APL_Int(9), KAZ_CFn(Native), APL_Int(8)), nullptr);
    nativeAxes.clear();
    operatorAxes.clear();
    APL_UnLinkTemp(APL_Evaluate(&outer, nullptr, nullptr, Ints({1})));
    EXPECT_EQ(nativeAxes, (std::vector<int64_t>{8, 8, 8, 8}));
    EXPECT_EQ(operatorAxes, (std::vector<int64_t>{-1, 9, 9}));
    EXPECT_EQ(innerRecord.axis, nullptr);
    outerRecord.kind |= APL_FN_PRIMITIVE;  // an unregistered primitive operator
    outerRecord.code = 1;
    EXPECT_EQ(APL_Evaluate(&outer, APL_Int(1), nullptr, Ints({1})), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYSTEM);
}

}  // namespace
