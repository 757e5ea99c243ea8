// search: the lookup structures of membership and index-of: a CHAR table, a
// direct or hashed INTG table, hashed tolerance bins for REAL values, and a
// hash of nested items in which numbers count by their bin. Relies on the
// array core and MatchArrays.
#include "structural/search.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "structural/nested.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <new>

namespace {

// Direct tables cost 4 bytes per value of the range: used while the range is
// within a few times the table's length (or small anyway).
constexpr int64_t kDirectSlack = 4;
constexpr int64_t kDirectAlways = 1 << 16;
// A REAL key looks up each integer within tolerance; beyond this many it scans.
constexpr int64_t kMaxIntegerCandidates = 64;
// Item bins are this many bits wider than value bins, so that a key's
// numbers rarely sit near an edge; a key with more such numbers than this
// is looked for by scanning rather than by 2^n probes.
constexpr int kItemBinExtra = 4;
constexpr size_t kMaxAlternatives = 6;

uint32_t HashOf(int32_t value, uint32_t bits) { return (static_cast<uint32_t>(value) * 0x9E3779B1u) >> (32 - bits); }

bool Unsupported(int eltype) {
    return eltype != APL_CHAR && eltype != APL_INTG && eltype != APL_REAL && eltype != APL_NESTED;
}

// log2 of a power-of-two capacity at least twice `n`.
uint32_t CapacityBits(int64_t n) {
    uint32_t bits = 4;
    while ((int64_t{1} << bits) < 2 * n) ++bits;
    return bits;
}

// Half-width of the window of values b with |a - b| ≤ ct × max(|a|, |b|)
// around a = ±magnitude, widened a little against rounding (every candidate
// is checked exactly); infinite when the tolerance is too large for a window.
double Window(double magnitude, double ct) {
    if (ct <= 0) return 0;
    if (ct >= 0.5) return HUGE_VAL;
    return magnitude * ct / (1 - ct) * (1 + 1e-9) + 1e-322;
}

bool Poll(int64_t i) { return (i & (kInterruptStride - 1)) == kInterruptStride - 1 && InterruptRequested(); }

// ---- Tolerance bins --------------------------------------------------------------------
// A value's bin is the bits of its magnitude moved up by half a bin (so that
// integers and other short values sit in the middle of theirs) with the low
// `shift` bits cut off, and the sign on top. Bins grow with the value as the
// tolerance does: a bin of 2^shift units in the last place is at least
// 2^(shift-53) of the value, and the window is about 2 ct of it, so a key's
// window meets one bin or two when 2^(shift-53) ≥ 8 ct.

int BinShift(double ct, int extra) {
    if (ct <= 0) return 0;
    return std::clamp(static_cast<int>(std::ceil(std::log2(ct))) + 56 + extra, 1, 52);
}

uint64_t MagnitudeBin(double magnitude, int shift) {
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    return shift == 0 ? bits : (bits + (uint64_t{1} << (shift - 1))) >> shift;
}

uint64_t SignedBin(uint64_t magnitudeBin, bool negative) {
    return magnitudeBin | (negative ? uint64_t{1} << 63 : 0);
}

// The bin of a value; 0 and -0 share one.
uint64_t BinOf(double value, int shift) { return value == 0 ? 0 : SignedBin(MagnitudeBin(std::fabs(value), shift), value < 0); }

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

// The word that starts every array's description: its rank, shape and kind
// (characters never match numbers, nested arrays never match simple ones).
uint64_t HashHead(int rank, const int32_t *shape, uint64_t kind) {
    uint64_t h = Mix(kind, static_cast<uint64_t>(rank));
    for (int k = 0; k < rank; ++k) h = Mix(h, static_cast<uint32_t>(shape[k]));
    return h;
}

constexpr uint64_t kCharKind = 1, kNumberKind = 2, kNestedKind = 3, kNullWord = 0x51ED;

// Element i of a simple array as a number (a character's code).
double NumberAt(const aplarray *a, int64_t i) {
    switch (a->eltype) {
        case APL_CHAR: return DataOf<const uint8_t>(a)[i];
        case APL_REAL: return DataOf<const double>(a)[i];
        default: return IntegerAt(a, i);
    }
}

// Whether two arrays are the same exactly (REAL values equal, not merely
// within tolerance): tolerant equality is not transitive, so only such
// repeats may be dropped from a table. The depth was bounded by Describe.
bool Identical(const aplarray *a, const aplarray *b) {
    if (!a || !b) return a == b;
    if (a->rank != b->rank || IsNested(a) != IsNested(b)) return false;
    if (!std::equal(a->shape, a->shape + a->rank, b->shape)) return false;
    if (IsNested(a)) {
        for (int32_t i = 0; i < ItemSlots(a); ++i)
            if (!Identical(ItemsOf(a)[i], ItemsOf(b)[i])) return false;
        return true;
    }
    if ((a->eltype == APL_CHAR) != (b->eltype == APL_CHAR)) return false;
    const int64_t n = ElementCount(a);
    for (int64_t i = 0; i < n; ++i)
        if (NumberAt(a, i) != NumberAt(b, i)) return false;
    return true;
}

// Whether the item is a simple scalar equal to element i of simple keys.
bool ScalarItemEquals(const aplarray *item, const aplarray *keys, int64_t i, double ct) {
    if (!item || IsNested(item) || item->rank != 0 || (item->eltype == APL_CHAR) != (keys->eltype == APL_CHAR))
        return false;
    const double x = NumberAt(item, 0), y = NumberAt(keys, i);
    if (x == y) return true;
    return (item->eltype == APL_REAL || keys->eltype == APL_REAL) && TolerantlyEqual(x, y, ct);
}

}  // namespace

