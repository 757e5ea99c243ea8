/* orbax.c - support routines of the C programs that the APL compiler writes.
 * Copied into every generated project with orbax.h. A client of apl.h only:
 * the start of the library as a program with the console's callbacks (UTF-8
 * on the terminal side, the APL character set on the library's), initial
 * values, and the KAZ_ routines that the library does not export. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE /* getline, sigaction, dlopen */
#endif
#include "orbax.h"

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <sys/types.h>
#include <windows.h>

/* POSIX getline for the Windows C library: the whole line with its end. */
static ssize_t getline(char **line, size_t *room, FILE *stream) {
    size_t used = 0;
    int c;
    while ((c = fgetc(stream)) != EOF) {
        if (used + 2 > *room) {
            const size_t bigger = *room ? 2 * *room : 128;
            char *grown = (char *)realloc(*line, bigger);
            if (!grown) return -1;
            *line = grown;
            *room = bigger;
        }
        (*line)[used++] = (char)c;
        if (c == '\n') break;
    }
    if (used == 0) return -1;
    (*line)[used] = 0;
    return (ssize_t)used;
}
#else
#include <dlfcn.h>
#endif

/* ---- The character set ------------------------------------------------------
 * kUnicode[code]: the Unicode code point of each of the 256 codes (the
 * system's character set; a test keeps it equal to share/codepage.tsv). */
static const uint32_t kUnicode[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D,
    0x000E, 0x000F, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001B,
    0x001C, 0x001D, 0x001E, 0x001F, 0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029,
    0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045,
    0x0046, 0x0047, 0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x2227, 0x005F, 0x0060, 0x0061,
    0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077, 0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D,
    0x007E, 0x007F, 0x0080, 0x22A3, 0x22A4, 0x22A5, 0x2190, 0x2192, 0x2191, 0x2193, 0x2264, 0x2265, 0x2372, 0x2371,
    0x2395, 0x235E, 0x2339, 0x2359, 0x2207, 0x2206, 0x2363, 0x234B, 0x2352, 0x2355, 0x234E, 0x2308, 0x230A, 0x2340,
    0x233F, 0x2282, 0x2283, 0x009D, 0x009E, 0x2228, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x22A2, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x235D, 0x22C4, 0x00AB, 0x2260, 0x2261, 0x00AE, 0x00AF, 0x2218, 0x25CB, 0x233D, 0x2349, 0x2296, 0x235F,
    0x00B6, 0x00B7, 0x237A, 0x220A, 0x2377, 0x00BB, 0x2373, 0x2374, 0x00BE, 0x00BF, 0x00C0, 0x00C1, 0x00C2, 0x00C3,
    0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x236C, 0x00D1,
    0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x2337, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED,
    0x00EE, 0x00EF, 0x2364, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB,
    0x00FC, 0x00FD, 0x2368, 0x00FF,
};

/* Other spellings accepted on input: ^ for and, the minus sign, tilde
 * operator, divides and star operator for - ~ | *. */
static const uint32_t kAlternativePoints[] = {0x005E, 0x2212, 0x223C, 0x2223, 0x22C6};
static const uint8_t kAlternativeCodes[] = {94, 45, 126, 124, 42};

/* Codes the table leaves without a glyph (the C1 controls) print as U+FFFD,
 * so that they cannot garble the terminal. */
static int Invisible(uint8_t code) { return kUnicode[code] >= 0x80 && kUnicode[code] < 0xA0; }

/* The code of a code point, or -1 when the set has none. */
static int CodeOf(uint32_t point) {
    size_t k;
    int code;
    for (code = 0; code < 256; ++code)
        if (kUnicode[code] == point && !Invisible((uint8_t)code)) return code;
    for (k = 0; k < sizeof kAlternativeCodes; ++k)
        if (kAlternativePoints[k] == point) return kAlternativeCodes[k];
    return -1;
}

