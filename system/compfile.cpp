// compfile: the serialised form of arrays (written whole, ReadArray) and the
// system functions IIO, IIOS and IIOL built on it. Relies on the array core,
// the standard wrapper, the file helpers of nfiles, the platform's file locks
// and the pending OS error.
#define _FILE_OFFSET_BITS 64
#include "system/compfile.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/nfiles.h"
#include "system/oserror.h"
#include "system/platform.h"
#include "system/safefile.h"

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Records are written as they lie in memory, so the machine must be of the
// byte order the files use.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr const char *kFileFormatText = "Incompatible file format";
constexpr const char *kDataFormatText = "Incompatible data format";
constexpr const char *kAppendText = "Data cannot be appended";
constexpr const char *kNotFiniteText = "Infinity or NaN cannot be written";

// The record header as it lies in memory and in files.
struct RecordHeader {
    int32_t size;
    uint8_t type;
    uint8_t rank;
    uint8_t eltype;
    uint8_t pad;
    int32_t lnkcnt;
    int32_t number;
};
static_assert(sizeof(RecordHeader) == 16);
constexpr int32_t kHeaderBytes = 16;
// Every serialised record takes at least this many bytes.
constexpr int64_t kMinRecordBytes = 20;

// Element sizes of the serialised form: item slots take 4 bytes on every
// build, whatever the width of a pointer in memory. 0 for unknown types.
int32_t SerialElementSize(int eltype) {
    switch (eltype) {
        case APL_CHAR: return 1;
        case APL_SHORT: return 2;
        case APL_INTG:
        case APL_BOOL:
        case APL_NESTED: return 4;
        case APL_REAL: return 8;
        default: return 0;
    }
}

bool KnownType(int eltype) { return SerialElementSize(eltype) != 0; }

// The size field of a serialised record; a nested record counts 4-byte slots
// although only its header and shape are written.
int64_t SerialRecordSize(int rank, int eltype, int64_t number) {
    const int64_t elements = eltype == APL_NESTED ? (number > 0 ? number : 1) : number;
    const int64_t payload = 4 * static_cast<int64_t>(rank) + SerialElementSize(eltype) * elements;
    return payload < 4 ? 20 : kHeaderBytes + payload;
}

// Bytes after the shape that a simple record holds (element data plus the
// slack of records shorter than 20 bytes).
int64_t SimpleDataBytes(int rank, int eltype, int64_t number) {
    return SerialRecordSize(rank, eltype, number) - kHeaderBytes - 4 * static_cast<int64_t>(rank);
}

// ---- Byte order -------------------------------------------------------------

int32_t Swap32(int32_t v) { return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(v))); }

// Bit i of a byte exchanged with bit 7 - i.
constexpr auto kReversedBits = [] {
    struct Table {
        uint8_t bits[256];
    } table{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int i = 0; i < 8; ++i)
            if (b & (1 << i)) r |= 1 << (7 - i);
        table.bits[b] = static_cast<uint8_t>(r);
    }
    return table;
}();

template <class T, class Swap>
void SwapEach(unsigned char *bytes, int64_t count, Swap swap) {
    for (int64_t i = 0; i < count; ++i) {
        T v;
        memcpy(&v, bytes + i * static_cast<int64_t>(sizeof(T)), sizeof(T));
        v = swap(v);
        memcpy(bytes + i * static_cast<int64_t>(sizeof(T)), &v, sizeof(T));
    }
}

// Element data from a machine of the other byte order, in place.
void SwapElements(unsigned char *bytes, int64_t byteCount, int eltype) {
    switch (eltype) {
        case APL_INTG: SwapEach<uint32_t>(bytes, byteCount / 4, [](uint32_t v) { return __builtin_bswap32(v); }); break;
        case APL_REAL: SwapEach<uint64_t>(bytes, byteCount / 8, [](uint64_t v) { return __builtin_bswap64(v); }); break;
        case APL_SHORT:
            SwapEach<uint16_t>(bytes, byteCount / 2, [](uint16_t v) { return __builtin_bswap16(v); });
            break;
        case APL_BOOL:
            for (int64_t i = 0; i < byteCount; ++i) bytes[i] = kReversedBits.bits[bytes[i]];
            break;
        default: break;  // CHAR: bytes are bytes
    }
}

