/* orbaxsample: a plug-in that adds the system function GETENV, the value of an
 * environment variable as a character vector. It uses only the public
 * interface of apl.h, as every plug-in must. */
#include "apl.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The quad character of the system's character set. */
#define QUAD "\x8c"

APL_PLUGIN_EXPORT aplarray *ORBAX_GetEnv(aplarray *axis, aplarray *left, aplarray *right);
APL_PLUGIN_EXPORT int32_t ORBAX_StartPlugin(void *info);

/* Releases the temporaries a call was given (the same one may stand twice). */
static void release(aplarray *axis, aplarray *left, aplarray *right) {
    APL_UnLinkTemp(axis);
    if (left != axis) APL_UnLinkTemp(left);
    if (right != axis && right != left) APL_UnLinkTemp(right);
}

static aplarray *fail(int32_t code, aplarray *axis, aplarray *left, aplarray *right) {
    release(axis, left, right);
    aplerrno = code;
    APL_error_message[0] = 0;
    return NULL;
}

/* GETENV 'NAME': the variable's value, an empty vector when it is not set.
 * Monadic, a character scalar or vector. Returns a temporary; consumes a
 * temporary argument. The value's bytes are taken as they are: text outside
 * ASCII arrives in the session as the codes of its bytes. */
aplarray *ORBAX_GetEnv(aplarray *axis, aplarray *left, aplarray *right) {
    if (axis || left || !right) return fail(APL_ERR_SYNTAX, axis, left, right);
    if (right->eltype != APL_CHAR) return fail(APL_ERR_DOMAIN, axis, left, right);
    if (right->rank > 1) return fail(APL_ERR_RANK, axis, left, right);

    const size_t length = (size_t)right->number;
    char *name = malloc(length + 1);
    if (!name) return fail(APL_ERR_WSFULL, axis, left, right);
    memcpy(name, APL_Data(right), length);
    name[length] = 0;
    /* A name with a NUL in it cannot be set, so it is not found either. */
    const char *value = strlen(name) == length ? getenv(name) : NULL;
    aplarray *result = APL_String(value ? value : "");
    free(name);
    release(axis, left, right);
    return result;
}

int32_t ORBAX_StartPlugin(void *info) {
    snprintf((char *)info, APL_PLUGIN_INFO_SIZE, "orbaxsample 1.0: %sGETENV", QUAD);
    return APL_CreateCommand(QUAD "GETENV", "ORBAX_GetEnv", 0x24) == 0 ? 0 : 1;
}
