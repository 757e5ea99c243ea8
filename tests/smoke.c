/* smoke: a small C host of the library, used until the console session
 * exists. It exercises the public header from C: arrays, links, errors and
 * the block count, and prints what it sees. */
#include "apl.h"

#include <stdio.h>
#include <string.h>

static void write_text(const char *text, int32_t newLine) {
    fputs(text, stdout);
    if (newLine) fputc('\n', stdout);
}

static int32_t live_blocks(void) {
    aplarray *counts = APL_MemDebug(NULL, NULL, NULL);
    int32_t blocks = ((int32_t *)APL_Data(counts))[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

int main(void) {
    APL_Callback(1, (void *)write_text);
    int32_t start = live_blocks();

    aplarray *text = APL_Link(APL_String("Hello from the orbaxdm runtime"));
    printf("%.*s\n", text->number, (const char *)APL_Data(text));

    int32_t shape[2] = {3, 4};
    aplarray *matrix = APL_Create(2, APL_INTG, shape);
    int32_t *cells = (int32_t *)APL_Data(matrix);
    for (int i = 0; i < 12; ++i) cells[i] = i + 1;
    printf("a %dx%d INTG matrix: record of %d bytes, last element %d\n", matrix->shape[0], matrix->shape[1],
           matrix->size, cells[11]);
    printf("live blocks: %d (started with %d)\n", live_blocks(), start);

    APL_UnLinkTemp(matrix);
    APL_UnLink(text);

    int32_t huge[2] = {65536, 65536};
    if (APL_Create(2, APL_INTG, huge) == NULL) printf("65536 by 65536: error %d (DOMAIN)\n", aplerrno);
    aplerrno = 0;

    printf("live blocks after release: %d\n", live_blocks());
    return live_blocks() == start ? 0 : 1;
}
