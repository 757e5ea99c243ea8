// The line evaluator where a transcript cannot look: the link counts of
// indexed assignment, errors inside control blocks (their carets fall past a
// transcript's margin), interrupts, assignment through the C interface, input
// from a terminal, tracing and memory statistics. The rest is in evaluation.tr.
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

TEST_F(Evaluation, ExecuteHandsBackTheValueItselfNotACopy) {
    // Execute, EA and TF of a name or an assignment give the variable's own
    // array: a copy was made of every such value, and failed after the
    // assignment on values nested too deep to copy.
    Run(Apl("V←⍳5"));
    aplarray *value = APL_Variable(LookupName("V", 1));
    aplarray *executed = APL_Execute(nullptr, nullptr, APL_String("V"));
    EXPECT_EQ(executed, value);
    EXPECT_EQ(value->lnkcnt, 1) << "the caller's link given up, the variable's kept";
    APL_UnLinkTemp(executed);
    aplarray *trapped = APL_ExecAlternate(nullptr, APL_String("0"), APL_String("V"));
    EXPECT_EQ(trapped, value);
    EXPECT_EQ(value->lnkcnt, 1);
    // The text is itself the value: the argument handed back keeps its links.
    Run(Apl("T←'T'"));
    aplarray *text = APL_Variable(LookupName("T", 1));
    EXPECT_EQ(APL_ExecAlternate(nullptr, APL_String("0"), text), text);
    EXPECT_EQ(text->lnkcnt, 1);
    EXPECT_EQ(APL_Execute(nullptr, nullptr, text), text);
    EXPECT_EQ(text->lnkcnt, 1);
    EXPECT_EQ(Run(Apl("V ⋄ T")), "1 2 3 4 5\nT\n");
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

// A terminal as the console host keeps it: the read callback hands back the
// text already on the line followed by what was typed.
class TerminalLine {
public:
    static void Write(const char *text, int32_t newLine) {
        CapturedOutput::Write(text, newLine);
        Shown() = newLine ? "" : Shown() + text;
        APL_cursor_pos = static_cast<int32_t>(Shown().size());
    }
    static void Read(char *buffer, int32_t mode) {
        // The closing OFF runs as in a script, which writes no session record.
        if (SessionLines::Lines().empty()) APL_SetScriptMode(1);
        SessionLines::Read(buffer, mode);
        const std::string line = Shown() + buffer;
        snprintf(buffer, APL_INPUT_BUFFER, "%s", line.c_str());
        Shown().clear();
        APL_cursor_pos = 0;
    }
    static std::string &Shown() {
        static std::string text;
        return text;
    }
};

TEST_F(Evaluation, EvaluatedInputIsTheTextAfterWhatTheSessionWrote) {
    APL_SetScriptMode(0);
    APL_Callback(1, reinterpret_cast<void *>(&TerminalLine::Write));
    APL_Callback(3, reinterpret_cast<void *>(&TerminalLine::Read));
    EXPECT_EQ(RunLines({Apl("⍞←'Value: ' ⋄ X←⎕"), "42", "X"}), Apl("Value: ⎕: ") + "42\n");
    APL_SetScriptMode(0);
    EXPECT_EQ(RunLines({Apl("⍞←'a:b' ⋄ X←⎕"), "'c:d'", "X"}), Apl("a:b⎕: ") + "c:d\n");
    APL_SetScriptMode(0);
    EXPECT_EQ(RunLines({Apl("X←⎕"), "1 2", "X"}), Apl("⎕: ") + "1 2\n");
    APL_SetScriptMode(1);
    APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
    APL_Callback(3, reinterpret_cast<void *>(&SessionLines::Read));
    APL_Init(0, "");  // drops the record of typed lines that a terminal session keeps
}

TEST_F(Evaluation, ArraysAndBlocksTracedUnderTheDebugSwitch) {
    Run(")MODE DEBUG ARRAYS");
    const std::string traced = Run("1");
    EXPECT_NE(traced.find("ALLOCATING ARRAY #"), std::string::npos);
    // The switch lives in the mode word: the next cycle keeps it.
    EXPECT_NE(Run("2").find("ALLOCATING ARRAY #"), std::string::npos);
    EXPECT_EQ(Run(")MODE DEBUG ARRAYS"), "ARRAY DEBUGGING OFF\n");
    EXPECT_EQ(Run("3"), "3\n");
}

TEST_F(Evaluation, MemoryStatisticsBeforeEachLine) {
    const std::string on = RunLines({")MODE DEBUG MEMORY", "1"});
    EXPECT_NE(on.find("BC="), std::string::npos);
    EXPECT_NE(on.find(" AC="), std::string::npos);
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
