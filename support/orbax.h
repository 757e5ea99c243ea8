/* orbax.h - support routines of the C programs that the APL compiler writes.
 * Copied into every generated project together with orbax.c. It completes
 * apl.h with the names the generated text uses and the library does not
 * export, and starts the library as a program that prints as the session does.
 * Compiles as C (C99 or later) and as C++. */
#ifndef ORBAX_SUPPORT_H
#define ORBAX_SUPPORT_H

#include "apl.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Names of the generated text --------------------------------------- */
/* Symbol indices, and the function-pointer variables of plug-in commands. */
typedef uint16_t TYPE_USHORT;
typedef aplfunction apl_function;
/* A system function by its generated-code name: FUNCTION(FileTie) is APL_FileTie. */
#define FUNCTION(Name) APL_##Name
/* The index origin as a for-loop reads it. */
#define io_idx sys_IO_idx

/* Adds a link to the array held in an lvalue. A static array (a constant
 * image) is replaced there by its linked managed copy, so that the later
 * unlink releases what was linked. (APL_UnLinkTemp(a) comes from apl.h.) */
#define APL_IncLink(a) ((a) = APL_LinkEx((a), __FILE__, __LINE__))

/* System variables whose mangled names differ from the library's: the quad
 * becomes "sys_", so the name A after the quad gives sys_A_idx. The others
 * (sys_IO_idx, sys_PP_idx, ...) are the library's own names already. */
#define sys_EL_idx sys_ELIDE_idx
#define sys_a_idx sys_alph_idx
#define sys_A_idx sys_Alph_idx
#define sys_D_idx sys_DIGIT_idx

/* The project defines its own error handler, void runtime_error(char *, int),
 * which apl.h's declaration of the library's report would contradict: within
 * the project the name stands for the project's handler. */
#define runtime_error orbax_project_runtime_error

/* ---- Start-up ------------------------------------------------------------ */
/* Starts the library as a compiled program: output, input and plug-in
 * callbacks as the console program has them (UTF-8 on the terminal side,
 * the APL character set on the library's), script-mode input, Ctrl-C as
 * INTERRUPT. exe_file is the program's path (argv[0]). */
void KAZ_Init(char *exe_file);
/* A temporary CHAR vector of UTF-8 text (a program argument) in the APL
 * character set. Text that is not UTF-8 or holds a character outside the set
 * is reported on standard output and ends the program with status 1. */
aplarray *KAZ_String(const char *utf8);
/* Program arguments reach the library in the APL character set. */
#define APL_String(text) KAZ_String(text)

/* ---- Initial values for APL_AddSymbol ------------------------------------ */
/* The init word of a variable whose initial value is the record image of a
 * simple array (null: no value). The image may lie at any address: it is
 * read byte-wise into a managed copy, which the symbol holds (linked). */
void *const *KAZ_InitImage(const unsigned char *image);
#define KAZ_InitSimple(image) KAZ_InitImage((const unsigned char *)(image))
/* The same for the serialised image of a nested array. */
void *const *KAZ_InitNested(const unsigned char *image);
/* The init word of a compiled function or operator (its address, whatever
 * its signature: the kind given to APL_AddSymbol tells how it is called). */
void *const *KAZ_InitAddress(void (*function)(void));
#define KAZ_InitFunction(function) KAZ_InitAddress((void (*)(void))(function))
/* The function of a plug-in command, found by its APL name (NUL-terminated);
 * when no loaded plug-in provides it, a function that fails with VALUE ERROR. */
apl_function KAZ_GetPluginFunction(const char *name);

/* ---- Array operands ------------------------------------------------------------
 * KAZ_AFn: the descriptor of an array operand of a dyadic operator, for
 * KAZ_DyOp. The array is not linked: a temporary one lives until the outermost
 * evaluation of the derived function ends, as a temporary axis does.
 * KAZ_OperandValue: inside a compiled operator, the array its operand holds
 * (not linked); null with SYNTAX ERROR when the operand is a function. */
aplfnc KAZ_AFn(aplarray *value);
aplarray *KAZ_OperandValue(const aplfnc *operand);

/* ---- Values ---------------------------------------------------------------- */
/* The result of a compiled function: the value of the result name, taken from
 * the name with the name's link (null when it has none). The link is dropped
 * when the function's frame ends (APL_ResumeLines, below), after every local
 * has been restored: the value may be shared with a local whose restoring
 * unlinks it. The caller then gets a temporary, or a value still linked by
 * a name that outlives the call. */
