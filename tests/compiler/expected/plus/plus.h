#if defined(__cplusplus)
#include <math.h>
extern "C"
{
#endif

#include <stdio.h>
#include <stdlib.h>
#include <setjmp.h>
#include "apl.h"
#include "orbax.h"

#ifdef NOT_EXTERN
#define EXTERN_DECL 
#else 
#define EXTERN_DECL extern
#endif

void runtime_error(char *, int );
void init_plus(char *);

/*
 * Prototypes of compiled apl-functions
 */
aplarray *apl_PLUS(aplarray *_axis, aplarray *apl_A, aplarray *apl_B);

/*
 * Symbol table indices for local variables
 */
EXTERN_DECL TYPE_USHORT apl_Z_idx, apl_A_idx, apl_B_idx, apl_T_idx, apl_L1_idx;

#if defined(__cplusplus)
}
#endif
