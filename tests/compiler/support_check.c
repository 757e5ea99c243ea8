/* support_check: a compiled function written by hand in the form the compiler
 * generates, which exercises the support routines of support/orbax.c. Its
 * constant and initial-value images start on 8-byte boundaries, so that REAL
 * data after a rank-1 header (at 20 bytes) is misaligned as it is in
 * generated code: nothing may read it but byte-wise (UndefinedBehaviorSanitizer
 * watches). Its APL text is support_check.apl; the test compares the outputs.
 *
 *   Z←A DEMO B;I;J;K;V;X
 *   [1]  ⎕←'start'
 *   [2]  (I J K)←1 2 3
 *   [3]  ⎕←I+J×K
 *   [4]  V←2 3⍴⍳6
 *   [5]  (1 0 1 0 1 0/,V)←7 8 9
 *   [6]  ⎕←V
 *   [7]  ⍞←'half '
 *   [8]  ⎕←'line'
 *   [9]  {⍺K←2 2⍴⍳4: ⎕←⍺K×10}
 *   [10] {⍎B: ⎕←'one' : ⎕←'two' : ⎕←'other'}
 *   [11] X←GLOBAL,⊂NESTED
 *   [12] ⎕←⍴X
 *   [13] ⎕←X
 *   [14] Z←A,B
 */
#include <stdio.h>
#include <stdlib.h>
#include <setjmp.h>
#include "apl.h"
#include "orbax.h"

#if defined(__GNUC__)
#define ORBAX_ALIGNED8 __attribute__((aligned(8)))
#else
#define ORBAX_ALIGNED8
#endif

#ifdef NOT_EXTERN
#define EXTERN_DECL
#else
#define EXTERN_DECL extern
#endif

void runtime_error(char *, int);
void init_support_check(char *);

aplarray *apl_DEMO(aplarray *_axis, aplarray *apl_A, aplarray *apl_B);

TYPE_USHORT apl_GLOBAL_idx, apl_NESTED_idx;
TYPE_USHORT apl_Z_idx, apl_A_idx, apl_B_idx, apl_I_idx, apl_J_idx, apl_K_idx, apl_V_idx, apl_X_idx, apl__alpha_K_idx;