/* Writes the UTF-8 of one code point to out (at least 4 bytes); returns the count. */
static size_t EncodeUtf8(uint32_t p, char *out) {
    if (p < 0x80) {
        out[0] = (char)p;
        return 1;
    }
    if (p < 0x800) {
        out[0] = (char)(0xC0 | (p >> 6));
        out[1] = (char)(0x80 | (p & 0x3F));
        return 2;
    }
    if (p < 0x10000) {
        out[0] = (char)(0xE0 | (p >> 12));
        out[1] = (char)(0x80 | ((p >> 6) & 0x3F));
        out[2] = (char)(0x80 | (p & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (p >> 18));
    out[1] = (char)(0x80 | ((p >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((p >> 6) & 0x3F));
    out[3] = (char)(0x80 | (p & 0x3F));
    return 4;
}

#define MALFORMED 0xFFFFFFFFu

/* Decodes the UTF-8 sequence at text[*i] (length bytes in all) and moves *i
 * past it; MALFORMED for overlong forms, surrogates, code points beyond
 * U+10FFFF and broken sequences (*i then moves one byte on): reading them
 * would let one character pass for another. */
static uint32_t DecodeAt(const unsigned char *text, size_t length, size_t *i) {
    static const uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
    const unsigned char lead = text[*i];
    uint32_t point;
    int extra, k;
    if (lead < 0x80) {
        ++*i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        point = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        point = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        point = lead & 0x07u;
    } else {
        ++*i;
        return MALFORMED;
    }
    for (k = 1; k <= extra; ++k) {
        const size_t at = *i + (size_t)k;
        if (at >= length || (text[at] & 0xC0) != 0x80) {
            ++*i;
            return MALFORMED;
        }
        point = (point << 6) | (text[at] & 0x3Fu);
    }
    if (point < smallest[extra] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
        ++*i;
        return MALFORMED;
    }
    *i += (size_t)extra + 1;
    return point;
}

/* Translates UTF-8 text of length bytes into codes (out has room for length
 * codes); returns the number of codes, or -1 with problem (128 bytes) filled in. */
static long FromUtf8(const char *utf8, size_t length, char *out, char *problem) {
    const unsigned char *text = (const unsigned char *)utf8;
    size_t i = 0;
    long n = 0;
    while (i < length) {
        const size_t start = i;
        const uint32_t point = DecodeAt(text, length, &i);
        int code;
        if (point == MALFORMED || point == 0) {
            if (point == 0)
                snprintf(problem, 128, "NUL byte at byte offset %lu", (unsigned long)start);
            else
                snprintf(problem, 128, "invalid UTF-8 byte 0x%02X at byte offset %lu", text[start],
                         (unsigned long)start);
            return -1;
        }
        code = CodeOf(point);
        if (code < 0) {
            snprintf(problem, 128, "the character U+%04lX \"%.*s\" is not in the APL character set",
                     (unsigned long)point, (int)(i - start), utf8 + start);
            return -1;
        }
        out[n++] = (char)code;
    }
    return n;
}

/* ---- The output channel -------------------------------------------------------
 * Text arrives in codes, possibly in pieces of one line; byte 6 marks the
 * characters that get a caret on a line of their own below. APL_cursor_pos
 * follows the characters written on the current line. */

static int32_t lineColumn; /* characters on the current line */
static char *carets;       /* a caret under each marked column */
static size_t caretLength, caretRoom;

static void PutCaret(size_t column) {
    if (caretLength > column) return;
    if (column + 1 > caretRoom) {
        size_t room = caretRoom ? caretRoom : 64;
        char *grown;
        while (room < column + 1) room *= 2;
        grown = (char *)realloc(carets, room);
        if (!grown) return;
        carets = grown;
        caretRoom = room;
    }
    memset(carets + caretLength, ' ', column - caretLength);
    carets[column] = '^';
    caretLength = column + 1;
}

static void EndLine(void) {
    fputc('\n', stdout);
    if (caretLength) {
        fwrite(carets, 1, caretLength, stdout);
        fputc('\n', stdout);
    }
    caretLength = 0;
    lineColumn = 0;
}

static void WriteText(const char *text, int32_t newLine) {
    char utf8[256];
    size_t used = 0;
    const unsigned char *p;
    for (p = (const unsigned char *)text; *p; ++p) {
        if (*p == 6) {
            PutCaret((size_t)lineColumn);
            continue;
        }
        if (used > sizeof utf8 - 4) {
            fwrite(utf8, 1, used, stdout);
            used = 0;
        }
        used += EncodeUtf8(Invisible(*p) ? 0xFFFD : kUnicode[*p], utf8 + used);
        ++lineColumn;
    }
    fwrite(utf8, 1, used, stdout);
    if (newLine) EndLine();
    APL_cursor_pos = lineColumn;
}

/* A count of 0 ends no line: what was written must be seen now (the library
 * is about to wait for input, or has reported an error). */
static void EndLines(int32_t count) {
    int32_t i;
    if (count <= 0) {
        fflush(stdout);
        return;
    }
    for (i = 0; i < count; ++i) EndLine();
    APL_cursor_pos = 0;
}

/* ---- The input channel ----------------------------------------------------------
 * Lines for quad and quote-quad input come from standard input, in UTF-8, as
 * a script's lines come to the console program: a line that is not UTF-8 of
 * the character set, or too long for the library, is refused with a message
 * and read as empty. After the end of input come empty lines, and an
 * interrupt when they are asked for again, so that a loop reading input
 * cannot spin for ever. */

static int readsAfterEnd;
static int linesRead;

static void ReadLine(char *buffer, int32_t mode) {
    char *line = NULL;
    size_t room = 0;
    ssize_t length;
    (void)mode;
    buffer[0] = 0;
    fflush(stdout);
    length = getline(&line, &room, stdin);
    if (length < 0) {
        free(line);
        if (++readsAfterEnd > 1) APL_interrupted = 1;
        return;
    }
    ++linesRead;
    if (length > 0 && line[length - 1] == '\n') line[--length] = 0;
    if (length > 0 && line[length - 1] == '\r') line[--length] = 0;
    /* The line ended on the screen with the input; the column stays where
     * the prompt left it, for quote-quad input to blank out. */
    caretLength = 0;
    lineColumn = 0;
    if ((size_t)length >= 4 * (size_t)(APL_INPUT_BUFFER - 1)) {
        printf("ERROR: input line %d is longer than %d bytes: refused\n", linesRead, 4 * (APL_INPUT_BUFFER - 1));
    } else {
        char *codes = (char *)malloc((size_t)length + 1);
        char problem[128];
        const long n = codes ? FromUtf8(line, (size_t)length, codes, problem) : -1;
        if (!codes)
            printf("ERROR: input line %d: no memory\n", linesRead);
        else if (n < 0)
            printf("ERROR: input line %d: %s\n", linesRead, problem);
        else if (n >= APL_INPUT_BUFFER)
            printf("ERROR: input line %d of %ld characters refused (at most %d)\n", linesRead, n, APL_INPUT_BUFFER - 1);
        else {
            memcpy(buffer, codes, (size_t)n);
            buffer[n] = 0;
        }
        free(codes);
    }
    free(line);
}

/* ---- Plug-ins ---------------------------------------------------------------------
 * The libraries named in ORBAX_PLUGINS, separated by colons, as for the
 * console program. */

static void ListPlugins(char *buffer) {
    const char *list = getenv("ORBAX_PLUGINS");
    const char *p;
    const size_t room = 65536 - 2;
    size_t used = 0;
    for (p = list ? list : ""; *p;) {
        const char *end = strchr(p, ':');
        const size_t length = end ? (size_t)(end - p) : strlen(p);
        if (length > 0 && used + length + 1 < room) {
            memcpy(buffer + used, p, length);
            used += length;
            buffer[used++] = 0;
        }
        p += length + (end ? 1 : 0);
    }
    buffer[used] = 0;
}

#ifdef _WIN32
static void *LoadPlugin(const char *name) {
    HMODULE handle = LoadLibraryA(name);
    if (!handle) {
        printf("ERROR: plug-in %s not loaded: error %lu\n", name, (unsigned long)GetLastError());
        fflush(stdout);
    }
    return (void *)handle;
}

static void *FindProcedure(void *handle, const char *name) {
    FARPROC procedure = handle ? GetProcAddress((HMODULE)handle, name) : NULL;
    void *address;
    memcpy(&address, &procedure, sizeof address);
    return address;
}
#else
static void *LoadPlugin(const char *name) {
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = dlerror();
        printf("ERROR: plug-in %s not loaded: %s\n", name, reason ? reason : "unknown reason");
        fflush(stdout);
    }
    return handle;
}

static void *FindProcedure(void *handle, const char *name) { return handle ? dlsym(handle, name) : NULL; }
#endif

/* ---- Start-up ----------------------------------------------------------------------- */

static void OnInterrupt(int signal) {
    (void)signal;
    APL_interrupted = 1;
}

/* Function pointers travel through the callback interface as data pointers. */
static void *Address(void (*function)(void)) {
    void *address;
    memcpy(&address, &function, sizeof address);
    return address;
}

#ifdef _WIN32
/* The C library turns Ctrl-C into SIGINT and resets the handler each time. */
static void CatchInterrupt(int number) {
    OnInterrupt(number);
    (void)signal(SIGINT, CatchInterrupt);
}
#endif

void KAZ_Init(char *exe_file) {
#ifndef _WIN32
    struct sigaction interrupt;
#endif
    (void)exe_file;
    APL_Callback(1, Address((void (*)(void))WriteText));
    APL_Callback(2, Address((void (*)(void))EndLines));
    APL_Callback(3, Address((void (*)(void))ReadLine));
    APL_Callback(7, Address((void (*)(void))ListPlugins));
    APL_Callback(8, Address((void (*)(void))LoadPlugin));
    APL_Callback(9, Address((void (*)(void))FindProcedure));
#ifdef _WIN32
    (void)signal(SIGINT, CatchInterrupt);
#else
    memset(&interrupt, 0, sizeof interrupt);
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, NULL);
#endif
    /* A program reads its input as a script's lines are read. */
    APL_SetScriptMode(1);
    APL_Init(1, "");
}

aplarray *KAZ_String(const char *utf8) {
    size_t length;
    int32_t n;
    long count;
    char problem[128];
    aplarray *text;
    if (!utf8) return NULL;
    length = strlen(utf8);
    if (length > INT32_MAX) {
        printf("ERROR: program argument too long\n");
        exit(1);
    }
    n = (int32_t)length;
    text = APL_Create(1, APL_CHAR, &n);
    if (!text) {
        printf("ERROR: no memory for a program argument\n");
        exit(1);
    }
    count = FromUtf8(utf8, length, (char *)APL_Data(text), problem);
    if (count < 0) {
        printf("ERROR: program argument: %s\n", problem);
        exit(1);
    }
    if (count < n) {
        /* Fewer characters than bytes: the vector is rebuilt at its length. */
        aplarray *shorter;
        n = (int32_t)count;
        shorter = APL_Create(1, APL_CHAR, &n);
        if (!shorter) {
            printf("ERROR: no memory for a program argument\n");
            exit(1);
        }
        memcpy(APL_Data(shorter), APL_Data(text), (size_t)n);
        APL_UnLinkTemp(text);
        text = shorter;
    }
    return text;
}

/* ---- Initial values ------------------------------------------------------------
 * Images are byte arrays of generated code: they carry no alignment, so their
 * fields are read byte-wise and the value used is a managed copy. */

static int32_t ReadInt32(const unsigned char *p) {
    int32_t value;
    memcpy(&value, p, sizeof value);
    return value;
}

/* The flag, rank and element-type bytes of a record. Constants may lie at any
 * address, where not even a byte may be read through the record's type. */
static unsigned TypeOf(const aplarray *a) { return ((const unsigned char *)a)[4]; }
static unsigned RankOf(const aplarray *a) { return ((const unsigned char *)a)[5]; }
static unsigned EltypeOf(const aplarray *a) { return ((const unsigned char *)a)[6]; }

/* Bytes of the serialised array at p: a simple record is `size` bytes; a
 * nested one is its header and shape followed by its items (at least one).
 * -1 for a malformed or too deeply nested image. */
static int64_t ImageLength(const unsigned char *p, int depth) {
    const int32_t size = ReadInt32(p), number = ReadInt32(p + 12);
    const int rank = p[5];
    int64_t length, items, i;
    if (depth > 1000 || size < 16) return -1;
    if (p[6] != APL_NESTED) return size;
    length = 16 + 4 * (int64_t)rank;
    items = number > 1 ? number : 1;
    for (i = 0; i < items; ++i) {
        const int64_t item = ImageLength(p + length, depth + 1);
        if (item < 0) return -1;
        length += item;
        if (length > INT32_MAX) return -1;
    }
    return length;
}

/* The array of an image as a linked managed copy, or null with aplerrno set. */
static aplarray *ValueOfImage(const unsigned char *image) {
    const int64_t length = ImageLength(image, 0);
    int32_t n;
    aplarray *bytes, *value;
    if (length < 0) {
        aplerrno = APL_ERR_DOMAIN;
        snprintf(APL_error_message, sizeof APL_error_message, "Malformed initial value");
        return NULL;
    }
    n = (int32_t)length;
    bytes = APL_Create(1, APL_CHAR, &n);
    if (!bytes) return NULL;
    memcpy(APL_Data(bytes), image, (size_t)n);
    value = APL_Serialize(NULL, NULL, bytes);
    return value ? APL_Link(value) : NULL;
}

void *const *KAZ_InitImage(const unsigned char *image) { return (KAZ_InitSimple)(image ? ValueOfImage(image) : NULL); }

void *const *KAZ_InitNested(const unsigned char *image) { return KAZ_InitImage(image); }

void *const *KAZ_InitAddress(void (*function)(void)) {
    void *address;
    memcpy(&address, &function, sizeof address);
    return (KAZ_InitSimple)(address);
}

/* Stands for a plug-in command that no loaded plug-in provides. */
static aplarray *MissingCommand(aplarray *axis, aplarray *left, aplarray *right) {
    APL_UnLinkTemp(axis);
    APL_UnLinkTemp(left);
    APL_UnLinkTemp(right);
    if (!aplerrno) {
        aplerrno = APL_ERR_VALUE;
        snprintf(APL_error_message, sizeof APL_error_message, "Plug-in command not loaded");
    }
    return NULL;
}

apl_function KAZ_GetPluginFunction(const char *name) {
    uint16_t i;
    for (i = 0; name && i < APL_symtab.count; ++i) {
        const aplsymbol *entry = &APL_symtab.entries[i];
        const int systemFunction = APL_KIND_SYSTEM | APL_KIND_FUNCTION;
        if ((entry->kind & systemFunction) == systemFunction && entry->value &&
            strcmp(APL_symtab.pool + entry->name, name) == 0) {
            apl_function function;
            memcpy(&function, &entry->value, sizeof function);
            return function;
        }
    }
    return MissingCommand;
}

/* ---- Values ---------------------------------------------------------------------- */

static void Fail(int32_t error, const char *message) {
    if (aplerrno) return;
    aplerrno = error;
    snprintf(APL_error_message, sizeof APL_error_message, "%s", message);
}

/* Elements of an array: the product of its shape (number counts words for BOOL). */
static int64_t ElementCount(const aplarray *a) {
    int64_t n = 1;
    int k;
    for (k = 0; k < (int)RankOf(a); ++k) n *= ReadInt32((const unsigned char *)a + 16 + 4 * k);
    return n;
}

/* Hands a value back as a temporary when nobody but us held it. */
static aplarray *HandBack(aplarray *held) {
    if (held && held->lnkcnt > 0) --held->lnkcnt;
    return held;
}

/* The result taken from its name by KAZ_ReturnVar, still linked, until the
 * frame of its function ends. Restoring locals runs no APL code, so no other
 * function's result can come between. */
static aplarray *pendingResult;

aplarray *KAZ_ReturnVar(uint16_t index) {
    aplsymbol *entry;
    aplarray *value;
    HandBack(pendingResult);
    pendingResult = NULL;
    if (index >= APL_symtab.count) return NULL;
    entry = &APL_symtab.entries[index];
    if ((entry->kind & (APL_KIND_VARIABLE | APL_KIND_LABELBIT | APL_KIND_OPERAND)) != APL_KIND_VARIABLE) return NULL;
    value = (aplarray *)entry->value;
    entry->value = NULL;
    if (value && !(TypeOf(value) & APL_STATIC)) pendingResult = value;
    return value;
}

void KAZ_ResumeLines(void *old) {
    (APL_ResumeLines)(old);
    HandBack(pendingResult);
    pendingResult = NULL;
}

static aplarray *ShowValue(aplarray *value, int endLine) {
    if (aplerrno) {
        APL_UnLinkTemp(value);
        return NULL;
    }
    if (!value) {
        Fail(APL_ERR_VALUE, "");
        return NULL;
    }
    if (endLine)
        APL_Display(value);
    else
        APL_DisplayNoLF(value);
    if (aplerrno) {
        APL_UnLinkTemp(value);
        return NULL;
    }
    return value;
}

aplarray *KAZ_QuadDisplay(aplarray *value) { return ShowValue(value, 1); }

aplarray *KAZ_QQuadDisplay(aplarray *value) { return ShowValue(value, 0); }

aplarray *KAZ_AssignVec(aplarray *value, int32_t count, ...) {
    aplarray *held, *nested = NULL;
    va_list names;
    int32_t i;
    int ok = 1;
    if (aplerrno || !value) {
        APL_UnLinkTemp(value);
        Fail(APL_ERR_VALUE, "");
        return NULL;
    }
    /* Held by us throughout: a failing assignment releases a temporary. */
    held = APL_Link(value);
    if (held != value) APL_UnLinkTemp(value);
    if (!held) return NULL;
    if (held->rank > 0 && ElementCount(held) != count) {
        Fail(APL_ERR_LENGTH, "In vector assignment");
        ok = 0;
    } else if (held->rank > 0) {
        nested = held->eltype == APL_NESTED ? held : APL_MakeNested(held);
        ok = nested != NULL;
    }
    va_start(names, count);
    for (i = 0; ok && i < count; ++i) {
        const uint16_t index = (uint16_t)va_arg(names, int);
        aplarray *item = held;
        if (nested) memcpy(&item, (char *)APL_Data(nested) + sizeof item * (size_t)(count - 1 - i), sizeof item);
        ok = APL_Assign(index, item) != NULL;
    }
    va_end(names);
    if (nested != held) APL_UnLinkTemp(nested);
    if (!ok) {
        APL_UnLink(held);
        return NULL;
    }
    return HandBack(held);
}

/* ---- Array operands --------------------------------------------------------------- */

aplfnc KAZ_AFn(aplarray *value) {
    aplfnc operand;
    memset(&operand, 0, sizeof operand);
    operand.flags = APL_FN_ARRAY;
    operand.function = value;
    return operand;
}

aplarray *KAZ_OperandValue(const aplfnc *operand) {
    if (operand && (operand->flags & APL_FN_ARRAY)) return (aplarray *)operand->function;
    Fail(APL_ERR_SYNTAX, "Function operand where the compiled operator takes an array");
    return NULL;
}

aplarray *KAZ_SelectArray(aplarray *value) {
    int32_t counter = 1;
    if (aplerrno) return NULL;
    if (!value) {
        Fail(APL_ERR_VALUE, "");
        return NULL;
    }
    return APL_IndexArray(value, &counter);
}

aplarray *KAZ_AssignSel(uint16_t index, aplarray *positions, aplarray *value) {
    if (!aplerrno && (!positions || !value)) Fail(APL_ERR_VALUE, "");
    /* The primitives of the selection were called directly, not through the
     * evaluator, which marks what they make of positions: what the selection
     * left is positions when it is a new temporary. */
    if (!aplerrno && ((TypeOf(positions) & APL_STATIC) || positions->lnkcnt != 0))
        Fail(APL_ERR_SYNTAX, "No legal position array");
    if (!aplerrno) positions->type |= APL_INDEXPOS;
    if (aplerrno) {
        APL_UnLinkTemp(positions);
        if (value != positions) APL_UnLinkTemp(value);
        return NULL;
    }
    return APL_AssignSel(index, positions, value);
}

int32_t KAZ_GetInt(aplarray *value) {
    int32_t result = 0;
    if (!aplerrno && !value) Fail(APL_ERR_VALUE, "In case statement");
    if (!aplerrno && ElementCount(value) != 1) Fail(APL_ERR_LENGTH, "In case statement");
    if (!aplerrno) {
        const unsigned char *data = (const unsigned char *)value + 16 + 4 * RankOf(value);
        double real;
        switch (EltypeOf(value)) {
            case APL_INTG: result = ReadInt32(data); break;
            case APL_BOOL: result = (int32_t)(ReadInt32(data) & 1); break;
            case APL_SHORT: {
                int16_t s;
                memcpy(&s, data, sizeof s);
                result = s;
                break;
            }
            case APL_REAL:
                memcpy(&real, data, sizeof real);
                /* Whole numbers within the integers only, as the interpreter converts. */
                if (real >= -2147483648.0 && real <= 2147483647.0 && real == (double)(int32_t)real)
                    result = (int32_t)real;
                else
                    Fail(APL_ERR_DOMAIN, "In case statement");
                break;
            default: Fail(APL_ERR_DOMAIN, "In case statement"); break;
        }
    }
    APL_UnLinkTemp(value);
    return aplerrno ? 0 : result;
}

int32_t KAZ_LoopCount(aplarray *values) {
    const int64_t n = values ? ElementCount(values) : 0;
    return n > INT32_MAX ? INT32_MAX : (int32_t)n;
}

aplarray *KAZ_LoopItem(aplarray *values, int32_t i) {
    const unsigned char *data;
    aplarray *scalar;
    int32_t width;
    if (aplerrno || !values || i < 0 || i >= KAZ_LoopCount(values)) return NULL;
    data = (const unsigned char *)values + 16 + 4 * RankOf(values);
    if (EltypeOf(values) == APL_NESTED) {
        aplarray *item;
        memcpy(&item, data + sizeof item * (size_t)i, sizeof item);
        return item;
    }
    scalar = APL_Create(0, (int32_t)EltypeOf(values), NULL);
    if (!scalar) return NULL;
    if (EltypeOf(values) == APL_BOOL) {
        /* Every row starts on a fresh word. */
        const int32_t row =
            RankOf(values) ? ReadInt32((const unsigned char *)values + 16 + 4 * (RankOf(values) - 1)) : 1;
        const int32_t words = (row + 31) / 32;
        const uint32_t word =
            (uint32_t)ReadInt32(data + 4 * ((size_t)(i / row) * (size_t)words + (size_t)(i % row) / 32));
        const uint32_t bit = (word >> ((i % row) % 32)) & 1u;
        memcpy(APL_Data(scalar), &bit, sizeof bit);
        return scalar;
    }
    width = EltypeOf(values) == APL_CHAR ? 1 : EltypeOf(values) == APL_SHORT ? 2 : EltypeOf(values) == APL_REAL ? 8 : 4;
    memcpy(APL_Data(scalar), data + (size_t)width * (size_t)i, (size_t)width);
    return scalar;
}

/* ---- One-element values kept in place ----------------------------------------
 * A counting loop makes and drops one-element arrays at nearly every call:
 * I←I+1 makes the sum and frees the old value of I, →(I<N)⍴L makes the
 * comparison and the one-element target and frees both. As the interpreter's
 * line slots do, the support routines keep such records instead of going to
 * the memory manager for each:
 * - a scalar dropped by an assignment or consumed by a call below waits in a
 *   small pool (we hold its one link) until a call below needs a new one;
 * - a comparison answers with one of two records 0 and 1, and (condition)⍴L
 *   with a one-element target per line number, which we hold for good: a
 *   record with a link of ours is never changed in place or freed by others.
 * Two INTG or REAL scalars under + - × and the comparisons are computed here,
 * exactly as the library's scalar functions compute them; every other case
 * goes to the library. */

/* The functions computed here. */
enum {
    KAZ_OP_ADD,
    KAZ_OP_SUB,
    KAZ_OP_MUL,
    KAZ_OP_EQUAL,
    KAZ_OP_NEQUAL,
    KAZ_OP_LOWER,
    KAZ_OP_LEQUAL,
    KAZ_OP_GEQUAL,
    KAZ_OP_GREATER
};

enum { kScalarIntg, kScalarReal, kPoolKinds, kPoolSize = 8 };
static aplarray *pool[kPoolKinds][kPoolSize];
static int pooled[kPoolKinds];

#if defined(__GNUC__)
#define ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define ALWAYS_INLINE inline
#endif

/* The pool a managed simple scalar could wait in, or -1. The flags come
 * first: a static record may lie at any address. */
static ALWAYS_INLINE int PoolKind(const aplarray *a) {
    if ((TypeOf(a) & (APL_STATIC | APL_NESTEDARRAY | APL_INDEXPOS | APL_STRAND)) || RankOf(a) != 0) return -1;
    return EltypeOf(a) == APL_INTG ? kScalarIntg : EltypeOf(a) == APL_REAL ? kScalarReal : -1;
}

/* Gives up our link on a record: a scalar goes to its pool when the link was
 * the last, anything else to the library. */
static ALWAYS_INLINE void Drop(aplarray *a) {
    const int kind = PoolKind(a);
    if (kind >= 0 && a->lnkcnt == 1 && pooled[kind] < kPoolSize) {
        pool[kind][pooled[kind]++] = a;
        return;
    }
    APL_UnLink(a);
}

/* The link count, read byte-wise: a static record may lie at any address. */
static ALWAYS_INLINE int32_t Links(const aplarray *a) {
    int32_t links;
    memcpy(&links, (const char *)a + 8, sizeof links);
    return links;
}

/* Releases a temporary argument (lnkcnt 0), into the pool where it fits. */
static ALWAYS_INLINE void DropTemp(aplarray *a) {
    if (Links(a) != 0 || (TypeOf(a) & APL_STATIC)) return;
    a->lnkcnt = 1;
    Drop(a);
}

/* A new temporary scalar of the kind: from the pool, else from the library. */
static ALWAYS_INLINE aplarray *Fresh(int kind) {
    if (pooled[kind] > 0) {
        aplarray *a = pool[kind][--pooled[kind]];
        a->lnkcnt = 0;
        return a;
    }
    return APL_Create(0, kind == kScalarReal ? APL_REAL : APL_INTG, NULL);
}

/* A record of ours for good: linked once and never released. */
static aplarray *Kept(int32_t rank, int32_t value) {
    static const int32_t one = 1;
    aplarray *a = APL_Create(rank, APL_INTG, rank ? &one : NULL);
    if (!a) return NULL;
    memcpy((char *)a + 16 + 4 * rank, &value, sizeof value);
    return APL_Link(a);
}

/* The element type of a simple INTG or REAL scalar, else 0: type, rank and
 * element type read as one word (records lie anywhere). */
static ALWAYS_INLINE int ScalarType(const aplarray *a) {
    uint32_t word;
    int eltype;
    memcpy(&word, (const char *)a + 4, sizeof word);
    /* No nested items, no position marks, rank 0. */
    if (word & (0xFF00u | APL_NESTEDARRAY | APL_INDEXPOS)) return 0;
    eltype = (int)(word >> 16 & 0xFF);
    return eltype == APL_INTG || eltype == APL_REAL ? eltype : 0;
}

static ALWAYS_INLINE int32_t IntegerOf(const aplarray *a) {
    int32_t integer;
    memcpy(&integer, (const char *)a + 16, sizeof integer);
    return integer;
}

static ALWAYS_INLINE double NumberOf(const aplarray *a, int type) {
    double real;
    if (type == APL_INTG) return IntegerOf(a);
    memcpy(&real, (const char *)a + 16, sizeof real);
    return real;
}

/* CT, as the library reads it (1E¯13 when it is no number). */
static ALWAYS_INLINE double ComparisonTolerance(void) {
    const aplarray *value = APL_Variable(sys_CT_idx);
    const int type = value ? ScalarType(value) : 0;
    return type ? NumberOf(value, type) : 1e-13;
}

/* Comparisons as the library's routines compare: integers exactly, a pair
 * with a REAL within CT × the larger magnitude. */
static ALWAYS_INLINE int32_t CompareIntegers(int op, int32_t i, int32_t j) {
    switch (op) {
        case KAZ_OP_EQUAL: return i == j;
        case KAZ_OP_NEQUAL: return i != j;
        case KAZ_OP_LOWER: return i < j;
        case KAZ_OP_LEQUAL: return i <= j;
        case KAZ_OP_GEQUAL: return i >= j;
        default: return i > j;
    }
}

static ALWAYS_INLINE int32_t CompareReals(int op, double a, double b) {
    const double x = a < 0 ? -a : a, y = b < 0 ? -b : b;
    const double t = ComparisonTolerance() * (x > y ? x : y), d = a - b;
    switch (op) {
        case KAZ_OP_EQUAL: return (d < 0 ? -d : d) <= t;
        case KAZ_OP_NEQUAL: return (d < 0 ? -d : d) > t;
        case KAZ_OP_LOWER: return -d > t;
        case KAZ_OP_LEQUAL: return d <= t;
        case KAZ_OP_GEQUAL: return -d <= t;
        default: return d > t;
    }
}

static aplarray *truths[2];

/* The word of type, rank and element type (bytes 4 to 7 of a record; read
 * whole, since records lie anywhere). Two such words describe two simple
 * INTG or REAL scalars when no bit of kNotNumberScalars is set in either and
 * each has an element type. */
static ALWAYS_INLINE uint32_t Word(const aplarray *a) {
    uint32_t word;
    memcpy(&word, (const char *)a + 4, sizeof word);
    return word;
}
#define kNotNumberScalars (APL_NESTEDARRAY | APL_INDEXPOS | 0xFF00u | (0xFFu & ~(unsigned)(APL_INTG | APL_REAL)) << 16)
#define kIntgBit ((uint32_t)APL_INTG << 16)
#define kRealBit ((uint32_t)APL_REAL << 16)

/* Two INTG or REAL scalars under one of the functions, or the library's call. */
static ALWAYS_INLINE aplarray *Scalar2(int op, aplfunction function, aplarray *axis, aplarray *left, aplarray *right) {
    uint32_t l, r;
    aplarray *result;
    if (aplerrno || axis || !left || !right || left == right) return function(axis, left, right);
    l = Word(left);
    r = Word(right);
    if (((l | r) & kNotNumberScalars) || !(l & (kIntgBit | kRealBit)) || !(r & (kIntgBit | kRealBit)))
        return function(axis, left, right);
    if (op <= KAZ_OP_MUL) {
        /* In double, a REAL result, as the routines compute them; a result
         * that is not finite is the library's DOMAIN ERROR. */
        const double a = NumberOf(left, l & kRealBit ? APL_REAL : APL_INTG);
        const double b = NumberOf(right, r & kRealBit ? APL_REAL : APL_INTG);
        const double sum = op == KAZ_OP_ADD ? a + b : op == KAZ_OP_SUB ? a - b : a * b;
        if (sum - sum != 0) return function(axis, left, right);
        /* A temporary REAL argument holds the result in place. */
        if ((l & kRealBit) && !(l & APL_STATIC) && left->lnkcnt == 0) {
            result = left;
            DropTemp(right);
        } else if ((r & kRealBit) && !(r & APL_STATIC) && right->lnkcnt == 0) {
            result = right;
            DropTemp(left);
        } else {
            result = Fresh(kScalarReal);
            DropTemp(left);
            DropTemp(right);
            if (!result) return NULL;
        }
        memcpy((char *)result + 16, &sum, sizeof sum);
        return result;
    } else {
        const int32_t truth = (l & r & kIntgBit) ? CompareIntegers(op, IntegerOf(left), IntegerOf(right))
                                                 : CompareReals(op, NumberOf(left, l & kRealBit ? APL_REAL : APL_INTG),
                                                                NumberOf(right, r & kRealBit ? APL_REAL : APL_INTG));
        DropTemp(left);
        DropTemp(right);
        if (!truths[truth]) truths[truth] = Kept(0, truth);
        return truths[truth];
    }
}

aplarray *KAZ_Add(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_ADD, (APL_Add), axis, left, right);
}
aplarray *KAZ_Sub(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_SUB, (APL_Sub), axis, left, right);
}
aplarray *KAZ_Mul(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_MUL, (APL_Mul), axis, left, right);
}
aplarray *KAZ_Equal(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_EQUAL, (APL_Equal), axis, left, right);
}
aplarray *KAZ_NEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_NEQUAL, (APL_NEqual), axis, left, right);
}
aplarray *KAZ_Lower(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_LOWER, (APL_Lower), axis, left, right);
}
aplarray *KAZ_LEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_LEQUAL, (APL_LEqual), axis, left, right);
}
aplarray *KAZ_GEqual(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_GEQUAL, (APL_GEqual), axis, left, right);
}
aplarray *KAZ_Greater(aplarray *axis, aplarray *left, aplarray *right) {
    return Scalar2(KAZ_OP_GREATER, (APL_Greater), axis, left, right);
}

