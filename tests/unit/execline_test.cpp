// The line evaluator seen through the session: binding, strands, the stack
// limit, assignments and their errors, control blocks, interrupts, and the
// link counts of indexed assignment.
#include "session_support.h"

#include "core/errors.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"

#include <thread>

namespace {

std::string Apl(const std::string &utf8) { return A(utf8); }

using Evaluation = SessionTest;

TEST_F(Evaluation, RightToLeftWithStrandsAndParentheses) {
    EXPECT_EQ(Run(Apl("10-2-1")), "9\n");
    EXPECT_EQ(Run(Apl("2×3+4")), "14\n");
    EXPECT_EQ(Run(Apl("(2×3)+4")), "10\n");
    EXPECT_EQ(Run(Apl("A←1 2 ⋄ ⍴A 3")), "2\n");  // A and 3: two items
    EXPECT_EQ(Run(Apl("⍴A 3 4")), "3\n");        // a strand constant extends
    EXPECT_EQ(Run(Apl("⍴A (3 4)")), "2\n");      // a group stays one item
    EXPECT_EQ(Run(Apl("-⍳3")),
              "\xaf"
              "1 \xaf"
              "2 \xaf"
              "3\n");
}

TEST_F(Evaluation, NineWaitingItemsAreLimit) {
    // Operators without operands cannot reduce: they wait on the stack.
    EXPECT_EQ(Run(Apl("¨¨¨¨¨¨¨ 1")).substr(0, 13), "SYNTAX ERROR\n");
    EXPECT_EQ(Run(Apl("¨¨¨¨¨¨¨¨¨ 1")).substr(0, 12), "LIMIT ERROR\n");
    // Deep chains that do reduce are no problem.
    EXPECT_EQ(Run(Apl("- - - - - - - - - 1")),
              "\xaf"
              "1\n");
    EXPECT_EQ(Run(Apl("1-(1-(1-(1-(1-(1-(1-(1-(1-1))))))))")), "0\n");
}

TEST_F(Evaluation, AssignmentKeepsTheValueOffTheScreen) {
    EXPECT_EQ(Run(Apl("X←5")), "");
    EXPECT_EQ(Run(Apl("(X←6)")), "6\n");
    EXPECT_EQ(Run(Apl("Y←X←7 ⋄ Y X")), "7 7\n");
}

TEST_F(Evaluation, ErrorsOfAssignment) {
    EXPECT_EQ(Run(Apl("(P Q)←1 2 3")),
              "LENGTH ERROR : In vector assignment\n(P Q)\x06\x84"
              "1 2 3\n");
    EXPECT_EQ(Run(Apl("U[1]←3")).substr(0, 12), "VALUE ERROR\n");
    EXPECT_EQ(
        Run(Apl("S←⍳4 ⋄ (2+S)←1")).rfind("SYNTAX ERROR : Function '+' not allowed in selective specification\n", 0),
        0u);
    EXPECT_EQ(Run(Apl("(3)←1")).substr(0, 14), "SYNTAX ERROR :");
}

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
    std::thread interrupter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        APL_interrupted = 1;
    });
    // A million times a million turns: endless for any practical purpose.
    const std::string out = Run(Apl("{⍺I←⍳1000000: {⍺J←⍳1000000: X←⍺J}}"));
    interrupter.join();
    EXPECT_EQ(out.substr(0, 16), "INTERRUPT ERROR\n");
    EXPECT_EQ(Run(Apl("1+1")), "2\n");
}

TEST_F(Evaluation, BranchInTheSessionDoesNothingWithoutAFunction) {
    EXPECT_EQ(Run(Apl("→5")), "");
    EXPECT_EQ(Run(Apl("→")), "");
    EXPECT_EQ(Run(Apl("1 ⋄ →2 ⋄ 3")), "1\n3\n");
}

TEST_F(Evaluation, ExecuteAndQuadInput) {
    EXPECT_EQ(Run(Apl("⍎'2+3'")), "5\n");
    EXPECT_EQ(Run(Apl("⍎'Z←4'")), "");
    EXPECT_EQ(Run(Apl("Z")), "4\n");
    EXPECT_EQ(RunLines({Apl("X←⎕"), "1 2 3", "X"}), Apl("⎕: ") + "1 2 3\n");
    EXPECT_EQ(RunLines({Apl("Y←⍞"), "text", Apl("⍴Y")}), "4\n");
    EXPECT_EQ(Run(Apl("⍎1 2")).substr(0, 13), "DOMAIN ERROR\n");
}

TEST_F(Evaluation, SystemVariableChecksLeaveTheOldValue) {
    EXPECT_EQ(Run(Apl("⎕IO←3")),
              "DOMAIN ERROR : Allowed values : 0,1\n\x8cIO\x06\x84"
              "3\n");
    EXPECT_EQ(IndexOrigin(), 1);
    EXPECT_EQ(Run(Apl("⎕PP←17 ⋄ ⎕PP")), "16\n");
    EXPECT_EQ(Run(Apl("⎕CT←1E¯3 ⋄ ⎕CT←1E¯2")).substr(0, 48), "DOMAIN ERROR : Allowed values : 1e-13 ... 1e-03\n");
    EXPECT_DOUBLE_EQ(ComparisonTolerance(), 1e-3);
    EXPECT_EQ(Run(Apl("⎕MODE←1")), "");
    EXPECT_EQ(sessionMode & 0x0F, 1u);
    Run(Apl("⎕MODE←0"));
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

}  // namespace