aplarray *apl_DEMO(aplarray *_axis, aplarray *apl_A, aplarray *apl_B)
{
  aplarray *apl_Z;
  aplsymbol localvars[8];
  void *old_lines;
  static char const0_store[] ORBAX_ALIGNED8 = "\31\0\0\0\101\1\1\0\1\0\0\0\5\0\0\0\5\0\0\0\163\164\141\162\164";
  #define const0 (const0_store)
  static char const24_store[] ORBAX_ALIGNED8 = "\40\0\0\0\111\1\2\0\1\0\0\0\3\0\0\0\3\0\0\0\1\0\0\0\2\0\0\0\3\0\0\0";
  #define const24 (const24_store)
  static char const52_store[] ORBAX_ALIGNED8 = "\34\0\0\0\111\1\2\0\1\0\0\0\2\0\0\0\2\0\0\0\2\0\0\0\3\0\0\0";
  #define const52 (const52_store)
  static char const76_store[] ORBAX_ALIGNED8 = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\6\0\0\0";
  #define const76 (const76_store)
  static char const96_store[] ORBAX_ALIGNED8 = "\54\0\0\0\111\1\2\0\1\0\0\0\6\0\0\0\6\0\0\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0";
  #define const96 (const96_store)
  static char const120_store[] ORBAX_ALIGNED8 = "\40\0\0\0\111\1\2\0\1\0\0\0\3\0\0\0\3\0\0\0\7\0\0\0\10\0\0\0\11\0\0\0";
  #define const120 (const120_store)
  static char const148_store[] ORBAX_ALIGNED8 = "\31\0\0\0\101\1\1\0\1\0\0\0\5\0\0\0\5\0\0\0\150\141\154\146\40";
  #define const148 (const148_store)
  static char const172_store[] ORBAX_ALIGNED8 = "\30\0\0\0\101\1\1\0\1\0\0\0\4\0\0\0\4\0\0\0\154\151\156\145";
  #define const172 (const172_store)
  static char const196_store[] ORBAX_ALIGNED8 = "\34\0\0\0\111\1\2\0\1\0\0\0\2\0\0\0\2\0\0\0\2\0\0\0\2\0\0\0";
  #define const196 (const196_store)
  static char const216_store[] ORBAX_ALIGNED8 = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\4\0\0\0";
  #define const216 (const216_store)
  static char const236_store[] ORBAX_ALIGNED8 = "\24\0\0\0\101\0\2\0\1\0\0\0\1\0\0\0\12\0\0\0";
  #define const236 (const236_store)
  static char const256_store[] ORBAX_ALIGNED8 = "\27\0\0\0\101\1\1\0\1\0\0\0\3\0\0\0\3\0\0\0\157\156\145";
  #define const256 (const256_store)
  static char const280_store[] ORBAX_ALIGNED8 = "\27\0\0\0\101\1\1\0\1\0\0\0\3\0\0\0\3\0\0\0\164\167\157";
  #define const280 (const280_store)
  static char const304_store[] ORBAX_ALIGNED8 = "\31\0\0\0\101\1\1\0\1\0\0\0\5\0\0\0\5\0\0\0\157\164\150\145\162";
  #define const304 (const304_store)
  static char const328_store[] ORBAX_ALIGNED8 = "\43\0\0\0\101\1\1\0\1\0\0\0\17\0\0\0\17\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0";
  #define const328 (const328_store)
  aplarray *loop_arr0=NULL;
  int loop0;
  aplsymbol loop_var0;

  (void)_axis;
  KAZ_InitArg(localvars+0, apl_A_idx, apl_A);
  KAZ_InitArg(localvars+1, apl_B_idx, apl_B);
  KAZ_InitVar(localvars+2, apl_Z_idx);
  KAZ_InitVar(localvars+3, apl_I_idx);
  KAZ_InitVar(localvars+4, apl_J_idx);
  KAZ_InitVar(localvars+5, apl_K_idx);
  KAZ_InitVar(localvars+6, apl_V_idx);
  KAZ_InitVar(localvars+7, apl_X_idx);
  APL_InitLines(&old_lines, 14, const328);
nextline:
  if (aplerrno) runtime_error(__FILE__, APL_GetLineNum());

  switch(APL_NextLine((const uint8_t *)const328))
  {
  case 1:
    APL_UnLinkTemp(KAZ_QuadDisplay((aplarray *)const0));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 2:
    APL_UnLinkTemp(KAZ_AssignVec((aplarray *)const24, 3, apl_K_idx, apl_J_idx, apl_I_idx));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 3:
    APL_UnLinkTemp(KAZ_QuadDisplay(APL_Add(NULL, APL_Variable(apl_I_idx),
                                           APL_Mul(NULL, APL_Variable(apl_J_idx), APL_Variable(apl_K_idx)))));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 4:
    APL_Assign(apl_V_idx, APL_Shape(NULL, (aplarray *)const52, APL_Interval(NULL, NULL, (aplarray *)const76)));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 5:
    APL_UnLinkTemp(KAZ_AssignSel(apl_V_idx,
                                 APL_Replicate(NULL, (aplarray *)const96,
                                               APL_Catenate(NULL, NULL, KAZ_SelectArray(APL_Variable(apl_V_idx)))),
                                 (aplarray *)const120));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 6:
    APL_UnLinkTemp(KAZ_QuadDisplay(APL_Variable(apl_V_idx)));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 7:
    APL_UnLinkTemp(KAZ_QQuadDisplay((aplarray *)const148));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 8:
    APL_UnLinkTemp(KAZ_QuadDisplay((aplarray *)const172));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 9:
    loop_arr0 = APL_Shape(NULL, (aplarray *)const196, APL_Interval(NULL, NULL, (aplarray *)const216));
    APL_IncLink(loop_arr0);
    KAZ_InitVar(&loop_var0, apl__alpha_K_idx);
    for (loop0=0; loop0<KAZ_LoopCount(loop_arr0); loop0++)
    {
      APL_Assign(apl__alpha_K_idx, KAZ_LoopItem(loop_arr0, loop0));
      APL_UnLinkTemp(KAZ_QuadDisplay(APL_Mul(NULL, APL_Variable(apl__alpha_K_idx), (aplarray *)const236)));
      if (APL_DidJump()) break;
    }
    KAZ_ResumeVar(&loop_var0, apl__alpha_K_idx);
    APL_UnLink(loop_arr0);
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 10:
    switch(KAZ_GetInt(APL_Execute(NULL, NULL, APL_Variable(apl_B_idx))))
    {
    case 1:
      APL_UnLinkTemp(KAZ_QuadDisplay((aplarray *)const256));
      break;
    case 2:
      APL_UnLinkTemp(KAZ_QuadDisplay((aplarray *)const280));
      break;
    default:
      APL_UnLinkTemp(KAZ_QuadDisplay((aplarray *)const304));
      break;
    }
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 11:
    APL_Assign(apl_X_idx, APL_Catenate(NULL, APL_Variable(apl_GLOBAL_idx),
                                       APL_Enclose(NULL, NULL, APL_Variable(apl_NESTED_idx))));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 12:
    APL_UnLinkTemp(KAZ_QuadDisplay(APL_Shape(NULL, NULL, APL_Variable(apl_X_idx))));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 13:
    APL_UnLinkTemp(KAZ_QuadDisplay(APL_Variable(apl_X_idx)));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  case 14:
    APL_Assign(apl_Z_idx, APL_Catenate(NULL, APL_Variable(apl_A_idx), APL_Variable(apl_B_idx)));
    if (APL_DidJump()) goto nextline;
    goto nextline;
  default: goto end;
  }
end:
  KAZ_ResumeArg(localvars+0, apl_A_idx, apl_A);
  KAZ_ResumeArg(localvars+1, apl_B_idx, apl_B);
  apl_Z = KAZ_ReturnVar(apl_Z_idx);
  KAZ_ResumeVar(localvars+2, apl_Z_idx);
  KAZ_ResumeVar(localvars+3, apl_I_idx);
  KAZ_ResumeVar(localvars+4, apl_J_idx);
  KAZ_ResumeVar(localvars+5, apl_K_idx);
  KAZ_ResumeVar(localvars+6, apl_V_idx);
  KAZ_ResumeVar(localvars+7, apl_X_idx);
  APL_ResumeLines(old_lines);
  return(apl_Z);
}

