// nfiles: the native-file system functions NTIE, NUNTIE, NSIZE, NREMOVE, NFLUSH,
// NREAD, NWRITE, NAPPEND and NEXIST, the table of tied files, and file names and
// positions taken from arguments. Relies on arrays, the wrapper and oserror.
#pragma once

#include "apl.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Tie numbers run from 1 to kMaxTies.
constexpr int kMaxTies = 256;
constexpr size_t kMaxFileName = 4096;

// A file name as the C library wants it: NUL-terminated.
struct FileName {
    char text[kMaxFileName];
};

// The name held by a simple CHAR array of rank 0 or 1, in UTF-8 for the
// system. Borrows the array.
// False with DOMAIN (not simple CHAR, an embedded NUL, too long) or RANK.
bool GetFileName(const aplarray *array, FileName *name);
// A workspace or transfer file name (codes, as typed) with `extension` (".kaz",
// ".atf") added unless it already ends in it, in any case.
std::string WithExtension(const std::string &name, const char *extension);
// True when a workspace or transfer file may be written under `name` (codes,
// as typed): something is left of it once the extension is cut, it does not
// end in a separator or name "." or "..", and neither it nor the file it
// stands for is a folder. False with FILE I/O and a message that says why.
bool IsFileNameToWrite(const std::string &name, const char *extension);

// Element i of a simple numeric array (BOOL, SHORT, INTG, or REAL within 1e-13
// of an integer) as an integer. Borrows the array. False with DOMAIN.
bool IntegerElement(const aplarray *array, int64_t i, int64_t *value);
// The one integer of a simple numeric array holding exactly one element.
// Borrows the array. False with LENGTH (another count) or DOMAIN.
bool SingleInteger(const aplarray *array, int64_t *value);

// Positions in 64 bits on every build. StreamSeek is false when the stream
// refuses the position or its error indicator is set afterwards.
int64_t StreamTell(FILE *stream);
bool StreamSeek(FILE *stream, int64_t offset, int whence);
// The length of the file behind the stream, its position kept; -1 if unknown.
int64_t StreamLength(FILE *stream);

// The stream of a tie number; null with FILE I/O when no file has that tie.
FILE *TiedStream(int64_t tie);
// Closes every tied file (for the end of a session or a clear workspace).
void UntieAll();
