// winposix: the few POSIX names that the runtime's file code uses and that
// the Windows C library lacks or spells differently. The Windows build puts
// this header before every source of the runtime (the compiler's -include), so
// that the file code keeps one spelling; other builds never see it.
#pragma once
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

// Every file that the runtime opens with open() asks for O_CLOEXEC; on
// Windows that means "not inherited" and also binary mode, which each of
// those files wants (bytes go in and out unchanged, no CR LF translation).
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
// Opens on Windows never wait for a pipe's writer.
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif

// No symbolic links to tell apart: a link is what it points to.
#define lstat stat
#ifndef S_ISLNK
#define S_ISLNK(mode) 0
#endif

// Permission bits: a file made by the runtime keeps the ones Windows gives it.
inline int fchmod(int, unsigned) { return 0; }

// The append flag of an open descriptor cannot be switched on Windows: the
// flags read as 0 and setting them does nothing, so a write goes where the
// descriptor stands (callers seek to the end first).
#ifndef F_GETFL
#define F_GETFL 3
#define F_SETFL 4
inline int fcntl(int, int, int = 0) { return 0; }
#endif

#ifdef __cplusplus
extern "C" {
#endif
// A second name for a file (CreateHardLink); errno EEXIST when the name is
// taken, ENOSYS where the file system has no links.
int link(const char *existing, const char *name);
#ifdef __cplusplus
}
#endif

#endif