/*
 * Default runtime error handler.
 */
void runtime_error(char *module, int line)
{
  printf("Run time error %d in module %s[%d]\n", aplerrno, module, line);
  exit(1);
}

void init_support_check(char *exe_file)
{
  /* GLOBAL←2.5 3.5 and NESTED←'xy' (1 2 3): the REAL data at 20 bytes, off its 8-byte alignment. */
  static unsigned char apl_GLOBAL_init_store[] ORBAX_ALIGNED8 = {36,0,0,0,65,1,4,0,1,0,0,0,2,0,0,0,2,0,0,0,0,0,0,0,0,0,4,64,
                                                   0,0,0,0,0,0,12,64 };
  static unsigned char apl_NESTED_init_store[] ORBAX_ALIGNED8 = {28,0,0,0,2,1,8,0,0,0,0,0,2,0,0,0,2,0,0,0,22,0,0,0,1,1,1,0,1,0,
                                                   0,0,2,0,0,0,2,0,0,0,120,121,32,0,0,0,1,1,2,0,1,0,0,0,3,0,0,0,3,0,
                                                   0,0,1,0,0,0,2,0,0,0,3,0,0,0 };
  KAZ_Init(exe_file);
  apl_GLOBAL_idx = APL_AddSymbol("\107\114\117\102\101\114", 6, 2, KAZ_InitSimple(apl_GLOBAL_init_store));
  apl_NESTED_idx = APL_AddSymbol("\116\105\123\124\105\104", 6, 2, KAZ_InitNested(apl_NESTED_init_store));
  apl_Z_idx = APL_AddSymbol("\132", 1, 2, KAZ_InitSimple(NULL));
  apl_A_idx = APL_AddSymbol("\101", 1, 2, KAZ_InitSimple(NULL));
  apl_B_idx = APL_AddSymbol("\102", 1, 2, KAZ_InitSimple(NULL));
  apl_I_idx = APL_AddSymbol("\111", 1, 2, KAZ_InitSimple(NULL));
  apl_J_idx = APL_AddSymbol("\112", 1, 2, KAZ_InitSimple(NULL));
  apl_K_idx = APL_AddSymbol("\113", 1, 2, KAZ_InitSimple(NULL));
  apl_V_idx = APL_AddSymbol("\126", 1, 2, KAZ_InitSimple(NULL));
  apl_X_idx = APL_AddSymbol("\130", 1, 2, KAZ_InitSimple(NULL));
  apl__alpha_K_idx = APL_AddSymbol("\270\113", 2, 2, KAZ_InitSimple(NULL));
  APL_AddSymbol("\104\105\115\117", 4, 4, KAZ_InitFunction(apl_DEMO));
}

int main(int argc, char **argv)
{
  aplarray *result, *larg, *rarg;
  if (argc != 3)
  {
    printf("ERROR: Wrong number of arguments!\n");
    exit(1);
  }
  init_support_check(argv[0]);
  larg = APL_String(argv[2]);
  rarg = APL_String(argv[1]);
  result = apl_DEMO(NULL, larg, rarg);
  KAZ_Display(result);
  return(aplerrno);
}
