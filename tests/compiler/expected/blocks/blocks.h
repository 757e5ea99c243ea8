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
void init_blocks(char *);

/*
 * Prototypes of compiled apl-functions
 */
aplarray *apl_BLOCKS(aplarray *_axis, aplarray *_larg, aplarray *apl_N);

/*
 * Symbol table indices for local variables
 */
EXTERN_DECL TYPE_USHORT apl_N_idx, apl__alpha_I_idx;

#if defined(__cplusplus)
}
#endif
