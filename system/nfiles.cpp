// nfiles: the native-file system functions NTIE, NUNTIE, NSIZE, NREMOVE, NFLUSH,
// NREAD, NWRITE, NAPPEND and NEXIST, the table of tied files, and file names and
// positions taken from arguments. Relies on arrays, the wrapper and oserror.
#define _FILE_OFFSET_BITS 64
#include "system/nfiles.h"

#include "core/arrays.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/oserror.h"
#include "system/ostext.h"
#include "system/platform.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kPositionText = "Position out of range";
constexpr const char *kShortReadText = "WARNING: only %lld of %lld bytes read.";

// Arguments arrive as CHAR, INTG, REAL or nested; BOOL and SHORT become INTG.
constexpr int kFileArgTypes = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
constexpr Signature kMonadic{kRefused, kRefused, Required(kFileArgTypes)};
constexpr Signature kWithBytes{kRefused, Optional(kFileArgTypes), Required(kFileArgTypes)};

// Slot 0 is never used, so that a tie number is its slot.
FILE *ties[kMaxTies + 1];

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

aplarray *FailOs(int32_t code) {
    NoteOsError();
    SetError(code);
    return nullptr;
}

bool IsChar(const aplarray *a) { return a && a->eltype == APL_CHAR; }

// A directory opens for reading like a file but has no bytes of its own.
bool IsDirectory(FILE *stream) {
    struct stat status;
    return fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode);
}

// The stream of a name (opened with mode, to be closed by the caller) or of a
// tie number (left open).
struct Target {
    FILE *stream = nullptr;
    bool named = false;

    // Closes a named file; false with FILE I/O when closing fails.
    bool close() {
        if (!named || !stream) return true;
        const bool closed = fclose(stream) == 0;
        stream = nullptr;
        if (!closed) FailOs(APL_ERR_FILEIO);
        return closed;
    }
    // Closes a named file on an error path; the error already set stays.
    void abandon() {
        if (named && stream) fclose(stream);
        stream = nullptr;
    }
};

// Opens the file that a name designates, or finds the one whose tie number
// is the first element of a numeric array (the caller has checked the count).
bool OpenTarget(const aplarray *nameOrTie, const char *mode, Target &target) {
    if (IsChar(nameOrTie)) {
        FileName name;
        if (!GetFileName(nameOrTie, &name)) return false;
        target.stream = fopen(name.text, mode);
        if (!target.stream) return FailOs(APL_ERR_FILEIO), false;
        target.named = true;
        if (IsDirectory(target.stream)) {
            target.abandon();
            SetPendingOsError(EISDIR);
            return Fail(APL_ERR_FILEIO), false;
        }
        // Writes of ours are single large blocks: buffering would only hide a
        // short write until the close.
        if (mode[0] != 'r' || mode[1] == '+') setvbuf(target.stream, nullptr, _IONBF, 0);
        return true;
    }
    int64_t tie;
    if (!IntegerElement(nameOrTie, 0, &tie)) return false;
    target.stream = TiedStream(tie);
    return target.stream != nullptr;
}

// A name, or a numeric array holding exactly one tie number.
bool IsNameOrSingleTie(const aplarray *file) {
    if (IsChar(file)) return true;
    int64_t tie;
    return SingleInteger(file, &tie);
}

bool SeekTo(FILE *stream, int64_t position) {
    if (position >= 0 && StreamSeek(stream, position, SEEK_SET)) return true;
    SetErrorText(APL_ERR_FILEIO, "%s", kPositionText);
    return false;
}

// The first `length` bytes of a CHAR vector as a new temporary vector.
aplarray *Shortened(aplarray *vector, int32_t length) {
    aplarray *result = AllocArray(APL_TEMP, 1, APL_CHAR, &length, HERE);
    if (result) memcpy(DataOf(result), DataOf(vector), static_cast<size_t>(length));
    APL_UnLinkTempEx(vector, HERE);
    return result;
}

