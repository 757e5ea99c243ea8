// search: where values stand among the elements of an array under the
// comparison rules of membership and index-of: characters equal only
// characters, integers compare exactly, REAL tolerantly with ⎕CT, nested
// items by match. Relies on the array core and MatchArrays.
#pragma once

#include "apl.h"

#include <cstdint>
#include <utility>
#include <vector>

// A lookup structure over the elements of one array (the "table"), built once
// and asked for many keys. It reads the table's data, so the table must stay
// alive (and unchanged) while the structure is used.
//   CHAR tables:   a 256-entry table of first positions.
//   INTG tables, and REAL tables of integers too small for ⎕CT to join two
//                  of them: a direct table when the value range is small,
//                  else an open-addressing hash; a REAL key that is not an
//                  integer looks up the integers within tolerance of it.
//   REAL tables:   a hash of tolerance bins (each several times as wide as
//                  the tolerance, so that a key's window meets one or two);
//                  the distinct values of a bin are chained and checked exactly.
//   nested tables: a hash of the items in which numbers count by their bin,
//                  checked by match; a key whose numbers sit near bin edges
//                  probes each combination of neighbouring bins.
class SearchTable {
public:
    // False with the error set: NONCE for an element type other than CHAR,
    // INTG, REAL and nested (widen BOOL and SHORT first), WS FULL, INTERRUPT.
    bool Build(const aplarray *table);

    // The position (ravel order) of the first element of the table equal to
    // each element of `keys` (the items of nested keys, or the simple
    // elements as scalars), -1 where none is. `out` has ElementCount(keys)
    // slots. False with the error set (NONCE as above, LIMIT, INTERRUPT).
    bool FindAll(const aplarray *keys, int32_t *out) const;

    // Single keys, for callers that walk their own data.
    int32_t FindInteger(int32_t key) const;
    int32_t FindReal(double key) const;
    int32_t FindChar(uint8_t key) const;
    // -1 with the error set when the comparison fails (LIMIT).
    int32_t FindItem(const aplarray *item) const;

private:
    enum class Mode { Empty, Chars, IntDirect, IntHash, Reals, Nested, NestedHash };
    struct RealEntry {
        double value;
        int32_t position;
        int32_t next;  // the next distinct value of the same bin, -1 at the end
    };
    struct BinSlot {
        uint64_t bin;
        int32_t head;  // the bin's first entry, -1 for an empty slot
    };
    // An item's words for hashing, and for a key the words that its
    // neighbouring bins could take instead (index, word).
    struct ItemWords {
        std::vector<uint64_t> words;
        std::vector<std::pair<size_t, uint64_t>> alternatives;
    };

    int32_t FindIntegerLinear(double key) const;
    int32_t FindAmongIntegers(double key) const;
    bool BuildIntegers(const int32_t *values, int32_t n);
    bool BuildIntegers(const int32_t *values, int32_t n, int64_t low, int64_t high);
    bool BuildIntegralReals(const double *values, int32_t n, bool &built);
    bool BuildReals(const double *values, int32_t n);
    int32_t FindInBin(uint64_t bin, double key) const;
    bool BuildItems();
    bool Describe(const aplarray *a, int level, ItemWords &out, bool key) const;
    void AddNumber(double value, ItemWords &out, bool key) const;
    template <class Probe>
    int32_t ProbeVariants(ItemWords &key, Probe probe) const;
    int32_t ScanItems(const aplarray *item) const;
    int32_t ProbeItems(uint64_t hash, const aplarray *item) const;
    int32_t ProbeScalar(const aplarray *keys, int64_t i) const;

    Mode mode_ = Mode::Empty;
    const aplarray *table_ = nullptr;
    double ct_ = 0;
    int shift_ = 0;                     // Reals, Nested*: low bits cut off a value's bits to make its bin
    int64_t low_ = 0, high_ = 0;        // Int*: the smallest and largest value
    bool exactIntegers_ = false;        // Int*: no two distinct integers of the table's size are joined by ⎕CT
    uint32_t hashBits_ = 0;             // IntHash, Reals, NestedHash: log2 of the capacity
    std::vector<int32_t> positions_;    // Chars, IntDirect, IntHash, NestedHash (-1 empty)
    std::vector<int32_t> hashKeys_;     // IntHash
    std::vector<BinSlot> bins_;         // Reals
    std::vector<RealEntry> reals_;      // Reals
    std::vector<uint64_t> itemHashes_;  // NestedHash, beside positions_
    mutable ItemWords scratch_;         // the words of the key being looked up
};
