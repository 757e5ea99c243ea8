// Compiled statement lines against the general walk: the same statement from
// the same state leaves the same output, error, error position and values,
// whether it runs through its plan (first run and again) or through the walk;
// and defined functions, whose lines run with labels, branches and locals,
// give the same with plans on and off.
#include "session_support.h"
#include "testos.h"

#include "core/errors.h"
#include "interpreter/execline.h"
#include "interpreter/lineplan.h"
#include "interpreter/tokenizer.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Outcome {
    std::string output;
    int32_t error = 0;
    std::string message;
    ptrdiff_t at = -1;  // error position from the line's left marker
    std::string values;

    bool operator==(const Outcome &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Outcome &o) {
    return out << "output [" << o.output << "] error " << o.error << " [" << o.message << "] at " << o.at << " values ["
               << o.values << "]";
}

enum class Path { Walk, Plan };

class CompiledLines : public SessionTest {
protected:
    // Sets the variables up, runs `statement` once by the given path (the
    // plan path runs it twice from the same state: compiled, then cached) and
    // reads the variables back.
    Outcome Evaluate(const std::string &statement, Path path) {
        Outcome outcome;
        for (int run = 0; run < (path == Path::Plan ? 2 : 1); ++run) {
            Run(A("A←3 ⋄ B←1 2 3 ⋄ I←5 ⋄ R←2.5 ⋄ X←⍳0 ⋄ C←'abc' ⋄ ⎕EX 'U' ⋄ ⎕FX 'Z←F' 'Z←1'"));
            Run(A("⎕FX 'Z←SQ Y' 'Z←Y×Y' ⋄ ⎕FX 'Z←L PLUS Y' 'Z←L+Y' ⋄ ⎕FX 'NONE Y' 'A←Y'"));
            const std::string text = A(statement);
            StoredLine line;
            if (!TokenizeSourceLine(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()),
                                    kTokDiamonds, line)) {
                ADD_FAILURE() << "does not tokenize: " << statement;
                return outcome;
            }
            CapturedOutput::Take();
            aplerrno = 0;
            APL_error_message[0] = 0;
            ClearErrorPositions();
            if (path == Path::Plan) {
                EvaluateStatementLine(line, CurrentPool());
            } else {
                EvalResult result;
                EvaluateLine(line.last, kEvalStatement, result, CurrentPool());
                APL_UnLinkTemp(result.value);
            }
            outcome.output = CapturedOutput::Take();
            outcome.error = aplerrno;
            outcome.message = APL_error_message;
            outcome.at = errorPositions.evaluator ? errorPositions.evaluator - line.begin : -1;
            aplerrno = 0;
            APL_error_message[0] = 0;
            outcome.values = Run(A("A ⋄ B ⋄ I ⋄ R ⋄ X ⋄ C"));
        }
        return outcome;
    }

    void ExpectSame(const std::string &statement) {
        EXPECT_EQ(Evaluate(statement, Path::Plan), Evaluate(statement, Path::Walk)) << statement;
    }
};

TEST_F(CompiledLines, ValuesAndDisplayAreThoseOfTheWalk) {
    for (const char *statement :
         {"I←I+1",       "I←1+I",     "I←I+I", "A←I←I+1", "(I←I+1)", "((I←I-1))", "I+1",   "B+I",   "A←B×2", "X←A,B",
          "X←X,X",       "B←⌽B",      "-B",    "⍴B",      "⍳I",      "2 3⍴I",     "B<A",   "A-B-I", "R←R×2", "I←R+I",
          "(X←5)+X←B+1", "A←(I<A)⍴7", "I←I=I", "C←⌽C",    "⍴⍴C",     "L: I←I×2",  "A←2*A", "R←R÷2", "~B∊2"})
        ExpectSame(statement);
    // Diamonds, indexing, appends and calls of defined functions.
    for (const char *statement : {"I←I+1 ⋄ A←I×2", "A ⋄ B ⋄ I←A+I", "L: A←1 ⋄ L2: B←A,A",
                                  "B[2]",          "C[A]",          "B[I-3]←7",
                                  "A←B[1]←5",      "(B[1]←9)",      "B[B]",
                                  "B[,2]←4",       "R←B[2]+B[3]×I", "X←X,I",
                                  "X←X,X",         "C←C,'de'",      "B←B,R",
                                  "X←B,X",         "B[1]←R",        "B[2]←'a'",
                                  "A←SQ I",        "I←SQ SQ A",     "A PLUS I",
                                  "B←B PLUS SQ 2", "NONE 4",        "X←X,⊂B",
                                  "I←(SQ 2)+SQ A", "B[1+3|I]←R",    "B[1+3|R×2]←I",
                                  "C[1+2|I]←'z'",  "A←B[1+3|I+1]",  "A←C[1+2|R]",
                                  "R←3|R",         "I←¯3|I",        "A←2.5|I"})
        ExpectSame(statement);
}

