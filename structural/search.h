// search: where values stand among the elements of an array under the
// comparison rules of membership (and index-of): characters equal only
// characters, integers compare exactly, REAL tolerantly with ⎕CT, nested
// items by match. Relies on the array core and MatchArrays.
#pragma once

#include "apl.h"

#include <cstdint>
#include <vector>

// A lookup structure over the elements of one array (the "table"), built once
// and asked for many keys. It reads the table's data, so the table must stay
// alive (and unchanged) while the structure is used.
//   CHAR tables:   a 256-entry table of first positions.
//   INTG tables:   a direct table when the value range is small, else an
//                  open-addressing hash; REAL keys look up the few integers
//                  within tolerance of them.
//   REAL tables:   the distinct values sorted; a key's candidates are the
//                  values within ct×|key|/(1-ct) of it, each checked exactly.
//   nested tables: a hash of the items when none holds a REAL (match is then
//                  exact, so equal items hash alike), checked by match;
//                  otherwise, and for keys that hold a REAL, a scan by match.
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
    };

    int32_t FindIntegerLinear(double key) const;
    int32_t FindAmongIntegers(double key) const;
    int32_t FindScalarInItems(const aplarray *keys, int64_t i) const;
    bool BuildIntegers(const int32_t *values, int32_t n);
    bool BuildItems();
    int32_t ScanItems(const aplarray *item) const;
    int32_t ProbeItems(uint64_t hash, const aplarray *item) const;
    int32_t ProbeScalar(const aplarray *keys, int64_t i) const;

    Mode mode_ = Mode::Empty;
    const aplarray *table_ = nullptr;
    double ct_ = 0;
    int64_t low_ = 0;                   // IntDirect: the smallest value
    uint32_t hashBits_ = 0;             // IntHash: log2 of the capacity
    std::vector<int32_t> positions_;    // Chars, IntDirect, IntHash (-1 empty)
    std::vector<int32_t> hashKeys_;     // IntHash
    std::vector<RealEntry> reals_;      // Reals
    std::vector<uint64_t> itemHashes_;  // NestedHash, beside positions_
};
