// Compiled statement lines against the general walk: the same statement from
// the same state leaves the same output, error, error position and values,
// whether it runs through its plan (first run and again) or through the walk.
#include "session_support.h"

#include "core/errors.h"
#include "interpreter/execline.h"
#include "interpreter/tokenizer.h"

#include <string>

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
}

TEST_F(CompiledLines, ErrorsArePlacedAsTheWalkPlacesThem) {
    for (const char *statement :
         {"I÷0", "A←I÷0", "1 2+B", "U+1", "I+U", "X←A+U←1", "C+1", "I←C+1", "B←B÷0", "2 3⍴U", "(1 2)⍴⍳0", "A←1 2 3⍴0",
          "L: I÷0", "R←R*1000", "F←I+1", "A←F←1", "⎕IO←I+1", "I←⎕IO←I+1"})
        ExpectSame(statement);
}

TEST_F(CompiledLines, BranchesInTheSessionAreThoseOfTheWalk) {
    for (const char *statement : {"→(I<A)⍴3", "→(I>A)⍴3", "→(A<I)⍴3 4", "→I", "→⍳0", "→'a'", "→(I>A)⍴R", "→2⍴I"})
        ExpectSame(statement);
}

}  // namespace
