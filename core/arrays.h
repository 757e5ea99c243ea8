// arrays: the memory blocks and the array record under every APL value.
// Blocks carry a guard word, the allocating file and line and a serial number;
// arrays add link counting, copying and the small constructors used everywhere.
#pragma once

#include "apl.h"

#include <cstddef>
#include <cstdint>

// Where a call comes from, for tracing and the INTERNAL ERROR reports.
#define HERE __FILE__, __LINE__

constexpr uint32_t kBlockMagic = 0x02CEDA9F;
constexpr int kMaxRank = 64;

// Session mode word bits that the memory manager reads.
constexpr uint32_t kModeMemoryStats = 0x02;
constexpr uint32_t kModeTraceArrays = 0x10;
constexpr uint32_t kModeTraceBlocks = 0x20;

// The session's mode word (the value of MODE plus the DEBUG switches) and the
// switch that APL_Init turns on once start-up is complete: tracing is silent
// before it.
extern uint32_t sessionMode;
extern bool tracingActive;

inline bool TracingArrays() { return tracingActive && (sessionMode & kModeTraceArrays); }
inline bool TracingBlocks() { return tracingActive && (sessionMode & kModeTraceBlocks); }

// Header in front of every managed block; the guard word sits directly before
// the address the caller sees. Array records are placed so that their data is
// 16-byte aligned, which leaves the header only 4-byte aligned: hence packed.
// The allocating file is kept as an index into the table of interned names,
// so that an allocation formats no text.
struct __attribute__((packed, aligned(4))) memblock {
    memblock *next;
    memblock *prev;
    size_t capacity;  // bytes of system memory from the allocation base (counted against the limit)
    int32_t line;
    int32_t serial;
    uint16_t file;  // InternFileName index
    uint16_t lead;  // bytes between the system allocation and this header
    uint8_t isArray;
    uint8_t spare[3];
    uint32_t magic;
};
// The allocating file's name as traces print it.
const char *BlockFileName(const memblock *header);

// Raw blocks. Null and a failed allocation return null without setting an error;
// so does an allocation that would take the workspace past the host's limit.
void *AllocBlock(size_t bytes, const char *file, int32_t line);
void *ReallocBlock(void *block, size_t bytes, const char *file, int32_t line);
void FreeBlock(void *block, const char *file, int32_t line);

// True when the address is a live managed block (or array) of ours.
// The blocks last made or confirmed live are answered without the registry:
// a record is checked several times in a row by one call (wrapper, engine,
// unlink), and a line's few temporaries each soon after it was made.
constexpr int kConfirmedBlocks = 4;
extern const void *confirmedLiveBlocks[kConfirmedBlocks];
bool IsLiveBlockSlowly(const void *block);
inline bool IsLiveBlock(const void *block) {
    if (!block) return false;
    const void *const *c = confirmedLiveBlocks;
    if (block != c[0] && block != c[1] && block != c[2] && block != c[3]) return IsLiveBlockSlowly(block);
    const auto *header = reinterpret_cast<const memblock *>(static_cast<const char *>(block) - sizeof(memblock));
    return header->magic == kBlockMagic;
}
// The header of a live block, or null.
memblock *BlockHeader(const void *block);

// Returns a new array with one link (none with APL_TEMP in flags), or null with
// DOMAIN (element count overflow) or WS FULL set.
aplarray *AllocArray(int flags, int rank, int eltype, const int32_t *shape, const char *file, int32_t line);
// BOOL data: every row starts on a fresh word and the bits past the end of a
// row (its padding) are always zero, so that BOOL arrays can be compared,
// hashed and copied word by word. AllocArray hands out BOOL data all zero;
// a producer that writes whole words which may carry bits past a row's end
// (negation, data read from a file) calls ClearBoolPadding before handing
// the array on.
void ClearBoolPadding(aplarray *bits);
// Reports inconsistencies on the output channel; changes nothing.
void CheckArray(const aplarray *array, const char *file, int32_t line);
// Returns an independent temporary copy, items copied recursively; null on error.
aplarray *CopyArray(const aplarray *array, const char *file, int32_t line);
// Drops the parent's link on every item without freeing any (items handed over).
void ReleaseItemLinks(aplarray *array);
// Drops a link; at the last one frees the record but not its former items.
void FreeShell(aplarray *array, const char *file, int32_t line);

// (live blocks, sum of link counts) as a temporary INTG vector.
aplarray *CountBlocks();
// Describes block n, or lists the serials above -n for a negative n.
void DumpBlock(int32_t n);
// A scratch pointer that CountBlocks frees first so that it is not counted.
void RegisterScratchBlock(void **slot);
// The serial number that the next block will get.
int32_t NextBlockSerial();
// Releases the arrays made since the block of that serial that nothing links:
// temporaries whose holders are gone (the frames a caught processor fault
// skipped), with the items they link.
void ReleaseTemporariesSince(int32_t serial);

