// blockmem: the system memory under managed blocks. Small records are recycled
// through free lists by size and a few large freed blocks are kept for reuse,
// so that scalar loops and big results do not go to the system on every call.
// Relies on the C library allocator only; the sanitize build bypasses both caches.
#include "core/blockmem.h"

#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define ORBAX_KEEP_NO_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBAX_KEEP_NO_MEMORY 1
#endif
#endif
#ifndef ORBAX_KEEP_NO_MEMORY
// AddressSanitizer must see every free to report a use after it, so the
// sanitize build hands all memory straight back to the C library.
#define ORBAX_KEEP_NO_MEMORY 0
#endif

namespace {

// ---- Small blocks: one free list per 16-byte size class ---------------------

constexpr size_t kClassBytes = 16;
constexpr size_t kSmallLimit = 512;  // largest recycled block, header included
constexpr size_t kClasses = kSmallLimit / kClassBytes;
constexpr size_t kMaxPerClass = 1024;  // at most half a megabyte kept in all

struct FreeNode {
    FreeNode *next;
};
FreeNode *freeLists[kClasses + 1];
size_t freeCounts[kClasses + 1];

// ---- Large blocks: a few recently freed ones, bounded in count and bytes ----

constexpr size_t kLargeFrom = 128 * 1024;  // where the C library would map fresh zeroed pages
constexpr int kLargeKept = 4;
// A 32-bit process has little address space to keep idle.
constexpr size_t kLargeBudget = sizeof(void *) >= 8 ? size_t{512} << 20 : size_t{64} << 20;

struct KeptBlock {
    void *memory;
    size_t capacity;
};
KeptBlock kept[kLargeKept];
int keptCount = 0;
size_t keptBytes = 0;

size_t ClassOf(size_t bytes) { return (bytes + kClassBytes - 1) / kClassBytes; }

// A kept block big enough, and not more than twice as big as needed, so that
// a small request never pins a huge block.
void *TakeKept(size_t bytes, size_t &capacity) {
    int best = -1;
    for (int i = 0; i < keptCount; ++i) {
        const size_t c = kept[i].capacity;
        if (c >= bytes && c / 2 <= bytes && (best < 0 || c < kept[best].capacity)) best = i;
    }
    if (best < 0) return nullptr;
    void *memory = kept[best].memory;
    capacity = kept[best].capacity;
    keptBytes -= capacity;
    kept[best] = kept[--keptCount];
    return memory;
}

// Keeps a large block, dropping the oldest ones to stay within the bounds.
void Keep(void *memory, size_t capacity) {
    if (capacity > kLargeBudget) {
        free(memory);
        return;
    }
    while (keptCount > 0 && (keptCount == kLargeKept || keptBytes + capacity > kLargeBudget)) {
        free(kept[0].memory);
        keptBytes -= kept[0].capacity;
        memmove(kept, kept + 1, sizeof(KeptBlock) * static_cast<size_t>(--keptCount));
    }
    kept[keptCount++] = KeptBlock{memory, capacity};
    keptBytes += capacity;
}

}  // namespace

void *TakeMemory(size_t bytes, size_t &capacity) {
    if (!ORBAX_KEEP_NO_MEMORY) {
        if (bytes <= kSmallLimit) {
            const size_t c = ClassOf(bytes);
            capacity = c * kClassBytes;
            if (FreeNode *node = freeLists[c]) {
                freeLists[c] = node->next;
                --freeCounts[c];
                return node;
            }
            return malloc(capacity);
        }
        if (bytes >= kLargeFrom)
            if (void *memory = TakeKept(bytes, capacity)) return memory;
    }
    capacity = bytes;
    return malloc(bytes);
}

void GiveMemory(void *memory, size_t capacity) {
    if (!memory) return;
    if (!ORBAX_KEEP_NO_MEMORY) {
        if (capacity <= kSmallLimit) {
            const size_t c = ClassOf(capacity);
            if (c * kClassBytes == capacity && freeCounts[c] < kMaxPerClass) {
                auto *node = static_cast<FreeNode *>(memory);
                node->next = freeLists[c];
                freeLists[c] = node;
                ++freeCounts[c];
                return;
            }
        } else if (capacity >= kLargeFrom) {
            Keep(memory, capacity);
            return;
        }
    }
    free(memory);
}

void *ResizeMemory(void *memory, size_t bytes, size_t &capacity) {
    void *moved = realloc(memory, bytes);
    if (moved) capacity = bytes;
    return moved;
}