TEST_F(CompiledLines, ErrorsArePlacedAsTheWalkPlacesThem) {
    for (const char *statement :
         {"I÷0", "A←I÷0", "1 2+B", "U+1", "I+U", "X←A+U←1", "C+1", "I←C+1", "B←B÷0", "2 3⍴U", "(1 2)⍴⍳0", "A←1 2 3⍴0",
          "L: I÷0", "R←R*1000", "F←I+1", "A←F←1", "⎕IO←I+1", "I←⎕IO←I+1"})
        ExpectSame(statement);
    for (const char *statement : {"A←1 ⋄ I÷0", "I÷0 ⋄ A←1", "B[4]←1", "B[0]", "U[1]←2", "B[1.5]", "C[1]←1", "X←X,U",
                                  "A←NONE 1", "SQ", "B[1;2]←3", "A[1]", "SQ←1", "B[4+3|I]←1", "B[0.5+3|I]←1",
                                  "B[1+3|U]←1", "I←0|U", "B[1+3|I]←U"})
        ExpectSame(statement);
}

TEST_F(CompiledLines, BranchesInTheSessionAreThoseOfTheWalk) {
    for (const char *statement :
         {"→(I<A)⍴3", "→(I>A)⍴3", "→(A<I)⍴3 4", "→I", "→⍳0", "→'a'", "→(I>A)⍴R", "→2⍴I", "→(I<A)/3", "→(I>A)/3",
          "→(A<I)/3 4", "→3×⍳I>A", "→3×⍳I<A", "→B×⍳I>A", "→A×⍳B", "→(1 0 1)/B", "A←1 ⋄ →I"})
        ExpectSame(statement);
}

// A session run with plans on and with plans off: what it printed, the
// globals it left, and how many lines took a plan.
struct SessionRun {
    std::string output;
    std::string values;
    int64_t planned = 0;
};

class CompiledLinesInFunctions : public SessionTest {
protected:
    void TearDown() override {
        SetLinePlans(true);
        SessionTest::TearDown();
    }

    // Defines the functions (each a ⎕FX argument), sets the globals, runs the
    // calls (one by one, or as one input when a suspended function must read
    // the lines after its error) and clears what an error left suspended.
    SessionRun Session(const std::vector<std::string> &functions, const std::vector<std::string> &calls, bool plans,
                       bool oneInput = false) {
        SetLinePlans(plans);
        Run(")CLEAR");
        std::vector<std::string> setup = {"A←3 ⋄ I←100 ⋄ S←'global' ⋄ N←4"};
        for (const std::string &function : functions) setup.push_back("⎕FX " + function);
        for (std::string &line : setup) line = A(line);
        RunLines(setup);
        SessionRun run;
        const int64_t before = LinePlanRuns();
        if (oneInput) {
            std::vector<std::string> lines;
            for (const std::string &call : calls) lines.push_back(A(call));
            run.output = RunLines(lines);
        } else {
            for (const std::string &call : calls) run.output += Run(A(call));
        }
        run.planned = LinePlanRuns() - before;
        run.values = Run(A("A ⋄ I ⋄ S ⋄ N"));
        Run(")SIC");
        SetLinePlans(true);
        return run;
    }

    // The calls give the same with plans as without, and plans took some of
    // their lines (else the comparison would be of the walk with itself).
    void ExpectSame(const std::vector<std::string> &functions, const std::vector<std::string> &calls,
                    bool oneInput = false) {
        const SessionRun walked = Session(functions, calls, false, oneInput);
        const SessionRun planned = Session(functions, calls, true, oneInput);
        EXPECT_EQ(walked.planned, 0);
        EXPECT_GT(planned.planned, 0) << calls.front();
        EXPECT_EQ(planned.output, walked.output) << calls.front();
        EXPECT_EQ(planned.values, walked.values) << calls.front();
    }
};

