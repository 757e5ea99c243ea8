// search: the lookup structures of membership (and index-of): a CHAR table,
// a direct or hashed INTG table, sorted REAL values with tolerance windows,
// and a hash of nested items (a match scan where a REAL is involved). Relies on the array core and MatchArrays.
#include "structural/search.h"

#include "structural/mergesort.h"

#include "core/arrays.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "structural/nested.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Direct tables cost 4 bytes per value of the range: used while the range is
// within a few times the table's length (or small anyway).
constexpr int64_t kDirectSlack = 4;
constexpr int64_t kDirectAlways = 1 << 16;
// A REAL key looks up each integer within tolerance; beyond this many it scans.
constexpr int64_t kMaxIntegerCandidates = 64;

uint32_t HashOf(int32_t value, uint32_t bits) { return (static_cast<uint32_t>(value) * 0x9E3779B1u) >> (32 - bits); }

bool Unsupported(int eltype) {
    return eltype != APL_CHAR && eltype != APL_INTG && eltype != APL_REAL && eltype != APL_NESTED;
}

// Half-width of the window of values b with |a - b| ≤ ct × max(|a|, |b|),
// widened a little against rounding (every candidate is checked exactly);
// infinite when the tolerance is too large for a window.
double Window(double key, double ct) {
    if (ct <= 0) return 0;
    if (ct >= 0.5) return HUGE_VAL;
    return std::fabs(key) * ct / (1 - ct) * (1 + 1e-9) + 1e-300;
}

bool Poll(int64_t i) { return (i & (kInterruptStride - 1)) == kInterruptStride - 1 && InterruptRequested(); }

// ---- Hashing items ------------------------------------------------------------------

uint64_t Mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    return h;
}

uint64_t Finish(uint64_t h) {
    h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

// The start of every simple array's hash: its rank, shape and kind (characters
// never match numbers, nested arrays never match simple ones).
uint64_t HashHead(int rank, const int32_t *shape, uint64_t kind) {
    uint64_t h = Mix(kind, static_cast<uint64_t>(rank));
    for (int k = 0; k < rank; ++k) h = Mix(h, static_cast<uint32_t>(shape[k]));
    return h;
}

constexpr uint64_t kCharKind = 1, kNumberKind = 2, kNestedKind = 3;

// Element i of a simple array without REAL as an integer (a character's code).
int64_t ExactAt(const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_CHAR: return DataOf<const uint8_t>(a)[i];
        case APL_INTG: return DataOf<const int32_t>(a)[i];
        case APL_SHORT: return DataOf<const int16_t>(a)[i];
        default: {
            const int64_t row = RowLength(a), words = (row + 31) / 32;
            return (DataOf<const uint32_t>(a)[(i / row) * words + (i % row) / 32] >> ((i % row) % 32)) & 1u;
        }
    }
}

// A hash under which arrays that match exactly hash alike. False when the
// array holds a REAL anywhere (tolerant equality has no such hash) or nests
// too deep; the caller then compares by scanning.
bool HashArray(const aplarray *a, int level, uint64_t &h) {
    if (!a) return h = 0x51ED, true;
    if (level > kMaxNestingDepth || a->eltype == APL_REAL) return false;
    if (IsNested(a)) {
        h = HashHead(a->rank, a->shape, kNestedKind);
        for (int32_t i = 0; i < ItemSlots(a); ++i) {
            uint64_t item;
            if (!HashArray(ItemsOf(a)[i], level + 1, item)) return false;
            h = Mix(h, item);
        }
        h = Finish(h);
        return true;
    }
    h = HashHead(a->rank, a->shape, a->eltype == APL_CHAR ? kCharKind : kNumberKind);
    const int64_t n = ElementCount(a);
    for (int64_t i = 0; i < n; ++i) h = Mix(h, static_cast<uint64_t>(ExactAt(a, i)));
    h = Finish(h);
    return true;
}

// The hash of the scalar made from element i of a simple array, as HashArray
// gives it for a simple scalar item of that value.
uint64_t HashScalar(const aplarray *a, int64_t i) {
    const uint64_t h = HashHead(0, nullptr, a->eltype == APL_CHAR ? kCharKind : kNumberKind);
    return Finish(Mix(h, static_cast<uint64_t>(ExactAt(a, i))));
}

}  // namespace

