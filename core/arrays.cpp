// arrays: the memory blocks and the array record under every APL value.
// Blocks carry a guard word, the allocating file and line and a serial number;
// arrays add link counting, copying and the small constructors used everywhere.
#include "core/arrays.h"

#include "core/blockmem.h"
#include "core/callbacks.h"
#include "core/depths.h"
#include "core/errors.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// The record's layout is read by saved workspaces and component files: the
// header is 16 bytes and the shape follows it.
static_assert(offsetof(aplarray, size) == 0 && offsetof(aplarray, type) == 4 && offsetof(aplarray, rank) == 5 &&
              offsetof(aplarray, eltype) == 6 && offsetof(aplarray, lnkcnt) == 8 &&
              offsetof(aplarray, number) == 12 && offsetof(aplarray, shape) == 16);

uint32_t sessionMode = 0;
bool tracingActive = false;

// Freeing or moving a block confirmed live forgets it; the oldest
// confirmation gives way to a new one.
const void *confirmedLiveBlocks[kConfirmedBlocks] = {};

namespace {

unsigned nextConfirmed = 0;
void ConfirmLive(const void *block) { confirmedLiveBlocks[nextConfirmed++ % kConfirmedBlocks] = block; }
void ForgetLive(const void *block) {
    for (const void *&confirmed : confirmedLiveBlocks)
        if (confirmed == block) confirmed = nullptr;
}

memblock *blockHead = nullptr;
memblock *blockTail = nullptr;
uint32_t serialCounter = 0;  // counts every allocation since the library was loaded (wrapping)

// What the managed blocks hold, system overhead included, and the ceiling the
// host may set on it (0: none). Past the ceiling an allocation fails as if the
// system had no memory left, which every caller turns into WS FULL.
uint64_t bytesInUse = 0;
uint64_t bytesLimit = 0;

bool WithinLimit(uint64_t more) { return bytesLimit == 0 || more <= bytesLimit - std::min(bytesLimit, bytesInUse); }

constexpr int kMaxScratchSlots = 8;
void **scratchSlots[kMaxScratchSlots];
int scratchSlotCount = 0;

// Nesting deeper than this cannot come from real data; copying refuses it
// instead of running off the end of the C stack.
constexpr int kMaxCopyDepth = kMaxNestingDepth;

// The addresses of all live blocks, so that a foreign or stale pointer is
// recognised without reading memory that may no longer be mapped.
// Open addressing with linear probing; deletion shifts entries back, so no
// tombstones accumulate.
class BlockRegistry {
public:
    // Keys are addresses taken as numbers: the memory behind them is never read.
    bool contains(uintptr_t key) const {
        if (!slots_) return false;
        for (size_t i = home(key);; i = (i + 1) & mask_) {
            if (slots_[i] == key) return true;
            if (slots_[i] == 0) return false;
        }
    }
    bool insert(uintptr_t key) {
        if ((used_ + 1) * 2 > capacity_ && !grow()) return false;
        place(key);
        ++used_;
        return true;
    }
    void erase(uintptr_t key) {
        if (!slots_) return;
        size_t i = home(key);
        while (slots_[i] != key) {
            if (slots_[i] == 0) return;
            i = (i + 1) & mask_;
        }
        for (size_t j = (i + 1) & mask_; slots_[j] != 0; j = (j + 1) & mask_) {
            const size_t k = home(slots_[j]);
            // Move slots_[j] into the hole at i unless its home lies cyclically in (i, j].
            const bool homeBetween = i <= j ? (i < k && k <= j) : (i < k || k <= j);
            if (!homeBetween) {
                slots_[i] = slots_[j];
                i = j;
            }
        }
        slots_[i] = 0;
        --used_;
    }

private:
    // Blocks allocated one after another lie close together, and so do their
    // slots: within a megabyte of addresses the home follows the address (a
    // run of new blocks fills neighbouring slots, a cache line at a time),
    // and each megabyte starts at a hashed place, so that regions far apart
    // do not pile up on the same slots.
    size_t home(uintptr_t key) const {
        const auto region = static_cast<uint64_t>(key) >> 20;
        return static_cast<size_t>(((region * 0x9E3779B97F4A7C15ull) >> shift_) + (key >> 4)) & mask_;
    }
    void place(uintptr_t key) {
        size_t i = home(key);
        while (slots_[i] != 0) i = (i + 1) & mask_;
        slots_[i] = key;
    }
    bool grow() {
        const size_t newCapacity = capacity_ ? capacity_ * 2 : 1024;
        auto *newSlots = static_cast<uintptr_t *>(calloc(newCapacity, sizeof(uintptr_t)));
        if (!newSlots) return false;
        uintptr_t *old = slots_;
        const size_t oldCapacity = capacity_;
        slots_ = newSlots;
        capacity_ = newCapacity;
        mask_ = newCapacity - 1;
        shift_ = 64;
        for (size_t c = newCapacity; c > 1; c >>= 1) --shift_;
        for (size_t i = 0; i < oldCapacity; ++i)
            if (old[i]) place(old[i]);
        free(old);
        return true;
    }

