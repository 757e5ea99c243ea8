/* The checks of the support routines count the library's live blocks before
   and after their work, through the system function MD. */
#ifndef ORBAX_TESTS_LIVE_BLOCKS_H
#define ORBAX_TESTS_LIVE_BLOCKS_H

#include <string.h>

#include "apl.h"

static inline int32_t Blocks(void) {
    aplarray *counts = APL_MemDebug(NULL, NULL, NULL);
    int32_t n = 0;
    if (counts) memcpy(&n, (char *)APL_Data(counts), sizeof n);
    APL_UnLinkTemp(counts);
    return n;
}

#endif