bool SearchTable::BuildIntegers(const int32_t *values, int32_t n) {
    int64_t low = INT32_MAX, high = INT32_MIN;
    if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i) {
                low = std::min<int64_t>(low, values[i]);
                high = std::max<int64_t>(high, values[i]);
            }
        }))
        return false;
    const int64_t range = high - low + 1;
    if (range <= std::max(kDirectSlack * n, kDirectAlways)) {
        mode_ = Mode::IntDirect;
        low_ = low;
        positions_.assign(static_cast<size_t>(range), -1);
        // From the back, so that the first occurrence is what remains.
        for (int32_t i = n - 1; i >= 0; --i) {
            if (InterruptAt(i)) return false;
            positions_[static_cast<size_t>(values[i] - low)] = i;
        }
        return true;
    }
    mode_ = Mode::IntHash;
    hashBits_ = 4;
    while ((int64_t{1} << hashBits_) < 2 * static_cast<int64_t>(n)) ++hashBits_;
    const size_t capacity = size_t{1} << hashBits_, mask = capacity - 1;
    positions_.assign(capacity, -1);
    hashKeys_.assign(capacity, 0);
    for (int32_t i = 0; i < n; ++i) {
        if (InterruptAt(i)) return false;
        size_t at = HashOf(values[i], hashBits_);
        while (positions_[at] >= 0 && hashKeys_[at] != values[i]) at = (at + 1) & mask;
        if (positions_[at] < 0) positions_[at] = i, hashKeys_[at] = values[i];
    }
    return true;
}

