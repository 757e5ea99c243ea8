// selective: index arrays (APL_IndexArray) and selective assignment, which
// stores through the positions that a selection expression left of the arrow
// made of the variable's index array. Relies on arrays, eltypes and indexing.
#include "structural/indexing.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"

#include <algorithm>
#include <cstring>

namespace {

// A raw block of n elements, freed at scope exit.
template <class T>
class Buffer {
public:
    explicit Buffer(int64_t n) {
        if (n <= 0) return;
        if (static_cast<uint64_t>(n) > SIZE_MAX / sizeof(T)) return;
        data_ = static_cast<T *>(AllocBlock(static_cast<size_t>(n) * sizeof(T), HERE));
    }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { FreeBlock(data_, HERE); }
    T *get() const { return data_; }

private:
    T *data_ = nullptr;
};

}  // namespace

// ---- Index arrays ------------------------------------------------------------------------

namespace {

// The index array of `a`, positions from `counter` on (advanced past them), or
// with `placeholder` all zeros without advancing: the prototype of an empty
// nested array names no element. Returns a new temporary; borrows a.
aplarray *IndexArrayOf(const aplarray *a, int64_t &counter, bool placeholder, int depth) {
    if (depth > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    const int rank = a->rank;
    const int32_t *shape = a->shape;  // static records keep their shape 4-byte aligned too
    if (!IsNested(a)) {
        int64_t n = 1;
        for (int k = 0; k < rank; ++k) n *= shape[k];
        // Positions must stay within 32 bits, and so must the counter after them.
        if (!placeholder && counter + n > INT32_MAX) {
            SetError(APL_ERR_DOMAIN);
            return nullptr;
        }
        aplarray *r = AllocArray(APL_SIMPLE | APL_TEMP | APL_INDEXPOS, rank, APL_INTG, shape, HERE);
        if (!r) return nullptr;
        int32_t *out = DataOf<int32_t>(r);
        const int64_t start = placeholder ? 0 : counter;
        for (int64_t i = 0; i < n; ++i) out[i] = placeholder ? 0 : static_cast<int32_t>(start + i);
        if (!placeholder) counter += n;
        return r;
    }
    TempGuard r(AllocArray(APL_NESTEDARRAY | APL_TEMP | APL_INDEXPOS, rank, APL_NESTED, shape, HERE));
    if (!r.get()) return nullptr;
    aplarray **slots = ItemsOf(r.get());
    const bool empty = a->number == 0;
    for (int32_t i = 0; i < ItemSlots(a); ++i) {
        const aplarray *item = ItemAt(a, i);
        if (!item) continue;
        aplarray *sub = IndexArrayOf(item, counter, placeholder || empty, depth + 1);
        if (!sub) return nullptr;
        slots[i] = APL_LinkEx(sub, HERE);
    }
    return r.release();
}

}  // namespace

// Returns a new temporary; borrows the array. The counter is advanced only on
// success.
extern "C" aplarray *APL_IndexArray(aplarray *array, int32_t *counter) {
    if (aplerrno) return nullptr;
    if (!array) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    int64_t next = counter ? *counter : 0;
    aplarray *result = IndexArrayOf(array, next, false, 0);
    if (result && counter) *counter = static_cast<int32_t>(next);
    return result;
}

aplarray *MakePositionArray(const aplarray *value) {
    if (aplerrno) return nullptr;
    if (!value) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    int64_t next = kFirstPosition;
    return IndexArrayOf(value, next, false, 0);
}

// ---- Selective assignment ----------------------------------------------------------
// The positions name elements of the variable by their number in a depth-first
// walk over its simple elements (leaves). A position array that is nested may
// also name whole items: an item of it that is not a simple scalar must be the
// index array of some item of the variable, which that item is then replaced
// by. The variable is never changed where someone else may see it: a simple
// variable held only by its name is changed in place, anything else is rebuilt
// along the changed paths while unchanged items are shared.

namespace {

// One element of the new values: a simple scalar (type CHAR, INTG or REAL and
// its value) or an item that is not a simple scalar (type NESTED).
struct Element {
    int type = APL_INTG;
    const aplarray *item = nullptr;  // the value's item when the value is nested
    uint8_t c = 0;
    int32_t i = 0;
    double r = 0.0;
};

uint32_t BoolElement(const aplarray *a, int64_t k) {
    const int64_t length = RowLength(a);
    const int64_t row = k / length, column = k % length;
    const uint32_t word = Load<uint32_t>(DataOf(a), row * ((length + 31) / 32) + column / 32);
    return (word >> (column % 32)) & 1u;
}

// Element k of a simple array; BOOL and SHORT read as INTG.
Element SimpleElement(const aplarray *a, int64_t k) {
    Element e;
    switch (a->eltype) {
        case APL_CHAR:
            e.type = APL_CHAR;
            e.c = Load<uint8_t>(DataOf(a), k);
            break;
        case APL_REAL:
            e.type = APL_REAL;
            e.r = Load<double>(DataOf(a), k);
            break;
        case APL_SHORT: e.i = Load<int16_t>(DataOf(a), k); break;
        case APL_BOOL: e.i = static_cast<int32_t>(BoolElement(a, k)); break;
        default: e.i = Load<int32_t>(DataOf(a), k); break;
    }
    return e;
}

Element ValueElement(const aplarray *v, int64_t k) {
    if (!IsNested(v)) return SimpleElement(v, k);
    const aplarray *item = ItemAt(v, k);
    Element e;
    if (item && !IsNested(item) && item->rank == 0)
        e = SimpleElement(item, 0);
    else
        e.type = APL_NESTED;
    e.item = item;
    return e;
}

// INTG meets REAL in REAL; any other pair of different types in nested.
int JoinTypes(int a, int b) {
    if (a == b) return a;
    if ((a | b) == kNumeric) return APL_REAL;
    return APL_NESTED;
}

bool NotResolved() {
    SetErrorText(APL_ERR_SYSTEM, "In selective specification");
    return false;
}

// A position that names nothing in the variable: a fill that take, first or
// expand put among the positions ((↑A)←33 with an empty A), or one made up
// by a caller of the interface.
bool NoSuchPosition() {
    SetErrorText(APL_ERR_INDEX, "In selective specification");
    return false;
}

// A linked array for an item slot: the value's own item, or a new scalar.
aplarray *ElementArray(const Element &e) {
    if (e.item) {
        aplarray *linked = APL_LinkEx(const_cast<aplarray *>(e.item), HERE);
        if (!linked && !aplerrno) SetError(APL_ERR_WSFULL);
        return linked;
    }
    if (e.type == APL_NESTED) {
        NotResolved();
        return nullptr;
    }
    aplarray *scalar = AllocArray(APL_SIMPLE, 0, e.type, nullptr, HERE);
    if (!scalar) return nullptr;
    switch (e.type) {
        case APL_CHAR: *DataOf<uint8_t>(scalar) = e.c; break;
        case APL_REAL: *DataOf<double>(scalar) = e.r; break;
        default: *DataOf<int32_t>(scalar) = e.i; break;
    }
    return scalar;
}

// A number of a simple numeric array; false for characters and items.
bool NumberAt(const aplarray *a, int64_t k, double &x) {
    if (IsNested(a) || a->eltype == APL_CHAR || ElementSize(a->eltype) == 0) return false;
    const Element e = SimpleElement(a, k);
    x = e.type == APL_REAL ? e.r : e.i;
    return true;
}

bool WholeNumber(double x, int64_t &n) {
    if (!(x > -9.0e15 && x < 9.0e15)) return false;
    const double rounded = static_cast<double>(static_cast<int64_t>(x < 0 ? x - 0.5 : x + 0.5));
    if (rounded - x > 1e-13 || x - rounded > 1e-13) return false;
    n = static_cast<int64_t>(rounded);
    return true;
}

struct LeafTarget {
    int64_t position;  // the leaf's number
    int64_t order;     // its place in the position array: the last one wins
    int64_t element;   // which element of the value it receives
};
struct ItemTarget {
    int64_t record;  // the item, by its place in the depth-first walk
    int64_t order;
    int64_t element;
};

// Sorts by key and keeps, of equal keys, the one given last; returns the count.
template <class T, class Key>
int64_t SortKeepLast(T *targets, int64_t n, Key key) {
    std::sort(targets, targets + n,
              [&](const T &a, const T &b) { return key(a) != key(b) ? key(a) < key(b) : a.order < b.order; });
    int64_t kept = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (i + 1 < n && key(targets[i + 1]) == key(targets[i])) continue;
        targets[kept++] = targets[i];
    }
    return kept;
}

// An item of the variable met in the depth-first walk: its first leaf, its
// number of leaves, and how many walk entries lie below it.
struct ItemRecord {
    const aplarray *item;
    int64_t first;
    int64_t leaves;
    int64_t descendants;
};

// Walk entries below a nested array (one per item slot, at every depth);
// -1 with LIMIT or WS FULL when the structure is too deep or too large.
int64_t CountRecords(const aplarray *a, int depth) {
    if (depth > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return -1;
    }
    int64_t n = 0;
    for (int32_t i = 0; i < a->number; ++i) {
        const aplarray *item = ItemAt(a, i);
        ++n;
        if (item && IsNested(item)) {
            const int64_t below = CountRecords(item, depth + 1);
            if (below < 0) return -1;
            n += below;
        }
        if (n > INT32_MAX) {
            SetError(APL_ERR_WSFULL);
            return -1;
        }
    }
    return n;
}

void Walk(const aplarray *a, int64_t &position, ItemRecord *records, int64_t &n) {
    for (int32_t i = 0; i < a->number; ++i) {
        const aplarray *item = ItemAt(a, i);
        const int64_t r = n++;
        const int64_t start = position, below = n;
        records[r] = {item, position, 0, 0};
        if (item && IsNested(item))
            Walk(item, position, records, n);
        else if (item)
            position += ElementCount(item);
        records[r].leaves = position - start;
        records[r].descendants = n - below;
    }
}

// Leaves of an array (simple elements, depth first; prototypes not counted),
// -1 when nested too deep.
int64_t LeafCount(const aplarray *a, int depth) {
    if (!IsNested(a)) return ElementCount(a);
    if (depth > kMaxNestingDepth) return -1;
    int64_t n = 0;
    for (int32_t i = 0; i < a->number; ++i) {
        const aplarray *item = ItemAt(a, i);
        const int64_t below = item ? LeafCount(item, depth + 1) : 0;
        if (below < 0) return -1;
        n += below;
    }
    return n;
}

bool FirstLeaf(const aplarray *a, double &x, int depth) {
    if (!IsNested(a)) return ElementCount(a) > 0 && NumberAt(a, 0, x);
    if (depth > kMaxNestingDepth) return false;
    for (int32_t i = 0; i < a->number; ++i) {
        const aplarray *item = ItemAt(a, i);
        if (item && LeafCount(item, depth + 1) > 0) return FirstLeaf(item, x, depth + 1);
    }
    return false;
}

// True when p is the index array of y counted from `position` (advanced past
// y's leaves). A leaf of y may be matched by a number or by a simple scalar
// item, since selection functions may have simplified or enclosed them.
bool MatchPositions(const aplarray *p, const aplarray *y, int64_t &position, int depth) {
    if (depth > kMaxNestingDepth || !SameShape(p, y->rank, y->shape)) return false;
    const int64_t n = ElementCount(y);
    for (int64_t k = 0; k < n; ++k) {
        const aplarray *yk = IsNested(y) ? ItemAt(y, k) : nullptr;
        if (IsNested(y) && !yk) return false;
        const aplarray *pk = IsNested(p) ? ItemAt(p, k) : nullptr;
        if (IsNested(p) && !pk) return false;
        const bool leaf = !yk || (!IsNested(yk) && yk->rank == 0);
        if (leaf) {
            double x;
            const bool number = pk ? !IsNested(pk) && pk->rank == 0 && NumberAt(pk, 0, x) : NumberAt(p, k, x);
            if (!number) return false;
            if (x != static_cast<double>(position)) return false;
            ++position;
        } else if (!pk || !MatchPositions(pk, yk, position, depth + 1)) {
            return false;
        }
    }
    return true;
}

struct Selection {
    const aplarray *value;
    bool single;  // a scalar value: its one element goes everywhere
    LeafTarget *leaves = nullptr;
    int64_t leafCount = 0;
    ItemTarget *items = nullptr;
    int64_t itemCount = 0;
    const ItemRecord *records = nullptr;
    int64_t recordCount = 0;
    int64_t totalLeaves = 0;
};

// The walk entry of the variable's item whose index array p is, or -1.
int64_t ResolveItem(const aplarray *p, const Selection &s) {
    const int64_t leaves = LeafCount(p, 0);
    double firstValue;
    int64_t first;
    if (leaves <= 0 || !FirstLeaf(p, firstValue, 0) || !WholeNumber(firstValue, first)) return -1;
    // The walk visits items in order of their first leaf, outer items first.
    const ItemRecord *begin = s.records, *end = s.records + s.recordCount;
    const ItemRecord *r =
        std::lower_bound(begin, end, first, [](const ItemRecord &a, int64_t f) { return a.first < f; });
    for (; r != end && r->first == first; ++r) {
        int64_t position = first;
        if (r->leaves == leaves && r->item && MatchPositions(p, r->item, position, 0)) return r - begin;
    }
    return -1;
}

// Reads what every element of the position array names.
bool ReadTargets(const aplarray *positions, Selection &s) {
    const int64_t n = ElementCount(positions);
    for (int64_t k = 0; k < n; ++k) {
        const int64_t element = s.single ? 0 : k;
        const aplarray *p = IsNested(positions) ? ItemAt(positions, k) : nullptr;
        if (IsNested(positions) && !p) return NoSuchPosition();
        double x;
        if (!p || (!IsNested(p) && p->rank == 0)) {
            int64_t position;
            if (!NumberAt(p ? p : positions, p ? 0 : k, x) || !WholeNumber(x, position)) return NoSuchPosition();
            if (position < kFirstPosition || position - kFirstPosition >= s.totalLeaves) return NoSuchPosition();
            s.leaves[s.leafCount++] = {position, k, element};
            continue;
        }
        const int64_t record = ResolveItem(p, s);
        if (record < 0) return NoSuchPosition();
        s.items[s.itemCount++] = {record, k, element};
    }
    s.leafCount = SortKeepLast(s.leaves, s.leafCount, [](const LeafTarget &t) { return t.position; });
    s.itemCount = SortKeepLast(s.items, s.itemCount, [](const ItemTarget &t) { return t.record; });
    return true;
}

// A new temporary copy of a simple array with the given element type (the
// same, or wider: INTG or REAL).
aplarray *Retyped(aplarray *node, int type) {
    aplarray *x = node;
    TempGuard owned;
    if (!Widen(x, owned)) return nullptr;
    if (x->eltype != type && !Replace(x, owned, IntToReal)) return nullptr;
    if (!owned.get()) owned.reset(ShallowCopy(x));
    return owned.release();
}

// Stores the targets of [begin, end) into the simple array `node`, whose
// first leaf is `base`. Borrows node (linked by its holder); returns node
// (changed in place when `inPlace`, or unchanged), a new temporary, or null.
aplarray *StoreLeaves(aplarray *node, int64_t base, const LeafTarget *begin, const LeafTarget *end, const Selection &s,
                      bool inPlace) {
    if (begin == end) return node;
    int type = WidenedType(node->eltype);
    for (const LeafTarget *t = begin; t != end; ++t) type = JoinTypes(type, ValueElement(s.value, t->element).type);
    TempGuard owned;
    aplarray *out = node;
    if (type == APL_NESTED) {
        out = APL_MakeNested(node);
        if (aplerrno) {
            if (out != node) APL_UnLinkTempEx(out, HERE);
            return nullptr;
        }
        owned.reset(out);
    } else if (type != node->eltype || !inPlace) {
        owned.reset(Retyped(node, type));
        out = owned.get();
        if (!out) return nullptr;
    }
    for (const LeafTarget *t = begin; t != end; ++t) {
        const int64_t k = t->position - base;
        const Element e = ValueElement(s.value, t->element);
        switch (type) {
            case APL_CHAR: DataOf<uint8_t>(out)[k] = e.c; break;
            case APL_INTG: DataOf<int32_t>(out)[k] = e.i; break;
            case APL_REAL: DataOf<double>(out)[k] = e.type == APL_REAL ? e.r : e.i; break;
            default: {
                aplarray *item = ElementArray(e);
                if (!item) return nullptr;
                aplarray *old = ItemsOf(out)[k];
                ItemsOf(out)[k] = item;
                APL_UnLinkEx(old, HERE);
            }
        }
    }
    if (type != APL_NESTED) return owned.get() ? owned.release() : out;
    aplarray *simplified = SimplifyArray(owned.release());
    if (aplerrno) {
        APL_UnLinkTempEx(simplified, HERE);
        return nullptr;
    }
    return simplified;
}

const LeafTarget *FirstLeafTarget(const Selection &s, int64_t position) {
    const LeafTarget *begin = s.leaves;
    return std::lower_bound(begin, begin + s.leafCount, position,
                            [](const LeafTarget &t, int64_t p) { return t.position < p; });
}

const ItemTarget *FindItemTarget(const Selection &s, int64_t record) {
    const ItemTarget *begin = s.items, *end = s.items + s.itemCount;
    const ItemTarget *t =
        std::lower_bound(begin, end, record, [](const ItemTarget &a, int64_t r) { return a.record < r; });
    return t != end && t->record == record ? t : nullptr;
}

// The nested array `node` with its targets stored: node itself when nothing in
// it changed, else a new temporary sharing the unchanged items. `position` and
// `record` follow the depth-first walk. Borrows node.
aplarray *Rebuild(aplarray *node, int64_t &position, int64_t &record, const Selection &s, int depth) {
    if (depth > kMaxNestingDepth) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    TempGuard out;  // the new array, made at the first change
    for (int32_t i = 0; i < node->number; ++i) {
        aplarray *item = ItemAt(node, i);
        const int64_t r = record++;
        if (r >= s.recordCount || s.records[r].item != item) {
            NotResolved();
            return nullptr;
        }
        const ItemRecord &entry = s.records[r];
        aplarray *replacement = nullptr;  // linked
        if (const ItemTarget *t = FindItemTarget(s, r)) {
            replacement = ElementArray(ValueElement(s.value, t->element));
            if (!replacement) return nullptr;
            record += entry.descendants;
            position += entry.leaves;
        } else if (item && IsNested(item)) {
            aplarray *rebuilt = Rebuild(item, position, record, s, depth + 1);
            if (!rebuilt) return nullptr;
            if (rebuilt != item) replacement = APL_LinkEx(rebuilt, HERE);
        } else if (item) {
            const int64_t n = ElementCount(item);
            const LeafTarget *begin = FirstLeafTarget(s, position);
            const LeafTarget *end = FirstLeafTarget(s, position + n);
            if (begin != end && item->rank == 0) {
                // A simple scalar item is its one leaf: the new element takes the slot.
                replacement = ElementArray(ValueElement(s.value, begin->element));
                if (!replacement) return nullptr;
            } else if (begin != end) {
                aplarray *stored = StoreLeaves(item, position, begin, end, s, false);
                if (!stored) return nullptr;
                if (stored != item) replacement = APL_LinkEx(stored, HERE);
            }
            position += n;
        }
        if (!replacement) continue;
        if (!out.get()) {
            out.reset(ShallowCopy(node));
            if (!out.get()) {
                APL_UnLinkEx(replacement, HERE);
                return nullptr;
            }
        }
        aplarray *old = ItemsOf(out.get())[i];
        ItemsOf(out.get())[i] = replacement;
        APL_UnLinkEx(old, HERE);
    }
    if (!out.get()) return node;
    aplarray *simplified = SimplifyArray(out.release());
    if (aplerrno) {
        APL_UnLinkTempEx(simplified, HERE);
        return nullptr;
    }
    return simplified;
}

// The variable's value x with the selection stored; x itself (changed in place
// or not at all) or a new temporary; null with the error set. Borrows all.
aplarray *SelectiveStore(aplarray *x, const aplarray *positions, const aplarray *value) {
    const int64_t n = ElementCount(positions);
    if (n == 0) return x;
    Selection s{value, value->rank == 0};
    int64_t recordCount = 0;
    if (IsNested(x)) {
        recordCount = CountRecords(x, 0);
        if (recordCount < 0) return nullptr;
    }
    Buffer<ItemRecord> records(recordCount);
    Buffer<LeafTarget> leaves(n);
    Buffer<ItemTarget> items(IsNested(positions) ? n : 0);
    if ((recordCount > 0 && !records.get()) || !leaves.get() || (IsNested(positions) && !items.get())) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    if (IsNested(x)) {
        int64_t position = kFirstPosition, count = 0;
        Walk(x, position, records.get(), count);
        s.totalLeaves = position - kFirstPosition;
    } else {
        s.totalLeaves = ElementCount(x);
    }
    s.records = records.get();
    s.recordCount = recordCount;
    s.leaves = leaves.get();
    s.items = items.get();
    if (!ReadTargets(positions, s)) return nullptr;
    if (!IsNested(x)) {
        // Only the name holds the value (and the value to store is another array).
        const bool inPlace = !IsStatic(x) && x->lnkcnt <= 1;
        return StoreLeaves(x, kFirstPosition, s.leaves, s.leaves + s.leafCount, s, inPlace);
    }
    int64_t position = kFirstPosition, record = 0;
    return Rebuild(x, position, record, s, 0);
}

}  // namespace