// No infinity or NaN may enter the workspace: the scalar functions take a
// non-finite result for a floating-point fault.
bool AllFinite(const unsigned char *bytes, int64_t count) {
    constexpr uint64_t kExponent = 0x7FF0000000000000ull;
    bool finite = true;
    for (int64_t i = 0; i < count; ++i) {
        uint64_t v;
        memcpy(&v, bytes + 8 * i, 8);
        finite &= (v & kExponent) != kExponent;
    }
    return finite;
}

// ---- Header check -----------------------------------------------------------

bool SizeRuleHolds(const RecordHeader &h) {
    return h.rank <= kMaxRank && h.number >= 0 && h.size == SerialRecordSize(h.rank, h.eltype, h.number);
}

enum class ByteOrder { Native, Swapped, Neither };

// Checks a header in this machine's byte order and, failing that, in the
// other one; a header recognised in the other order is swapped in place.
ByteOrder ClassifyHeader(RecordHeader &h) {
    if (SizeRuleHolds(h)) return ByteOrder::Native;
    RecordHeader swapped = h;
    swapped.size = Swap32(h.size);
    swapped.lnkcnt = Swap32(h.lnkcnt);
    swapped.number = Swap32(h.number);
    if (!SizeRuleHolds(swapped)) return ByteOrder::Neither;
    h = swapped;
    return ByteOrder::Swapped;
}

// The type byte must name the same kind of array as the element type.
bool TypeMatches(const RecordHeader &h) {
    return (h.type & (APL_SIMPLE | APL_NESTEDARRAY)) == (h.eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE);
}

// The element count that the shape implies must be the stored number (BOOL
// counting words of padded rows), so that no reader of the array strays.
bool ShapeMatches(const RecordHeader &h, const int32_t *shape) {
    int64_t count = 1;
    for (int i = 0; i < h.rank; ++i) {
        if (shape[i] < 0) return false;
        count *= shape[i];
        if (count > INT32_MAX) return false;
    }
    if (h.eltype == APL_BOOL && h.rank > 0 && shape[h.rank - 1] != 0) {
        const int64_t last = shape[h.rank - 1];
        count = (count / last) * ((last + 31) / 32);
    }
    return count == h.number;
}

// ---- Item stack -------------------------------------------------------------

// The path from the root to the nested array being walked, on the heap, so
// that deep nesting costs no C stack.
class PathStack {
public:
    struct Frame {
        aplarray *array;
        int32_t next;  // the next item slot to visit
    };
    PathStack() = default;
    PathStack(const PathStack &) = delete;
    PathStack &operator=(const PathStack &) = delete;
    ~PathStack() { free(frames_); }
    bool empty() const { return count_ == 0; }
    int32_t depth() const { return count_; }
    Frame &top() { return frames_[count_ - 1]; }
    void pop() { --count_; }
    bool push(aplarray *array) {
        if (count_ == capacity_) {
            const int32_t grown = capacity_ ? capacity_ * 2 : 16;
            auto *frames = static_cast<Frame *>(realloc(frames_, sizeof(Frame) * static_cast<size_t>(grown)));
            if (!frames) return false;
            frames_ = frames;
            capacity_ = grown;
        }
        frames_[count_++] = {array, 0};
        return true;
    }

private:
    Frame *frames_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// Item i of a nested array; static records are only 4-byte aligned.
aplarray *ItemAt(const aplarray *array, int32_t i) {
    aplarray *item;
    memcpy(&item, DataOf<const char>(array) + sizeof(aplarray *) * static_cast<size_t>(i), sizeof item);
    return item;
}

int32_t SlotCount(const aplarray *array) { return array->number > 0 ? array->number : 1; }

// ---- Writing ----------------------------------------------------------------

// Bytes on their way to a file: small records gather in a buffer, long
// runs of data are written from where they lie. After a failed write the
// rest is dropped and `failed` holds the system's error number.
class FileOut {
public:
    explicit FileOut(int fd) : fd_(fd), buffer_(static_cast<unsigned char *>(malloc(kBuffer))) {}
    ~FileOut() { free(buffer_); }
    FileOut(const FileOut &) = delete;
    FileOut &operator=(const FileOut &) = delete;

