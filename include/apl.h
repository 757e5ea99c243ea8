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

/* On Windows the library's own objects export (ORBAX_BUILDING_LIBRARY is
 * defined while they compile) and its clients import: data in a DLL can be
 * reached only through the import. */
#if defined(_WIN32) && defined(ORBAX_BUILDING_LIBRARY)
#define APL_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define APL_EXPORT __declspec(dllimport)
#else
#define APL_EXPORT __attribute__((visibility("default")))
#endif
/* What a plug-in library itself exports (ORBAX_StartPlugin and the functions
 * it registers). */
#if defined(_WIN32)
#define APL_PLUGIN_EXPORT __declspec(dllexport)
#else
#define APL_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

/* ---- The array record -------------------------------------------------
 * One contiguous record: header, shape, then the data at 16 + 4 x rank.
 * Nested arrays hold native item pointers; BOOL arrays pack 32 bits per
 * word with every row starting on a fresh word. */
typedef struct aplarray {
    int32_t size;   /* bytes from size to the end of the data, at least 20 */
    uint8_t type;   /* APL_SIMPLE or APL_NESTEDARRAY plus the flags below */
    uint8_t rank;   /* number of axes, at most 64 */
    uint8_t eltype; /* element type code */
    uint8_t pad;
    int32_t lnkcnt;  /* holders that linked the array; 0 for a temporary */
    int32_t number;  /* elements stored (32-bit words for BOOL rows) */
    int32_t shape[]; /* rank axis lengths; the data follows */
} aplarray;

/* Element type codes; a set of types is a bit mask. */
enum { APL_CHAR = 1, APL_INTG = 2, APL_REAL = 4, APL_NESTED = 8, APL_BOOL = 16, APL_SHORT = 32 };

