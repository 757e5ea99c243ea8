// Running defined functions and operators where the session transcripts
// cannot look: localisation after an escape, automatic reset, the call limit
// counted, operands that are derived functions, interrupts, descriptors given
// to APL_Evaluate and the bracket command.
#include "functions_support.h"

#include "interpreter/syscmd.h"

#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using function_support::FunctionSession;
using function_support::U;

using Running = FunctionSession;

TEST_F(Running, NamesAreLocalAndComeBack) {
    // A local system variable starts with the value from outside and goes back.
    Session({"⎕FX 'Z←G;⎕IO' 'Z←⎕IO' '⎕IO←0'", "⎕IO←1"});
    EXPECT_EQ(Session({"G", "⎕IO"}), "1\n1\n");
    // The same name as result and argument: the argument is the result.
    Session({"⎕FX 'Z←ID Z' ''"});
    EXPECT_EQ(Line("ID 'same'"), "same\n");
    // Labels are local too: outside, the name is a variable again.
    Session({"⎕FX 'LAB' 'L: 5' 'L'", "L←'var'"});
    EXPECT_EQ(Session({"LAB", "L"}), "5\n1\nvar\n");
    // After an escape from a suspended function its names are back as well.
    Session({"⎕FX 'E;L' 'L←''inner''' '1÷0'"});
    EXPECT_EQ(Session({"E", "L", "→", "L"}), "DOMAIN ERROR\nE[2]\n1÷0\n ^\ninner\nvar\n");
}

TEST_F(Running, AutomaticResetLeavesNothingSuspended) {
    Session({"⎕FX 'F' '1÷0'"});
    const std::string error = "DOMAIN ERROR\nF[1]\n1÷0\n ^\n";
    EXPECT_EQ(Session({")MODE RESET", "F", ")SI", ")MODE RESET", "F", ")SI", ")RESET"}),
              "AUTO RESET ON\n" + error + "AUTO RESET OFF\n" + error + "F[1]\n.\n");
}

TEST_F(Running, AnInterruptStopsALoopBetweenLines) {
    // A system function that does what a host's interrupt handler does.
    static int calls;
    calls = 0;
    RegisterSystemFunction(
        A("⎕HIT").c_str(), 0x25,
        [](aplarray *, aplarray *, aplarray *) -> aplarray * {
            if (++calls == 3) APL_interrupted = 1;
            return MakeInt(calls);
        },
        "FUNCTION(Hit)");
    Session({"⎕FX 'LOOP' 'L: X←⎕HIT' '→L'"});
    EXPECT_EQ(Session({"LOOP", "X", ")RESET"}), "INTERRUPT ERROR\nLOOP[1]\nL:X←⎕HIT\n3\n");
}

TEST_F(Running, AnInterruptReachesLinesThatAllFail) {
    // A system function that raises the flag, as a host's interrupt handler
    // does, and then fails: no line that calls it ever succeeds.
    static int calls;
    calls = 0;
    RegisterSystemFunction(
        A("⎕FAIL").c_str(), 0x25,
        [](aplarray *, aplarray *, aplarray *) -> aplarray * {
            ++calls;
            APL_interrupted = 1;
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        },
        "FUNCTION(Fail)");
    // The alternate of EA calls EE again, which fails again: without a look
    // before each line this recursion runs on until the call limit.
    Session({"⎕FX 'EE' '''EE'' ⎕EA ''⎕FAIL'''"});
    EXPECT_EQ(Session({"EE", ")RESET"}), "INTERRUPT ERROR\nEE[1]\n'EE' ⎕EA '⎕FAIL'\n");
    EXPECT_EQ(calls, 1);
    // A function whose line fails under EA: the flag is seen before the
    // alternate, which does not run.
    calls = 0;
    Session({"⎕FX 'TWO' 'X←⎕FAIL' 'X←2'"});
    EXPECT_EQ(Session({"'ALT←1' ⎕EA 'TWO'", "⎕NC 'ALT'"}), "INTERRUPT ERROR\n'ALT←1' ⎕EA 'TWO'\n0\n");
    EXPECT_EQ(calls, 1);
}

TEST_F(Running, BracketCommandRunsAFunctionFromItsFile) {
    char path[] = "/tmp/orbax-efn-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    remove(path);
    const std::string efn = std::string(path) + ".efn";
    // The serialised lines of one function.
    auto write = [&](std::vector<std::string> lines, bool wrapped) {
        const auto n = static_cast<int32_t>(lines.size());
        aplarray *vector = APL_Create(1, APL_NESTED, &n);
        for (int32_t i = 0; i < n; ++i)
            ItemsOf(vector)[i] = APL_Link(MakeString(A(lines[static_cast<size_t>(i)]).c_str()));
        if (wrapped) {
            const int32_t one = 1;
            aplarray *outer = APL_Create(1, APL_NESTED, &one);
            ItemsOf(outer)[0] = APL_Link(vector);
            vector = outer;
        }
        APL_UnLinkTemp(APL_ReadWrite(nullptr, vector, MakeString(efn.c_str())));
        ASSERT_EQ(aplerrno, 0);
    };
    write({"Z←SIZE R", "Z←⍴R"}, false);
    EXPECT_EQ(Line("]" + std::string(path) + " hello world"), "11\n");
    EXPECT_EQ(Line("]" + std::string(path)), "0\n");
    write({"Z←ECHO R", "Z←R"}, true);
    EXPECT_EQ(Line("]" + std::string(path) + " back"), "back\n");
    // The function was borrowed: it is gone afterwards.
    EXPECT_FALSE(IsUserFunction(Index("ECHO")));
    write({"Z←", "1"}, false);
    EXPECT_EQ(Line("]" + std::string(path) + " x"), "DEFN ERROR\n");
    remove(efn.c_str());
    const std::string missing = Line("]" + std::string(path) + " x");
    EXPECT_EQ(missing.rfind("FILE I/O ERROR", 0), 0u) << missing;
    EXPECT_EQ(Line("]"), "SYNTAX ERROR\n");
}

}  // namespace
