/* apl.h - the public interface of the orbaxdm APL runtime.
 * Hosts, plug-ins and generated C code include this header and nothing else.
 * It compiles as C (C99 or later) and as C++. */
#ifndef ORBAX_APL_H
#define ORBAX_APL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define APL_EXPORT __declspec(dllexport)
#else
#define APL_EXPORT __attribute__((visibility("default")))
#endif

/* ---- The array record -------------------------------------------------
 * One contiguous record: header, shape, then the data at 16 + 4 x rank.
 * Nested arrays hold native item pointers; BOOL arrays pack 32 bits per
 * word with every row starting on a fresh word. */
typedef struct aplarray {
    int32_t size;    /* bytes from size to the end of the data, at least 20 */
    uint8_t type;    /* APL_SIMPLE or APL_NESTEDARRAY plus the flags below */
    uint8_t rank;    /* number of axes, at most 64 */
    uint8_t eltype;  /* element type code */
    uint8_t pad;
    int32_t lnkcnt;  /* holders that linked the array; 0 for a temporary */
    int32_t number;  /* elements stored (32-bit words for BOOL rows) */
    int32_t shape[]; /* rank axis lengths; the data follows */
} aplarray;

/* Element type codes; a set of types is a bit mask. */
enum {
    APL_CHAR = 1,
    APL_INTG = 2,
    APL_REAL = 4,
    APL_NESTED = 8,
    APL_BOOL = 16,
    APL_SHORT = 32
};

/* Bits of aplarray.type and of the allocation flags. */
enum {
    APL_SIMPLE = 0x01,      /* elements are values */
    APL_NESTEDARRAY = 0x02, /* elements are item pointers */
    APL_TEMP = 0x04,        /* allocation flag only: start with no link */
    APL_STRAND = 0x08,      /* built by strand catenation */
    APL_FLAG10 = 0x10,      /* carried from the allocation flags */
    APL_STATIC = 0x40,      /* not in a managed block; never freed */
    APL_INDEXPOS = 0x80     /* index-position array of a selective specification */
};

/* Error numbers kept in aplerrno. */
enum {
    APL_ERR_WSFULL = 1,
    APL_ERR_SYNTAX = 2,
    APL_ERR_INDEX = 3,
    APL_ERR_RANK = 4,
    APL_ERR_LENGTH = 5,
    APL_ERR_VALUE = 6,
    APL_ERR_AXIS = 7,
    APL_ERR_BRANCH = 8,
    APL_ERR_LIMIT = 10,
    APL_ERR_DOMAIN = 11,
    APL_ERR_NONCE = 16,
    APL_ERR_FILEIO = 17,
    APL_ERR_NOPIPES = 30,
    APL_ERR_NOPROCS = 76,
    APL_ERR_DEFN = 78,
    APL_ERR_SYSTEM = 100,
    APL_ERR_VALENCE = 110,
    APL_ERR_INTERRUPT = 1003,
    APL_ERR_EOF_INTERRUPT = 1005,
    APL_ERR_DEADLOCK = 2000
};

