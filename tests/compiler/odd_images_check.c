/* odd_images_check: generated code keeps its constants and initial values in
 * byte arrays, which promise no alignment. Here every image lies 4 and 12
 * bytes past an 8-byte boundary (REAL data then misaligned for its type;
 * headers at odd addresses the scalar engine cannot take yet) and goes
 * through the routines generated code hands it to: linking, displaying,
 * primitives, operators (as an axis and as an array operand), labels, loops,
 * case selectors, line flags and initial values. In the sanitize build any access through a misaligned record stops
 * the program. Exit status 0 when every value comes out right. */
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
        printf("FAILED: %s (offset %d)\n", what, offset);
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

static unsigned char store[512] __attribute__((aligned(8)));
static size_t used;

/* A static record image at the next place `offset` bytes past an 8-byte boundary. */
static aplarray *Image(int offset, int type, int rank, int eltype, const int32_t *shape, const void *data,
                       size_t bytes) {
    unsigned char *at = store + ((used + 7) & ~(size_t)7) + (size_t)offset;
    int32_t size = 16 + 4 * rank + (int32_t)bytes, links = 1, number = 1;
    int k;
    for (k = 0; k < rank; ++k) number *= shape[k];
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

/* A stand-in for a compiled dyadic operator (L +OP N) R: adds its array operand
 * to the result of its function operand. */
static aplarray *PlusOperand(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplfnc *n, aplarray *nAxis,
                             aplarray *right) {
    (void)axis, (void)fAxis, (void)nAxis;
    return APL_Add(NULL, KAZ_OperandValue(n), APL_Evaluate(f, NULL, left, right, NULL));
}

static void Run(int offset) {
    static const double reals[3] = {2.5, -1, 3.25};
    static const int32_t two = 2, three = 3, six[6] = {1, 2, 3, 4, 5, 6}, pair[2] = {2, 3};
    /* Line 1 opens a block that line 3 closes. */
    static const unsigned char flags[5] = {0, 1, 0, 2, 0};
    aplarray *vector, *matrix, *scalar, *copy, *sum, *item, *serial;
    aplfnc func0, func1, plus = KAZ_Fn('+', APL_FN_FUNCTION | APL_FN_SCALAR1 | APL_FN_SCALAR2, APL_Add);
    aplop op0, op1;
    aplsymbol save;
    void *old;
    uint16_t index;
    used = 0;
    vector = Image(offset, APL_SIMPLE, 1, APL_REAL, &three, reals, sizeof reals);
    matrix = Image(offset, APL_SIMPLE, 2, APL_INTG, pair, six, sizeof six);
    scalar = Image(offset, APL_SIMPLE, 0, APL_INTG, NULL, &two, sizeof two);

    /* Linking yields a managed copy; releasing a static record does nothing. */
    copy = vector;
    APL_IncLink(copy);
    Check(copy != vector && copy && strcmp(Shown(copy), "2.5 \2571 3.25\n") == 0, "linked copy", offset);
    APL_UnLinkTemp(vector);
    APL_UnLink(copy);
    Check(strcmp(Shown(vector), "2.5 \2571 3.25\n") == 0, "display", offset);

    /* Primitives, the one-element fast path, an axis on an operator. */
    sum = APL_Add(NULL, vector, vector);
    Check(strcmp(Shown(sum), "5 \2572 6.5\n") == 0, "vector sum", offset);
    sum = APL_Add(NULL, scalar, scalar);
    Check(strcmp(Shown(sum), "4\n") == 0, "scalar sum", offset);
    sum = APL_Evaluate(KAZ_MonOp(&func0, &op0, APL_Reduce, scalar, plus, NULL), NULL, NULL, matrix, NULL);
    Check(strcmp(Shown(sum), "6 15\n") == 0, "reduce along a static axis", offset);
    sum = APL_Evaluate(KAZ_DyOp(&func1, &op1, PlusOperand, NULL, plus, NULL, KAZ_AFn(scalar), NULL), NULL, scalar,
                       vector, NULL);
    Check(strcmp(Shown(sum), "6.5 3 7.25\n") == 0, "static array operand", offset);

    /* Loops, case selectors, assignment, labels. */
    item = KAZ_LoopItem(vector, 2);
    Check(KAZ_LoopCount(matrix) == 6 && strcmp(Shown(item), "3.25\n") == 0, "loop item", offset);
    Check(KAZ_GetInt(scalar) == 2, "case selector", offset);
    index = APL_AddSymbol("\114\101\102", 3, 2, KAZ_InitSimple(NULL));
    APL_Assign(index, matrix);
    Check(strcmp(Shown(APL_Variable(index)), "1 2 3\n4 5 6\n") == 0, "assigned constant", offset);
    KAZ_InitLabel(&save, index, scalar);
    Check(KAZ_GetInt(APL_Variable(index)) == 2, "label", offset);
    KAZ_ResumeLabel(&save, index);

    /* Initial values from images, simple and serialised. */
    index = APL_AddSymbol("\126\101\114", 3, 2, KAZ_InitSimple(vector));
    Check(strcmp(Shown(APL_Variable(index)), "2.5 \2571 3.25\n") == 0, "simple initial value", offset);
    serial = APL_Serialize(NULL, scalar, APL_CatArray(matrix, vector, 0, 0));
    if (serial) {
        unsigned char *at = store + ((used + 7) & ~(size_t)7) + (size_t)offset;
        memcpy(at, APL_Data(serial), (size_t)serial->number);
        APL_UnLinkTemp(serial);
        index = APL_AddSymbol("\116\105\123", 3, 2, KAZ_InitNested(at));
        Check(Same(APL_Variable(index), APL_CatArray(matrix, vector, 0, 0)), "nested initial value", offset);
    }
    Check(serial != NULL, "serialised image", offset);

    /* Line flags: a block opened on line 1 (control value 2) runs lines 2 and
     * 3 twice, read from the flags image. */
    {
        int32_t lines[8], n = 0, line;
        aplarray *image = Image(offset, APL_SIMPLE, 1, APL_CHAR, (const int32_t[]){5}, flags, sizeof flags);
        APL_InitLines(&old, 4, image);
        while ((line = APL_NextLine((const uint8_t *)image)) != 0 && n < 8) {
            lines[n++] = line;
            if (line == 1) APL_UnLinkTemp(APL_Control(NULL, NULL, APL_Int(2)));
        }
        APL_ResumeLines(old);
        Check(n == 6 && lines[1] == 2 && lines[3] == 2 && lines[5] == 4, "lines of a block", offset);
    }
    Check(aplerrno == 0, "no error", offset);
    aplerrno = 0;
}

int main(int argc, char **argv) {
    static const int offsets[] = {4, 12};
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