// count bytes from the stream's position (all that remain for a negative
// count). A short read leaves a warning in the message, not an error, and the
// result holds the bytes that were there.
aplarray *ReadBytes(FILE *stream, int64_t count) {
    const int64_t position = StreamTell(stream);
    const int64_t length = StreamLength(stream);
    int64_t available = position >= 0 && length >= 0 ? length - position : count;
    if (available < 0) available = 0;
    const int64_t wanted = count < 0 ? available : count;
    // Never more room than the file can fill: a huge count costs nothing.
    const int64_t room = wanted < available ? wanted : available;
    if (room > INT32_MAX) return Fail(APL_ERR_WSFULL);
    const auto n = static_cast<int32_t>(room);
    aplarray *result = AllocArray(APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (!result) return nullptr;
    const size_t got = n > 0 ? fread(DataOf(result), 1, static_cast<size_t>(n), stream) : 0;
    if (ferror(stream)) NoteOsError();
    if (static_cast<int64_t>(got) < wanted)
        snprintf(APL_error_message, sizeof APL_error_message, kShortReadText, static_cast<long long>(got),
                 static_cast<long long>(wanted));
    if (got < static_cast<size_t>(n)) return Shortened(result, static_cast<int32_t>(got));
    return result;
}

// The (position, length) rows of a matrix: non-negative lengths read that many
// bytes at the position, negative ones give that many zeros.
aplarray *ReadPieces(FILE *stream, const aplarray *pieces) {
    if (pieces->eltype == APL_CHAR || IsNested(pieces)) return Fail(APL_ERR_DOMAIN);
    if (pieces->shape[1] != 2) return Fail(APL_ERR_LENGTH);
    const int64_t rows = pieces->shape[0];
    int64_t total = 0;
    for (int64_t r = 0; r < rows; ++r) {
        int64_t position, length;
        if (!IntegerElement(pieces, 2 * r, &position) || !IntegerElement(pieces, 2 * r + 1, &length)) return nullptr;
        if (length >= 0 && position < 0) return Fail(APL_ERR_DOMAIN);
        total += length < 0 ? -length : length;
        if (total > INT32_MAX) return Fail(APL_ERR_WSFULL);
    }
    const auto n = static_cast<int32_t>(total);
    aplarray *result = AllocArray(APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (!result) return nullptr;
    auto *out = DataOf<unsigned char>(result);
    for (int64_t r = 0; r < rows;) {
        int64_t position, length;
        IntegerElement(pieces, 2 * r, &position);
        IntegerElement(pieces, 2 * r + 1, &length);
        ++r;
        if (length < 0) {
            memset(out, 0, static_cast<size_t>(-length));
            out += -length;
            continue;
        }
        // Rows whose ranges follow each other directly are read in one go.
        int64_t nextPosition, nextLength;
        while (r < rows && IntegerElement(pieces, 2 * r, &nextPosition) &&
               IntegerElement(pieces, 2 * r + 1, &nextLength) && nextLength >= 0 && nextPosition == position + length) {
            length += nextLength;
            ++r;
        }
        if (!SeekTo(stream, position)) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        const size_t got = length > 0 ? fread(out, 1, static_cast<size_t>(length), stream) : 0;
        if (static_cast<int64_t>(got) < length) {
            if (ferror(stream)) NoteOsError();
            SetErrorText(APL_ERR_FILEIO, kShortReadText, static_cast<long long>(got), static_cast<long long>(length));
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        out += length;
    }
    return result;
}

// What NREAD was asked for, taken from the right argument.
struct ReadRequest {
    const aplarray *file = nullptr;    // a name, or the tie as first element
    int64_t start = -1;                // where to begin; -1: the current position
    int64_t count = -1;                // bytes to read; -1: to the end
    const aplarray *pieces = nullptr;  // the (position, length) matrix
};

bool ParseReadRequest(const aplarray *right, ReadRequest &request) {
    bool startGiven = false, countGiven = false;
    if (IsNested(right)) {
        if (right->rank != 1) return Fail(APL_ERR_RANK), false;
        if (right->number != 2 && right->number != 3) return Fail(APL_ERR_LENGTH), false;
        const aplarray *const *items = ItemsOf(right);
        request.file = items[0];
        if (!IsNameOrSingleTie(request.file)) return false;
        // A named file is read from its start, a tie from where it stands.
        if (IsChar(request.file)) request.start = 0;
        if (right->number == 2 && items[1] && !IsNested(items[1]) && items[1]->rank == 2) {
            request.pieces = items[1];
            return true;
        }
        startGiven = right->number == 3;
        if (startGiven && !SingleInteger(items[1], &request.start)) return false;
        countGiven = true;
        if (!SingleInteger(items[right->number - 1], &request.count)) return false;
    } else if (IsChar(right)) {
        request.file = right;
        request.start = 0;
    } else {
        if (right->rank > 1) return Fail(APL_ERR_RANK), false;
        request.file = right;
        const int64_t n = ElementCount(right);
        if (n < 1 || n > 3) return Fail(APL_ERR_LENGTH), false;
        if (n == 1) request.start = 0;
        startGiven = n == 3;
        if (startGiven && !IntegerElement(right, 1, &request.start)) return false;
        countGiven = n >= 2;
        if (countGiven && !IntegerElement(right, n - 1, &request.count)) return false;
    }
    if ((startGiven && request.start < 0) || (countGiven && request.count < 0)) return Fail(APL_ERR_DOMAIN), false;
    return true;
}

// Writes bytes at the stream's position; returns how many were written.
int64_t WriteBytes(FILE *stream, const aplarray *bytes) {
    const size_t n = static_cast<size_t>(bytes->number);
    return n > 0 ? static_cast<int64_t>(fwrite(DataOf(bytes), 1, n, stream)) : 0;
}

// Writes the bytes at the target's position and makes sure they left the
// process: a tied stream is flushed, a named file closed. Any failure is
// FILE I/O with the system's reason pending, at this call. No result.
aplarray *WriteAndFinish(Target &target, const aplarray *bytes) {
    bool complete = WriteBytes(target.stream, bytes) == bytes->number;
    if (!complete) NoteOsError();
    if (target.named) {
        if (!complete) {
            target.abandon();
        } else if (!target.close()) {
            return nullptr;
        }
    } else {
        if (fflush(target.stream) != 0 && complete) {
            NoteOsError();
            complete = false;
        }
        if (!complete) {
            // The failure is reported here, once: what could not be written
            // is dropped rather than tried again (and reported) at the untie.
            DiscardBuffered(target.stream);
            clearerr(target.stream);
        }
    }
    if (!complete) SetError(APL_ERR_FILEIO);
    return nullptr;
}

// ---- Appending at the end ---------------------------------------------------------
// Appends at the end go out through a descriptor in append mode, in one write
// call: the system places each such write at the end of the file as it is then,
// so that sessions appending to one file never overwrite each other's bytes
// (a seek to the end followed by a write would let two of them write at the
// same place).

bool WriteWhole(int fd, const aplarray *bytes) {
    const auto *data = DataOf<const char>(bytes);
    int64_t left = bytes->number;
    while (left > 0) {
        const ssize_t n = write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        left -= n;
    }
    return true;
}

// A named file: opened for appending only, written, closed. No result.
aplarray *AppendToNamedFile(const aplarray *nameArray, const aplarray *bytes) {
    FileName name;
    if (!GetFileName(nameArray, &name)) return nullptr;
    // Never created: appending needs a file that is there.
    const int fd = open(name.text, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return FailOs(APL_ERR_FILEIO);
    const bool written = WriteWhole(fd, bytes);
    if (!written) NoteOsError();
    const bool closed = close(fd) == 0;
    if (written && !closed) NoteOsError();
    if (!written || !closed) SetError(APL_ERR_FILEIO);
    return nullptr;
}

// A tied file: the stream gives up what it holds, its descriptor writes in
// append mode for this one call, and the stream stands at the new end. No result.
aplarray *AppendToTie(FILE *stream, const aplarray *bytes) {
    if (!StreamSeek(stream, 0, SEEK_END)) return FailOs(APL_ERR_FILEIO);
    const int fd = fileno(stream);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) != 0) return FailOs(APL_ERR_FILEIO);
    const bool written = WriteWhole(fd, bytes);
    if (!written) NoteOsError();
    fcntl(fd, F_SETFL, flags);
    StreamSeek(stream, 0, SEEK_END);
    if (!written) SetError(APL_ERR_FILEIO);
    return nullptr;
}

// The integer of a tie-number argument that must hold exactly one element.
FILE *SingleTie(const aplarray *right) {
    if (ElementCount(right) != 1) return Fail(APL_ERR_LENGTH), nullptr;
    int64_t tie;
    if (!SingleInteger(right, &tie)) return nullptr;
    return TiedStream(tie);
}

aplarray *EmptyIntVector() {
    const int32_t none = 0;
    return AllocArray(APL_TEMP, 1, APL_INTG, &none, HERE);
}

aplarray *MakeCount(int64_t value) {
    return value <= INT32_MAX ? MakeInt(static_cast<int32_t>(value)) : MakeReal(static_cast<double>(value));
}

}  // namespace

// ---- Helpers for the file functions ---------------------------------------------

bool GetFileName(const aplarray *array, FileName *name) {
    if (!IsChar(array)) return Fail(APL_ERR_DOMAIN), false;
    if (array->rank > 1) return Fail(APL_ERR_RANK), false;
    const std::string_view codes(DataOf<const char>(array), static_cast<size_t>(array->number));
    // A NUL inside would silently name another file.
    if (codes.find('\0') != std::string_view::npos) return Fail(APL_ERR_DOMAIN), false;
    // The system spells names in UTF-8, as the commands that made the files did.
    const std::string text = ToSystemText(codes);
    if (text.size() >= sizeof name->text) return Fail(APL_ERR_DOMAIN), false;
    memcpy(name->text, text.data(), text.size());
    name->text[text.size()] = 0;
    return true;
}

namespace {

bool EndsWithIgnoringCase(const std::string &text, const char *suffix) {
    const size_t n = strlen(suffix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(text[text.size() - n + i])) !=
            tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsFolder(const std::string &codes) {
    struct stat status;
    return stat(ToSystemText(codes).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

std::string WithExtension(const std::string &name, const char *extension) {
    return EndsWithIgnoringCase(name, extension) ? name : name + extension;
}

bool IsFileNameToWrite(const std::string &name, const char *extension) {
    std::string base = name;
    if (EndsWithIgnoringCase(base, extension)) base.resize(base.size() - strlen(extension));
    size_t last = base.size();
    while (last > 0 && !IsSeparator(base[last - 1])) --last;
    const std::string leaf = base.substr(last);
    if (leaf.empty() || leaf == "." || leaf == "..") {
        SetErrorText(APL_ERR_FILEIO, "No file name in '%s'", name.c_str());
        return false;
    }
    if (IsFolder(name) || IsFolder(WithExtension(name, extension))) {
        SetErrorText(APL_ERR_FILEIO, "'%s' is a folder", name.c_str());
        return false;
    }
    return true;
}

bool IntegerElement(const aplarray *array, int64_t i, int64_t *value) {
    if (!array || IsNested(array) || i < 0 || i >= ElementCount(array)) return Fail(APL_ERR_DOMAIN), false;
    switch (array->eltype) {
        case APL_INTG: *value = DataOf<const int32_t>(array)[i]; return true;
        case APL_SHORT: *value = DataOf<const int16_t>(array)[i]; return true;
        case APL_BOOL: {
            const int64_t row = RowLength(array);
            const int64_t words = (row + 31) / 32;
            const uint32_t word = DataOf<const uint32_t>(array)[(i / row) * words + (i % row) / 32];
            *value = (word >> ((i % row) % 32)) & 1u;
            return true;
        }
        case APL_REAL: {
            const double x = DataOf<const double>(array)[i];
            // Positions may pass the INTG range in a REAL; they must stay exact.
            constexpr double kTolerance = 1e-13, kLimit = 9007199254740992.0;
            if (!(std::fabs(x) < kLimit) || !(x - std::floor(x) < kTolerance || std::ceil(x) - x < kTolerance))
                return Fail(APL_ERR_DOMAIN), false;
            *value = static_cast<int64_t>(std::floor(x + kTolerance));
            return true;
        }
        default: return Fail(APL_ERR_DOMAIN), false;
    }
}

bool SingleInteger(const aplarray *array, int64_t *value) {
    if (!array || IsNested(array) || array->eltype == APL_CHAR) return Fail(APL_ERR_DOMAIN), false;
    if (ElementCount(array) != 1) return Fail(APL_ERR_LENGTH), false;
    return IntegerElement(array, 0, value);
}

int64_t StreamTell(FILE *stream) {
#if defined(_WIN32)
    return _ftelli64(stream);
#else
    return ftello(stream);
#endif
}

bool StreamSeek(FILE *stream, int64_t offset, int whence) {
    clearerr(stream);  // an old failure of a tied stream must not stick to it
#if defined(_WIN32)
    const int status = _fseeki64(stream, offset, whence);
#else
    const int status = fseeko(stream, static_cast<off_t>(offset), whence);
#endif
    return status == 0 && !ferror(stream);
}

int64_t StreamLength(FILE *stream) {
    const int64_t position = StreamTell(stream);
    if (position < 0 || !StreamSeek(stream, 0, SEEK_END)) return -1;
    const int64_t length = StreamTell(stream);
    if (!StreamSeek(stream, position, SEEK_SET)) return -1;
    return length;
}

FILE *TiedStream(int64_t tie) {
    if (tie >= 1 && tie <= kMaxTies && ties[tie]) return ties[tie];
    SetPendingOsError(EBADF);
    SetError(APL_ERR_FILEIO);
    return nullptr;
}

void UntieAll() {
    for (FILE *&stream : ties) {
        if (stream) fclose(stream);
        stream = nullptr;
    }
}

// ---- System functions ---------------------------------------------------------------
// Each returns a temporary or, where the function has no result, null with no
// error. Each consumes temporary arguments and leaves linked ones as they were.

// NTIE: the file opened for update; the result is its tie number.
extern "C" aplarray *APL_FileTie(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        FileName name;
        if (!GetFileName(args.right, &name)) return nullptr;
        int tie = 1;
        while (tie <= kMaxTies && ties[tie]) ++tie;
        if (tie > kMaxTies) {
            SetPendingOsError(EMFILE);
            return Fail(APL_ERR_FILEIO);
        }
        FILE *stream = fopen(name.text, "r+b");
        if (!stream) return FailOs(APL_ERR_FILEIO);
        ties[tie] = stream;
        return MakeInt(tie);
    });
}

// NUNTIE: closes a tied file.
extern "C" aplarray *APL_FileUnTie(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        FILE *stream = SingleTie(args.right);
        if (!stream) return nullptr;
        for (FILE *&slot : ties)
            if (slot == stream) slot = nullptr;
        if (fclose(stream) != 0) return FailOs(APL_ERR_FILEIO);
        return nullptr;
    });
}

// NFLUSH: writes out what a tied file holds in its buffer.
extern "C" aplarray *APL_FileFlush(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        FILE *stream = SingleTie(args.right);
        if (!stream) return nullptr;
        if (fflush(stream) != 0) return FailOs(APL_ERR_FILEIO);
        return nullptr;
    });
}

