// scratch: the work array of a primitive, a raw block of elements freed at
// scope exit. Relies on the raw blocks of core/arrays and the error state of
// core/errors.
#pragma once

#include "core/arrays.h"
#include "core/errors.h"

#include <cstdint>
#include <cstring>

// Sizes are checked in 64 bits (so a 32-bit build cannot wrap), at least one
// element is allocated, and a block that cannot be had sets WS FULL.
template <class T>
class ScratchBlock {
public:
    ScratchBlock() = default;
    explicit ScratchBlock(int64_t count) { Allocate(count); }
    ~ScratchBlock() { FreeBlock(data_, HERE); }
    ScratchBlock(const ScratchBlock &) = delete;
    ScratchBlock &operator=(const ScratchBlock &) = delete;
    // False with WS FULL set when the block cannot be had; the elements are not set.
    bool Allocate(int64_t count) {
        FreeBlock(data_, HERE);
        data_ = nullptr;
        const uint64_t n = count > 0 ? static_cast<uint64_t>(count) : 1;
        if (n <= SIZE_MAX / 2 / sizeof(T))
            data_ = static_cast<T *>(AllocBlock(static_cast<size_t>(n) * sizeof(T), HERE));
        if (!data_) SetError(APL_ERR_WSFULL);
        return data_ != nullptr;
    }
    // As Allocate, with every byte zero.
    bool AllocateZeroed(int64_t count) {
        if (!Allocate(count)) return false;
        memset(static_cast<void *>(data_), 0, static_cast<size_t>(count > 0 ? count : 1) * sizeof(T));
        return true;
    }
    T *get() const { return data_; }
    T &operator[](int64_t i) const { return data_[i]; }

private:
    T *data_ = nullptr;
};
