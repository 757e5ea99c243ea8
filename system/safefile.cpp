// safefile: replacing the contents of a file so that a failure at any point
// leaves the old file whole (a temporary file beside it, renamed over it).
// Relies on POSIX file calls and the pending OS error of oserror.
#include "system/safefile.h"

#include "core/errors.h"
#include "system/oserror.h"
#include "system/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WritePieces(int fd, const FilePiece *pieces, int count) {
    for (int i = 0; i < count; ++i)
        if (!WriteToFile(fd, pieces[i].bytes, pieces[i].length)) return false;
    return true;
}

// What an ordinary create would give a new file, or what the old one had.
mode_t ModeFor(const char *path) {
    struct stat old;
    if (lstat(path, &old) == 0 && S_ISREG(old.st_mode)) return old.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A device or pipe has no old contents to keep (and is never replaced by a
// plain file): the bytes are written to it directly.
bool WriteInPlace(const char *path, const FileWriter &writer) {
    const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    bool ok = fd >= 0 && writer(fd);
    if (!ok && !aplerrno) NoteOsError();
    if (fd >= 0 && close(fd) != 0 && ok) {
        NoteOsError();
        ok = false;
    }
    if (!ok && !aplerrno) SetError(APL_ERR_FILEIO);
    return ok;
}

// Writes the bytes to a new temporary file beside `path`, with the mode that
// `path` has or would get; false with the APL error or the system's message
// pending (and no temporary left behind).
bool WriteTemporary(const char *path, const FileWriter &writer, std::string &temporary) {
    temporary = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        NoteOsError();
        return false;
    }
    bool ok = writer(fd);
    if (!ok && aplerrno) {
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    ok = ok && fchmod(fd, ModeFor(path)) == 0;
    if (!ok) NoteOsError();
    if (close(fd) != 0 && ok) {
        NoteOsError();
        ok = false;
    }
    if (!ok) unlink(temporary.c_str());
    return ok;
}

FileWriter PiecesWriter(const FilePiece *pieces, int count) {
    return [pieces, count](int fd) { return WritePieces(fd, pieces, count); };
}

}  // namespace

bool WriteToFile(int fd, const void *bytes, int64_t length) {
    const auto *next = static_cast<const char *>(bytes);
    while (length > 0) {
        const ssize_t n = write(fd, next, static_cast<size_t>(length < (1 << 30) ? length : (1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        next += n;
        length -= n;
    }
    return true;
}

bool ReplaceFileWith(const char *path, const FileWriter &writer) {
    struct stat existing;
    if (lstat(path, &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))
        return WriteInPlace(path, writer);
    std::string temporary;
    if (!WriteTemporary(path, writer, temporary)) {
        if (!aplerrno) SetError(APL_ERR_FILEIO);
        return false;
    }
    if (RenameOver(temporary.c_str(), path)) return true;
    NoteOsError();
    unlink(temporary.c_str());
    SetError(APL_ERR_FILEIO);
    return false;
}

bool ReplaceFile(const char *path, const FilePiece *pieces, int count) {
    return ReplaceFileWith(path, PiecesWriter(pieces, count));
}

Creation CreateNewFile(const char *path, const FilePiece *pieces, int count) {
    std::string temporary;
    if (!WriteTemporary(path, PiecesWriter(pieces, count), temporary)) {
        if (!aplerrno) SetError(APL_ERR_FILEIO);
        return Creation::Failed;
    }
    // A second name for the finished file: unlike rename, link never replaces.
    const bool named = link(temporary.c_str(), path) == 0;
    if (!named && errno == EEXIST) {
        unlink(temporary.c_str());
        return Creation::Existed;
    }
    // A file system without links: rename gives the name, and could replace a
    // file made in the instant since the caller looked.
    if (!named && (errno == EPERM || errno == ENOTSUP || errno == ENOSYS) && rename(temporary.c_str(), path) == 0)
        return Creation::Created;
    if (!named) NoteOsError();
    unlink(temporary.c_str());  // a linked file keeps its other name
    if (named) return Creation::Created;
    SetError(APL_ERR_FILEIO);
    return Creation::Failed;
}