aplarray *KAZ_Assign(uint16_t index, aplarray *value) {
    aplsymbol *entry;
    aplarray *old;
    if (aplerrno || !value || index >= APL_symtab.count || (TypeOf(value) & APL_STATIC))
        return (APL_Assign)(index, value);
    entry = &APL_symtab.entries[index];
    /* Plain variables only: the library checks system variables and refuses
     * labels and functions. */
    if (entry->kind != APL_KIND_VARIABLE) return (APL_Assign)(index, value);
    old = (aplarray *)entry->value;
    ++value->lnkcnt;
    entry->value = value;
    if (old) Drop(old);
    return value;
}

/* One-element branch targets by line number (a line number's low bits pick
 * the place; another line there replaces it). */
static aplarray *targets[64];

aplarray *KAZ_Shape(aplarray *axis, aplarray *left, aplarray *right) {
    aplarray **place;
    uint32_t l, r;
    int32_t line;
    /* (condition)⍴label with the condition 1. */
    if (aplerrno || axis || !left || !right || left == right) return (APL_Shape)(axis, left, right);
    l = Word(left);
    r = Word(right);
    if (((l | r) & kNotNumberScalars) || !(l & r & kIntgBit) || IntegerOf(left) != 1)
        return (APL_Shape)(axis, left, right);
    line = IntegerOf(right);
    place = &targets[line & 63];
    if (!*place || memcmp((char *)*place + 20, &line, sizeof line) != 0) {
        aplarray *target = Kept(1, line);
        if (!target) return (APL_Shape)(axis, left, right);
        if (*place) APL_UnLink(*place);
        *place = target;
    }
    DropTemp(left);
    DropTemp(right);
    return *place;
}