    void put(const void *bytes, int64_t n) {
        if (failed) return;
        if (!buffer_ || n >= kBuffer / 2) {
            if (flush()) write(bytes, n);
            return;
        }
        if (used_ + n > kBuffer && !flush()) return;
        memcpy(buffer_ + used_, bytes, static_cast<size_t>(n));
        used_ += n;
    }
    // Writes what is gathered; false (errno set) when a write failed.
    bool finish() {
        if (flush()) return true;
        errno = failed;
        return false;
    }
    int failed = 0;

private:
    static constexpr int64_t kBuffer = 1 << 20;
    bool flush() {
        const int64_t n = used_;
        used_ = 0;
        return n == 0 || write(buffer_, n);
    }
    bool write(const void *bytes, int64_t n) {
        if (!failed && !WriteToFile(fd_, bytes, n)) failed = errno ? errno : EIO;
        return !failed;
    }
    int fd_;
    unsigned char *buffer_;
    int64_t used_ = 0;
};

// Where serialised bytes go: a buffer of the right length, a file as they
// are made, or nowhere (only counted).
struct Sink {
    unsigned char *buffer = nullptr;
    FileOut *file = nullptr;
    bool plainTypes = false;  // keep only bits 0x01/0x02 of the type byte
    int depthLimit = kMaxSerialDepth;
    int64_t count = 0;

    // Whether the bytes go somewhere (and so the values must be checked).
    bool keeps() const { return buffer || file; }
    void put(const void *bytes, int64_t n) {
        if (n <= 0) return;
        if (buffer) memcpy(buffer + count, bytes, static_cast<size_t>(n));
        if (file) file->put(bytes, n);
        count += n;
    }
};

// What stands in for a null item slot (an empty array made without a
// prototype): the INTG scalar 0, the prototype of numbers.
constexpr int32_t kNullItemRecord[5] = {20, APL_SIMPLE | (0 << 8) | (APL_INTG << 16), 0, 1, 0};

// False, with INTERRUPT set, when the host stopped a long copy of data, or
// with DOMAIN for an infinity or NaN, which no reader would take back.
bool EmitRecord(Sink &sink, const aplarray *array) {
    if (!array) {
        sink.put(kNullItemRecord, sizeof kNullItemRecord);
        return true;
    }
    RecordHeader h;
    memcpy(&h, array, sizeof h);
    h.size = static_cast<int32_t>(SerialRecordSize(h.rank, h.eltype, h.number));
    if (sink.plainTypes) h.type &= APL_SIMPLE | APL_NESTEDARRAY;
    sink.put(&h, sizeof h);
    sink.put(array->shape, 4 * static_cast<int64_t>(h.rank));
    if (h.eltype == APL_NESTED) return true;
    // A stride of bytes at a time, so that an interrupt reaches a long copy.
    // Only the pass that fills a buffer looks at the values: counting is cheap.
    const char *data = DataOf<const char>(array);
    const bool checkValues = sink.keeps() && h.eltype == APL_REAL;
    return ForEachStride(SimpleDataBytes(h.rank, h.eltype, h.number), [&](int64_t begin, int64_t end) {
        if (checkValues && !AllFinite(reinterpret_cast<const unsigned char *>(data + begin), (end - begin) / 8)) {
            SetErrorText(APL_ERR_DOMAIN, "%s", kNotFiniteText);
            return false;
        }
        sink.put(data + begin, end - begin);
        return true;
    });
}

// Writes the records of an array and of all its items, parents first.
bool Emit(Sink &sink, const aplarray *root) {
    if (!EmitRecord(sink, root)) return false;
    if (!root || !IsNested(root)) return true;
    PathStack path;
    if (!path.push(const_cast<aplarray *>(root))) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    for (int64_t records = 1; !path.empty(); ++records) {
        if (InterruptAt(records)) return false;
        PathStack::Frame &frame = path.top();
        if (frame.next >= SlotCount(frame.array)) {
            path.pop();
            continue;
        }
        const aplarray *item = ItemAt(frame.array, frame.next++);
        if (!EmitRecord(sink, item)) return false;
        if (!item || !IsNested(item)) continue;
        if (path.depth() >= sink.depthLimit) {
            SetError(APL_ERR_LIMIT);
            return false;
        }
        if (!path.push(const_cast<aplarray *>(item))) {
            SetError(APL_ERR_WSFULL);
            return false;
        }
    }
    return true;
}

// ---- Reading ----------------------------------------------------------------

// Where serialised bytes come from: a stream or a buffer, with the number of
// bytes that remain, against which every count is checked before it is used.
struct Source {
    FILE *stream = nullptr;
    const unsigned char *bytes = nullptr;
    int64_t position = 0;
    int64_t length = 0;
    int32_t formatError = APL_ERR_FILEIO;
    const char *formatText = kFileFormatText;