bool SearchTable::Build(const aplarray *table) {
    if (Unsupported(table->eltype)) {
        SetError(APL_ERR_NONCE);
        return false;
    }
    table_ = table;
    ct_ = ComparisonTolerance();
    const int32_t n = static_cast<int32_t>(ElementCount(table));
    try {
        if (table->eltype == APL_NESTED) {
            if (!BuildItems()) return false;
        } else if (n == 0) {
            mode_ = Mode::Empty;
        } else if (table->eltype == APL_CHAR) {
            mode_ = Mode::Chars;
            positions_.assign(256, -1);
            const uint8_t *c = DataOf<const uint8_t>(table);
            for (int32_t i = n - 1; i >= 0; --i) {
                if (InterruptAt(i)) return false;
                positions_[c[i]] = i;
            }
        } else if (table->eltype == APL_INTG) {
            if (!BuildIntegers(DataOf<const int32_t>(table), n)) return false;
        } else {
            mode_ = Mode::Reals;
            const double *v = DataOf<const double>(table);
            // Reserved rather than sized: the memory is touched between looks at the flag.
            reals_.reserve(static_cast<size_t>(n));
            if (!ForEachStride(n, [&](int64_t begin, int64_t end) {
                    for (int64_t i = begin; i < end; ++i) reals_.push_back({v[i], static_cast<int32_t>(i)});
                }))
                return false;
            // Stable, so that equal values stay in the order of their positions.
            if (!InterruptibleStableSort(reals_.data(), n, 1,
                                         [](const RealEntry &a, const RealEntry &b) { return a.value < b.value; }))
                return false;
            // Equal values keep only their first position.
            reals_.erase(std::unique(reals_.begin(), reals_.end(),
                                     [](const RealEntry &a, const RealEntry &b) { return a.value == b.value; }),
                         reals_.end());
        }
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    return true;
}

// The items of a nested table in a hash of first positions; a table with a
// REAL anywhere is scanned instead. False with INTERRUPT set.
bool SearchTable::BuildItems() {
    const int32_t n = table_->number;
    std::vector<uint64_t> hashes(static_cast<size_t>(n));
    mode_ = Mode::Nested;
    for (int32_t i = 0; i < n; ++i) {
        if (!HashArray(ItemsOf(table_)[i], 0, hashes[static_cast<size_t>(i)])) return true;
        if (Poll(i)) return false;
    }
    mode_ = Mode::NestedHash;
    hashBits_ = 4;
    while ((int64_t{1} << hashBits_) < 2 * static_cast<int64_t>(n)) ++hashBits_;
    const size_t capacity = size_t{1} << hashBits_;
    positions_.assign(capacity, -1);
    itemHashes_.assign(capacity, 0);
    for (int32_t i = 0; i < n; ++i) {
        const uint64_t h = hashes[static_cast<size_t>(i)];
        // An item equal to an earlier one is found at the earlier position.
        if (ProbeItems(h, ItemsOf(table_)[i]) >= 0) continue;
        size_t at = static_cast<size_t>(h >> (64 - hashBits_));
        while (positions_[at] >= 0) at = (at + 1) & (capacity - 1);
        positions_[at] = i;
        itemHashes_[at] = h;
        if (Poll(i)) return false;
    }
    return true;
}

// The first position of an item equal to `item` (whose hash is `hash`), -1
// when none is.
int32_t SearchTable::ProbeItems(uint64_t hash, const aplarray *item) const {
    const size_t mask = positions_.size() - 1;
    for (size_t at = static_cast<size_t>(hash >> (64 - hashBits_));; at = (at + 1) & mask) {
        const int32_t p = positions_[at];
        if (p < 0) return -1;
        if (itemHashes_[at] == hash && MatchArrays(ItemsOf(table_)[p], item) == 1) return p;
    }
}

// Element i of simple keys (no REAL) against the hashed items: only a simple
// scalar item of the same kind and value is equal.
int32_t SearchTable::ProbeScalar(const aplarray *keys, int64_t i) const {
    const uint64_t hash = HashScalar(keys, i);
    const size_t mask = positions_.size() - 1;
    const bool isChar = keys->eltype == APL_CHAR;
    for (size_t at = static_cast<size_t>(hash >> (64 - hashBits_));; at = (at + 1) & mask) {
        const int32_t p = positions_[at];
        if (p < 0) return -1;
        const aplarray *item = ItemsOf(table_)[p];
        if (itemHashes_[at] == hash && !IsNested(item) && item->rank == 0 && (item->eltype == APL_CHAR) == isChar &&
            ExactAt(item, 0) == ExactAt(keys, i))
            return p;
    }
}

int32_t SearchTable::ScanItems(const aplarray *item) const {
    for (int32_t t = 0; t < table_->number; ++t) {
        const int m = MatchArrays(item, ItemsOf(table_)[t]);
        if (m != 0) return m > 0 ? t : -1;
        if (Poll(t)) return -1;
    }
    return -1;
}

int32_t SearchTable::FindChar(uint8_t key) const { return mode_ == Mode::Chars ? positions_[key] : -1; }

int32_t SearchTable::FindInteger(int32_t key) const {
    switch (mode_) {
        case Mode::IntDirect: {
            const int64_t at = static_cast<int64_t>(key) - low_;
            return at >= 0 && at < static_cast<int64_t>(positions_.size()) ? positions_[static_cast<size_t>(at)] : -1;
        }
        case Mode::IntHash: {
            const size_t mask = positions_.size() - 1;
            for (size_t at = HashOf(key, hashBits_);; at = (at + 1) & mask) {
                if (positions_[at] < 0) return -1;
                if (hashKeys_[at] == key) return positions_[at];
            }
        }
        case Mode::Reals: return FindReal(key);
        default: return -1;
    }
}

// A REAL key against INTG data: each integer in the tolerance window, or a
// scan when the window holds too many.
int32_t SearchTable::FindAmongIntegers(double key) const {
    const double window = Window(key, ct_);
    const double low = std::max(std::ceil(key - window), -2147483648.0);
    const double high = std::min(std::floor(key + window), 2147483647.0);
    if (low > high) return -1;
    if (high - low >= kMaxIntegerCandidates) return FindIntegerLinear(key);
    int32_t best = -1;
    for (double k = low; k <= high; ++k) {
        if (!TolerantlyEqual(key, k, ct_)) continue;
        const int32_t at = FindInteger(static_cast<int32_t>(k));
        if (at >= 0 && (best < 0 || at < best)) best = at;
    }
    return best;
}

int32_t SearchTable::FindIntegerLinear(double key) const {
    const int32_t *v = DataOf<const int32_t>(table_);
    const int64_t n = ElementCount(table_);
    for (int64_t i = 0; i < n; ++i)
        if (TolerantlyEqual(key, v[i], ct_)) return static_cast<int32_t>(i);
    return -1;
}

int32_t SearchTable::FindReal(double key) const {
    if (mode_ == Mode::IntDirect || mode_ == Mode::IntHash) return FindAmongIntegers(key);
    if (mode_ != Mode::Reals) return -1;
    const double window = Window(key, ct_);
    auto it = window == HUGE_VAL ? reals_.begin()
                                 : std::lower_bound(reals_.begin(), reals_.end(), key - window,
                                                    [](const RealEntry &e, double v) { return e.value < v; });
    int32_t best = -1;
    for (; it != reals_.end() && it->value <= key + window; ++it)
        if ((it->value == key || TolerantlyEqual(key, it->value, ct_)) && (best < 0 || it->position < best))
            best = it->position;
    return best;
}

// An element of simple keys against the items of a nested table: only simple
// scalar items of the same kind can equal it.
int32_t SearchTable::FindScalarInItems(const aplarray *keys, int64_t i) const {
    const bool isChar = keys->eltype == APL_CHAR;
    const double value = isChar                     ? DataOf<const uint8_t>(keys)[i]
                         : keys->eltype == APL_INTG ? DataOf<const int32_t>(keys)[i]
                                                    : DataOf<const double>(keys)[i];
    const bool real = keys->eltype == APL_REAL;
    for (int32_t t = 0; t < table_->number; ++t) {
        const aplarray *item = ItemsOf(table_)[t];
        if (IsNested(item) || item->rank != 0 || (item->eltype == APL_CHAR) != isChar) continue;
        double other;
        switch (item->eltype) {
            case APL_CHAR: other = *DataOf<const uint8_t>(item); break;
            case APL_INTG: other = *DataOf<const int32_t>(item); break;
            case APL_SHORT: other = *DataOf<const int16_t>(item); break;
            case APL_BOOL: other = *DataOf<const uint32_t>(item) & 1u; break;
            default: other = *DataOf<const double>(item); break;
        }
        const bool tolerant = real || item->eltype == APL_REAL;
        if (other == value || (tolerant && TolerantlyEqual(value, other, ct_))) return t;
    }
    return -1;
}

int32_t SearchTable::FindItem(const aplarray *item) const {
    if (!item) return -1;
    if (mode_ == Mode::Nested) return ScanItems(item);
    if (mode_ == Mode::NestedHash) {
        uint64_t hash;
        // A key holding a REAL may equal an item tolerantly: those are scanned.
        return HashArray(item, 0, hash) ? ProbeItems(hash, item) : ScanItems(item);
    }
    // A simple table: only a simple scalar of the same kind can be equal.
    if (IsNested(item) || item->rank != 0) return -1;
    switch (item->eltype) {
        case APL_CHAR: return FindChar(*DataOf<const uint8_t>(item));
        case APL_INTG: return FindInteger(*DataOf<const int32_t>(item));
        case APL_SHORT: return FindInteger(*DataOf<const int16_t>(item));
        case APL_BOOL: return FindInteger(static_cast<int32_t>(*DataOf<const uint32_t>(item) & 1u));
        case APL_REAL: return FindReal(*DataOf<const double>(item));
        default: return -1;
    }
}

bool SearchTable::FindAll(const aplarray *keys, int32_t *out) const {
    if (Unsupported(keys->eltype)) {
        SetError(APL_ERR_NONCE);
        return false;
    }
    const int64_t n = ElementCount(keys);
    if (IsNested(keys)) {
        for (int64_t i = 0; i < n; ++i) {
            out[i] = FindItem(ItemsOf(keys)[i]);
            if (aplerrno || Poll(i)) return false;
        }
        return true;
    }
    if (mode_ == Mode::Nested || mode_ == Mode::NestedHash) {
        const bool hashed = mode_ == Mode::NestedHash && keys->eltype != APL_REAL;
        for (int64_t i = 0; i < n; ++i) {
            out[i] = hashed ? ProbeScalar(keys, i) : FindScalarInItems(keys, i);
            if (Poll(i)) return false;
        }
        return true;
    }
    // Simple keys against a simple table: the typed loops.
    const bool charKeys = keys->eltype == APL_CHAR;
    if (charKeys != (mode_ == Mode::Chars) || mode_ == Mode::Empty) {
        std::fill(out, out + n, -1);
        return true;
    }
    for (int64_t start = 0; start < n; start += kInterruptStride) {
        const int64_t end = std::min(n, start + kInterruptStride);
        if (charKeys) {
            const uint8_t *k = DataOf<const uint8_t>(keys);
            for (int64_t i = start; i < end; ++i) out[i] = positions_[k[i]];
        } else if (keys->eltype == APL_REAL) {
            const double *k = DataOf<const double>(keys);
            for (int64_t i = start; i < end; ++i) out[i] = FindReal(k[i]);
        } else if (mode_ == Mode::IntDirect) {
            const int32_t *k = DataOf<const int32_t>(keys);
            const int32_t *table = positions_.data();
            const uint64_t size = positions_.size();
            for (int64_t i = start; i < end; ++i) {
                const uint64_t at = static_cast<uint64_t>(static_cast<int64_t>(k[i]) - low_);
                out[i] = at < size ? table[at] : -1;
            }
        } else {
            const int32_t *k = DataOf<const int32_t>(keys);
            for (int64_t i = start; i < end; ++i) out[i] = FindInteger(k[i]);
        }
        if (end < n && InterruptRequested()) return false;
    }
    return true;
}
