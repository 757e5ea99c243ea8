// The runtime interface of compiled code: strands, assignment, localised
// names, function descriptors and APL_Evaluate.
#include "support.h"

#include "core/cover.h"
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
// Every strand is a temporary vector marked APL_STRAND.
std::string Strand(aplarray *a) {
    EXPECT_TRUE(!a || (a->rank == 1 && (a->type & APL_STRAND) && a->lnkcnt == 0)) << Describe(a);
    return Take(a);
}
aplarray *Pair(aplarray *a, aplarray *b) { return APL_CatArray(a, b, 0, 0); }

using Strands = Cover;

TEST_F(Strands, ItemsJoinAsValuesOrAsWholeItems) {
    EXPECT_EQ(Strand(Pair(APL_Int(1), APL_Int(2))), "I[1 2]");
    EXPECT_EQ(Strand(Pair(MakeChar('a'), MakeChar('b'))), "C[ab]");
    EXPECT_EQ(Strand(Pair(APL_Int(1), MakeReal(2.5))), "R[1 2.5]");
    EXPECT_EQ(Strand(Pair(APL_Int(1), MakeChar('a'))), "(I1 Ca)");
    EXPECT_EQ(Strand(Pair(APL_Int(0), Ints({1, 2}))), "(I0 I[1 2])");
    EXPECT_EQ(Strand(APL_CatArray(APL_Int(0), Ints({1, 2}), 0, 1)), "I[0 1 2]");
    EXPECT_EQ(Strand(APL_CatArray(Ints({0}), Pair(Ints({1}), APL_Int(2)), 0, 1)), "(I[0] I[1] I2)");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(1), APL_Int(2)), APL_Int(3), 1, 0)), "I[1 2 3]");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(1), APL_Int(2)), MakeChar('x'), 1, 0)), "(I1 I2 Cx)");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(1), APL_Int(2)), Ints({3, 4}), 1, 0)), "(I1 I2 I[3 4])");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(1), APL_Int(2)), Ints({3, 4}), 1, 1)), "I[1 2 3 4]");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(1), APL_Int(2)), Pair(Ints({3}), Ints({4})), 1, 1)),
              "(I1 I2 I[3] I[4])");
}

// An enclosed item stays enclosed whatever it is joined with: B B like B 5.
TEST_F(Strands, EnclosedItemsKeepTheirLinksAndTheirEnclosure) {
    aplarray *b = APL_Link(APL_Create(0, APL_NESTED, nullptr));
    ItemsOf(b)[0] = APL_Link(Ints({1, 2}));
    EXPECT_EQ(Strand(Pair(b, b)), "(<I[1 2]> <I[1 2]>)");
    EXPECT_EQ(Strand(Pair(b, APL_Int(5))), "(<I[1 2]> I5)");
    EXPECT_EQ(Strand(APL_CatArray(Pair(APL_Int(5), APL_Int(6)), b, 1, 0)), "(I5 I6 <I[1 2]>)");
    aplarray *strand = Pair(b, Ints({7}));
    EXPECT_EQ(ItemsOf(strand)[0], b);
    EXPECT_EQ(b->lnkcnt, 2);
    APL_UnLinkTemp(strand);
    EXPECT_EQ(b->lnkcnt, 1);
    APL_UnLink(b);
}

TEST_F(Strands, ErrorsReleaseBothArguments) {
    aplerrno = APL_ERR_DOMAIN;
    EXPECT_EQ(Strand(Pair(Ints({1}), APL_Int(2))), "null");
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    EXPECT_EQ(Strand(Pair(Ints({1}), Marked(APL_Int(2)))), "null");
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    aplerrno = 0;
    EXPECT_EQ(Strand(APL_CatArray(Ints({1}), nullptr, 1, 0)), "null");
    EXPECT_EQ(aplerrno, APL_ERR_VALUE);
}

using Assignment = Cover;

TEST_F(Assignment, NameOwnsTheNewValueAndReleasesTheOld) {
    const uint16_t x = Name("X");
    aplarray *first = APL_Assign(x, Ints({1, 2}));
    EXPECT_EQ(APL_Variable(x), first);
    EXPECT_EQ(first->lnkcnt, 1);
    EXPECT_EQ(APL_Assign(x, APL_Variable(x)), first);  // X←X
    EXPECT_EQ(first->lnkcnt, 1);
    const int32_t blocks = LiveBlocks();
    aplarray *second = APL_Assign(x, APL_Int(3));
    EXPECT_EQ(LiveBlocks(), blocks);  // the first value went
    EXPECT_EQ(APL_Copy(second), second);
    EXPECT_EQ(second->lnkcnt, 2);
    APL_UnLink(second);
    APL_Assign(sys_PW_idx, APL_Int(100));
    EXPECT_EQ(PrintWidth(), 100);
    // Refused: a label, an unknown index, no value. The value is released.
    Symbol(x).kind = APL_KIND_VARIABLE | APL_KIND_LABELBIT;
    EXPECT_EQ(APL_Assign(x, Ints({1})), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYNTAX);
    aplerrno = 0;
    EXPECT_EQ(APL_Assign(APL_symtab.count, Ints({1})), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_SYSTEM);
    aplerrno = 0;
    EXPECT_EQ(APL_Assign(x, nullptr), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_VALUE);
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
