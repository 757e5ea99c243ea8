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
void init_hello(char *);

/*
 * Prototypes of compiled apl-functions
 */
aplarray *apl_HELLO(aplarray *_axis, aplarray *_larg, aplarray *_rarg);

#if defined(__cplusplus)
}
#endif
