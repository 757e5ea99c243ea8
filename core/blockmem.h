// blockmem: the system memory under managed blocks. Small records are recycled
// through free lists by size and a few large freed blocks are kept for reuse,
// so that scalar loops and big results do not go to the system on every call.
// Relies on the C library allocator only; the sanitize build bypasses both caches.
#pragma once

#include <cstddef>
#include <cstdint>

// Memory for a block of `bytes` (header included). `capacity` receives the
// usable size, which GiveMemory and ResizeMemory must be passed back.
// Null when the system refuses.
void *TakeMemory(size_t bytes, size_t &capacity);
// Memory of `capacity` bytes returned by TakeMemory: kept for reuse or freed.
void GiveMemory(void *memory, size_t capacity);
// Moves or grows memory to hold `bytes` (like realloc); updates `capacity`.
void *ResizeMemory(void *memory, size_t bytes, size_t &capacity);
// Returns every kept block to the system.
void ReleaseKeptMemory();

// What the caches hold now: blocks on the small free lists, and the count and
// bytes of kept large blocks (all zero in the sanitize build).
struct KeptMemory {
    size_t smallBlocks;
    size_t largeBlocks;
    size_t largeBytes;
};
KeptMemory KeptMemoryNow();

// Source-file names of allocations, kept once each: a block stores a 16-bit
// index instead of formatting the caller's name on every allocation.
// The name's last path component, at most 15 characters as traces print it.
// Recently seen pointers, direct-mapped: allocations alternate between a
// few source files, so most calls end in the inline test.
struct RecentFileName {
    const char *pointer;
    uint16_t index;
};
extern RecentFileName recentFileNames[64];
uint16_t InternFileNameSlowly(const char *file);
// Empties the cache of pointers (the names interned stay: blocks refer to them).
void ForgetRecentFileNames();
inline uint16_t InternFileName(const char *file) {
    const RecentFileName &recent = recentFileNames[(reinterpret_cast<uintptr_t>(file) >> 3) & 63];
    return file && recent.pointer == file ? recent.index : InternFileNameSlowly(file);
}
const char *InternedFileName(uint16_t index);
