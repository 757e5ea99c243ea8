// The line evaluator where a transcript cannot look: the link counts of
// indexed assignment, errors inside control blocks (their carets fall past a
// transcript's margin), interrupts, assignment through the C interface,
// tracing and memory statistics. The rest is in evaluation.tr and input.tr.
#include "session_support.h"

#include "core/errors.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "system/register.h"

namespace {

std::string Apl(const std::string &utf8) { return A(utf8); }

using Evaluation = SessionTest;

TEST_F(Evaluation, IndexedAssignmentWorksInPlaceOnlyOnAnUnsharedValue) {
    Run(Apl("V←⍳5"));
    const uint16_t v = LookupName("V", 1);
    aplarray *before = APL_Variable(v);
    Run(Apl("V[2]←20"));
    EXPECT_EQ(APL_Variable(v), before) << "a value held once is changed in place";
    EXPECT_EQ(APL_Variable(v)->lnkcnt, 1);
    Run(Apl("W←V"));
    EXPECT_EQ(before->lnkcnt, 2);
    Run(Apl("W[1]←10"));
    const uint16_t w = LookupName("W", 1);
    EXPECT_NE(APL_Variable(w), before) << "a shared value is copied";
    EXPECT_EQ(before->lnkcnt, 1);
    EXPECT_EQ(Run(Apl("V ⋄ W")), "1 20 3 4 5\n10 20 3 4 5\n");
}

TEST_F(Evaluation, CaseBlockErrors) {
    EXPECT_EQ(Run(Apl("{1 2: ⎕←1 : ⎕←2}")).substr(0, 33), "LENGTH ERROR : In case statement\n");
    EXPECT_EQ(Run(Apl("{1.5: ⎕←1 : ⎕←2}")).substr(0, 33), "DOMAIN ERROR : In case statement\n");
    EXPECT_EQ(Run(Apl("{0: ⎕←1 : ⎕←2}")), "2\n");
}

TEST_F(Evaluation, ForLoopRestoresItsVariableAfterAnError) {
    Run(Apl("⍺I←'kept'"));
    EXPECT_EQ(Run(Apl("{⍺I←1 2 0 3: ⎕←6÷⍺I}")).rfind("6\n3\nDOMAIN ERROR\n{\xb8I\x84", 0), 0u);
    EXPECT_EQ(Run(Apl("⍺I")), "kept\n");
}

TEST_F(Evaluation, EndlessForLoopStopsOnInterrupt) {
    // A million times a million turns: endless for any practical purpose. The
    // flag goes up at the thousandth look at it, well inside the loops (each
    // turn's ⍳ looks once), whatever the speed of the machine.
    RaiseInterruptAtCheck(1000);
    const std::string out = Run(Apl("{⍺I←⍳1000000: {⍺J←⍳1000000: X←⍳⍺J}}"));
    RaiseInterruptAtCheck(0);
    EXPECT_EQ(out.substr(0, 16), "INTERRUPT ERROR\n");
    EXPECT_EQ(Run(Apl("1+1")), "2\n");
}

// A system function that does what a host's interrupt handler does: it raises
// the flag at its third call. ⎕FAIL raises it and then fails, so that no line
// that calls it ever succeeds.
int hostCalls = 0;
aplarray *Hit(aplarray *, aplarray *, aplarray *) {
    if (++hostCalls == 3) APL_interrupted = 1;
    return MakeInt(hostCalls);
}
aplarray *Fail(aplarray *, aplarray *, aplarray *) {
    ++hostCalls;
    APL_interrupted = 1;
    SetError(APL_ERR_DOMAIN);
    return nullptr;
}

TEST_F(Evaluation, AnInterruptStopsALoopBetweenLines) {
    hostCalls = 0;
    RegisterSystemFunction(Apl("⎕HIT").c_str(), 0x25, Hit, "FUNCTION(Hit)");
    Run(Apl("⎕FX 'LOOP' 'L: X←⎕HIT' '→L'"));
    EXPECT_EQ(RunLines({"LOOP", "X", ")RESET"}), Apl("INTERRUPT ERROR\nLOOP[1]\nL:X←⎕HIT\n3\n"));
}

TEST_F(Evaluation, AnInterruptReachesLinesThatAllFail) {
    RegisterSystemFunction(Apl("⎕FAIL").c_str(), 0x25, Fail, "FUNCTION(Fail)");
    // The alternate of EA calls EE again, which fails again: without a look
    // before each line this recursion runs on until the call limit.
    hostCalls = 0;
    Run(Apl("⎕FX 'EE' '''EE'' ⎕EA ''⎕FAIL'''"));
    // The failing texts come first, then the line that ran them, each marked.
    EXPECT_EQ(RunLines({"EE", ")RESET"}), Apl("INTERRUPT ERROR\n\x06⎕FAIL\nEE[1]\n'EE' \x06⎕EA '⎕FAIL'\n"));
    EXPECT_EQ(hostCalls, 1);
    // A function whose line fails under EA: the flag is seen before the
    // alternate, which does not run.
    hostCalls = 0;
    Run(Apl("⎕FX 'TWO' 'X←⎕FAIL' 'X←2'"));
    EXPECT_EQ(RunLines({Apl("'ALT←1' ⎕EA 'TWO'"), Apl("⎕NC 'ALT'")}), Apl("INTERRUPT ERROR\nTWO\n'ALT←1' \x06⎕EA 'TWO'\n0\n"));
    EXPECT_EQ(hostCalls, 1);
}

TEST_F(Evaluation, AssignThroughTheInterfaceIsCheckedAsInTheSession) {
    EXPECT_EQ(APL_Assign(sys_IO_idx, APL_Int(7)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    EXPECT_EQ(IndexOrigin(), 1);
    EXPECT_EQ(APL_Assign(sys_PP_idx, MakeChar('x')), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    EXPECT_EQ(PrintPrecision(), 6);
    EXPECT_EQ(APL_Assign(sys_ELIDE_idx, APL_Int(2)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    aplerrno = 0;
    // An accepted value is stored as the session would store it.
    aplarray *stored = APL_Assign(sys_PP_idx, APL_Int(17));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored, APL_Variable(sys_PP_idx));
    EXPECT_EQ(PrintPrecision(), 16);
    ASSERT_NE(APL_Assign(sys_MODE_idx, APL_Int(1)), nullptr);
    EXPECT_EQ(sessionMode & 0x0F, 1u);
    APL_Assign(sys_MODE_idx, APL_Int(0));
}

TEST_F(Evaluation, DebugSwitchesTraceArraysAndShowMemoryBeforeEachLine) {
    Run(")MODE DEBUG ARRAYS");
    EXPECT_NE(Run("1").find("ALLOCATING ARRAY #"), std::string::npos);
    // The switch lives in the mode word: the next cycle keeps it.
    EXPECT_NE(Run("2").find("ALLOCATING ARRAY #"), std::string::npos);
    EXPECT_EQ(Run(")MODE DEBUG ARRAYS"), "ARRAY DEBUGGING OFF\n");
    EXPECT_EQ(Run("3"), "3\n");
    EXPECT_NE(RunLines({")MODE DEBUG MEMORY", "1"}).find(" AC="), std::string::npos);
    Run(")MODE DEBUG MEMORY");
}


// WA is the room still left, read afresh each time: under the host's ceiling
// a million-element INTG array held takes its four million bytes from it.
TEST_F(Evaluation, WorkspaceAvailableIsTheRoomLeftUnderTheCeiling) {
    constexpr int64_t kCeiling = int64_t{256} << 20;
    APL_SetAllocationLimit(kCeiling);
    const double before = std::stod(Run(Apl("⎕WA")));
    Run(Apl("B←1E6⍴7"));
    const double held = std::stod(Run(Apl("⎕WA")));
    Run(Apl(")ERASE B"));
    const double after = std::stod(Run(Apl("⎕WA")));
    APL_SetAllocationLimit(0);
    EXPECT_GT(before, 0);
    EXPECT_LT(before, static_cast<double>(kCeiling));
    EXPECT_GE(before - held, 4e6);
    EXPECT_LT(before - held, 4.1e6);
    EXPECT_EQ(after, before);
}

}  // namespace
