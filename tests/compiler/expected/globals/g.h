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
void init_g(char *);

/*
 * Prototypes of compiled apl-functions
 */
aplarray *apl_G(aplarray *_axis, aplarray *_larg, aplarray *_rarg);

/*
 * Symbol table indices for global variables
 */
EXTERN_DECL TYPE_USHORT apl_S_idx, apl_N_idx, apl_V_idx;

/*
 * Symbol table indices for local variables
 */
EXTERN_DECL TYPE_USHORT apl_Z_idx;

#if defined(__cplusplus)
}
#endif
