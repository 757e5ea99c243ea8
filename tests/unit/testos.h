// testos: the few operating-system services the unit tests use, one spelling
// for Linux and Windows: temporary files and folders, the environment, the
// process number, loading a shared library and raising a processor fault.
// (testos.cpp keeps windows.h, and its macros, away from the tests.)
#pragma once

#include <string>

namespace testos {

// A new empty folder or file in the temporary folder, named PREFIX and six
// random letters; "" when none could be made.
std::string MakeTempDir(const std::string &prefix);
std::string MakeTempFile(const std::string &prefix);

// Sets or removes a variable of this process's environment (as getenv sees it).
bool SetEnv(const char *name, const char *value);
bool UnsetEnv(const char *name);

int ProcessId();

// A shared library and a name in it, as a host's plug-in callbacks find them.
void *OpenLibrary(const char *path);
void *FindInLibrary(void *library, const char *name);
std::string LibraryError();

// The processor fault that the signal stands for: the POSIX signal sent to
// this thread, on Windows the matching structured exception.
void RaiseFault(int signal);

}  // namespace testos
