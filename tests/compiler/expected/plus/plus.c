#define NOT_EXTERN
#include "plus.h"



/*
 * Default runtime error handler.
 * Use setjmp() and longjmp() in cases
 * where exit() cannot be used!
 */
void runtime_error(char *module, int line)
{
  printf("Run time error %d in module %s[%d]\n", aplerrno, module, line);
  exit(1);
}



/*
 * Initialisation function for all
 * global variables used in the compiled
 * code.
 *
 * IMPORTANT NOTE: This function must be
 *   called only once and it must be
 *   executed before the first call to any
 *   of the generated functions.
 */
void init_plus(char *exe_file)
{
  KAZ_Init(exe_file);
  apl_Z_idx = APL_AddSymbol("\132", 1, 2, KAZ_InitSimple(NULL));
  apl_A_idx = APL_AddSymbol("\101", 1, 2, KAZ_InitSimple(NULL));
  apl_B_idx = APL_AddSymbol("\102", 1, 2, KAZ_InitSimple(NULL));
  apl_T_idx = APL_AddSymbol("\124", 1, 2, KAZ_InitSimple(NULL));
  apl_L1_idx = APL_AddSymbol("\114\61", 2, 2, KAZ_InitSimple(NULL));
  APL_AddSymbol("\120\114\125\123", 4, 4, KAZ_InitFunction(apl_PLUS));
}



/*
 * Default main function. Only required
 * for the creation of a stand-alone
 * executable.
 */
int main(int argc, char **argv)
{
  aplarray *result, *larg, *rarg;
  if (argc != 3)
  {
    printf("ERROR: Wrong number of arguments!\n");
    exit(1);
  }
  init_plus(argv[0]);
  /*
   * Creation of left argument
   * -------------------------
   * The default is the 2nd command
   * line argument:
   */
  larg = APL_String(argv[2]);
  /*
   * Creation of right argument
   * -------------------------
   * The default is the 1st command
   * line argument:
   */
  rarg = APL_String(argv[1]);
  result = apl_PLUS(NULL, larg, rarg);
  /*
   * Analysis of the 'result'
   * The default is the output
   * to screen:
   */
  KAZ_Display(result);
  return(aplerrno);
}