/* Bits of aplarray.type and of the allocation flags. */
enum {
    APL_SIMPLE = 0x01,      /* elements are values */
    APL_NESTEDARRAY = 0x02, /* elements are item pointers */
    APL_TEMP = 0x04,        /* allocation flag only: start with no link */
    APL_STRAND = 0x08,      /* built by strand catenation */
    APL_FLAG10 = 0x10,      /* carried from the allocation flags */
    APL_STATIC = 0x40,      /* not in a managed block; never freed */
    APL_INDEXPOS = 0x80     /* index-position array of a selective assignment */
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
    void *value; /* aplarray, function address or aplfnc descriptor */
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
    APL_KIND_SYSTEM = 0x20, /* system variable 0x22, function 0x24, niladic 0x25 */
    APL_KIND_USER = 0x40,   /* the value is an aplarray the entry owns */
    APL_KIND_OPERAND = 0x80 /* the value points at an aplfnc descriptor */
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

/* ---- Element types ---------------------------------------------------------
 * Returns a nested array of scalars of the same shape (BOOL and SHORT elements
 * become INTG scalars); consumes a temporary argument. */
APL_EXPORT aplarray *APL_MakeNested(aplarray *array);
/* The system functions BOOL, SHORT and REAL (monadic). Return a temporary;
 * consume temporary arguments, leave linked ones as they were. */
APL_EXPORT aplarray *APL_ToBool(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_ToShort(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_ToReal(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Runtime interface for compiled code ---------------------------------
 * Function descriptors: one record of four pointer-sized words serves as the
 * operand descriptor (aplfnc), as a symbol value of kind 0x80 and as the
 * evaluator's stack item (class word, value, two further words). */
struct aplop;
typedef struct aplfnc {
    intptr_t flags;   /* APL_FN_ bits (the stack item's class word) */
    struct aplop *op; /* operator record of a derived function */
    void *function;   /* native function (aplfunction) */
    intptr_t code;    /* low byte: the character code of a primitive */
} aplfnc;

/* Bits of aplfnc.flags; the primitive flag table uses the same bits. */
enum {
    APL_FN_NILADIC = 0x0001,
    APL_FN_ARRAY = 0x0002, /* an operand that is an array, held in the function word */
    APL_FN_FUNCTION = 0x0004,
    APL_FN_MONOP = 0x0008,
    APL_FN_DYOP = 0x0010,
    APL_FN_ARRAYOPERAND = 0x0020, /* a monadic operator that also takes an array operand */
    APL_FN_DEFINED = 0x0040,      /* a defined function, run by the interpreter */
    APL_FN_DERIVED = 0x0080,      /* op points at the operator record */
    APL_FN_PRIMITIVE = 0x0800,    /* code names a registered primitive */
    APL_FN_SCALAR1 = 0x1000,      /* the monadic form is a scalar function */
    APL_FN_SCALAR2 = 0x2000,      /* the dyadic form is a scalar function */
    APL_FN_SELECT1 = 0x4000,      /* monadic form allowed in selective assignment */
    APL_FN_SELECT2 = 0x8000       /* dyadic form allowed in selective assignment */
};

/* The signature of every operator: the second operand of a monadic operator
 * is an empty descriptor (flags 0). */
typedef aplarray *(*aploperator)(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right);

/* The operator record of a derived function. The axes and array operands are
 * not linked by the record: a temporary one lives until the outermost
 * evaluation of the derived function ends. */
typedef struct aplop {
    aplfnc left;         /* copy of the (left) operand's descriptor */
    aplarray *leftAxis;  /* axis written on the left operand */
    intptr_t kind;       /* 8 monadic, 16 dyadic; | 0x0800: primitive, code below */
    void *function;      /* the operator (aploperator) when kind lacks 0x0800 */
    intptr_t code;       /* character code of a primitive operator */
    aplfnc right;        /* right operand of a dyadic operator, else all zero */
    aplarray *rightAxis; /* axis written on the right operand */
    aplarray *axis;      /* axis written on the operator */
} aplop;

/* The same array with one more link (a linked managed copy of a static array). */
APL_EXPORT aplarray *APL_Copy(aplarray *array);
/* Assigns a value to a name and returns the stored value (linked by the name):
 * links the new value, stores it, unlinks the old one. A temporary value is
 * thereby owned by the name. Null with the error set on failure. */
APL_EXPORT aplarray *APL_Assign(uint16_t index, aplarray *value);
/* Line number of the innermost running function, 0 when none runs. */
APL_EXPORT int32_t APL_GetLineNum(void);
/* Non-zero when the innermost running function's last line branched. */
APL_EXPORT int32_t APL_DidJump(void);
/* Joins one more item to a strand; returns a temporary vector marked
 * APL_STRAND. Consumes temporary arguments (also on error). */
APL_EXPORT aplarray *APL_CatArray(aplarray *left, aplarray *right, int32_t leftIsStrand, int32_t spliceRight);
/* Calls the function a descriptor stands for; further arguments are ignored.
 * Returns a temporary; consumes temporary arguments, leaves linked ones. */
APL_EXPORT aplarray *APL_Evaluate(aplfnc *function, aplarray *axis, aplarray *left, aplarray *right, ...);
/* Display the value and end the line; the value keeps its links (a temporary
 * stays allocated). */
APL_EXPORT void APL_Display(aplarray *array);
/* The same without ending the last line; flushes standard output. */
APL_EXPORT void APL_DisplayNoLF(aplarray *array);

/* Support routines of generated code. A localised name's entry is kept in a
 * save area that the compiled function supplies (aplsymbol localvars[n]). */
/* Localises a variable: a system variable keeps its value (linked once more). */
APL_EXPORT void KAZ_InitVar(aplsymbol *save, uint16_t index);
/* Localises an argument: the name holds the value (linked). Returns 1 when a
 * value was given, else 0. */
APL_EXPORT int32_t KAZ_InitArg(aplsymbol *save, uint16_t index, aplarray *value);
/* Localises a label: the name becomes a label (kind 0x03) whose value is the
 * given constant; nothing is linked. */
APL_EXPORT void KAZ_InitLabel(aplsymbol *save, uint16_t index, aplarray *value);
/* Restore a localised name: the current value is unlinked (not for labels) and
 * the saved entry comes back. The argument of KAZ_ResumeArg is not read. */
APL_EXPORT void KAZ_ResumeVar(aplsymbol *save, uint16_t index);
APL_EXPORT void KAZ_ResumeArg(aplsymbol *save, uint16_t index, aplarray *value);
APL_EXPORT void KAZ_ResumeLabel(aplsymbol *save, uint16_t index);
/* Stores the value in a static word and returns its address, for the init
 * argument of APL_AddSymbol; valid until the next call. */
APL_EXPORT void *const *KAZ_InitSimple(const void *value);
/* Displays a non-null value, then releases it if it is a temporary. */
APL_EXPORT void KAZ_Display(aplarray *value);
/* Descriptor of a primitive: its character code, its primitive flag word and
 * its function. */
APL_EXPORT aplfnc KAZ_Fn(int32_t code, int32_t flags, aplfunction function);
/* Descriptor of a native function (compiled or system function). */
APL_EXPORT aplfnc KAZ_CFn(aplfunction function);
/* Fill the operator record and the derived descriptor of a monadic or dyadic
 * operator applied to its operands; return the derived descriptor. The axes
 * are kept as given (see aplop). */
APL_EXPORT aplfnc *KAZ_MonOp(aplfnc *derived, aplop *record, aploperator function, aplarray *axis, aplfnc operand,
                             aplarray *operandAxis);
APL_EXPORT aplfnc *KAZ_DyOp(aplfnc *derived, aplop *record, aploperator function, aplarray *axis, aplfnc left,
                            aplarray *leftAxis, aplfnc right, aplarray *rightAxis);

/* ---- Shape, registration and plug-ins -------------------------------------- */
/* Shape (monadic) and reshape (dyadic). Returns a temporary; consumes temporary
 * arguments, leaves linked ones as they were. */
APL_EXPORT aplarray *APL_Shape(aplarray *axis, aplarray *left, aplarray *right);
/* For plug-ins, while their start procedure runs: makes the procedure cName of
 * the plug-in's library the system function `name` (quad and letters; kind
 * 0x24, or 0x25 for a niladic one). Returns 1 when the library has no such
 * procedure, else 0. */
APL_EXPORT int32_t APL_CreateCommand(const char *name, const char *cName, int32_t kind);
/* What a plug-in library exports as "ORBAX_StartPlugin": it is given a zeroed
 * information block of APL_PLUGIN_INFO_SIZE bytes to fill in as it likes and
 * returns 0 when it wants to stay loaded. */
#define APL_PLUGIN_INFO_SIZE 672
typedef int32_t (*aplpluginstart)(void *info);

/* ---- Format, interval, empty vector, literal -------------------------------
 * Each returns a temporary; consumes temporary arguments, leaves linked ones. */
/* Monadic and dyadic format (the axis is ignored): a CHAR array. */
APL_EXPORT aplarray *APL_Format(aplarray *axis, aplarray *left, aplarray *right);
/* Monadic: the index generator; dyadic: index of (the left a vector). */
APL_EXPORT aplarray *APL_Interval(aplarray *axis, aplarray *left, aplarray *right);
/* Grade up and down of the major cells of a numeric array, or of a CHAR array
 * with the collating sequence on the left: an INTG vector of cell numbers. */
APL_EXPORT aplarray *APL_GradeUp(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_GradeDown(aplarray *axis, aplarray *left, aplarray *right);
/* Monadic: logical not (0 and 1 swap, the type kept); dyadic: without, the
 * elements of the vector left that are not members of right. */
APL_EXPORT aplarray *APL_Without(aplarray *axis, aplarray *left, aplarray *right);
/* Monadic: the structure with numbers as 0 and characters as blanks; dyadic:
 * INTG 1 where an occurrence of the pattern left begins in right. */
APL_EXPORT aplarray *APL_Find(aplarray *axis, aplarray *left, aplarray *right);
/* The system function DISPLAY: the boxed picture of right, its edges marking
 * the shape left (default the shape of right). A CHAR matrix. */
APL_EXPORT aplarray *APL_PictDisplay(aplarray *axis, aplarray *left, aplarray *right);
/* Niladic: the empty numeric vector; any argument is VALENCE. */
APL_EXPORT aplarray *APL_EmptyVector(aplarray *axis, aplarray *left, aplarray *right);
/* The system function EXTRN: a CHAR vector in its keyword spelling. */
APL_EXPORT aplarray *APL_Literal(aplarray *axis, aplarray *left, aplarray *right);
/* The system function ORBAX: left ORBAX right compiles the function named on
 * the left, and every function it reaches, into a C project at the target on
 * the right (a project name, or a path ending in it). No result. */
APL_EXPORT aplarray *APL_Compile(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Component files, serialised arrays and native files -----------------
 * System functions IIO, IIOS, IIOL, NTIE, NUNTIE, NSIZE, NREMOVE, NFLUSH,
 * NREAD, NWRITE, NAPPEND and NEXIST. Each returns a temporary (null where the
 * function has no result) and consumes temporary arguments; linked ones are
 * left as they were. Files hold arrays in the 32-bit little-endian layout. */
APL_EXPORT aplarray *APL_ReadWrite(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Serialize(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_SerialLength(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileTie(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileUnTie(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileSize(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileRemove(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileFlush(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileRead(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileWrite(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileAppend(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_FileExist(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Scalar functions ------------------------------------------------------
 * left null selects the monadic form (an axis is then ignored). Return a
 * temporary, possibly a temporary argument overwritten in place; consume
 * temporary arguments (also on error), leave linked ones as they were. */
APL_EXPORT aplarray *APL_Add(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Sub(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Mul(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Division(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Residue(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Max(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Min(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Power(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Logarithm(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Circle(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Factorial(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Equal(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_NEqual(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Lower(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_LEqual(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_GEqual(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Greater(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Or(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Nor(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_And(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Nand(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Keyword layer ---------------------------------------------------------
 * A keyword lexer (longest-match automaton) from a 2-item vector: the keyword
 * strings and the codes to report for them. Returns a temporary 5-item lexer;
 * consumes temporary arguments. */
APL_EXPORT aplarray *APL_Lextable(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Indexing, indexed and selective assignment, enclose ------------------
 * An index list holds one item per axis (an array of indices in the index
 * origin, or the value of EL for a whole axis), or is a simple vector of one
 * index per axis. */
/* A[I] (value null) or A[I]<-V. Selection returns a new temporary; assignment
 * returns the updated array: the array itself when nobody else holds it, else
 * a new temporary. Consumes temporary arguments (a temporary array in
 * assignment is returned updated or released). */
APL_EXPORT aplarray *APL_IndexData(aplarray *array, aplarray *indices, aplarray *value);
/* Squad: left the index list, optionally an axis. Returns a temporary; consumes
 * temporary arguments, leaves linked ones as they were. */
APL_EXPORT aplarray *APL_Indexing(aplarray *axis, aplarray *left, aplarray *right);
/* The index array of an array: its structure, holding *counter, *counter+1, ...
 * over the simple elements depth first; *counter is advanced past them.
 * Returns a new temporary flagged APL_INDEXPOS; borrows the array. */
APL_EXPORT aplarray *APL_IndexArray(aplarray *array, int32_t *counter);
/* X[I]<-V into the value of a name. Returns V (a temporary stays one, for the
 * caller to release), or null on error; consumes a temporary index list. */
APL_EXPORT aplarray *APL_AssignIdx(uint16_t index, aplarray *indices, aplarray *value);
/* The store of a selective assignment: positions is what the selection
 * made of the name's position array (APL_IndexArray counted from 1). Returns V
 * as APL_AssignIdx does; consumes a temporary position array. */
APL_EXPORT aplarray *APL_AssignSel(uint16_t index, aplarray *positions, aplarray *value);
/* ---- Nested arrays ---------------------------------------------------------
 * Each returns a temporary (or, where noted, an argument or one of its items
 * as it is); consumes temporary arguments, leaves linked ones as they were. */
/* Enclose, enclose with axis, partitioned enclose (a simple scalar comes back
 * itself). */
APL_EXPORT aplarray *APL_Enclose(aplarray *axis, aplarray *left, aplarray *right);
/* Disclose (mix), mix with axis, and pick (the item reached comes back itself;
 * a simple right argument of disclose too). */
APL_EXPORT aplarray *APL_Disclose(aplarray *axis, aplarray *left, aplarray *right);
/* Enlist and membership (INTG truth values). */
APL_EXPORT aplarray *APL_Element(aplarray *axis, aplarray *left, aplarray *right);
/* Depth and match (INTG scalars). */
APL_EXPORT aplarray *APL_Match(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Structural primitives -------------------------------------------------
 * Each returns a temporary (or an argument passed through where noted);
 * consumes temporary arguments, leaves linked ones as they were. */
/* Catenate and laminate (dyadic), ravel and ravel with axis (monadic). */
APL_EXPORT aplarray *APL_Catenate(aplarray *axis, aplarray *left, aplarray *right);
/* Reverse (monadic) and rotate along the last axis (APL_Rotate) or the first
 * (APL_Rotate1) when no axis is written. A scalar or an empty array is
 * returned itself. */
APL_EXPORT aplarray *APL_Rotate(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Rotate1(aplarray *axis, aplarray *left, aplarray *right);
/* Compress and replicate (APL_Replicate1: along the first axis when no axis
 * is written); a negative count inserts that many fill cells. */
APL_EXPORT aplarray *APL_Replicate(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Replicate1(aplarray *axis, aplarray *left, aplarray *right);
/* Expand (APL_Expand1: along the first axis): each 0 of the Boolean left
 * inserts a fill cell, each 1 takes the next cell. */
APL_EXPORT aplarray *APL_Expand(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Expand1(aplarray *axis, aplarray *left, aplarray *right);
/* Transpose: monadic reverses the axes; dyadic moves axis i to left[i]
 * (repeated targets select diagonals). A scalar, or a vector transposed
 * monadically, is returned itself. */
APL_EXPORT aplarray *APL_Transpose(aplarray *axis, aplarray *left, aplarray *right);
/* Dyadic take, monadic first; an empty left with a scalar right returns it. */
APL_EXPORT aplarray *APL_Take(aplarray *axis, aplarray *left, aplarray *right);
/* Dyadic drop; an empty left returns the right argument. */
APL_EXPORT aplarray *APL_Drop(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Session, execution and line control ----------------------------------
 * The host sets the file names it wants before APL_Init, registers its
 * callbacks and runs APL_MainLoop. */
/* Size of the buffer the library hands to the read callback (slot 3). */
#define APL_INPUT_BUFFER 16384
APL_EXPORT extern char APL_tokenfile[96];
APL_EXPORT extern char APL_messagefile[96];
APL_EXPORT extern char APL_workspacefile[80];
APL_EXPORT extern char APL_workspaceID[80];
APL_EXPORT extern char APL_compilerfile[80];
/* The help texts of )HELP (UTF-8; "help.txt" when empty), read when it runs. */
APL_EXPORT extern char APL_helpfile[256];
/* The column the host's cursor is at (characters already on the line). */
APL_EXPORT extern int32_t APL_cursor_pos;
/* Starts the library: mode 0 for a session, non-zero for a compiled program;
 * workspace names a workspace to load (may be empty). Returns 0. */
APL_EXPORT int32_t APL_Init(uint8_t mode, const char *workspace);
/* Non-interactive sessions (scripts, piped input): no banner, character
 * input is the line read alone, OFF writes no input record. */
APL_EXPORT void APL_SetScriptMode(int32_t on);
/* How many errors the session has reported since APL_Init; a host running a
 * script exits with failure when it is not zero. */
APL_EXPORT int32_t APL_ErrorsReported(void);
/* A ceiling on the bytes the workspace's arrays and blocks may take, set by
 * the host (0: no ceiling, the default); past it allocation is WS FULL. */
APL_EXPORT void APL_SetAllocationLimit(int64_t bytes);
/* The session: reads, evaluates and prints until OFF or the end of input. */
APL_EXPORT void APL_MainLoop(void);
/* The end of input, called by the read callback in place of a line: the
 * session loop returns as at OFF, but tied files stay tied and no input
 * record is written, so that a host feeding the session a piece at a time
 * can run APL_MainLoop again on the same workspace. */
APL_EXPORT void APL_EndInput(void);
/* Evaluated (quad) and character (quote-quad) input; each returns a temporary. */
APL_EXPORT aplarray *APL_QuadInput(void);
APL_EXPORT aplarray *APL_QQuadInput(void);
/* Execute: the value of a line of text (null when it has none). */
APL_EXPORT aplarray *APL_Execute(aplarray *axis, aplarray *left, aplarray *right);
/* Niladic: the screen size as known to the library (0 0). */
APL_EXPORT aplarray *APL_Screenres(aplarray *axis, aplarray *left, aplarray *right);
/* Line control of running functions, shared by compiled code: a new frame of
 * lineCount lines (the current one saved in *oldOut), the next line to run (0
 * when the function is finished), and the return to the saved frame. */
APL_EXPORT void *APL_InitLines(void **oldOut, int32_t lineCount, ...);
APL_EXPORT int32_t APL_NextLine(const uint8_t *lineFlags);
APL_EXPORT void APL_ResumeLines(void *old);
/* The branch arrow and the control symbol (single-line controls). */
APL_EXPORT aplarray *APL_Jump(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Control(aplarray *axis, aplarray *left, aplarray *right);
/* Commute (the operator ⍨): left f right as right f left; f Y as Y f Y. */
APL_EXPORT aplarray *APL_Commute(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right);
/* Rank (the operator ⍤): the operand applied to the cells of the ranks given
 * by the axis, or by the first one or two items of right (the argument is the
 * rest), the results mixed. Returns a temporary; consumes temporary arguments
 * and axes, leaves linked ones as they were. */
APL_EXPORT aplarray *APL_Rank(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right);
/* Reduce f/R (APL_Reduce1: f⌿R, along the first axis when no axis is written),
 * N-wise reduction when left is given, replicate when the operand is an array.
 * Returns a temporary (a scalar right is returned itself); consumes temporary
 * arguments and axes, leaves linked ones as they were. */
APL_EXPORT aplarray *APL_Reduce(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                aplarray *secondAxis, aplarray *right);
APL_EXPORT aplarray *APL_Reduce1(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                                 aplarray *secondAxis, aplarray *right);
/* Scan f\R (APL_Scan1: f⍀R): element k along the axis is f/ of elements 0..k.
 * Same conventions as APL_Reduce; a left argument is a SYNTAX error. */
APL_EXPORT aplarray *APL_Scan(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right);
APL_EXPORT aplarray *APL_Scan1(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                               aplarray *secondAxis, aplarray *right);
/* Each (the operator ¨): the operand applied item by item, single items paired
 * with every item of the other argument. Null without an error when the
 * operand returned no value for every item. */
APL_EXPORT aplarray *APL_Each(aplarray *axis, aplarray *left, aplfnc *operand, aplarray *operandAxis, aplfnc *second,
                              aplarray *secondAxis, aplarray *right);
/* Inner product L f.g R, and the outer product L ∘.g R when f is the primitive ∘. */
APL_EXPORT aplarray *APL_InnerProduct(aplarray *axis, aplarray *left, aplfnc *f, aplarray *fAxis, aplfnc *g,
                                      aplarray *gAxis, aplarray *right);
/* ∘ alone as a function: SYNTAX ERROR, the arguments released. */
APL_EXPORT aplarray *APL_Jot(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Defined functions: fixing and representations -----------------------
 * Each returns a temporary and consumes temporary arguments; linked ones are
 * left as they were. */
/* FX: fixes a function from a CHAR matrix or a nested vector of lines; the
 * name, or the INTG index of the line at fault (0 for the header). */
APL_EXPORT aplarray *APL_Fix(aplarray *axis, aplarray *left, aplarray *right);
/* VR and CR: the lines of a function as a nested vector or a CHAR matrix. */
APL_EXPORT aplarray *APL_VectorRep(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_CharRep(aplarray *axis, aplarray *left, aplarray *right);
/* Fixes every item of the array in the named file; the results in its shape. */
APL_EXPORT aplarray *APL_Loadfns(aplarray *axis, aplarray *left, aplarray *right);
/* TF: with 1 or 2 on the left, the transfer text (form 1 or 2) of the variable
 * or function named on the right, or the object defined from a transfer text. */
APL_EXPORT aplarray *APL_TransferFormat(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Number representation, matrix inverse, random numbers, replace ----
 * Each returns a temporary and consumes temporary arguments; linked ones are
 * left as they were. */
/* Dyadic: base value (digits under radices into numbers); monadic is NONCE. */
APL_EXPORT aplarray *APL_Encode(aplarray *axis, aplarray *left, aplarray *right);
/* Dyadic: representation (numbers into digits under radices); monadic is NONCE. */
APL_EXPORT aplarray *APL_Decode(aplarray *axis, aplarray *left, aplarray *right);
/* Monadic: matrix inverse; dyadic: matrix divide (solution or least squares). REAL. */
APL_EXPORT aplarray *APL_MatInverse(aplarray *axis, aplarray *left, aplarray *right);
/* Monadic: roll; dyadic: deal. Each draw advances the random link RL. */
APL_EXPORT aplarray *APL_Roll(aplarray *axis, aplarray *left, aplarray *right);
/* Dyadic only: the CHAR vector right with every old string of the pair
 * left = (old new) replaced by its new string, left to right, the longest old
 * string winning where several begin at one place. Monadic is VALENCE. */
APL_EXPORT aplarray *APL_replace(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Names, execution, time and the operating system ----------------------
 * System functions NC, NL, EX, AT, CONST, VAR, EA, SH, LIB, TS, AI, LC and IC.
 * Each returns a temporary (null where the function has no result) and
 * consumes temporary arguments; linked ones are left as they were. EX unlinks
 * the values of the names it erases. */
APL_EXPORT aplarray *APL_NameClass(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_NameList(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_EraseItem(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Attributes(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_MakeConst(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_MakeVar(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_ExecAlternate(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_SystemCall(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Directory(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_TimeStamp(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_AccountInfo(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_LineCount(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_IterationCount(aplarray *axis, aplarray *left, aplarray *right);
/* DR, AF, HEAD and INTRN: a new temporary (DR of the same type: a copy).
 * Consume temporary arguments; linked ones are left as they were. */
APL_EXPORT aplarray *APL_DataRep(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Atomic(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_HeaderInfo(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Internal(aplarray *axis, aplarray *left, aplarray *right);
/* Left and right tack: one argument handed back as it came (a temporary stays
 * a temporary, a linked one keeps its links); a temporary other argument is
 * released. Monadic, both give the right argument. */
APL_EXPORT aplarray *APL_Lev(aplarray *axis, aplarray *left, aplarray *right);
APL_EXPORT aplarray *APL_Dex(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Utilities without a system-function name -----------------------------
 * For generated code and plug-ins. Each returns a new temporary (Arbout:
 * nothing) and consumes temporary arguments; linked ones are left as they were. */
/* The pieces of a CHAR vector between separators (left: one character, blank
 * by default); n separators give n + 1 pieces. */
APL_EXPORT aplarray *APL_Sepword(aplarray *axis, aplarray *left, aplarray *right);
/* A CHAR vector without its leading and trailing blanks. */
APL_EXPORT aplarray *APL_TrailBlank(aplarray *axis, aplarray *left, aplarray *right);
/* Every character c of the right argument replaced by left[c] (256 characters). */
APL_EXPORT aplarray *APL_Xlat(aplarray *axis, aplarray *left, aplarray *right);
/* n + 1 counts of the codes 0 ... n on the left (right: n); with a left
 * argument (codes, weights) the sums of the weights instead. */
APL_EXPORT aplarray *APL_Sumlab(aplarray *axis, aplarray *left, aplarray *right);
/* Elements of a CHAR, SHORT or INTG array shifted left by s bits (right by -s)
 * within their own width. */
APL_EXPORT aplarray *APL_Bitshift(aplarray *axis, aplarray *left, aplarray *right);
/* Writes the bytes of a CHAR vector to standard output, unchanged, and flushes it. */
APL_EXPORT aplarray *APL_Arbout(aplarray *axis, aplarray *left, aplarray *right);
/* An INTG height-by-width pixel matrix (left: width, height[, background])
 * with the polyline of the REAL rows (pen, x%, y%) drawn in. */
APL_EXPORT aplarray *APL_Image_plot(aplarray *axis, aplarray *left, aplarray *right);

/* ---- Host callbacks -----------------------------------------------------
 * Slot 1: void write(const char *text, int newLine)   all session output
 * Slot 2: void newlines(int count)      count 0 ends no line: the output so
 *         far must be seen now (the session is about to wait for input, or
 *         has reported an error); a host that buffers output flushes it
 * Slot 3: void readline(char *buffer, int mode)
 * Slot 4: void workspaceChanged(const char *name)
 * Slot 5: int copyFile(const char *from, const char *to, int flag)
 * Slot 6: void makeDirectory(const char *path)
 * Slot 7: void listPlugins(char *buffer)
 * Slot 8: void *loadLibrary(const char *name)
 * Slot 9: void *findProcedure(void *handle, const char *name)
 * Slot 10: void maskFloatingPoint(void)
 * Slot 11: int keyboard(int key)        the APL code the host's prefix key
 *         followed by the ASCII key gives (-1 for none); key 0 asks for the
 *         prefix key itself. )HELP shows the keyboard with it. */
APL_EXPORT int32_t APL_Callback(int32_t slot, void *function);

#ifdef __cplusplus
}
#endif

#endif /* ORBAX_APL_H */