aplarray *KAZ_ReturnVar(uint16_t index);
void KAZ_ResumeLines(void *old);
#define APL_ResumeLines(old) KAZ_ResumeLines(old)
/* Quad and quote-quad output: display the value (quote-quad without ending
 * the line) and return it (a temporary stays one, for the caller to release);
 * null when aplerrno is set or there is no value (VALUE ERROR). */
aplarray *KAZ_QuadDisplay(aplarray *value);
aplarray *KAZ_QQuadDisplay(aplarray *value);
/* (A B C)<-value: count names, their indices given from right to left (C B A).
 * A scalar goes to every name, else one item per name (LENGTH ERROR when the
 * counts differ). Returns the value (a temporary stays one), null on error. */
aplarray *KAZ_AssignVec(aplarray *value, int32_t count, ...);
/* Selective assignment. KAZ_SelectArray turns the variable's value, read once
 * in the selection expression, into its position array (APL_IndexArray counted
 * from 1); KAZ_AssignSel stores value at the positions the selection left (a
 * new temporary, else SYNTAX ERROR). KAZ_AssignSel returns the value as
 * APL_AssignIdx does, and consumes a temporary position array. */
aplarray *KAZ_SelectArray(aplarray *value);
aplarray *KAZ_AssignSel(uint16_t index, aplarray *positions, aplarray *value);
/* The value as one integer (a case selector, the index origin): one element,
 * a whole number. Releases a temporary. On error 0 with aplerrno set (VALUE,
 * LENGTH, DOMAIN) and the message "In case statement". */
int32_t KAZ_GetInt(aplarray *value);
/* For-loops run over the ravel: the number of elements (BOOL counted as
 * elements, not words; 0 for null), and element i as the loop variable gets
 * it (a new temporary scalar of a simple array, the item itself of a nested
 * one, not linked). Both only read the array. */
int32_t KAZ_LoopCount(aplarray *values);
aplarray *KAZ_LoopItem(aplarray *values, int32_t i);

/* ---- Calls that keep one-element values in place ----------------------------
 * A counting loop's calls make and drop one-element arrays at every turn. The
 * support routines below compute two INTG or REAL scalars under + - × and the
 * comparisons directly (the library's results exactly), keep dropped scalars
 * for reuse instead of handing them back to the memory manager, and answer a
 * comparison, or (condition)⍴label, with a record they hold for good (shared,
 * so never changed in place by anyone). Other arguments go to the library.
 * Same ownership as the library's calls. */
aplarray *KAZ_Add(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Sub(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Mul(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Equal(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_NEqual(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Lower(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_LEqual(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_GEqual(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Greater(aplarray *axis, aplarray *left, aplarray *right);
aplarray *KAZ_Assign(uint16_t index, aplarray *value);
aplarray *KAZ_Shape(aplarray *axis, aplarray *left, aplarray *right);
/* The value of a symbol (not linked), read where the library keeps it. */
static inline aplarray *KAZ_Variable(uint16_t index) {
    return index < APL_symtab.count ? (aplarray *)APL_symtab.entries[index].value : NULL;
}
/* Only calls are redirected: a name without arguments (an operand such as
 * KAZ_Fn(43, ..., APL_Add)) is still the library's function. */
#define APL_Add(axis, left, right) KAZ_Add(axis, left, right)
#define APL_Sub(axis, left, right) KAZ_Sub(axis, left, right)
#define APL_Mul(axis, left, right) KAZ_Mul(axis, left, right)
#define APL_Equal(axis, left, right) KAZ_Equal(axis, left, right)
#define APL_NEqual(axis, left, right) KAZ_NEqual(axis, left, right)
#define APL_Lower(axis, left, right) KAZ_Lower(axis, left, right)
#define APL_LEqual(axis, left, right) KAZ_LEqual(axis, left, right)
#define APL_GEqual(axis, left, right) KAZ_GEqual(axis, left, right)
#define APL_Greater(axis, left, right) KAZ_Greater(axis, left, right)
#define APL_Assign(index, value) KAZ_Assign(index, value)
#define APL_Shape(axis, left, right) KAZ_Shape(axis, left, right)
#define APL_Variable(index) KAZ_Variable(index)

#ifdef __cplusplus
}
#endif

#endif /* ORBAX_SUPPORT_H */