// Bytes the host's ceiling still allows the workspace's blocks; -1 when no
// ceiling is set.
int64_t RoomUnderLimit();

// ---- Element access ------------------------------------------------------

inline size_t ElementSize(int eltype) {
    switch (eltype) {
        case APL_CHAR: return 1;
        case APL_SHORT: return 2;
        case APL_INTG:
        case APL_BOOL: return 4;
        case APL_REAL: return 8;
        case APL_NESTED: return sizeof(aplarray *);
        default: return 0;
    }
}

template <class T = void>
inline T *DataOf(const aplarray *a) {
    return reinterpret_cast<T *>(reinterpret_cast<char *>(const_cast<aplarray *>(a)) + 16 + 4 * a->rank);
}
inline aplarray **ItemsOf(const aplarray *a) { return DataOf<aplarray *>(a); }
inline bool IsNested(const aplarray *a) { return a->eltype == APL_NESTED; }
// Read as a byte: a static record (a constant image of generated code) may lie
// at any address, where the record's fields cannot be read through its type.
inline bool IsStatic(const aplarray *a) {
    return (reinterpret_cast<const uint8_t *>(a)[offsetof(aplarray, type)] & APL_STATIC) != 0;
}
// Generated C code keeps its constants in byte arrays, which may lie at any
// address; every other record, managed or pooled, is 4-byte aligned. So a
// test of the pointer finds such an image without reading it.
inline bool IsUnaligned(const aplarray *a) { return (reinterpret_cast<uintptr_t>(a) & 3) != 0; }
inline bool AnyUnaligned(const aplarray *axis, const aplarray *left, const aplarray *right) {
    const auto any =
        reinterpret_cast<uintptr_t>(axis) | reinterpret_cast<uintptr_t>(left) | reinterpret_cast<uintptr_t>(right);
    return (any & 3) != 0;
}
// Where an image enters the library it is replaced by a temporary managed
// copy, which the entry consumes like any temporary; other arguments stay as
// they are. CopyImage: a temporary copy, or null with WS FULL set.
aplarray *CopyImage(const aplarray *image);
inline aplarray *Aligned(aplarray *a) { return IsUnaligned(a) ? CopyImage(a) : a; }
// The same for the three arguments of a call; the ordinary case costs one
// test. False when a copy cannot be made (WS FULL set, that slot null): the
// caller releases the others as on any error.
inline bool AlignArguments(aplarray *&axis, aplarray *&left, aplarray *&right) {
    if (!AnyUnaligned(axis, left, right)) return true;
    const aplarray *given[] = {axis, left, right};
    axis = Aligned(axis);
    left = Aligned(left);
    right = Aligned(right);
    return (axis || !given[0]) && (left || !given[1]) && (right || !given[2]);
}
// Item slots to visit: an empty nested array still holds its prototype.
inline int32_t ItemSlots(const aplarray *a) { return a->number > 0 ? a->number : 1; }
// Number of elements: the product of the shape (BOOL number counts words).
int64_t ElementCount(const aplarray *a);
// Length of the last axis (1 for a scalar).
inline int32_t RowLength(const aplarray *a) { return a->rank ? a->shape[a->rank - 1] : 1; }

// ---- Small constructors (temporaries; WS FULL on failure) ------------------
aplarray *MakeInt(int32_t value);
aplarray *MakeReal(double value);
aplarray *MakeChar(uint8_t value);
aplarray *MakeString(const char *text);
aplarray *MakeIntVector(const int32_t *values, int32_t n);
aplarray *ItemScalar(const aplarray *array, int64_t i);
// NUL-terminated copy in a raw block; DOMAIN for anything but simple CHAR.
// Releases a temporary argument in every case.
char *ArrayToString(aplarray *array);
// A name spelt in the system's characters, list ended by 0; the text lives in a
// scratch block that the next call replaces.
const char *CharString(int c1, ...);
bool SameStorage(void *p, void *q);

// Releases the temporaries a call was given, each once: the same array may
// stand in two or three places (X+X). Linked arrays and nulls are left alone.
inline void ReleaseTemporaries(aplarray *a, aplarray *b, aplarray *c = nullptr) {
    APL_UnLinkTempEx(a, HERE);
    if (b != a) APL_UnLinkTempEx(b, HERE);
    if (c != a && c != b) APL_UnLinkTempEx(c, HERE);
}

// Releases a temporary at scope exit unless handed over with release().
class TempGuard {
public:
    explicit TempGuard(aplarray *a = nullptr) : array_(a) {}
    TempGuard(const TempGuard &) = delete;
    TempGuard &operator=(const TempGuard &) = delete;
    ~TempGuard() { APL_UnLinkTempEx(array_, HERE); }
    aplarray *get() const { return array_; }
    aplarray *release() {
        aplarray *a = array_;
        array_ = nullptr;
        return a;
    }
    void reset(aplarray *a) {
        APL_UnLinkTempEx(array_, HERE);
        array_ = a;
    }

private:
    aplarray *array_;
};
