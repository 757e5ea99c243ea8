/* odd_images_check: generated code keeps its constants and initial values in
 * byte arrays, which promise no alignment. Here the images lie 1 to 7 bytes
 * past an 8-byte boundary (headers at odd addresses, REAL data of ranks 0 and
 * 1 misaligned for its type) and go through the routines generated code hands
 * them to: linking, displaying, scalar and structural primitives, operators
 * (images as arguments, axes and array operands), strands, compiled
 * functions, assignments, labels, loops, case selectors, line flags, control
 * values, branches and initial values. In the sanitize build any access
 * through a misaligned record stops the program. Exit status 0 when every
 * value comes out right and the blocks are given back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "apl.h"
#include "orbax.h"
#include "live_blocks.h"

static int failures;
static char shown[256];

static void Check(int ok, const char *what, int offset) {
    if (!ok) {
        printf("FAILED: %s (offset %d, error %d: %s)\n", what, offset, aplerrno, shown);
        ++failures;
    }
}

static void Capture(const char *text, int32_t newLine) {
    strncat(shown, text, sizeof shown - strlen(shown) - 2);
    if (newLine) strcat(shown, "\n");
}

static void CaptureLineEnds(int32_t count) {
    for (; count > 0 && strlen(shown) + 1 < sizeof shown; --count) strcat(shown, "\n");
}

static unsigned char store[1024] __attribute__((aligned(8)));
static size_t used;

/* A static record image at the next place `offset` bytes past an 8-byte boundary. */
static aplarray *Image(int offset, int type, int rank, int eltype, const int32_t *shape, const void *data,
                       size_t bytes) {
    unsigned char *at = store + ((used + 7) & ~(size_t)7) + (size_t)offset;
    int32_t size = 16 + 4 * rank + (int32_t)bytes, links = 1, number = 1;
    int k;
    for (k = 0; k < rank; ++k) number *= shape[k];
    if (eltype == APL_BOOL) number = (number + 31) / 32; /* one row of words */
    memcpy(at, &size, 4);
    at[4] = (unsigned char)(type | APL_STATIC);
    at[5] = (unsigned char)rank;
    at[6] = (unsigned char)eltype;
    at[7] = 0;
    memcpy(at + 8, &links, 4);
    memcpy(at + 12, &number, 4);
    if (rank > 0) memcpy(at + 16, shape, 4 * (size_t)rank);
    memcpy(at + 16 + 4 * rank, data, bytes);
    used = (size_t)(at - store) + (size_t)size;
    return (aplarray *)at;
}

/* The text a value displays as. */
static const char *Shown(aplarray *value) {
    shown[0] = 0;
    KAZ_Display(value);
    return shown;
}

/* Whether two values match; releases temporaries. */
static int Same(aplarray *a, aplarray *b) {
    aplarray *match = APL_Match(NULL, a, b);
    int32_t truth = 0;
    if (match) memcpy(&truth, APL_Data(match), sizeof truth);
    APL_UnLinkTemp(match);
    return (truth & 1) != 0;
}

/* What compiled code hands on displays as expected (a temporary is released). */
static void Expect(aplarray *value, const char *text, const char *what, int offset) {
    shown[0] = 0;
    if (value) KAZ_Display(value);
    Check(value && strcmp(shown, text) == 0, what, offset);
}

/* A stand-in for a compiled dyadic operator (L +OP N) R: adds its array operand
 * to the result of its function operand. */
static aplarray *PlusOperand(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplfnc *n, aplarray *nAxis,
                             aplarray *right) {
    (void)axis, (void)fAxis, (void)nAxis;
    return APL_Add(NULL, KAZ_OperandValue(n), APL_Evaluate(f, NULL, left, right, NULL));
}

/* A stand-in for a compiled function with an argument: the argument becomes a
 * local name, as the generated prologue makes it. */
static aplarray *Twice(aplarray *axis, aplarray *left, aplarray *right) {
    aplsymbol save;
    uint16_t index = APL_AddSymbol("\101\122\107", 3, 2, KAZ_InitSimple(NULL));
    aplarray *result;
    (void)axis, (void)left;
    KAZ_InitArg(&save, index, right);
    result = APL_Add(NULL, APL_Variable(index), APL_Variable(index));
    KAZ_ResumeArg(&save, index, right);
    return result;
}