/* The signature of every primitive and system function. */
typedef aplarray *(*aplfunction)(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Errors ------------------------------------------------------------ */
APL_EXPORT extern int32_t aplerrno;
APL_EXPORT extern char APL_error_message[256];
APL_EXPORT extern volatile uint8_t APL_interrupted;

/* Report of a compiled function that finds aplerrno set; writes to stdout. */
APL_EXPORT void runtime_error(const char *file, int32_t line);

/* ---- Arrays and links ---------------------------------------------------
 * Every call carries the caller's file and line for tracing. */
/* Adds a link and returns the array; a static array yields a linked copy. */
APL_EXPORT aplarray *APL_LinkEx(aplarray *array, const char *file, int32_t line);
/* Drops a link; frees the array (and unlinks its items) at the last one. */
APL_EXPORT void APL_UnLinkEx(aplarray *array, const char *file, int32_t line);
/* Frees the array only when nobody linked it (lnkcnt 0). */
APL_EXPORT void APL_UnLinkTempEx(aplarray *array, const char *file, int32_t line);
/* Address of the data, after a consistency check. */
APL_EXPORT void *APL_DataEx(aplarray *array, const char *file, int32_t line);

#define APL_Link(a) APL_LinkEx((a), __FILE__, __LINE__)
#define APL_UnLink(a) APL_UnLinkEx((a), __FILE__, __LINE__)
#define APL_UnLinkTemp(a) APL_UnLinkTempEx((a), __FILE__, __LINE__)
#define APL_Data(a) APL_DataEx((a), __FILE__, __LINE__)

/* Temporary INTG scalar. */
APL_EXPORT aplarray *APL_Int(int32_t value);
/* Temporary CHAR vector of a NUL-terminated text; null for a null text. */
APL_EXPORT aplarray *APL_String(const char *text);
/* New temporary array of the given rank, element type and shape; the caller
 * fills the data (item slots of a nested array start null). */
APL_EXPORT aplarray *APL_Create(int32_t rank, int32_t eltype, const int32_t *shape);

/* The niladic system function MD: (live blocks, sum of link counts). */
APL_EXPORT aplarray *APL_MemDebug(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Symbol table --------------------------------------------------------
 * One flat table of every name of the workspace; a name is known everywhere by
 * its 16-bit index, which never changes. */
typedef struct aplsymbol {
    uint32_t name;    /* offset of the NUL-terminated name in the pool */
    uint8_t kind;     /* APL_KIND_ bits */
    uint8_t kindHigh; /* upper byte of the kind given at definition */
    uint8_t zero[2];
    void *value;      /* aplarray, function address or aplfnc descriptor */
} aplsymbol;

typedef struct aplsymtab {
    uint16_t count;     /* entries; an index equal to count means "not found" */
    uint32_t poolUsed;  /* bytes used in pool */
    uint16_t *sorted;   /* entry indices in byte order of their names */
    char *pool;         /* the names, NUL-terminated, in order of entry */
    aplsymbol *entries; /* by index */
} aplsymtab;

/* Kind bits of a symbol. */
enum {
    APL_KIND_LABELBIT = 0x01, /* with 0x02 a label, with 0x04 a niladic function */
    APL_KIND_VARIABLE = 0x02,
    APL_KIND_FUNCTION = 0x04,
    APL_KIND_MONOP = 0x08,
    APL_KIND_DYOP = 0x10,
    APL_KIND_SYSTEM = 0x20,   /* system variable 0x22, function 0x24, niladic 0x25 */
    APL_KIND_USER = 0x40,     /* the value is an aplarray the entry owns */
    APL_KIND_OPERAND = 0x80   /* the value points at an aplfnc descriptor */
};

APL_EXPORT extern aplsymtab APL_symtab;

/* Indices of the system variables. */
APL_EXPORT extern uint16_t sys_ELIDE_idx;
APL_EXPORT extern uint16_t sys_PW_idx;
APL_EXPORT extern uint16_t sys_CT_idx;
APL_EXPORT extern uint16_t sys_PP_idx;
APL_EXPORT extern uint16_t sys_IO_idx;
APL_EXPORT extern uint16_t sys_DIV_idx;
APL_EXPORT extern uint16_t sys_AV_idx;
APL_EXPORT extern uint16_t sys_RL_idx;
APL_EXPORT extern uint16_t sys_MODE_idx;
APL_EXPORT extern uint16_t sys_alph_idx;
APL_EXPORT extern uint16_t sys_Alph_idx;
APL_EXPORT extern uint16_t sys_DIGIT_idx;
APL_EXPORT extern uint16_t sys_LX_idx;
APL_EXPORT extern uint16_t sys_TC_idx;
APL_EXPORT extern uint16_t sys_NLT_idx;
APL_EXPORT extern uint16_t sys_SM_idx;
APL_EXPORT extern uint16_t sys_FC_idx;
APL_EXPORT extern uint16_t sys_EM_idx;
APL_EXPORT extern uint16_t sys_WA_idx;

/* Enters a name (length bytes, not necessarily NUL-terminated). init points
 * at the initial value word; an existing name with *init 0 is left as it is.
 * Returns the index, or APL_symtab.count on error. */
APL_EXPORT uint16_t APL_AddSymbol(const char *name, int32_t length, int32_t kind, void *const *init);
/* The value of a symbol (not linked); null when it has none. */
APL_EXPORT aplarray *APL_Variable(uint16_t index);

/* ---- Host callbacks -----------------------------------------------------
 * Slot 1: void write(const char *text, int newLine)   all session output
 * Slot 2: void newlines(int count)
 * Slot 3: void readline(char *buffer, int mode)
 * Slot 4: void workspaceChanged(const char *name)
 * Slot 5: int copyFile(const char *from, const char *to, int flag)
 * Slot 6: void makeDirectory(const char *path)
 * Slot 7: void listPlugins(char *buffer)
 * Slot 8: void *loadLibrary(const char *name)
 * Slot 9: void *findProcedure(void *handle, const char *name)
 * Slot 10: void maskFloatingPoint(void) */
APL_EXPORT int32_t APL_Callback(int32_t slot, void *function);

#ifdef __cplusplus
}
#endif

#endif /* ORBAX_APL_H */