    int64_t remaining() const { return length - position; }
    bool get(void *to, int64_t n) {
        if (n <= 0) return true;
        if (n > remaining()) return false;
        if (stream) {
            if (fread(to, 1, static_cast<size_t>(n), stream) != static_cast<size_t>(n)) return false;
        } else {
            memcpy(to, bytes + position, static_cast<size_t>(n));
        }
        position += n;
        return true;
    }
};

aplarray *FormatError(const Source &source) {
    SetErrorText(source.formatError, "%s", source.formatText);
    return nullptr;
}

aplarray *ShortRead(const Source &source) {
    if (source.stream && ferror(source.stream)) NoteOsError();
    SetError(APL_ERR_FILEIO);
    return nullptr;
}

// Reads element data into place a piece at a time, so that swapping and the
// check of REAL values touch each piece while it is still in the cache.
bool ReadElementData(Source &source, unsigned char *to, int64_t bytes, int eltype, bool swapped, bool &finite) {
    constexpr int64_t kPiece = 1 << 16;  // a multiple of every element size
    finite = true;
    for (int64_t done = 0; done < bytes;) {
        if (InterruptRequested()) return false;
        const int64_t n = bytes - done < kPiece ? bytes - done : kPiece;
        if (!source.get(to + done, n)) return false;
        if (swapped) SwapElements(to + done, n, eltype);
        if (eltype == APL_REAL) finite &= AllFinite(to + done, n / 8);
        done += n;
    }
    return true;
}

// One record: a simple array with its data, or a nested array whose item
// slots are still null. Returns a new temporary or null with the error set.
aplarray *ReadRecord(Source &source) {
    RecordHeader h;
    if (!source.get(&h, sizeof h)) return ShortRead(source);
    const ByteOrder order = ClassifyHeader(h);
    if (order == ByteOrder::Neither) return FormatError(source);
    if (!KnownType(h.eltype)) {
        if (order == ByteOrder::Native) return FormatError(source);
        SetErrorText(APL_ERR_NONCE, "Not supported yet");
        return nullptr;
    }
    if (!TypeMatches(h)) return FormatError(source);
    const bool nested = h.eltype == APL_NESTED;
    const int64_t shapeBytes = 4 * static_cast<int64_t>(h.rank);
    // A nested record is followed by at least one 20-byte record per slot.
    const int64_t needed =
        nested ? shapeBytes + kMinRecordBytes * (h.number > 0 ? h.number : 1) : h.size - kHeaderBytes;
    if (needed > source.remaining()) return ShortRead(source);
    int32_t shape[kMaxRank];
    if (!source.get(shape, shapeBytes)) return ShortRead(source);
    if (order == ByteOrder::Swapped)
        for (int i = 0; i < h.rank; ++i) shape[i] = Swap32(shape[i]);
    if (!ShapeMatches(h, shape)) return FormatError(source);
    // The flag bits mark arrays only while this process uses them (the elided
    // index, strands, index positions): from a file an array is plain, its
    // kind taken from its element type.
    aplarray *array = AllocArray(APL_TEMP, h.rank, h.eltype, shape, HERE);
    if (!array) return nullptr;
    if (nested) return array;
    const int64_t dataBytes = h.size - kHeaderBytes - shapeBytes;
    const int64_t elementBytes = SerialElementSize(h.eltype) * static_cast<int64_t>(h.number);
    auto *data = DataOf<unsigned char>(array);
    bool finite = true;
    if (!ReadElementData(source, data, elementBytes, h.eltype, order == ByteOrder::Swapped, finite) ||
        !source.get(data + elementBytes, dataBytes - elementBytes)) {
        APL_UnLinkEx(array, HERE);
        return aplerrno ? nullptr : ShortRead(source);  // set: interrupted
    }
    if (!finite) {
        APL_UnLinkEx(array, HERE);
        return FormatError(source);
    }
    // A file may carry anything in the padding of BOOL rows.
    ClearBoolPadding(array);
    return array;
}

// A nested scalar whose one item is a simple scalar, which no primitive makes
// (enclosing a simple scalar gives the scalar itself).
bool EnclosesSimpleScalar(const aplarray *array) {
    if (!IsNested(array) || array->rank != 0) return false;
    const aplarray *item = ItemAt(array, 0);
    return item && !IsNested(item) && item->rank == 0;
}

// The item of such a nested scalar, to stand in its place, so that the array
// read is the one the session would have made (match, the scalar functions
// and the item count all agree on it). Returns the item with the link the
// enclosure held on it; the enclosure is unlinked.
aplarray *Unwrapped(aplarray *enclosure) {
    aplarray *item = ItemAt(enclosure, 0);
    ItemsOf(enclosure)[0] = nullptr;
    APL_UnLinkEx(enclosure, HERE);
    return item;
}

// An array and all its items, parents first, as Emit writes them.
aplarray *ReadTree(Source &source) {
    aplarray *root = ReadRecord(source);
    if (!root || !IsNested(root)) return root;
    PathStack path;
    auto fail = [root]() -> aplarray * {
        APL_UnLinkEx(root, HERE);  // a temporary: frees every item read so far
        return nullptr;
    };
    if (!path.push(root)) {
        SetError(APL_ERR_WSFULL);
        return fail();
    }
    for (int64_t records = 1; !path.empty(); ++records) {
        if (InterruptAt(records)) return fail();
        PathStack::Frame &frame = path.top();
        if (frame.next >= SlotCount(frame.array)) {
            // Complete with all its items, each already in its plain form.
            aplarray *done = frame.array;
            path.pop();
            if (!path.empty() && EnclosesSimpleScalar(done)) {
                PathStack::Frame &parent = path.top();
                ItemsOf(parent.array)[parent.next - 1] = Unwrapped(done);
            }
            continue;
        }
        aplarray *item = ReadRecord(source);
        if (!item) return fail();
        ItemsOf(frame.array)[frame.next++] = APL_LinkEx(item, HERE);
        if (!IsNested(item)) continue;
        if (path.depth() >= kMaxSerialDepth) {
            FormatError(source);
            return fail();
        }
        if (!path.push(item)) {
            SetError(APL_ERR_WSFULL);
            return fail();
        }
    }
    if (!EnclosesSimpleScalar(root)) return root;
    aplarray *item = Unwrapped(root);
    --item->lnkcnt;  // a temporary, as the root was
    return item;
}

// ---- Component files ----------------------------------------------------------

// The first 20 bytes of a component file: the header and the one shape value
// of the nested vector of its components.
struct ComponentHeader {
    RecordHeader header;
    int32_t count;
};
static_assert(sizeof(ComponentHeader) == 20);

bool CloseStream(FILE *stream) {
    if (fclose(stream) == 0) return true;
    NoteOsError();
    SetError(APL_ERR_FILEIO);
    return false;
}

// ---- Locks --------------------------------------------------------------------------
// Every session that reads a component file holds a shared lock on it, every
// one that appends to it or replaces it an exclusive one: two sessions never
// number components from the same header, and no reader sees half an append.

// Waits for the lock on an open file; false with INTERRUPT when the host asks
// to stop meanwhile, or with FILE I/O.
bool LockOpenFile(int fd, LockKind kind) {
    while (!LockWholeFile(fd, kind)) {
        if (errno != EINTR) {
            NoteOsError();
            SetError(APL_ERR_FILEIO);
            return false;
        }
        if (InterruptRequested()) return false;
    }
    return true;
}

// The exclusive lock on the plain file that a name designates, held while a
// new file is put in its place: an append that waits for it finds the file
// replaced, and appends to the new one instead of the one that is gone.
class ReplacementLock {
public:
    explicit ReplacementLock(const char *path) {
        // Where an open file cannot be replaced, the replacement itself fails
        // while another session has the file open: nothing to hold then.
        if (!kOpenFilesCanBeReplaced) return;
        // Not blocking: the name may be a pipe, which is written, not replaced.
        fd_ = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat status;
        if (fd_ >= 0 && (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) release();
    }
    ReplacementLock(const ReplacementLock &) = delete;
    ReplacementLock &operator=(const ReplacementLock &) = delete;
    ~ReplacementLock() { release(); }
    // False with INTERRUPT or FILE I/O; true at once when there is no file.
    bool acquire() { return fd_ < 0 || LockOpenFile(fd_, LockKind::Exclusive); }

private:
    void release() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

aplarray *ReadComponentFile(const FileName &name, bool atPosition, int64_t position) {
    FILE *stream = fopen(name.text, "rb");
    if (!stream) {
        NoteOsError();
        SetErrorText(APL_ERR_FILEIO, "File '%s' not found", name.text);
        return nullptr;
    }
    if (!LockOpenFile(fileno(stream), LockKind::Shared)) {
        fclose(stream);
        return nullptr;
    }
    if (atPosition && (position < 0 || !StreamSeek(stream, position, SEEK_SET))) {
        fclose(stream);
        SetErrorText(APL_ERR_FILEIO, "Position out of range");
        return nullptr;
    }
    aplarray *array = ReadArray(stream);
    if (!CloseStream(stream) && array) {
        APL_UnLinkEx(array, HERE);
        return nullptr;
    }
    return array;
}

// The serialised bytes of a value, made in full before any file is touched
// so that a value that cannot be written (LIMIT, WS FULL) changes nothing.
struct SerialBytes {
    SerialBytes() = default;
    SerialBytes(const SerialBytes &) = delete;
    SerialBytes &operator=(const SerialBytes &) = delete;
    ~SerialBytes() { free(data); }
    unsigned char *data = nullptr;
    int64_t length = 0;
};

// False with LIMIT (nesting deeper than depthLimit), WS FULL, INTERRUPT, or
// DOMAIN (an infinity or NaN).
bool Serialise(const aplarray *value, int depthLimit, SerialBytes &out) {
    Sink counter;
    counter.depthLimit = depthLimit;
    if (!Emit(counter, value)) return false;
    if (static_cast<uint64_t>(counter.count) >= SIZE_MAX / 2) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    out.data = static_cast<unsigned char *>(malloc(static_cast<size_t>(counter.count) + 1));
    if (!out.data) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    Sink sink;
    sink.buffer = out.data;
    sink.depthLimit = depthLimit;
    if (!Emit(sink, value)) return false;
    out.length = sink.count;
    return true;
}

// A component lies one level inside the vector of components that reading
// the whole file gives, so it may be nested one level less.
constexpr int kComponentDepth = kMaxSerialDepth - 1;

bool PutBytes(FILE *stream, const void *bytes, int64_t length) {
    if (length > 0 && fwrite(bytes, 1, static_cast<size_t>(length), stream) != static_cast<size_t>(length))
        return false;
    return fflush(stream) == 0 && !ferror(stream);
}

// The whole file is the serialised value, written while it is serialised
// (an error on the way leaves the old file as it was).
aplarray *WriteWholeFile(const FileName &name, const aplarray *value) {
    ReplacementLock lock(name.text);
    if (!lock.acquire()) return nullptr;
    ReplaceFileWith(name.text, [value](int fd) {
        FileOut out(fd);
        Sink sink;
        sink.file = &out;
        return Emit(sink, value) && out.finish();
    });
    return nullptr;
}

// A new file: the header of a one-component vector, then the component.
// Existed when another session has made the file meanwhile.
Creation CreateComponentFile(const FileName &name, const SerialBytes &component) {
    const ComponentHeader first{{24, APL_NESTEDARRAY, 1, APL_NESTED, 0, 0, 1}, 1};
    const FilePiece pieces[2] = {{&first, sizeof first}, {component.data, component.length}};
    const Creation outcome = CreateNewFile(name.text, pieces, 2);
    if (outcome == Creation::Failed) SetErrorText(APL_ERR_FILEIO, "Cannot create file '%s'", name.text);
    return outcome;
}

enum class Opening { Locked, Missing, Failed };

// Opens a component file for update and takes its exclusive lock. A file that
// was replaced or removed while this session waited is opened afresh.
Opening OpenForAppend(const FileName &name, FILE *&stream) {
    // Each turn means the file was replaced meanwhile; a name that never
    // holds still is given up on.
    constexpr int kTurns = 1000;
    for (int turn = 0; turn < kTurns; ++turn) {
        stream = fopen(name.text, "r+b");
        if (!stream) {
            // Only a missing file is created: any other failure (a file we
            // may write but not read, say) must not truncate what is there.
            if (errno == ENOENT) return Opening::Missing;
            NoteOsError();
            SetError(APL_ERR_FILEIO);
            return Opening::Failed;
        }
        if (!LockOpenFile(fileno(stream), LockKind::Exclusive)) break;
        if (StillAtPath(fileno(stream), name.text)) return Opening::Locked;
        fclose(stream);
        stream = nullptr;
        if (InterruptRequested()) return Opening::Failed;
    }
    if (stream) fclose(stream);
    stream = nullptr;
    if (!aplerrno) SetError(APL_ERR_FILEIO);
    return Opening::Failed;
}

// Appends to an open file that this session alone holds, and closes it. The
// header is read here, under the lock. A file of the other byte order keeps
// that order in its header; the new component is written in this machine's
// order, which readers recognise record by record.
aplarray *AppendLocked(FILE *stream, const SerialBytes &bytes) {
    auto fail = [stream]() -> aplarray * {
        fclose(stream);
        return nullptr;
    };
    ComponentHeader first;
    if (fread(&first, sizeof first, 1, stream) != 1) {
        if (ferror(stream)) NoteOsError();
        SetError(APL_ERR_FILEIO);
        return fail();
    }
    RecordHeader &h = first.header;
    const ByteOrder order = ClassifyHeader(h);
    if (order == ByteOrder::Neither) {
        SetErrorText(APL_ERR_FILEIO, kFileFormatText);
        return fail();
    }
    if (h.rank != 1) {
        SetErrorText(APL_ERR_RANK, kAppendText);
        return fail();
    }
    if (h.eltype != APL_NESTED) {
        SetErrorText(APL_ERR_DOMAIN, kAppendText);
        return fail();
    }
    const int32_t count = order == ByteOrder::Swapped ? Swap32(first.count) : first.count;
    if (!TypeMatches(h) || count != h.number) {
        SetErrorText(APL_ERR_FILEIO, kFileFormatText);
        return fail();
    }
    if (h.number == INT32_MAX || h.size > INT32_MAX - 4) {
        SetError(APL_ERR_LIMIT);
        return fail();
    }
    const int32_t component = h.number + 1;
    if (!StreamSeek(stream, 0, SEEK_END)) {
        NoteOsError();
        SetError(APL_ERR_FILEIO);
        return fail();
    }
    const int64_t offset = StreamTell(stream);
    if (offset < 0 || offset > INT32_MAX) {
        SetError(offset < 0 ? APL_ERR_FILEIO : APL_ERR_LIMIT);
        return fail();
    }
    // A failed write cuts the file back to its old end, so that the header
    // (written last) still describes everything in it.
    auto restore = [stream, offset, &fail]() -> aplarray * {
        NoteOsError();
        fflush(stream);
        if (ftruncate(fileno(stream), static_cast<off_t>(offset)) != 0) NoteOsError();
        SetError(APL_ERR_FILEIO);
        return fail();
    };
    if (!PutBytes(stream, bytes.data, bytes.length)) return restore();
    ComponentHeader updated = first;
    updated.header.size = h.size + 4;
    updated.header.number = component;
    updated.count = component;
    if (order == ByteOrder::Swapped) {
        updated.header.size = Swap32(updated.header.size);
        updated.header.lnkcnt = Swap32(updated.header.lnkcnt);
        updated.header.number = Swap32(updated.header.number);
        updated.count = Swap32(updated.count);
    }
    if (!StreamSeek(stream, 0, SEEK_SET) || !PutBytes(stream, &updated, sizeof updated)) return restore();
    if (!CloseStream(stream)) return nullptr;
    const int32_t result[2] = {component, static_cast<int32_t>(offset)};
    return MakeIntVector(result, 2);
}

// Appends one component, creating the file when there is none.
aplarray *AppendComponent(const FileName &name, const aplarray *value) {
    SerialBytes bytes;
    if (!Serialise(value, kComponentDepth, bytes)) return nullptr;
    for (;;) {
        FILE *stream = nullptr;
        switch (OpenForAppend(name, stream)) {
            case Opening::Locked: return AppendLocked(stream, bytes);
            case Opening::Failed: return nullptr;
            case Opening::Missing: break;
        }
        SetPendingOsError(0);
        switch (CreateComponentFile(name, bytes)) {
            case Creation::Created: {
                const int32_t result[2] = {1, static_cast<int32_t>(sizeof(ComponentHeader))};
                return MakeIntVector(result, 2);
            }
            case Creation::Failed: return nullptr;
            case Creation::Existed: break;  // made by another session: append to it
        }
        if (InterruptRequested()) return nullptr;
    }
}

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// An INTG scalar, or a REAL one for a value beyond the range of INTG.
aplarray *MakeCount(int64_t value) {
    return value <= INT32_MAX ? MakeInt(static_cast<int32_t>(value)) : MakeReal(static_cast<double>(value));
}

constexpr Signature kReadWriteSignature{kRefused, Optional(kAnyType), Required(kAnyType)};

}  // namespace

// ---- Internal interface -------------------------------------------------------

aplarray *ReadArray(FILE *stream) {
    const int64_t start = StreamTell(stream);
    const int64_t length = StreamLength(stream);
    if (start < 0 || length < 0) {
        NoteOsError();
        SetError(APL_ERR_FILEIO);
        return nullptr;
    }
    Source source;
    source.stream = stream;
    source.length = length - start;
    return ReadTree(source);
}

aplarray *ReadArrayBytes(const void *bytes, int64_t length, int32_t formatError, const char *formatMessage) {
    Source source;
    source.bytes = static_cast<const unsigned char *>(bytes);
    source.length = length;
    source.formatError = formatError;
    source.formatText = formatMessage;
    return ReadTree(source);
}

int64_t SerialLength(const aplarray *array) {
    Sink counter;
    return Emit(counter, array) ? counter.count : -1;
}

// ---- System functions -----------------------------------------------------------

// IIO. Returns a temporary (the array read, or the component's number and
// offset) or null. Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_ReadWrite(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall(kReadWriteSignature, axis, left, right, [](CallArgs &args) -> aplarray * {
        const aplarray *target = args.right;
        const aplarray *nameArray = target;
        int64_t position = 0;
        const bool pair = IsNested(target);
        if (pair) {
            if (target->rank > 1) return Fail(APL_ERR_RANK);
            if (target->number != 2) return Fail(APL_ERR_LENGTH);
            nameArray = ItemAt(target, 0);
            if (!SingleInteger(ItemAt(target, 1), &position)) return nullptr;
        }
        FileName name;
        if (!GetFileName(nameArray, &name)) return nullptr;
        if (!args.left) return ReadComponentFile(name, pair, position);
        if (pair) return AppendComponent(name, args.left);
        return WriteWholeFile(name, args.left);
    });
}