TEST_F(CompiledLinesInFunctions, LoopsWithLabelsBranchesAndLocals) {
    // Locals that shadow globals, counted in place; a label read as a value
    // and branched to; the conditional branch taken and not.
    ExpectSame({"'Z←SUM N;I;S' 'I←0' 'S←0' 'L: I←I+1' 'S←S+I×I' '→(I<N)⍴L' 'Z←S'"}, {"SUM 5", "SUM 1", "SUM N"});
    ExpectSame({"'Z←COUNT X;A' 'A←0' 'TOP: →(X≤0)⍴END' 'X←X-1' 'A←A+2' '→TOP' 'END: Z←A,X,I'"},
               {"COUNT 3", "COUNT 0", "COUNT ¯1", "I←COUNT 2"});
    // The branch to 0 and to an empty vector; a result left unset; a value shown.
    ExpectSame({"'Z←STEP X' 'Z←X×2' '→(X>5)⍴0' 'Z←Z+1' '→⍳0' 'Z-1'", "'NORESULT;A' 'A←5' '→0'"},
               {"STEP 3", "STEP 7", "NORESULT", "Z←NORESULT"});
}

TEST_F(CompiledLinesInFunctions, BranchFormsDiamondsIndexingAndAppends) {
    // Compress and ⍳ branches, with ⎕IO 0 as a local; diamonds with a label
    // and a branch that ends the line; elements stored and vectors grown in
    // place, and values shared with another name left as they were.
    ExpectSame({"'Z←LOOP N;I;R' 'I←R←0' 'L:R←R+I ⋄ I←I+1' '→(I<N)/L' 'Z←R'",
                "'Z←IOTA N;I;⎕IO' 'I←0 ⋄ ⎕IO←N' 'L:I←I+1' '→L×⍳I<3' 'Z←I'",
                "'Z←EARLY N;A' 'A←0' 'L:A←A+1 ⋄ →(A<N)⍴L ⋄ A←A×100' 'Z←A'"},
               {"LOOP 5", "LOOP 0", "IOTA 1", "IOTA 0", "EARLY 3", "EARLY 0"});
    ExpectSame({"'Z←FILL N;I;V;W' 'I←0 ⋄ V←N⍴0 ⋄ W←V' 'L:V[1+I]←I×2.5 ⋄ I←I+1' '→(I<N)⍴L' 'Z←V,W,V[N]'",
                "'Z←GROW N;I;R;S' 'R←⍳I←0' 'L:R←R,I ⋄ →(I=2)⍴K ⋄ S←R' 'K:I←I+1' '→(I<N)⍴L' 'Z←R,S,⍴R'",
                "'Z←TEXT N;R' 'R←''''' 'L:R←R,''ab'' ⋄ N←N-1' '→(N>0)⍴L' 'Z←R'"},
               {"FILL 4", "FILL 1", "GROW 40", "GROW 1", "TEXT 3", "FILL 0"});
}

TEST_F(CompiledLinesInFunctions, CallsOfDefinedFunctions) {
    // Arguments, locals and results through calls in lines; a function
    // redefined as a variable between runs of a line, and a variable as a
    // function; a call that erases a name its line reads after it.
    ExpectSame({"'Z←FIB N' '→(N<2)/E' 'Z←(FIB N-1)+FIB N-2' '→0' 'E:Z←N'", "'Z←L SUM2 R;T' 'T←L+R' 'Z←T×A'",
                "'Z←USE N;Q;I' 'I←0' 'L:Q←I SUM2 FIB I ⋄ I←I+1' '→(I<N)⍴L' 'Z←Q'"},
               {"FIB 10", "FIB 1", "USE 6", "2 SUM2 3", "FIB ¯1", "FIB 'a'"});
    ExpectSame({"'Z←SQ X' 'Z←X×X'", "'Z←RUN N' 'Z←SQ N'", "'Z←ERASE X' '⎕EX ''A''' 'Z←X'", "'Z←TWICE X' 'Z←G+X'"},
               {"RUN 3", "⎕EX 'SQ'", "SQ←7", "RUN 3", "⎕EX 'SQ'", "⎕FX 'Z←SQ X' 'Z←X+X'", "RUN 3", "I←A+ERASE 2", "A←4",
                "I←ERASE A", "G←1", "TWICE 2", "⎕EX 'G'", "⎕FX 'Z←G Y' 'Z←Y×10'", "TWICE 2", "TWICE 3"});
}