// NSIZE: the byte size of a named or tied file; an empty vector when the
// named file cannot be opened.
extern "C" aplarray *APL_FileSize(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (IsNested(args.right)) return Fail(APL_ERR_DOMAIN);
        if (!IsChar(args.right)) {
            FILE *stream = SingleTie(args.right);
            if (!stream) return nullptr;
            const int64_t length = StreamLength(stream);
            return length < 0 ? FailOs(APL_ERR_FILEIO) : MakeCount(length);
        }
        FileName name;
        if (!GetFileName(args.right, &name)) return nullptr;
        FILE *stream = fopen(name.text, "rb");
        if (stream && IsDirectory(stream)) {
            fclose(stream);
            SetPendingOsError(EISDIR);
            return Fail(APL_ERR_FILEIO);
        }
        const int64_t length = stream ? StreamLength(stream) : -1;
        if (stream) fclose(stream);
        if (length < 0) {
            SetPendingOsError(0);
            return EmptyIntVector();
        }
        return MakeCount(length);
    });
}

// NEXIST: 1 when the named file can be opened for reading, else 0.
extern "C" aplarray *APL_FileExist(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        FileName name;
        if (!GetFileName(args.right, &name)) return nullptr;
        FILE *stream = fopen(name.text, "rb");
        if (!stream) {
            SetPendingOsError(0);
            return MakeInt(0);
        }
        fclose(stream);
        return MakeInt(1);
    });
}