// IIOS. Returns a temporary: the serialised CHAR vector (with a left argument)
// or the array rebuilt from the bytes. Consumes temporary arguments.
extern "C" aplarray *APL_Serialize(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL and SHORT arguments are serialised as the equivalent INTG arrays.
    constexpr int kSerialised = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;
    constexpr Signature signature{kRefused, Optional(kAnyType), Required(kSerialised)};
    return StandardCall(signature, axis, left, right, [](CallArgs &args) -> aplarray * {
        const aplarray *value = args.right;
        if (!args.left) {
            if (IsNested(value)) return Fail(APL_ERR_DOMAIN);
            const int64_t bytes = static_cast<int64_t>(ElementSize(value->eltype)) * value->number;
            return ReadArrayBytes(DataOf(value), bytes, APL_ERR_DOMAIN, kDataFormatText);
        }
        const int64_t length = SerialLength(value);
        if (length < 0) return nullptr;
        if (length > INT32_MAX) return Fail(APL_ERR_WSFULL);
        const auto n = static_cast<int32_t>(length);
        aplarray *result = AllocArray(APL_TEMP, 1, APL_CHAR, &n, HERE);
        if (!result) return nullptr;
        Sink sink;
        sink.buffer = DataOf<unsigned char>(result);
        sink.plainTypes = true;
        if (Emit(sink, value)) return result;
        APL_UnLinkTempEx(result, HERE);  // interrupted
        return nullptr;
    });
}

// IIOL. Returns a temporary INTG scalar (REAL beyond the INTG range). Consumes
// a temporary argument.
extern "C" aplarray *APL_SerialLength(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature signature{kRefused, kRefused, Required(kAnyType)};
    return StandardCall(signature, axis, left, right, [](CallArgs &args) -> aplarray * {
        const int64_t length = SerialLength(args.right);
        return length < 0 ? nullptr : MakeCount(length);
    });
}