TEST_F(CompiledLinesInFunctions, RecursionAndLocalsOfCallers) {
    // Each level's locals are its own; a callee reads and writes its caller's.
    ExpectSame({"'Z←FACT N' '→(N>1)⍴REC' 'Z←1' '→0' 'REC: Z←N×FACT N-1'"}, {"FACT 5", "FACT 1"});
    ExpectSame({"'Z←OUTER;A;I' 'A←10' 'I←0' 'INNER' 'INNER' 'Z←A,I'", "'INNER' 'A←A+1' 'I←I+A'"},
               {"OUTER", "INNER", "A,I"});
}

TEST_F(CompiledLinesInFunctions, ErrorsInsideFunctionsAreReportedAlike) {
    // The error, its line and caret; a local left as the failing line found it.
    ExpectSame({"'Z←DIV X;A' 'A←X' 'Z←A÷X-X' 'Z←0'"}, {"DIV 2", "A"});
    ExpectSame({"'Z←BAD X' 'Z←X' 'Z←Z+U' 'Z←Z,0'"}, {"BAD 1"});
    ExpectSame({"'Z←JUMP X' 'L: Z←X' '→(X>0)⍴''a'''"}, {"JUMP 1", "JUMP 0"});
    // Assigned: a label (refused), a local, a global shared with another
    // name, a name never used before.
    ExpectSame({"'Z←SET X;T' 'T←X+1' 'Z←T' 'S←Z+1' 'NEW←S' 'I←A' 'A←I+1' 'L: Z←S' 'L←Z'"},
               {"SET 1", "NEW", "A,I", "SET 2"});
}

TEST_F(CompiledLinesInFunctions, SuspensionLineCountsAndTheCallLimit) {
    // An error two calls down is reported with its caret and suspends; the
    // state indicator and the line counts show both calls, and a branch
    // resumes the inner one. Recursion without end stops at the call limit
    // with an error, the deepest call's local shown.
    ExpectSame({"'Z←OUT X' 'Z←1+IN X'", "'Z←IN X' 'Z←X÷0'", "'Z←DEEP N' 'Z←DEEP N+1'",
                "'Z←LC N' '→(N=0)⍴E' 'Z←LC N-1' '→0' 'E:Z←⎕LC'"},
               {"OUT 2", ")SI", "⎕LC", "X←0", "→1", ")SI", "LC 3", "DEEP 1", "N", ")SIC", "N"}, true);
}

TEST_F(CompiledLinesInFunctions, RecordsAndPlansRememberedOrNot) {
    // A function fixed again by its own line runs on from its old record,
    // and the next call takes the new one.
    ExpectSame({"'Z←SELF N' '⎕FX ''Z←SELF N'' ''Z←N×100''' 'Z←N+1'"}, {"SELF 1", "SELF 1"});
    // More lines than the plans remembered, and a chain of calls through
    // more records than the calls remember, each still on the state
    // indicator while the next runs: every line and record found again.
    std::string many = "'Z←MANY N'";
    for (int line = 1; line <= 80; ++line) many += " 'N←N+" + std::to_string(line) + "'";
    many += " 'Z←N'";
    std::vector<std::string> chain;
    for (int f = 1; f <= 24; ++f)
        chain.push_back("'Z←C" + std::to_string(f) + " N' 'Z←" + (f < 24 ? "C" + std::to_string(f + 1) + " N+1" : "N") +
                        "' 'Z←Z+1'");
    chain.push_back(many);
    ExpectSame(chain, {"MANY 0", "C1 0", "MANY C1 1", "C12 MANY 5", "C1 MANY 0"});
}

TEST_F(CompiledLinesInFunctions, TheSwitchIsReadFromTheEnvironmentAtStart) {
    ASSERT_TRUE(testos::SetEnv("ORBAX_PLANS", "0"));
    APL_Init(0, "");
    EXPECT_FALSE(LinePlansOn());
    int64_t before = LinePlanRuns();
    Run(A("I←1 ⋄ I←I+1"));
    Run(A("I←I+1"));
    EXPECT_EQ(LinePlanRuns(), before);
    EXPECT_EQ(Run(A("I")), "3\n");
    ASSERT_TRUE(testos::UnsetEnv("ORBAX_PLANS"));
    APL_Init(0, "");  // a new session: a clear workspace, plans on
    Run(A("I←1"));
    before = LinePlanRuns();
    Run(A("I←I+1"));
    EXPECT_EQ(LinePlanRuns(), before + 1);
    EXPECT_EQ(Run(A("I")), "2\n");
}

}  // namespace