void ReleaseKeptMemory() {
    for (size_t c = 0; c <= kClasses; ++c) {
        while (FreeNode *node = freeLists[c]) {
            freeLists[c] = node->next;
            free(node);
        }
        freeCounts[c] = 0;
    }
    for (int i = 0; i < keptCount; ++i) free(kept[i].memory);
    keptCount = 0;
    keptBytes = 0;
}

KeptMemory KeptMemoryNow() {
    KeptMemory now{0, static_cast<size_t>(keptCount), keptBytes};
    for (size_t c = 0; c <= kClasses; ++c) now.smallBlocks += freeCounts[c];
    return now;
}

// ---- Interned source-file names -----------------------------------------------

namespace {

constexpr size_t kNameChars = 16;
struct FileName {
    char text[kNameChars];
};

// Names by index (0 is the empty name), and an open-addressed table from the
// caller's pointer to the index. Callers pass string literals, so a handful of
// pointers cover every allocation and the text is read once per pointer.
FileName *names = nullptr;
uint32_t nameCount = 0, nameCapacity = 0;
struct PointerSlot {
    const char *pointer;
    uint16_t index;
};
PointerSlot *pointerSlots = nullptr;
size_t pointerCapacity = 0, pointerCount = 0;

size_t PointerHome(const char *p, size_t capacity) {
    const auto key = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
}

bool GrowPointers() {
    const size_t newCapacity = pointerCapacity ? pointerCapacity * 2 : 256;
    auto *slots = static_cast<PointerSlot *>(calloc(newCapacity, sizeof(PointerSlot)));
    if (!slots) return false;
    for (size_t i = 0; i < pointerCapacity; ++i) {
        if (!pointerSlots[i].pointer) continue;
        size_t j = PointerHome(pointerSlots[i].pointer, newCapacity);
        while (slots[j].pointer) j = (j + 1) & (newCapacity - 1);
        slots[j] = pointerSlots[i];
    }
    free(pointerSlots);
    pointerSlots = slots;
    pointerCapacity = newCapacity;
    return true;
}

// The index of a base name, added when new; 0 when the table cannot grow.
uint16_t NameIndex(const char *base) {
    FileName name{};
    strncpy(name.text, base, kNameChars - 1);
    for (uint32_t i = 1; i < nameCount; ++i)
        if (memcmp(names[i].text, name.text, kNameChars) == 0) return static_cast<uint16_t>(i);
    if (nameCount == 0) nameCount = 1;
    if (nameCount > UINT16_MAX) return 0;
    if (nameCount >= nameCapacity) {
        const uint32_t newCapacity = nameCapacity ? nameCapacity * 2 : 64;
        auto *grown = static_cast<FileName *>(realloc(names, newCapacity * sizeof(FileName)));
        if (!grown) return 0;
        names = grown;
        nameCapacity = newCapacity;
        names[0] = FileName{};
    }
    names[nameCount] = name;
    return static_cast<uint16_t>(nameCount++);
}

const char *BaseOf(const char *file) {
    const char *base = file;
    for (const char *p = file; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

// The index for a pointer not among the recent ones.
uint16_t InternSlowly(const char *file) {
    if (pointerCapacity) {
        for (size_t i = PointerHome(file, pointerCapacity);; i = (i + 1) & (pointerCapacity - 1)) {
            if (pointerSlots[i].pointer == file) return pointerSlots[i].index;
            if (!pointerSlots[i].pointer) break;
        }
    }
    const uint16_t index = NameIndex(BaseOf(file));
    // Remembered by pointer only while the table stays small: a caller that
    // passes ever new buffers is served by the text comparison instead.
    if ((pointerCount + 1) * 2 > pointerCapacity && (pointerCapacity >= 4096 || !GrowPointers())) return index;
    size_t i = PointerHome(file, pointerCapacity);
    while (pointerSlots[i].pointer) i = (i + 1) & (pointerCapacity - 1);
    pointerSlots[i] = PointerSlot{file, index};
    ++pointerCount;
    return index;
}

}  // namespace

RecentFileName recentFileNames[64];

void ForgetRecentFileNames() {
    for (RecentFileName &recent : recentFileNames) recent = RecentFileName{nullptr, 0};
}

uint16_t InternFileNameSlowly(const char *file) {
    if (!file) return 0;
    const uint16_t index = InternSlowly(file);
    recentFileNames[(reinterpret_cast<uintptr_t>(file) >> 3) & 63] = RecentFileName{file, index};
    return index;
}

const char *InternedFileName(uint16_t index) { return index && index < nameCount ? names[index].text : ""; }