// NREMOVE: deletes the named file.
extern "C" aplarray *APL_FileRemove(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        FileName name;
        if (!GetFileName(args.right, &name)) return nullptr;
        // unlink, not remove: a directory is never deleted.
        if (unlink(name.text) != 0) return FailOs(APL_ERR_FILEIO);
        return nullptr;
    });
}

// NREAD: bytes of a named or tied file as a CHAR vector.
extern "C" aplarray *APL_FileRead(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kMonadic, axis, left, right, [](CallArgs &args) -> aplarray * {
        ReadRequest request;
        if (!ParseReadRequest(args.right, request)) return nullptr;
        Target target;
        if (!OpenTarget(request.file, "rb", target)) return nullptr;
        aplarray *result = nullptr;
        if (request.pieces) {
            result = ReadPieces(target.stream, request.pieces);
        } else if (request.start < 0 || SeekTo(target.stream, request.start)) {
            result = ReadBytes(target.stream, request.count);
        }
        if (!target.close()) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        return result;
    });
}

// NWRITE: the bytes of the left argument make up the named file, or are
// written at a tied file's position.
extern "C" aplarray *APL_FileWrite(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kWithBytes, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (IsNested(args.right)) return Fail(APL_ERR_DOMAIN);
        if (!args.left) return Fail(APL_ERR_VALENCE);
        if (!IsChar(args.left)) return Fail(APL_ERR_DOMAIN);
        if (!IsChar(args.right) && ElementCount(args.right) != 1) return Fail(APL_ERR_LENGTH);
        Target target;
        if (!OpenTarget(args.right, "wb", target)) return nullptr;
        return WriteAndFinish(target, args.left);
    });
}

