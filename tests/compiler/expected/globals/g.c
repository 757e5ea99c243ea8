#define NOT_EXTERN
#include "g.h"



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
void init_g(char *exe_file)
{
  static unsigned char apl_S_init[] = { 20,0,0,0,65,0,2,0,1,0,0,0,1,0,0,0,7,0,0,0 };
  static unsigned char apl_N_init[] = { 28,0,0,0,2,1,8,0,1,0,
          0,0,2,0,0,0,2,0,0,0,
          28,0,0,0,1,1,2,0,1,0,
          0,0,2,0,0,0,2,0,0,0,
          1,0,0,0,2,0,0,0,22,0,
          0,0,1,1,1,0,1,0,0,0,
          2,0,0,0,2,0,0,0,65,66 };
  KAZ_Init(exe_file);
  apl_S_idx = APL_AddSymbol("\123", 1, 2, KAZ_InitSimple(apl_S_init));
  apl_N_idx = APL_AddSymbol("\116", 1, 2, KAZ_InitNested(apl_N_init));
  apl_V_idx = APL_AddSymbol("\126", 1, 2, KAZ_InitSimple(NULL));
  apl_Z_idx = APL_AddSymbol("\132", 1, 2, KAZ_InitSimple(NULL));
  APL_AddSymbol("\107", 1, 5, KAZ_InitFunction(apl_G));
}



/*
 * Default main function. Only required
 * for the creation of a stand-alone
 * executable.
 */
int main(int argc, char **argv)
{
  aplarray *result;
  if (argc != 1)
  {
    printf("ERROR: Wrong number of arguments!\n");
    exit(1);
  }
  init_g(argv[0]);
  result = apl_G(NULL, NULL, NULL);
  /*
   * Analysis of the 'result'
   * The default is the output
   * to screen:
   */
  KAZ_Display(result);
  return(aplerrno);
}
