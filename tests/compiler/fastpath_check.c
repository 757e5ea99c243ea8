/* fastpath_check: the support routines that keep one-element values in place
 * give what the library's functions give (value, element type, errors), for
 * INTG and REAL scalars, constants at odd addresses, temporaries and linked
 * values; and a counting loop in the generated form allocates no block after
 * its first turns. Exit status 0 when every check holds. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "apl.h"
#include "orbax.h"
#include "live_blocks.h"

static int failures;

static void Check(int ok, const char *what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

static aplarray *Real(double x) {
    aplarray *a = APL_Create(0, APL_REAL, NULL);
    memcpy(APL_Data(a), &x, sizeof x);
    return a;
}

static double Number(aplarray *a) {
    double x;
    int32_t i;
    if (a->eltype == APL_REAL) {
        memcpy(&x, (char *)a + 16, sizeof x);
        return x;
    }
    memcpy(&i, (char *)a + 16, sizeof i);
    return i;
}

/* A static INTG scalar image 4 bytes past an 8-byte boundary, as constants may lie. */
static unsigned char constantStore[32] __attribute__((aligned(8)));
static aplarray *Constant(int32_t value) {
    static const unsigned char header[16] = {20, 0, 0, 0, 0x41, 0, 2, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    memcpy(constantStore + 4, header, sizeof header);
    memcpy(constantStore + 20, &value, sizeof value);
    return (aplarray *)(constantStore + 4);
}

typedef aplarray *(*Pair)(aplarray *, aplarray *, aplarray *);

/* One pair through the support routine and through the library. */
static void Compare(const char *name, Pair mine, Pair library, double a, int aReal, double b, int bReal) {
    char what[160];
    aplarray *l1 = aReal ? Real(a) : APL_Int((int32_t)a), *r1 = bReal ? Real(b) : APL_Int((int32_t)b);
    aplarray *l2 = aReal ? Real(a) : APL_Int((int32_t)a), *r2 = bReal ? Real(b) : APL_Int((int32_t)b);
    aplarray *x, *y;
    int32_t errorX, errorY;
    x = mine(NULL, l1, r1);
    errorX = aplerrno;
    aplerrno = 0;
    y = library(NULL, l2, r2);
    errorY = aplerrno;
    aplerrno = 0;
    snprintf(what, sizeof what, "%s %g%s %g%s", name, a, aReal ? "(real)" : "", b, bReal ? "(real)" : "");
    Check(errorX == errorY, what);
    if (x && y) {
        Check(x->eltype == y->eltype && x->rank == y->rank, what);
        Check(Number(x) == Number(y), what);
    } else {
        Check(!x && !y, what);
    }
    APL_UnLinkTemp(x);
    APL_UnLinkTemp(y);
}

int main(int argc, char **argv) {
    static const struct {
        const char *name;
        Pair mine, library;
    } functions[] = {
        {"+", KAZ_Add, (APL_Add)},       {"-", KAZ_Sub, (APL_Sub)},       {"×", KAZ_Mul, (APL_Mul)},
        {"=", KAZ_Equal, (APL_Equal)},   {"≠", KAZ_NEqual, (APL_NEqual)}, {"<", KAZ_Lower, (APL_Lower)},
        {"≤", KAZ_LEqual, (APL_LEqual)}, {"≥", KAZ_GEqual, (APL_GEqual)}, {">", KAZ_Greater, (APL_Greater)}};
    /* Pairs that differ by less than CT × the larger magnitude compare equal. */
    static const double values[][2] = {{3, 3},          {2, 5},         {-7, 4},       {1e6, 1e6 + 1e-8}, {1.5, 1.5},
                                       {2147483647, 1}, {1e308, 1e308}, {-0.25, 0.25}, {1, 1 + 1e-14},    {0, 0}};
    size_t f, v;
    int kinds;
    int32_t before, after, i;
    aplsymbol saved[2];
    TYPE_USHORT iIdx, nIdx;
    (void)argc;
    KAZ_Init(argv[0]);
    /* First, while nothing waits for reuse: a scalar that an assignment drops
     * is the record of the next sum; no block goes back to the memory manager
     * and none is taken from it. */
    {
        TYPE_USHORT x = APL_AddSymbol("X", 1, 2, KAZ_InitSimple(NULL));
        aplsymbol save;
        aplarray *first, *sum;
        KAZ_InitVar(&save, x);
        first = APL_Assign(x, Real(1));
        APL_Assign(x, Real(2));
        sum = KAZ_Add(NULL, APL_Variable(x), Constant(1));
        Check(sum == first && Number(sum) == 3 && sum->lnkcnt == 0, "the dropped scalar holds the next sum");
        APL_UnLinkTemp(sum);
        KAZ_ResumeVar(&save, x);
    }
    for (f = 0; f < sizeof functions / sizeof functions[0]; ++f)
        for (v = 0; v < sizeof values / sizeof values[0]; ++v)
            for (kinds = 0; kinds < 4; ++kinds) {
                const int aReal = kinds & 1, bReal = kinds & 2;
                /* INTG pairs only where the values are integers of the INTG range. */
                if ((!aReal && values[v][0] != (double)(int32_t)values[v][0]) ||
                    (!bReal && values[v][1] != (double)(int32_t)values[v][1]))
                    continue;
                Compare(functions[f].name, functions[f].mine, functions[f].library, values[v][0], aReal, values[v][1],
                        bReal);
            }

    /* A linked argument is left as it was; a constant is read where it lies. */
    {
        aplarray *kept = APL_Link(Real(2.5));
        aplarray *sum = KAZ_Add(NULL, kept, Constant(4));
        Check(sum && sum != kept && Number(sum) == 6.5 && Number(kept) == 2.5 && kept->lnkcnt == 1,
              "a linked argument keeps its value");
        APL_UnLinkTemp(sum);
        APL_UnLink(kept);
    }
    /* A comparison's shared answer is never changed by a later one. */
    {
        aplarray *yes = APL_Link(KAZ_Lower(NULL, APL_Int(1), APL_Int(2)));
        aplarray *no = KAZ_Lower(NULL, APL_Int(2), APL_Int(1));
        Check(Number(yes) == 1 && Number(no) == 0 && yes->lnkcnt >= 2, "shared truth values");
        APL_UnLinkTemp(no);
        APL_UnLink(yes);
    }

    /* I←0 ⋄ L:I←I+1 ⋄ →(I<N)⍴L, statement by statement as compiled code makes
     * them: the number of live blocks stays what it was after the first turns. */
    iIdx = APL_AddSymbol("I", 1, 2, KAZ_InitSimple(NULL));
    nIdx = APL_AddSymbol("N", 1, 2, KAZ_InitSimple(NULL));
    KAZ_InitVar(saved + 0, iIdx);
    KAZ_InitVar(saved + 1, nIdx);
    APL_Assign(nIdx, APL_Int(1000));
    APL_Assign(iIdx, Constant(0));
    before = 0;
    for (i = 0; i < 1000; ++i) {
        APL_Assign(iIdx, APL_Add(NULL, APL_Variable(iIdx), Constant(1)));
        APL_UnLinkTemp(APL_Shape(NULL, APL_Lower(NULL, APL_Variable(iIdx), APL_Variable(nIdx)), Constant(2)));
        if (i == 10) before = Blocks();
    }
    after = Blocks();
    Check(aplerrno == 0 && Number(APL_Variable(iIdx)) == 1000, "the loop counts to 1000");
    Check(before == after, "no block left behind per turn");
    if (before != after) printf("blocks: %d after 10 turns, %d after 1000\n", before, after);
    KAZ_ResumeVar(saved + 1, nIdx);
    KAZ_ResumeVar(saved + 0, iIdx);

    if (!failures) printf("fastpath_check: all passed\n");
    return failures ? 1 : 0;
}