aplarray *AssignSelective(uint16_t symbol, aplarray *positions, aplarray *value) {
    value = Aligned(value);
    if (aplerrno) {
        ReleaseTemporaries(positions, value, nullptr);
        return nullptr;
    }
    aplarray *x = AssignableValue(symbol, true);
    if (x && !value) SetError(APL_ERR_VALUE);
    if (x && value && (!positions || !(positions->type & APL_INDEXPOS)))
        SetErrorText(APL_ERR_SYNTAX, "No legal position array");
    if (!aplerrno && value->rank != 0) {
        if (value->rank != positions->rank)
            SetError(APL_ERR_RANK);
        else if (!SameShape(value, positions->rank, positions->shape))
            SetError(APL_ERR_LENGTH);
    }
    if (aplerrno) {
        ReleaseTemporaries(positions, value, nullptr);
        return nullptr;
    }
    // The value is held across the change: it may be the variable's old value.
    HoldValue(value);
    LinkSet links;
    aplarray *p = links.take(positions);
    aplarray *updated = p ? SelectiveStore(x, p, value) : nullptr;
    if (updated && updated != x) SetSymbolValue(symbol, updated);
    links.finish(nullptr);
    UnholdValue(value);
    if (!updated) {
        APL_UnLinkTempEx(value, HERE);
        return nullptr;
    }
    return value;
}

// Returns `value` (a temporary stays one, for the caller to release), or null
// with the error set. Consumes a temporary position array; releases a
// temporary value on failure.
extern "C" aplarray *APL_AssignSel(uint16_t index, aplarray *positions, aplarray *value) {
    return AssignSelective(index, positions, value);
}