static void Run(int offset) {
    static const double reals[3] = {2.5, -1, 3.25}, half = 0.5, three = 3;
    static const int32_t two = 2, one = 1, count3 = 3, six[6] = {1, 2, 3, 4, 5, 6}, pair[2] = {2, 3}, bits = 5;
    static const char text[3] = {'a', 'b', 'c'}, expression[5] = {'L', 'A', 'B', '+', '1'};
    /* Line 1 opens a block that line 3 closes. */
    static const unsigned char flags[5] = {0, 1, 0, 2, 0};
    aplarray *R, *M, *S, *X, *T, *B, *C, *V, *E, *copy, *serial;
    aplfnc func0, func1, plus = KAZ_Fn('+', APL_FN_FUNCTION | APL_FN_SCALAR1 | APL_FN_SCALAR2, APL_Add);
    aplfnc times = KAZ_Fn(215, APL_FN_FUNCTION | APL_FN_SCALAR1 | APL_FN_SCALAR2, APL_Mul);
    aplop op0, op1;
    aplsymbol save;
    void *old;
    uint16_t index, names[2];
    used = 0;
    /* Ranks 0, 1 and 2, so that REAL data lies at every offset too. */
    R = Image(offset, APL_SIMPLE, 1, APL_REAL, &count3, reals, sizeof reals);
    M = Image(offset, APL_SIMPLE, 2, APL_INTG, pair, six, sizeof six);
    S = Image(offset, APL_SIMPLE, 0, APL_INTG, NULL, &two, sizeof two);
    X = Image(offset, APL_SIMPLE, 0, APL_REAL, NULL, &half, sizeof half);
    T = Image(offset, APL_SIMPLE, 0, APL_REAL, NULL, &three, sizeof three);
    B = Image(offset, APL_SIMPLE, 1, APL_BOOL, &count3, &bits, sizeof bits);
    C = Image(offset, APL_SIMPLE, 1, APL_CHAR, &count3, text, sizeof text);
    V = Image(offset, APL_SIMPLE, 1, APL_INTG, &one, &one, sizeof one);
    E = Image(offset, APL_SIMPLE, 1, APL_CHAR, (const int32_t[]){5}, expression, sizeof expression);

    /* Linking yields a managed copy; releasing a static record does nothing. */
    copy = R;
    APL_IncLink(copy);
    Check(copy != R && copy && strcmp(Shown(copy), "2.5 \2571 3.25\n") == 0, "linked copy", offset);
    APL_UnLinkTemp(R);
    APL_UnLink(copy);
    Check(memcmp(APL_Data(R), reals, sizeof reals) == 0, "data address", offset);
    Expect(R, "2.5 \2571 3.25\n", "display", offset);
    Expect(KAZ_QuadDisplay(C), "abc\n", "quad output", offset);

    /* Scalar functions: the one-element paths of the support routines and of
     * the library, an image in two places, an axis. */
    Expect(APL_Add(NULL, R, R), "5 \2572 6.5\n", "vector sum", offset);
    Expect(APL_Add(NULL, S, S), "4\n", "scalar sum", offset);
    Expect(APL_Mul(NULL, X, S), "1\n", "mixed product", offset);
    Expect(APL_Lower(NULL, X, T), "1\n", "comparison", offset);
    Expect(APL_Sub(NULL, NULL, X), "\2570.5\n", "negation", offset);
    Expect(APL_Add(S, B, M), "2 2 4\n5 5 7\n", "axis of a scalar function", offset);
    Expect(APL_And(NULL, B, B), "1 0 1\n", "BOOL", offset);

    /* Structural functions. */
    Expect(APL_Shape(NULL, S, R), "2.5 \2571\n", "reshape", offset);
    Expect(APL_Take(NULL, S, C), "ab\n", "take", offset);
    Expect(APL_Catenate(S, M, M), "1 2 3 1 2 3\n4 5 6 4 5 6\n", "catenate on an axis", offset);
    Expect(APL_Replicate(NULL, B, R), "2.5 3.25\n", "compress", offset);
    Expect(APL_Interval(NULL, NULL, S), "1 2\n", "interval", offset);
    Expect(APL_Format(NULL, NULL, X), "0.5\n", "format", offset);
    Check(!APL_Lextable(NULL, NULL, C) && aplerrno == APL_ERR_DOMAIN, "system function refusing a constant", offset);
    aplerrno = 0;
    Expect(APL_Disclose(NULL, NULL, APL_Enclose(NULL, NULL, C)), "abc\n", "enclose", offset);
    Expect(APL_IndexData(R, APL_Enclose(NULL, NULL, S), NULL), "\2571\n", "indexing", offset);
    Expect(APL_CatArray(S, X, 0, 0), "2 0.5\n", "strand", offset);
    Check(Same(APL_CatArray(M, R, 0, 0), APL_CatArray(M, R, 0, 0)), "match", offset);
    copy = APL_Copy(C);
    Check(Same(APL_PictDisplay(NULL, NULL, C), APL_PictDisplay(NULL, NULL, copy)), "DISPLAY", offset);
    APL_UnLink(copy);

    /* Operators: images as arguments, axes and array operands. */
    Expect(APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Reduce, S, plus, NULL), NULL, NULL, M, NULL), "6 15\n",
           "reduce along a static axis", offset);
    Expect(APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Scan, V, plus, NULL), NULL, NULL, M, NULL), "1 2 3\n5 7 9\n",
           "scan", offset);
    Expect(APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Reduce, NULL, KAZ_AFn(B), NULL), NULL, NULL, C, NULL), "ac\n",
           "array operand of reduce", offset);
    Expect(APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Each, NULL, plus, NULL), NULL, X, R, NULL), "3 \2570.5 3.75\n",
           "each", offset);
    Expect(APL_Evaluate(KAZ_DyOp(&func1, &op1, APL_InnerProduct, NULL, plus, NULL, times, NULL), NULL, R, R, NULL),
           "17.8125\n", "inner product", offset);
    Expect(APL_Evaluate(KAZ_DyOp(&func1, &op1, PlusOperand, NULL, plus, NULL, KAZ_AFn(S), NULL), NULL, S, R, NULL),
           "6.5 3 7.25\n", "array operand of a compiled operator", offset);

    /* Loops, case selectors, compiled functions, assignment, labels. */
    Check(KAZ_LoopCount(M) == 6 && KAZ_LoopCount(B) == 3, "loop count", offset);
    Expect(KAZ_LoopItem(R, 2), "3.25\n", "loop item", offset);
    Check(KAZ_GetInt(S) == 2 && KAZ_GetInt(T) == 3, "case selector", offset);
    Expect(Twice(NULL, NULL, X), "1\n", "argument of a compiled function", offset);
    index = APL_AddSymbol("\114\101\102", 3, 2, KAZ_InitSimple(NULL));
    APL_Assign(index, M);
    Expect(APL_Variable(index), "1 2 3\n4 5 6\n", "assigned constant", offset);
    APL_UnLinkTemp(APL_AssignIdx(index, APL_CatArray(V, V, 0, 0), S));
    Expect(APL_Variable(index), "2 2 3\n4 5 6\n", "indexed assignment", offset);
    APL_UnLinkTemp(
        KAZ_AssignSel(index, APL_Take(NULL, V, APL_Catenate(NULL, NULL, KAZ_SelectArray(APL_Variable(index)))), T));
    Expect(APL_Variable(index), "3 2 3\n4 5 6\n", "selective assignment", offset);
    KAZ_InitLabel(&save, index, S);
    Check(KAZ_GetInt(APL_Variable(index)) == 2, "label", offset);
    Expect(APL_Shape(NULL, V, APL_Variable(index)), "2\n", "branch target", offset);
    Expect(APL_Execute(NULL, NULL, E), "3\n", "label read by the session", offset);
    KAZ_ResumeLabel(&save, index);
    names[0] = APL_AddSymbol("\120", 1, 2, KAZ_InitSimple(NULL));
    names[1] = APL_AddSymbol("\121", 1, 2, KAZ_InitSimple(NULL));
    APL_UnLinkTemp(KAZ_AssignVec(R, 3, names[0], names[1], index));
    Expect(APL_Variable(names[1]), "\2571\n", "vector assignment", offset);
    /* The library's own assignment, so that the scalars go back to it and
     * not to the support routines' pool of scalars, which would change the
     * count of blocks from run to run. */
    (APL_Assign)(names[0], M);
    (APL_Assign)(names[1], M);

    /* Initial values from images, simple and serialised. */
    index = APL_AddSymbol("\126\101\114", 3, 2, KAZ_InitSimple(R));
    Expect(APL_Variable(index), "2.5 \2571 3.25\n", "simple initial value", offset);
    serial = APL_Serialize(NULL, S, APL_CatArray(M, R, 0, 0));
    if (serial) {
        unsigned char *at = store + ((used + 7) & ~(size_t)7) + (size_t)offset;
        memcpy(at, APL_Data(serial), (size_t)serial->number);
        APL_UnLinkTemp(serial);
        index = APL_AddSymbol("\116\105\123", 3, 2, KAZ_InitNested(at));
        Check(Same(APL_Variable(index), APL_CatArray(M, R, 0, 0)), "nested initial value", offset);
    }
    Check(serial != NULL, "serialised image", offset);

    /* Line flags and control values: a block opened on line 1 (control
     * value 2) runs lines 2 and 3 twice; the first time on line 4 a branch
     * goes back to line 1. */
    {
        int32_t lines[16], n = 0, line;
        aplarray *image = Image(offset, APL_SIMPLE, 1, APL_CHAR, (const int32_t[]){5}, flags, sizeof flags);
        APL_InitLines(&old, 4, image);
        while ((line = APL_NextLine((const uint8_t *)image)) != 0 && n < 16) {
            lines[n++] = line;
            if (line == 1) APL_UnLinkTemp(APL_Control(NULL, NULL, S));
            if (line == 4 && n == 6) APL_Jump(NULL, NULL, V);
        }
        APL_ResumeLines(old);
        Check(n == 12 && lines[1] == 2 && lines[3] == 2 && lines[6] == 1 && lines[11] == 4, "lines of a block", offset);
    }
    Check(aplerrno == 0, "no error", offset);
    aplerrno = 0;
}

int main(int argc, char **argv) {
    static const int offsets[] = {1, 2, 3, 4, 5, 6, 7};
    size_t i;
    int32_t blocks = 0;
    (void)argc;
    KAZ_Init(argv[0]);
    APL_Callback(1, (void *)Capture);
    APL_Callback(2, (void *)CaptureLineEnds);
    /* The first run leaves the three variables; later runs replace them. */
    for (i = 0; i < sizeof offsets / sizeof offsets[0]; ++i) {
        Run(offsets[i]);
        if (i == 0) blocks = Blocks();
        Check(Blocks() == blocks, "blocks given back", offsets[i]);
    }
    if (failures == 0) printf("odd_images_check: all passed\n");
    return failures ? 1 : 0;
}