// NAPPEND: the bytes of the left argument go to the end of a named or tied
// file, or to a given position.
extern "C" aplarray *APL_FileAppend(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kWithBytes, axis, left, right, [](CallArgs &args) -> aplarray * {
        const aplarray *file = args.right;
        const aplarray *positionArray = nullptr;
        if (IsNested(args.right)) {
            if (args.right->rank != 1 || args.right->number != 2) return Fail(APL_ERR_LENGTH);
            file = ItemsOf(args.right)[0];
            positionArray = ItemsOf(args.right)[1];
        } else if (!IsChar(args.right)) {
            if (args.right->rank > 1) return Fail(APL_ERR_RANK);
            const int64_t n = ElementCount(args.right);
            if (n != 1 && n != 2) return Fail(APL_ERR_LENGTH);
            if (n == 2) positionArray = args.right;
        }
        if (!args.left) return Fail(APL_ERR_VALENCE);
        if (!IsChar(args.left)) return Fail(APL_ERR_DOMAIN);
        int64_t position = -1;
        if (positionArray == args.right) {
            if (!IntegerElement(args.right, 1, &position)) return nullptr;
        } else if (positionArray) {
            if (!IsNameOrSingleTie(file) || !SingleInteger(positionArray, &position)) return nullptr;
        }
        if (!positionArray) {
            if (IsChar(file)) return AppendToNamedFile(file, args.left);
            int64_t tie;
            if (!IntegerElement(file, 0, &tie)) return nullptr;
            FILE *stream = TiedStream(tie);
            return stream ? AppendToTie(stream, args.left) : nullptr;
        }
        Target target;
        if (!OpenTarget(file, "r+b", target)) return nullptr;
        if (!SeekTo(target.stream, position)) {
            target.abandon();
            return nullptr;
        }
        return WriteAndFinish(target, args.left);
    });
}