    uintptr_t *slots_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0;
    size_t mask_ = 0;
    int shift_ = 64;
};

BlockRegistry liveBlocks;

const char *BaseName(const char *file) {
    if (!file) return "";
    const char *base = file;
    for (const char *p = file; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

// The header sits directly in front of the caller's address.
memblock *HeaderOf(const void *block) {
    return reinterpret_cast<memblock *>(const_cast<char *>(static_cast<const char *>(block)) - sizeof(memblock));
}
void *PayloadOf(memblock *header) { return reinterpret_cast<char *>(header) + sizeof(memblock); }
char *AllocationBase(memblock *header) { return reinterpret_cast<char *>(header) - header->lead; }

// Places the header so that the payload byte at dataOffset lands on a 16-byte
// boundary: arrays pass the offset of their data, raw blocks 0.
uint16_t LeadFor(size_t dataOffset) { return static_cast<uint16_t>((16 - (sizeof(memblock) + dataOffset) % 16) % 16); }

void *AllocManaged(size_t bytes, size_t dataOffset, bool isArray, const char *file, int32_t line) {
    const uint16_t lead = LeadFor(dataOffset);
    if (bytes > SIZE_MAX - sizeof(memblock) - 64) return nullptr;
    const size_t total = lead + sizeof(memblock) + bytes;
    if (!WithinLimit(total)) return nullptr;
    size_t capacity = 0;
    char *base = static_cast<char *>(TakeMemory(total, capacity));
    if (!base) return nullptr;
    char *payload = base + lead + sizeof(memblock);
    auto *header = reinterpret_cast<memblock *>(base + lead);
    if (!liveBlocks.insert(reinterpret_cast<uintptr_t>(payload))) {
        GiveMemory(base, capacity);
        return nullptr;
    }
    header->capacity = capacity;
    header->file = InternFileName(file);
    header->line = line;
    header->next = nullptr;
    header->prev = blockTail;
    if (blockTail)
        blockTail->next = header;
    else
        blockHead = header;
    blockTail = header;
    header->isArray = isArray ? 1 : 0;
    header->lead = lead;
    bytesInUse += capacity;
    header->serial = static_cast<int32_t>(serialCounter++);
    header->magic = kBlockMagic;
    ConfirmLive(payload);
    if (!isArray && TracingBlocks())
        WriteLinef("ALLOCATING BLOCK #%d: %s[%d], %d bytes", header->serial, BlockFileName(header), header->line,
                   static_cast<int>(bytes));
    return payload;
}

}  // namespace

const char *BlockFileName(const memblock *header) { return InternedFileName(header->file); }

namespace {

int32_t SerialOf(const aplarray *array) { return HeaderOf(array)->serial; }

// One unlink step. A nested array that is freed hands its items to `pending`,
// so that deep nesting is walked with a heap stack instead of recursion.
class PendingItems {
public:
    ~PendingItems() { free(items_); }
    bool empty() const { return count_ == 0; }
    aplarray *pop() { return items_[--count_]; }
    bool push(aplarray *a) {
        if (count_ == capacity_) {
            const size_t newCapacity = capacity_ ? capacity_ * 2 : 64;
            auto *grown = static_cast<aplarray **>(realloc(items_, newCapacity * sizeof(aplarray *)));
            if (!grown) return false;
            items_ = grown;
            capacity_ = newCapacity;
        }
        items_[count_++] = a;
        return true;
    }

private:
    aplarray **items_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

void UnlinkStep(aplarray *array, const char *file, int32_t line, PendingItems &pending) {
    if (!array || IsStatic(array)) return;
    if (!IsLiveBlock(array)) {
        WriteLinef("INTERNAL ERROR: Unlinking invalid array at %s:%d", BaseName(file), line);
        return;
    }
    if (TracingArrays() && HeaderOf(array)->isArray)
        WriteLinef("UNLINKING ARRAY #%d: %s[%d], %d links active", SerialOf(array), BaseName(file), line,
                   array->lnkcnt);
    if (array->lnkcnt >= 2) {
        --array->lnkcnt;
        return;
    }
    if (IsNested(array)) {
        aplarray **items = ItemsOf(array);
        // Pushed last-first so that items are released in order.
        for (int32_t i = ItemSlots(array); i-- > 0;)
            if (items[i] && !pending.push(items[i])) APL_UnLinkEx(items[i], file, line);
    }
    FreeBlock(array, file, line);
}

}  // namespace

// ---- Raw blocks ------------------------------------------------------------

bool IsLiveBlockSlowly(const void *block) {
    if (!block || !liveBlocks.contains(reinterpret_cast<uintptr_t>(block))) return false;
    ConfirmLive(block);
    return HeaderOf(block)->magic == kBlockMagic;
}

memblock *BlockHeader(const void *block) { return IsLiveBlock(block) ? HeaderOf(block) : nullptr; }

void *AllocBlock(size_t bytes, const char *file, int32_t line) { return AllocManaged(bytes, 0, false, file, line); }

void *ReallocBlock(void *block, size_t bytes, const char *file, int32_t line) {
    if (!block) return AllocBlock(bytes, file, line);
    if (!IsLiveBlock(block)) {
        WriteLinef("INTERNAL ERROR: Can't realloc memory block at %s:%d", BaseName(file), line);
        return nullptr;
    }
    memblock *header = HeaderOf(block);
    const uint16_t lead = header->lead;
    if (bytes > SIZE_MAX - sizeof(memblock) - 64) return nullptr;
    const size_t total = lead + sizeof(memblock) + bytes;
    const uint64_t before = header->capacity;
    if (total > before && !WithinLimit(total - before)) return nullptr;
    // The system allocator keeps 16-byte alignment, so the lead stays right.
    size_t capacity = header->capacity;
    char *base = static_cast<char *>(ResizeMemory(AllocationBase(header), total, capacity));
    if (!base) return nullptr;
    header = reinterpret_cast<memblock *>(base + lead);
    header->capacity = capacity;
    bytesInUse = bytesInUse - before + capacity;
    void *moved = PayloadOf(header);
    if (moved != block) {
        ForgetLive(block);
        liveBlocks.erase(reinterpret_cast<uintptr_t>(block));
        liveBlocks.insert(reinterpret_cast<uintptr_t>(moved));  // cannot fail: an entry was just freed
        if (header->prev)
            header->prev->next = header;
        else
            blockHead = header;
        if (header->next)
            header->next->prev = header;
        else
            blockTail = header;
    }
    if (TracingBlocks())
        WriteLinef("REALLOCATING BLOCK #%d: %s[%d], %d bytes", header->serial, BaseName(file), line,
                   static_cast<int>(bytes));
    return moved;
}

void FreeBlock(void *block, const char *file, int32_t line) {
    if (!block) return;
    if (!IsLiveBlock(block)) {
        WriteLinef("INTERNAL ERROR: Can't free memory block at %s:%d", BaseName(file), line);
        return;
    }
    memblock *header = HeaderOf(block);
    header->magic = 0;
    bytesInUse -= header->capacity;
    if (header->prev)
        header->prev->next = header->next;
    else
        blockHead = header->next;
    if (header->next)
        header->next->prev = header->prev;
    else
        blockTail = header->prev;
    ForgetLive(block);
    liveBlocks.erase(reinterpret_cast<uintptr_t>(block));
    if (!header->isArray && TracingBlocks())
        WriteLinef("FREEING BLOCK #%d: %s[%d]", header->serial, BaseName(file), line);
    GiveMemory(AllocationBase(header), header->capacity);
}

// ---- Arrays ----------------------------------------------------------------

int64_t ElementCount(const aplarray *a) {
    int64_t count = 1;
    for (int i = 0; i < a->rank; ++i) count *= a->shape[i];
    return count;
}

namespace {
// AllocArray for a simple scalar, the commonest result of all: one element,
// no shape, a record of 20 or 24 bytes in a 32-byte block.
aplarray *AllocScalar(int flags, int eltype, size_t elementSize, const char *file, int32_t line) {
    auto *array = static_cast<aplarray *>(AllocManaged(32, 16, true, file, line));
    if (!array) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    array->size = elementSize <= 4 ? 20 : static_cast<int32_t>(16 + elementSize);
    array->type = static_cast<uint8_t>((flags & 0x9B & ~(APL_SIMPLE | APL_NESTEDARRAY)) | APL_SIMPLE);
    array->rank = 0;
    array->eltype = static_cast<uint8_t>(eltype);
    array->pad = 0;
    array->lnkcnt = (flags & APL_TEMP) ? 0 : 1;
    array->number = 1;
    // The data word(s) start cleared, as a BOOL scalar's padding must be.
    memset(array->shape, 0, 8);
    if (TracingArrays()) {
        const memblock *header = HeaderOf(array);
        WriteLinef("ALLOCATING ARRAY #%d: %s[%d], lnk=%d, %d elements", header->serial, BlockFileName(header),
                   header->line, array->lnkcnt, array->number);
    }
    return array;
}
}  // namespace

aplarray *AllocArray(int flags, int rank, int eltype, const int32_t *shape, const char *file, int32_t line) {
    if (rank < 0 || rank > kMaxRank) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    const size_t elementSize = ElementSize(eltype);
    if (elementSize == 0) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (rank == 0 && eltype != APL_NESTED) return AllocScalar(flags, eltype, elementSize, file, line);
    // The product is formed both wrapped to 32 bits and exactly: a negative
    // axis or a count that does not fit the 32-bit number field is DOMAIN.
    uint32_t wrapped = 1;
    double exact = 1.0;
    for (int i = 0; i < rank; ++i) {
        wrapped *= static_cast<uint32_t>(shape[i]);
        exact *= shape[i];
    }
    const auto count32 = static_cast<int32_t>(wrapped);
    if (count32 < 0 || static_cast<double>(count32) != exact) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    int64_t count = count32;
    const int64_t extraSlot = (eltype == APL_NESTED && count == 0) ? 1 : 0;
    if (eltype == APL_BOOL && rank > 0 && shape[rank - 1] != 0) {
        const int64_t last = shape[rank - 1];
        count = (count / last) * ((last + 31) / 32);
    }
    const int64_t payload = static_cast<int64_t>(elementSize) * (count + extraSlot) + 4 * rank;
    const int64_t recordSize = payload <= 4 ? 20 : payload + 16;
    if (recordSize > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    // Rounded up so that word-wise loops may read the last word whole.
    const size_t bytes = (static_cast<size_t>(recordSize) + 15) & ~static_cast<size_t>(15);
    auto *array = static_cast<aplarray *>(AllocManaged(bytes, 16 + 4 * rank, true, file, line));
    if (!array) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    array->size = static_cast<int32_t>(recordSize);
    array->type = static_cast<uint8_t>((flags & 0x9B & ~(APL_SIMPLE | APL_NESTEDARRAY)) |
                                       (eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE));
    array->rank = static_cast<uint8_t>(rank);
    array->eltype = static_cast<uint8_t>(eltype);
    array->pad = 0;
    array->lnkcnt = (flags & APL_TEMP) ? 0 : 1;
    array->number = static_cast<int32_t>(count);
    array->shape[0] = 0;  // first payload word: the data of a scalar
    if (rank) memcpy(array->shape, shape, 4 * static_cast<size_t>(rank));
    if (eltype == APL_NESTED) {
        aplarray **items = ItemsOf(array);
        for (int64_t i = 0; i < count + extraSlot; ++i) items[i] = nullptr;
    } else if (eltype == APL_BOOL) {
        // BOOL arrays start all zero, padding included (see ClearBoolPadding).
        memset(DataOf(array), 0, 4 * static_cast<size_t>(count));
    }
    if (TracingArrays()) {
        const memblock *header = HeaderOf(array);
        WriteLinef("ALLOCATING ARRAY #%d: %s[%d], lnk=%d, %d elements", header->serial, BlockFileName(header),
                   header->line, array->lnkcnt, array->number);
    }
    return array;
}

void CheckArray(const aplarray *array, const char *file, int32_t line) {
    if (!array) return;
    if (!IsStatic(array) && !IsLiveBlock(array)) {
        WriteLinef("INTERNAL ERROR (memblock): Invalid array at %s:%d", BaseName(file), line);
        return;
    }
    // A static record may lie at any address: its header is read as bytes.
    aplarray header;
    memcpy(&header, array, sizeof header);
    array = &header;
    const auto rank = static_cast<int8_t>(array->rank);
    if (rank > kMaxRank) {
        WriteLinef("INTERNAL ERROR (rank=%d): Invalid array at %s:%d", rank, BaseName(file), line);
        return;
    }
    if (array->lnkcnt < 0)
        WriteLinef("INTERNAL ERROR (lnkcnt=%d): Invalid array at %s:%d", array->lnkcnt, BaseName(file), line);
}

extern "C" aplarray *APL_LinkEx(aplarray *array, const char *file, int32_t line) {
    if (!array) return nullptr;
    if (IsStatic(array)) {
        aplarray *copy = CopyArray(array, file, line);
        if (copy) ++copy->lnkcnt;
        return copy;
    }
    ++array->lnkcnt;
    if (TracingArrays())
        WriteLinef("LINKING ARRAY #%d: %s[%d], %d links active", SerialOf(array), BaseName(file), line, array->lnkcnt);
    return array;
}

extern "C" void APL_UnLinkEx(aplarray *array, const char *file, int32_t line) {
    if (!array || IsStatic(array)) return;
    // A simple array, or one that keeps other links, frees no items: no
    // pending list is needed.
    if ((array->lnkcnt >= 2 || !IsNested(array)) && IsLiveBlock(array)) {
        if (TracingArrays() && HeaderOf(array)->isArray)
            WriteLinef("UNLINKING ARRAY #%d: %s[%d], %d links active", SerialOf(array), BaseName(file), line,
                       array->lnkcnt);
        if (array->lnkcnt >= 2)
            --array->lnkcnt;
        else
            FreeBlock(array, file, line);
        return;
    }
    PendingItems pending;
    UnlinkStep(array, file, line, pending);
    while (!pending.empty()) UnlinkStep(pending.pop(), file, line, pending);
}

extern "C" void APL_UnLinkTempEx(aplarray *array, const char *file, int32_t line) {
    if (!array || IsStatic(array)) return;
    if (!IsLiveBlock(array)) {
        WriteLinef("INTERNAL ERROR: TMP-Unlinking invalid array at %s:%d", BaseName(file), line);
        return;
    }
    if (array->lnkcnt == 0) APL_UnLinkEx(array, file, line);
}

extern "C" void *APL_DataEx(aplarray *array, const char *file, int32_t line) {
    if (!array) {
        WriteLinef("INTERNAL ERROR: Accessing NULL pointer at %s:%d", BaseName(file), line);
        return nullptr;
    }
    if (!IsStatic(array) && !IsLiveBlock(array))
        WriteLinef("INTERNAL ERROR: Accessing invalid array at %s:%d", BaseName(file), line);
    CheckArray(array, file, line);
    // The rank as a byte: a constant image may lie at any address.
    const uint8_t rank = reinterpret_cast<const uint8_t *>(array)[offsetof(aplarray, rank)];
    return reinterpret_cast<char *>(array) + 16 + 4 * rank;
}

aplarray *CopyArray(const aplarray *array, const char *file, int32_t line) {
    if (!array) return nullptr;
    if (TracingArrays()) {
        if (IsStatic(array))
            WriteLinef("COPYING STATIC ARRAY: %s[%d]", BaseName(file), line);
        else
            WriteLinef("COPYING ARRAY #%d: %s[%d]", SerialOf(array), BaseName(file), line);
    }
    // A static record may lie at any address: header, shape and data are
    // copied as bytes.
    const auto *bytes = reinterpret_cast<const char *>(array);
    aplarray header;
    memcpy(&header, bytes, sizeof header);
    if (header.rank > kMaxRank) {
        SetErrorText(APL_ERR_SYSTEM, "Damaged array record");
        return nullptr;
    }
    int32_t shape[kMaxRank];
    memcpy(shape, bytes + sizeof header, 4 * static_cast<size_t>(header.rank));
    if (header.eltype != APL_NESTED) {
        aplarray *copy = AllocArray(APL_SIMPLE | APL_TEMP, header.rank, header.eltype, shape, file, line);
        if (copy)
            memcpy(DataOf(copy), bytes + sizeof header + 4 * static_cast<size_t>(header.rank),
                   ElementSize(header.eltype) * static_cast<size_t>(header.number));
        return copy;
    }
    if (depths.copy >= kMaxCopyDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    aplarray *copy = AllocArray(APL_NESTEDARRAY | APL_TEMP, header.rank, APL_NESTED, shape, file, line);
    if (!copy) return nullptr;
    ++depths.copy;
    const char *from = bytes + sizeof header + 4 * static_cast<size_t>(header.rank);
    aplarray **to = ItemsOf(copy);
    for (int32_t i = 0; i < ItemSlots(copy) && !aplerrno; ++i) {
        aplarray *item;
        memcpy(&item, from + sizeof item * static_cast<size_t>(i), sizeof item);
        to[i] = APL_LinkEx(CopyArray(item, file, line), file, line);
    }
    --depths.copy;
    if (aplerrno) {
        APL_UnLinkEx(copy, file, line);
        return nullptr;
    }
    return copy;
}

aplarray *CopyImage(const aplarray *image) {
    aplarray *copy = CopyArray(image, HERE);
    if (!copy && !aplerrno) SetError(APL_ERR_WSFULL);
    return copy;
}

void ReleaseItemLinks(aplarray *array) {
    if (!array || !IsNested(array)) return;
    aplarray **items = ItemsOf(array);
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        aplarray *item = items[i];
        if (!item || IsStatic(item)) continue;
        if (TracingArrays()) WriteLinef("UNLINKING SUBARRAY #%d: %d links active", SerialOf(item), array->lnkcnt);
        --item->lnkcnt;
    }
}

void FreeShell(aplarray *array, const char *file, int32_t line) {
    if (!array || IsStatic(array)) return;
    if (!IsLiveBlock(array)) {
        WriteLinef("INTERNAL ERROR: Unlinking invalid array at %s:%d", BaseName(file), line);
        return;
    }
    if (--array->lnkcnt >= 1) return;
    ++array->lnkcnt;
    array->type = APL_SIMPLE;
    array->eltype = APL_INTG;
    APL_UnLinkEx(array, file, line);
}

// ---- Listing -----------------------------------------------------------------

void RegisterScratchBlock(void **slot) {
    for (int i = 0; i < scratchSlotCount; ++i)
        if (scratchSlots[i] == slot) return;
    if (scratchSlotCount < kMaxScratchSlots) scratchSlots[scratchSlotCount++] = slot;
}

int32_t NextBlockSerial() { return static_cast<int32_t>(serialCounter); }

void ReleaseTemporariesSince(int32_t serial) {
    // Serials wrap after 2^32 allocations: "made since" is a modular distance.
    const auto first = static_cast<uint32_t>(serial);
    const uint32_t made = serialCounter - first;
    std::vector<aplarray *> orphans;
    for (memblock *b = blockHead; b; b = b->next) {
        if (!b->isArray || static_cast<uint32_t>(b->serial) - first >= made) continue;
        auto *array = static_cast<aplarray *>(PayloadOf(b));
        if (array->lnkcnt < 1) orphans.push_back(array);
    }
    // Releasing one never frees another: an orphan is nobody's item.
    for (aplarray *array : orphans) APL_UnLinkTempEx(array, HERE);
}

aplarray *CountBlocks() {
    for (int i = 0; i < scratchSlotCount; ++i) {
        FreeBlock(*scratchSlots[i], HERE);
        *scratchSlots[i] = nullptr;
    }
    constexpr int kMaxReported = 16;
    int32_t zeroLinkSerials[kMaxReported];
    int zeroLinks = 0;
    int32_t blocks = 0;
    int32_t linkSum = 0;
    for (const memblock *b = blockHead; b && zeroLinks < kMaxReported; b = b->next) {
        if (b->magic != kBlockMagic) {
            WriteText("INTERNAL ERROR: Invalid memory block found!", true);
            break;
        }
        ++blocks;
        if (!b->isArray) continue;
        const auto *array = static_cast<const aplarray *>(PayloadOf(const_cast<memblock *>(b)));
        linkSum += array->lnkcnt;
        if (array->lnkcnt < 1) zeroLinkSerials[zeroLinks++] = b->serial;
    }
    for (int i = 0; i < zeroLinks; ++i) WriteLinef("INTERNAL ERROR: Array #%d has link count 0!", zeroLinkSerials[i]);
    const int32_t counts[2] = {blocks, linkSum};
    return MakeIntVector(counts, 2);
}

namespace {
void DescribeArray(const memblock *b) {
    const auto *a = static_cast<const aplarray *>(PayloadOf(const_cast<memblock *>(b)));
    char first[64] = "";
    if (ElementCount(a) > 0) {
        switch (a->eltype) {
            case APL_CHAR: snprintf(first, sizeof first, "%c", *DataOf<const char>(a)); break;
            case APL_INTG: snprintf(first, sizeof first, "%d", *DataOf<const int32_t>(a)); break;
            case APL_REAL: snprintf(first, sizeof first, "%g", *DataOf<const double>(a)); break;
            default: break;
        }
    }
    WriteLinef("#%d:  %s[%d]: type:%d, rank:%d, eltype:%d, number:%d, lnkcnt:%d, first_el=%s", b->serial,
               BlockFileName(b), b->line, a->type, a->rank, a->eltype, a->number, a->lnkcnt, first);
}
}  // namespace

void DumpBlock(int32_t n) {
    for (const memblock *b = blockHead; b; b = b->next) {
        if (b->magic != kBlockMagic) continue;
        if (n < 0) {
            if (b->serial > -static_cast<int64_t>(n)) WriteLinef("%d ", b->serial);
            continue;
        }
        if (b->serial != n) continue;
        if (b->isArray)
            DescribeArray(b);
        else
            WriteLinef("#%d:  %s[%d]: ", b->serial, BlockFileName(b), b->line);
        return;
    }
}

extern "C" aplarray *APL_MemDebug(aplarray *axis, aplarray *left, aplarray *right) {
    if (!aplerrno && (axis || left || right)) SetError(APL_ERR_SYNTAX);
    APL_UnLinkTempEx(axis, HERE);
    APL_UnLinkTempEx(left, HERE);
    APL_UnLinkTempEx(right, HERE);
    if (aplerrno) return nullptr;
    return CountBlocks();
}

// ---- Small constructors ------------------------------------------------------

namespace {
template <class T>
aplarray *MakeScalar(int eltype, T value) {
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 0, eltype, nullptr, HERE);
    if (a) *DataOf<T>(a) = value;
    return a;
}
char *charStringScratch = nullptr;
}  // namespace

aplarray *MakeInt(int32_t value) { return MakeScalar(APL_INTG, value); }
aplarray *MakeReal(double value) { return MakeScalar(APL_REAL, value); }
aplarray *MakeChar(uint8_t value) { return MakeScalar(APL_CHAR, value); }

aplarray *MakeString(const char *text) {
    if (!text) return nullptr;
    const size_t length = strlen(text);
    if (length > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const auto n = static_cast<int32_t>(length);
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (a) memcpy(DataOf(a), text, length);
    return a;
}

aplarray *MakeIntVector(const int32_t *values, int32_t n) {
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &n, HERE);
    if (a && n > 0) memcpy(DataOf(a), values, 4 * static_cast<size_t>(n));
    return a;
}

aplarray *ItemScalar(const aplarray *array, int64_t i) {
    aplarray *scalar = AllocArray(array->type | APL_TEMP, 0, array->eltype, nullptr, HERE);
    if (!scalar) return nullptr;
    if (IsNested(array)) {
        ItemsOf(scalar)[0] = APL_LinkEx(ItemsOf(array)[i], HERE);
    } else if (array->eltype == APL_BOOL) {
        const int64_t rowLength = RowLength(array);
        const int64_t row = i / rowLength, column = i % rowLength;
        const int64_t wordsPerRow = (rowLength + 31) / 32;
        const uint32_t word = DataOf<const uint32_t>(array)[row * wordsPerRow + column / 32];
        *DataOf<uint32_t>(scalar) = (word >> (column % 32)) & 1u;
    } else {
        const size_t size = ElementSize(array->eltype);
        memcpy(DataOf(scalar), DataOf<const char>(array) + size * static_cast<size_t>(i), size);
    }
    return scalar;
}

char *ArrayToString(aplarray *array) {
    if (!array || array->eltype != APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        APL_UnLinkTempEx(array, HERE);
        return nullptr;
    }
    const auto length = static_cast<size_t>(array->number);
    char *text = static_cast<char *>(AllocBlock(length + 1, HERE));
    if (text) {
        memcpy(text, DataOf(array), length);
        text[length] = 0;
    } else {
        SetError(APL_ERR_WSFULL);
    }
    APL_UnLinkTempEx(array, HERE);
    return text;
}

const char *CharString(int c1, ...) {
    RegisterScratchBlock(reinterpret_cast<void **>(&charStringScratch));
    char buffer[256];
    size_t n = 0;
    va_list args;
    va_start(args, c1);
    for (int c = c1; c != 0 && n < sizeof buffer - 1; c = va_arg(args, int)) buffer[n++] = static_cast<char>(c);
    va_end(args);
    buffer[n] = 0;
    FreeBlock(charStringScratch, HERE);
    charStringScratch = static_cast<char *>(AllocBlock(n + 1, HERE));
    if (!charStringScratch) return "";
    memcpy(charStringScratch, buffer, n + 1);
    return charStringScratch;
}

bool SameStorage(void *p, void *q) {
    auto *a = static_cast<volatile unsigned char *>(p);
    auto *b = static_cast<volatile unsigned char *>(q);
    if (*a != *b) return false;
    const unsigned char saved = *a;
    *a = static_cast<unsigned char>(~saved);
    const bool same = *b != saved;
    *a = saved;
    return same;
}

// ---- Exported constructors ---------------------------------------------------

extern "C" aplarray *APL_Int(int32_t value) { return MakeInt(value); }

extern "C" aplarray *APL_String(const char *text) { return MakeString(text); }

extern "C" aplarray *APL_Create(int32_t rank, int32_t eltype, const int32_t *shape) {
    return AllocArray(APL_TEMP, rank, eltype, shape, "cover", __LINE__);
}

void ClearBoolPadding(aplarray *bits) {
    if (bits->eltype != APL_BOOL || bits->rank == 0) return;
    const int64_t length = RowLength(bits);
    const int64_t used = length % 32;
    if (used == 0 || bits->number == 0) return;
    const int64_t words = (length + 31) / 32, rows = bits->number / words;
    const uint32_t keep = (1u << used) - 1u;
    uint32_t *last = DataOf<uint32_t>(bits) + words - 1;
    for (int64_t r = 0; r < rows; ++r, last += words) *last &= keep;
}

int64_t RoomUnderLimit() {
    if (bytesLimit == 0) return -1;
    return static_cast<int64_t>(bytesLimit - std::min(bytesLimit, bytesInUse));
}

extern "C" void APL_SetAllocationLimit(int64_t bytes) { bytesLimit = bytes > 0 ? static_cast<uint64_t>(bytes) : 0; }
