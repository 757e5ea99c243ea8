// hostos: the few services of the operating system that the console program
// needs and that POSIX and Windows spell differently.
#pragma once

#include <string>

// The folder the program was started from, with a trailing separator; empty
// when the system cannot say.
std::string ProgramDirectory();

// A shorter name for the existing file `path`, for buffers of fixed size:
// the canonical path when it is shorter, else (where the system has one) a
// name through a descriptor kept open for the life of the process, which
// fits any buffer. Empty when the file cannot be opened.
std::string ShortPathOf(const std::string &path, size_t limit);

// Sets a variable of the process environment (for the library to read).
void SetEnvironment(const char *name, const char *value);

// Calls `handler` when the user presses Ctrl-C.
void CatchInterrupt(void (*handler)(int));

// Makes and opens (read-write) a new file from `pattern`, whose six X's
// followed by `suffixLength` characters are replaced by a unique name; the
// descriptor, or -1.
int MakeTemporaryFile(std::string &pattern, int suffixLength);

// The folder for temporary files: $TMPDIR (on Windows %TEMP%), else the
// system's usual one.
std::string TemporaryDirectory();

// A shared library (plug-in) loaded by name, or null with the loader's reason.
void *OpenSharedLibrary(const char *name, std::string &reason);
void *FindSharedSymbol(void *library, const char *name);
