// Running defined functions and operators where the session transcripts
// cannot look: localisation after an escape, automatic reset, the call limit
// counted, operands that are derived functions, interrupts, descriptors given
// to APL_Evaluate, the bracket command, and a function compiled by hand in the
// style of generated code running through the same line protocol.
#include "functions_support.h"

#include "core/cover.h"
#include "core/frames.h"
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

TEST_F(Running, EvaluateRunsADefinedFunctionDescriptor) {
    Session({"⎕FX 'Z←L TIMES R' 'Z←L×R'"});
    aplfnc times{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, Index("TIMES")};
    aplarray *result = APL_Evaluate(&times, nullptr, MakeInt(6), MakeInt(7));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->lnkcnt, 0);
    EXPECT_EQ(FirstNumber(result, 0), 42);
    APL_UnLinkTemp(result);
    // Without a right argument a function is called with the wrong valence.
    EXPECT_EQ(APL_Evaluate(&times, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_VALENCE);
    aplerrno = 0;
    // A name that is no function.
    aplfnc none{APL_FN_DEFINED | APL_FN_FUNCTION, nullptr, nullptr, Index("TIMES") + 1000};
    EXPECT_EQ(APL_Evaluate(&none, nullptr, nullptr, MakeInt(1)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_VALUE);
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

// ---- A function compiled by hand, as the compiler writes one -------------------------
//
//   Z←CSUM N;I
//   [1] Z←0
//   [2] I←0
//   [3] L:I←I+1
//   [4] Z←Z+I
//   [5] →L×⍳I<N
//   [6] Z←Z÷N≠99

uint16_t apl_Z_idx, apl_N_idx, apl_I_idx, apl_L_idx;

// The constant images: the label's line number first, the line-flags vector last.
alignas(4) const unsigned char const0[20] = {20, 0, 0, 0, 0x41, 0, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0};
alignas(4) const unsigned char const20[20] = {20, 0, 0, 0, 0x41, 0, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
alignas(4) const unsigned char const40[20] = {20, 0, 0, 0, 0x41, 0, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
alignas(4) const unsigned char const60[20] = {20, 0, 0, 0, 0x41, 0, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 99, 0, 0, 0};
alignas(4) const unsigned char const80[28] = {27, 0, 0, 0, 0x41, 1, 1, 0, 1, 0, 0, 0, 7, 0,
                                              0,  0, 7, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0};

aplarray *C(const unsigned char *image) { return reinterpret_cast<aplarray *>(const_cast<unsigned char *>(image)); }

// The value of the result name, handed over (what the support files' KAZ_ReturnVar does).
aplarray *ReturnVar(uint16_t index) {
    auto *value = static_cast<aplarray *>(Symbol(index).value);
    Symbol(index).value = nullptr;
    return value;
}

aplarray *apl_CSUM(aplarray *_axis, aplarray *_larg, aplarray *apl_N) {
    (void)_axis, (void)_larg;
    aplarray *apl_Z;
    aplsymbol localvars[4];
    void *old_lines;
    KAZ_InitArg(localvars + 0, apl_N_idx, apl_N);
    KAZ_InitVar(localvars + 1, apl_Z_idx);
    KAZ_InitVar(localvars + 2, apl_I_idx);
    KAZ_InitLabel(localvars + 3, apl_L_idx, C(const0));
    APL_InitLines(&old_lines, 6, const80);
nextline:
    if (aplerrno) runtime_error("csum.c", APL_GetLineNum());
    switch (APL_NextLine(const80)) {
        case 1: APL_Assign(apl_Z_idx, C(const20)); goto nextline;
        case 2: APL_Assign(apl_I_idx, C(const20)); goto nextline;
        case 3: APL_Assign(apl_I_idx, APL_Add(NULL, APL_Variable(apl_I_idx), C(const40))); goto nextline;
        case 4: APL_Assign(apl_Z_idx, APL_Add(NULL, APL_Variable(apl_Z_idx), APL_Variable(apl_I_idx))); goto nextline;
        case 5:
            APL_UnLinkTemp(APL_Jump(
                NULL, NULL,
                APL_Mul(NULL, APL_Variable(apl_L_idx),
                        APL_Interval(NULL, NULL, APL_Lower(NULL, APL_Variable(apl_I_idx), APL_Variable(apl_N_idx))))));
            if (APL_DidJump()) goto nextline;
            goto nextline;
        case 6:
            APL_Assign(apl_Z_idx, APL_Division(NULL, APL_Variable(apl_Z_idx),
                                               APL_NEqual(NULL, APL_Variable(apl_N_idx), C(const60))));
            goto nextline;
        default: goto end;
    }
end:
    KAZ_ResumeArg(localvars + 0, apl_N_idx, apl_N);
    apl_Z = ReturnVar(apl_Z_idx);
    KAZ_ResumeVar(localvars + 1, apl_Z_idx);
    KAZ_ResumeVar(localvars + 2, apl_I_idx);
    KAZ_ResumeLabel(localvars + 3, apl_L_idx);
    APL_ResumeLines(old_lines);
    if (apl_Z && apl_Z->lnkcnt > 0) --apl_Z->lnkcnt;
    return apl_Z;
}

TEST_F(Running, ACompiledFunctionUsesTheSameLineProtocol) {
    apl_Z_idx = APL_AddSymbol("Z", 1, 2, KAZ_InitSimple(nullptr));
    apl_N_idx = APL_AddSymbol("N", 1, 2, KAZ_InitSimple(nullptr));
    apl_I_idx = APL_AddSymbol("I", 1, 2, KAZ_InitSimple(nullptr));
    apl_L_idx = APL_AddSymbol("L", 1, 2, KAZ_InitSimple(nullptr));
    APL_AddSymbol("CSUM", 4, 4, KAZ_InitSimple(reinterpret_cast<void *>(&apl_CSUM)));
    EXPECT_EQ(Session({"I←'outer'", "CSUM 4", "I", "L"}), "10\nouter\nVALUE ERROR\nL\n^\n");
    // Called from a defined function: frames nest, and its lines go on after.
    Session({"⎕FX 'Z←TWO N' 'Z←CSUM N' 'Z←Z+CSUM N+1'"});
    EXPECT_EQ(Line("TWO 3"), "16\n");
    // An error is reported with the line it happened on; the value is lost.
    testing::internal::CaptureStdout();
    const std::string shown = Line("CSUM 99");
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Run time error 11 in module csum.c[6]\n");
    EXPECT_EQ(shown, "DOMAIN ERROR\nCSUM 99\n^\n");
    EXPECT_EQ(currentFrame, nullptr);
}

}  // namespace