// ---- Integers -------------------------------------------------------------------------

bool SearchTable::BuildIntegers(const int32_t *values, int32_t n) {
    int64_t low = INT32_MAX, high = INT32_MIN;
    return ForEachStride(n,
                         [&](int64_t begin, int64_t end) {
                             for (int64_t i = begin; i < end; ++i) {
                                 low = std::min<int64_t>(low, values[i]);
                                 high = std::max<int64_t>(high, values[i]);
                             }
                         }) &&
           BuildIntegers(values, n, low, high);
}

// The table of integers whose smallest and largest are known.
bool SearchTable::BuildIntegers(const int32_t *values, int32_t n, int64_t low, int64_t high) {
    low_ = low;
    high_ = high;
    // An integer key can equal a different integer j only when ct × |key| ≥ 1
    // and |key| ≤ |j| / (1 - ct): never while every |j| < (1 - ct) / ct - 1.
    exactIntegers_ = static_cast<double>(std::max(-low, high)) < (1 - ct_) / ct_ - 1;
    const int64_t range = high - low + 1;
    if (range <= std::max(kDirectSlack * n, kDirectAlways)) {
        mode_ = Mode::IntDirect;
        positions_.assign(static_cast<size_t>(range), -1);
        // From the back, so that the first occurrence is what remains.
        for (int32_t i = n - 1; i >= 0; --i) {
            if (InterruptAt(i)) return false;
            positions_[static_cast<size_t>(values[i] - low)] = i;
        }
        return true;
    }
    mode_ = Mode::IntHash;
    hashBits_ = CapacityBits(n);
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

// REAL values that are all integers, none so large that ⎕CT could join two
// of them, are searched as integers. `built` tells whether they were.
bool SearchTable::BuildIntegralReals(const double *values, int32_t n, bool &built) {
    built = false;
    const double limit = std::min(2147483647.0, (1 - ct_) / ct_ - 2);
    // Checked and converted in one pass; most other tables stop at once.
    std::unique_ptr<int32_t[]> integers(new int32_t[static_cast<size_t>(n)]);
    int64_t low = INT32_MAX, high = INT32_MIN;
    for (int32_t i = 0; i < n; ++i) {
        if (!(std::fabs(values[i]) <= limit)) return true;
        const auto integer = static_cast<int32_t>(values[i]);
        if (integer != values[i]) return true;
        integers[static_cast<size_t>(i)] = integer;
        low = std::min<int64_t>(low, integer);
        high = std::max<int64_t>(high, integer);
        if (InterruptAt(i)) return false;
    }
    built = true;
    return BuildIntegers(integers.get(), n, low, high);
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

// A REAL key against integers: each integer of the table's range in the
// tolerance window, or a scan when the window holds too many.
int32_t SearchTable::FindAmongIntegers(double key) const {
    const double window = Window(std::fabs(key), ct_);
    const double low = std::max(std::ceil(key - window), static_cast<double>(low_));
    const double high = std::min(std::floor(key + window), static_cast<double>(high_));
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
    const int64_t n = ElementCount(table_);
    for (int64_t i = 0; i < n; ++i)
        if (TolerantlyEqual(key, NumberAt(table_, i), ct_)) return static_cast<int32_t>(i);
    return -1;
}

// ---- REAL values ------------------------------------------------------------------------

bool SearchTable::BuildReals(const double *values, int32_t n) {
    mode_ = Mode::Reals;
    shift_ = BinShift(ct_, 0);
    hashBits_ = CapacityBits(n);
    const size_t mask = (size_t{1} << hashBits_) - 1;
    bins_.assign(mask + 1, BinSlot{0, -1});
    reals_.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        if (InterruptAt(i)) return false;
        const double value = values[i] == 0 ? 0 : values[i];
        const uint64_t bin = BinOf(value, shift_);
        size_t at = Finish(bin) & mask;
        while (bins_[at].head >= 0 && bins_[at].bin != bin) at = (at + 1) & mask;
        int32_t e = bins_[at].head;
        // A value seen before keeps its first position.
        while (e >= 0 && reals_[static_cast<size_t>(e)].value != value) e = reals_[static_cast<size_t>(e)].next;
        if (e >= 0) continue;
        reals_.push_back({value, i, bins_[at].head});
        bins_[at] = {bin, static_cast<int32_t>(reals_.size() - 1)};
    }
    return true;
}

// The first position among the values of one bin that equal `key`.
int32_t SearchTable::FindInBin(uint64_t bin, double key) const {
    const size_t mask = bins_.size() - 1;
    size_t at = Finish(bin) & mask;
    while (bins_[at].head >= 0 && bins_[at].bin != bin) at = (at + 1) & mask;
    int32_t best = -1;
    for (int32_t e = bins_[at].head; e >= 0;) {
        const RealEntry &entry = reals_[static_cast<size_t>(e)];
        if ((entry.value == key || TolerantlyEqual(key, entry.value, ct_)) && (best < 0 || entry.position < best))
            best = entry.position;
        e = entry.next;
    }
    return best;
}

int32_t SearchTable::FindReal(double key) const {
    if (mode_ == Mode::IntDirect || mode_ == Mode::IntHash) {
        if (exactIntegers_ && key == std::trunc(key))
            return key >= INT32_MIN && key <= INT32_MAX ? FindInteger(static_cast<int32_t>(key)) : -1;
        return FindAmongIntegers(key);
    }
    if (mode_ != Mode::Reals) return -1;
    // Only zero is within tolerance of zero.
    if (key == 0) return FindInBin(0, 0);
    const double magnitude = std::fabs(key), window = Window(magnitude, ct_);
    const uint64_t last = MagnitudeBin(magnitude + window, shift_);
    int32_t best = -1;
    for (uint64_t b = MagnitudeBin(std::max(magnitude - window, 0.0), shift_); b <= last; ++b) {
        const int32_t at = FindInBin(SignedBin(b, key < 0), key);
        if (at >= 0 && (best < 0 || at < best)) best = at;
    }
    return best;
}

// ---- Nested items ------------------------------------------------------------------------

// One number of an item's description: its bin, and for a key the other
// bins its tolerance window meets.
void SearchTable::AddNumber(double value, ItemWords &out, bool key) const {
    out.words.push_back(BinOf(value, shift_));
    if (!key || value == 0) return;
    const double magnitude = std::fabs(value), window = Window(magnitude, ct_);
    const uint64_t own = MagnitudeBin(magnitude, shift_), last = MagnitudeBin(magnitude + window, shift_);
    for (uint64_t b = MagnitudeBin(std::max(magnitude - window, 0.0), shift_); b <= last; ++b)
        if (b != own) out.alternatives.emplace_back(out.words.size() - 1, SignedBin(b, value < 0));
}

// The words of an array's description, depth first: items that match have
// equal words, or (for a key) words that one of its alternatives makes
// equal. False beyond kMaxNestingDepth levels.
bool SearchTable::Describe(const aplarray *a, int level, ItemWords &out, bool key) const {
    if (!a) return out.words.push_back(kNullWord), true;
    if (level > kMaxNestingDepth) return false;
    if (IsNested(a)) {
        out.words.push_back(HashHead(a->rank, a->shape, kNestedKind));
        for (int32_t i = 0; i < ItemSlots(a); ++i)
            if (!Describe(ItemsOf(a)[i], level + 1, out, key)) return false;
        return true;
    }
    const bool chars = a->eltype == APL_CHAR;
    out.words.push_back(HashHead(a->rank, a->shape, chars ? kCharKind : kNumberKind));
    const int64_t n = ElementCount(a);
    for (int64_t i = 0; i < n; ++i) {
        if (chars)
            out.words.push_back(DataOf<const uint8_t>(a)[i]);
        else
            AddNumber(NumberAt(a, i), out, key);
    }
    return true;
}

namespace {

uint64_t HashWords(const std::vector<uint64_t> &words) {
    uint64_t h = 0;
    for (const uint64_t w : words) h = Mix(h, w);
    return Finish(h);
}

}  // namespace

// The lowest position that `probe` finds for any of the key's hashes: its
// own words with every combination of its alternatives.
template <class Probe>
int32_t SearchTable::ProbeVariants(ItemWords &key, Probe probe) const {
    const size_t count = key.alternatives.size();
    int32_t best = -1;
    for (uint32_t choice = 0; choice < (1u << count); ++choice) {
        uint64_t h = 0;
        size_t next = 0;
        for (size_t i = 0; i < key.words.size(); ++i) {
            uint64_t w = key.words[i];
            for (; next < count && key.alternatives[next].first == i; ++next)
                if (choice >> next & 1) w = key.alternatives[next].second;
            h = Mix(h, w);
        }
        const int32_t at = probe(Finish(h));
        if (at >= 0 && (best < 0 || at < best)) best = at;
    }
    return best;
}

// The items of a nested table in a hash of first positions; a table nested
// too deep to describe is scanned instead. False with INTERRUPT set.
bool SearchTable::BuildItems() {
    const int32_t n = table_->number;
    shift_ = BinShift(ct_, kItemBinExtra);
    std::vector<uint64_t> hashes(static_cast<size_t>(n));
    mode_ = Mode::Nested;
    ItemWords words;
    for (int32_t i = 0; i < n; ++i) {
        words.words.clear();
        if (!Describe(ItemsOf(table_)[i], 0, words, false)) return true;
        hashes[static_cast<size_t>(i)] = HashWords(words.words);
        if (Poll(i)) return false;
    }
    mode_ = Mode::NestedHash;
    hashBits_ = CapacityBits(n);
    const size_t capacity = size_t{1} << hashBits_, mask = capacity - 1;
    positions_.assign(capacity, -1);
    itemHashes_.assign(capacity, 0);
    for (int32_t i = 0; i < n; ++i) {
        const uint64_t h = hashes[static_cast<size_t>(i)];
        const aplarray *item = ItemsOf(table_)[i];
        size_t at = static_cast<size_t>(h >> (64 - hashBits_));
        // An item identical to an earlier one is found at the earlier position.
        while (positions_[at] >= 0 && !(itemHashes_[at] == h && Identical(ItemsOf(table_)[positions_[at]], item)))
            at = (at + 1) & mask;
        if (positions_[at] < 0) positions_[at] = i, itemHashes_[at] = h;
        if (Poll(i)) return false;
    }
    return true;
}

// The first position of an item of hash `hash` that `equal` accepts, -1 when
// none is. Items of one hash lie along the probe run in the order of their
// positions.
int32_t SearchTable::ProbeItems(uint64_t hash, const aplarray *item) const {
    const size_t mask = positions_.size() - 1;
    for (size_t at = static_cast<size_t>(hash >> (64 - hashBits_));; at = (at + 1) & mask) {
        const int32_t p = positions_[at];
        if (p < 0) return -1;
        if (itemHashes_[at] == hash && MatchArrays(ItemsOf(table_)[p], item) == 1) return p;
    }
}

// Element i of simple keys against the hashed items: only a simple scalar
// item of the same kind and an equal value matches.
int32_t SearchTable::ProbeScalar(const aplarray *keys, int64_t i) const {
    scratch_.words.assign(1, HashHead(0, nullptr, keys->eltype == APL_CHAR ? kCharKind : kNumberKind));
    scratch_.alternatives.clear();
    if (keys->eltype == APL_CHAR)
        scratch_.words.push_back(DataOf<const uint8_t>(keys)[i]);
    else
        AddNumber(NumberAt(keys, i), scratch_, true);
    const size_t mask = positions_.size() - 1;
    return ProbeVariants(scratch_, [&](uint64_t hash) {
        for (size_t at = static_cast<size_t>(hash >> (64 - hashBits_));; at = (at + 1) & mask) {
            const int32_t p = positions_[at];
            if (p < 0) return -1;
            if (itemHashes_[at] == hash && ScalarItemEquals(ItemsOf(table_)[p], keys, i, ct_)) return p;
        }
    });
}

int32_t SearchTable::ScanItems(const aplarray *item) const {
    for (int32_t t = 0; t < table_->number; ++t) {
        const int m = MatchArrays(item, ItemsOf(table_)[t]);
        if (m != 0) return m > 0 ? t : -1;
        if (Poll(t)) return -1;
    }
    return -1;
}

int32_t SearchTable::FindItem(const aplarray *item) const {
    if (!item) return -1;
    if (mode_ == Mode::Nested) return ScanItems(item);
    if (mode_ == Mode::NestedHash) {
        scratch_.words.clear();
        scratch_.alternatives.clear();
        if (!Describe(item, 0, scratch_, true) || scratch_.alternatives.size() > kMaxAlternatives)
            return ScanItems(item);
        return ProbeVariants(scratch_, [&](uint64_t hash) { return ProbeItems(hash, item); });
    }
    // A simple table: only a simple scalar of the same kind can be equal.
    if (IsNested(item) || item->rank != 0) return -1;
    switch (item->eltype) {
        case APL_CHAR: return FindChar(*DataOf<const uint8_t>(item));
        case APL_REAL: return FindReal(*DataOf<const double>(item));
        default: return FindInteger(IntegerAt(item, 0));
    }
}

// ---- The whole search ---------------------------------------------------------------------

bool SearchTable::Build(const aplarray *table) {
    if (Unsupported(table->eltype)) {
        SetError(APL_ERR_NONCE);
        return false;
    }
    table_ = table;
    ct_ = ComparisonTolerance();
    const int32_t n = static_cast<int32_t>(ElementCount(table));
    try {
        if (table->eltype == APL_NESTED) return BuildItems();
        if (n == 0) {
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
            return BuildIntegers(DataOf<const int32_t>(table), n);
        } else {
            bool integral;
            if (!BuildIntegralReals(DataOf<const double>(table), n, integral)) return false;
            return integral || BuildReals(DataOf<const double>(table), n);
        }
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    return true;
}

bool SearchTable::FindAll(const aplarray *keys, int32_t *out) const {
    if (Unsupported(keys->eltype)) {
        SetError(APL_ERR_NONCE);
        return false;
    }
    const int64_t n = ElementCount(keys);
    try {
        if (IsNested(keys)) {
            for (int64_t i = 0; i < n; ++i) {
                out[i] = FindItem(ItemsOf(keys)[i]);
                if (aplerrno || Poll(i)) return false;
            }
            return true;
        }
        if (mode_ == Mode::Nested || mode_ == Mode::NestedHash) {
            for (int64_t i = 0; i < n; ++i) {
                out[i] = -1;
                if (mode_ == Mode::NestedHash) {
                    out[i] = ProbeScalar(keys, i);
                } else {
                    for (int32_t t = 0; t < table_->number && out[i] < 0; ++t)
                        if (ScalarItemEquals(ItemsOf(table_)[t], keys, i, ct_)) out[i] = t;
                }
                if (Poll(i)) return false;
            }
            return true;
        }
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    // Simple keys against a simple table: the typed loops. Characters never
    // equal numbers, so either side being CHAR alone finds nothing at once.
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
        } else if (keys->eltype == APL_REAL && mode_ == Mode::IntDirect && exactIntegers_) {
            // Integral keys index the direct table as integers do.
            const double *k = DataOf<const double>(keys);
            const double size = static_cast<double>(positions_.size()), low = static_cast<double>(low_);
            for (int64_t i = start; i < end; ++i) {
                // The key itself integral, not the difference, which may round.
                const double at = k[i] - low;
                if (at >= 0 && at < size && k[i] == std::trunc(k[i]))
                    out[i] = positions_[static_cast<size_t>(at)];
                else
                    out[i] = FindReal(k[i]);
            }
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
