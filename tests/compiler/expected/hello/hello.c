#define NOT_EXTERN
#include "hello.h"



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
void init_hello(char *exe_file)
{
  KAZ_Init(exe_file);
  APL_AddSymbol("\110\105\114\114\117", 5, 5, KAZ_InitFunction(apl_HELLO));
}



/*
 * Default main function. Only required
 * for the creation of a stand-alone
 * executable.
 */
int main(int argc, char **argv)
{
  if (argc != 1)
  {
    printf("ERROR: Wrong number of arguments!\n");
    exit(1);
  }
  init_hello(argv[0]);
  apl_HELLO(NULL, NULL, NULL);
  return(aplerrno);
}
