// safefile: replacing the contents of a file so that a failure at any point
// leaves the old file whole (a temporary file beside it, renamed over it).
// Relies on POSIX file calls and the pending OS error of oserror.
#pragma once

#include <cstdint>
#include <functional>

// One run of bytes to write.
struct FilePiece {
    const void *bytes;
    int64_t length;
};

// Writes all the bytes to the descriptor (again after a short write or an
// interrupted call); false with errno set by the call that failed.
bool WriteToFile(int fd, const void *bytes, int64_t length);

// Puts a file's bytes into the descriptor it is given. False when it could
// not: with the APL error set (the data cannot be written: the file is then
// given up), or with errno telling why the system refused.
using FileWriter = std::function<bool(int fd)>;

// ReplaceFile for bytes that are made while they are written.
bool ReplaceFileWith(const char *path, const FileWriter &writer);

// Writes the pieces, in order, to a new file in the directory of `path` and
// renames it over `path` (a symbolic link at `path` is replaced, its target
// left alone). An existing file's permissions are kept. A device, pipe or
// other special file is written in place instead. False with FILE I/O
// and the system's message pending; the old file and directory are then as
// they were.
bool ReplaceFile(const char *path, const FilePiece *pieces, int count);

// What CreateNewFile did.
enum class Creation { Created, Existed, Failed };

// Writes the pieces to a new file in the directory of `path` and gives it that
// name only if nothing has it yet, in one step: no other process ever sees the
// file half written, and a file that another process created meanwhile is left
// alone (Existed). Failed with FILE I/O and the system's message pending.
Creation CreateNewFile(const char *path, const FilePiece *pieces, int count);
