// indexing: bracket indexing and indexed assignment (APL_IndexData and its
// engine, APL_AssignIdx) and squad (APL_Indexing); selective assignment is in
// selective.cpp. Relies on arrays, eltypes (conversions, SimplifyArray), rho and IO.
#include "structural/indexing.h"

#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/rho.h"

#include <algorithm>
#include <cstring>

// ---- Small helpers -------------------------------------------------------------

// A new temporary of the same shape and type whose data are those of `a`
// (items linked, not copied: the items themselves are never changed).
aplarray *ShallowCopy(const aplarray *a) {
    int32_t shape[kMaxRank];
    memcpy(shape, a->shape, 4 * static_cast<size_t>(a->rank));
    const int kind = IsNested(a) ? APL_NESTEDARRAY : APL_SIMPLE;
    aplarray *copy = AllocArray(kind | APL_TEMP, a->rank, a->eltype, shape, HERE);
    if (!copy) return nullptr;
    if (!IsNested(a)) {
        const size_t unit = ElementSize(a->eltype);
        char *to = DataOf<char>(copy);
        const char *from = DataOf<const char>(a);
        if (ForEachStride(a->number, [&](int64_t begin, int64_t end) {
                memcpy(to + begin * unit, from + begin * unit, static_cast<size_t>(end - begin) * unit);
            }))
            return copy;
        APL_UnLinkTempEx(copy, HERE);
        return nullptr;
    }
    aplarray **slots = ItemsOf(copy);
    for (int32_t i = 0; i < ItemSlots(a); ++i) {
        aplarray *item = ItemAt(a, i);
        slots[i] = APL_LinkEx(item, HERE);
        if (item && !slots[i]) {
            APL_UnLinkEx(copy, HERE);
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return nullptr;
        }
    }
    return copy;
}

// The type BOOL and SHORT data are read as.
int WidenedType(int eltype) { return eltype == APL_BOOL || eltype == APL_SHORT ? int{APL_INTG} : eltype; }

// BOOL and SHORT data are widened to INTG (x then names a temporary held by
// `owned`); other types are kept.
bool Widen(aplarray *&x, TempGuard &owned) {
    switch (x->eltype) {
        case APL_BOOL: return Replace(x, owned, BoolToInt);
        case APL_SHORT: return Replace(x, owned, ShortToInt);
        case APL_CHAR:
        case APL_INTG:
        case APL_REAL:
        case APL_NESTED: return true;
        default: SetError(APL_ERR_DOMAIN); return false;
    }
}

namespace {

// ---- The index list --------------------------------------------------------------

struct AxisIndices {
    bool elided = false;
    int64_t count = 1;                // indices on this axis
    const int32_t *values = nullptr;  // the indices as given (origin IO); null when elided
    aplarray *item = nullptr;         // the list item, null for a simple list
};

// The index list read against the indexed array: one entry per axis, the
// result shape and count. Owns what reading the values allocated.
class IndexList {
public:
    IndexList() = default;
    IndexList(const IndexList &) = delete;
    IndexList &operator=(const IndexList &) = delete;
    ~IndexList() {
        for (int i = 0; i < blockCount_; ++i) FreeBlock(blocks_[i], HERE);
        for (int i = 0; i < tempCount_; ++i) APL_UnLinkTempEx(temps_[i], HERE);
    }

    // The structure: INDEX for a list of rank 2 or more, RANK for a wrong
    // number of items, DOMAIN for character or nested items, LIMIT for a result
    // of more than 64 axes, DOMAIN for a result count beyond 32 bits.
    bool read(const aplarray *array, aplarray *list) {
        list_ = list;
        if (list->rank >= 2) return Fail(APL_ERR_INDEX);
        simple = !IsNested(list);
        const int64_t items = simple ? ElementCount(list) : (list->rank == 0 ? 1 : list->number);
        if (items != array->rank) return Fail(APL_ERR_RANK);
        axes = array->rank;
        if (simple) {
            if (!IsIntegerType(list->eltype)) return Fail(APL_ERR_DOMAIN);
            resultRank = 0;
            resultCount = 1;
            return true;
        }
        resultRank = 0;
        bool empty = false;
        int64_t count = 1;
        for (int k = 0; k < axes; ++k) {
            AxisIndices &axis = axis_[k];
            aplarray *item = ItemsOf(list)[k];
            if (!item) return Fail(APL_ERR_DOMAIN);
            int rank;
            const int32_t *shape;
            if (IsElided(item)) {
                axis.elided = true;
                axis.count = array->shape[k];
                rank = 1;
                shape = &array->shape[k];
            } else {
                if (!IsIntegerType(item->eltype)) return Fail(APL_ERR_DOMAIN);
                axis.item = item;
                axis.count = ElementCount(item);
                rank = item->rank;
                shape = item->shape;
            }
            if (resultRank + rank > kMaxRank) return Fail(APL_ERR_LIMIT);
            memcpy(resultShape + resultRank, shape, 4 * static_cast<size_t>(rank));
            resultRank += rank;
            if (axis.count == 0) empty = true;
            if (!empty) {
                count *= axis.count;
                if (count > INT32_MAX) return Fail(APL_ERR_DOMAIN);
            }
        }
        resultCount = empty ? 0 : count;
        return true;
    }

    // The index values as integers (DOMAIN for REAL values that are not near
    // an integer). Called only for a non-empty result: an empty one examines
    // no index.
    bool readValues() {
        if (simple) {
            const int32_t *values = nullptr;
            if (!IntegerView(list_, &values)) return false;
            for (int k = 0; k < axes; ++k) axis_[k].values = values + k;
            return true;
        }
        for (int k = 0; k < axes; ++k)
            if (!axis_[k].elided && !IntegerView(axis_[k].item, &axis_[k].values)) return false;
        return true;
    }

    const AxisIndices &operator[](int k) const { return axis_[k]; }

    bool simple = false;  // a simple list: one value per axis, a scalar result
    int axes = 0;
    int resultRank = 0;
    int32_t resultShape[kMaxRank];
    int64_t resultCount = 0;

private:
    static bool IsIntegerType(int eltype) {
        return eltype == APL_INTG || eltype == APL_REAL || eltype == APL_BOOL || eltype == APL_SHORT;
    }
    static bool Fail(int32_t code) {
        SetError(code);
        return false;
    }
    // INTG data are used where they are; the other types through a converted
    // copy that this list owns. The array is linked by its holder, so the
    // converters leave it alone.
    bool IntegerView(aplarray *a, const int32_t **out) {
        *out = nullptr;
        if (ElementCount(a) == 0) return true;
        aplarray *integers = a;
        if (a->eltype == APL_BOOL || a->eltype == APL_SHORT) {
            integers = a->eltype == APL_BOOL ? BoolToInt(a) : ShortToInt(a);
            if (!integers) return false;
            temps_[tempCount_++] = integers;
        }
        int32_t *values = nullptr;
        const bool owned = IntegerData(integers, &values);
        if (!values) {
            if (!aplerrno) SetError(APL_ERR_DOMAIN);
            return false;
        }
        if (owned) blocks_[blockCount_++] = values;
        *out = values;
        return true;
    }

    aplarray *list_ = nullptr;
    AxisIndices axis_[kMaxRank];
    int32_t *blocks_[kMaxRank + 1];
    int blockCount_ = 0;
    aplarray *temps_[kMaxRank + 1];
    int tempCount_ = 0;
};

// ---- Offsets ---------------------------------------------------------------------
// The selected cross-sections as offsets into the ravel of the array. The
// trailing elided axes select whole contiguous blocks, so they are not listed:
// each offset starts a run of `run` consecutive elements. The first listed
// axis is walked directly from its indices, so that A[I] needs no table at all;
// the table covers the listed axes after it and is built from the last to the
// first, so that the first axis varies slowest, which is the ravel order of
// the result.

class Offsets {
public:
    Offsets() = default;
    Offsets(const Offsets &) = delete;
    Offsets &operator=(const Offsets &) = delete;
    ~Offsets() { FreeBlock(block_, HERE); }

    // INDEX for an index outside its axis; every index is tested before
    // anything is moved.
    bool build(const aplarray *array, const IndexList &list) {
        const int rank = list.axes;
        int leading = rank;
        while (leading > 0 && list[leading - 1].elided) --leading;
        run = 1;
        for (int k = leading; k < rank; ++k) run *= array->shape[k];
        origin_ = IndexOrigin();
        int64_t stride = run;
        for (int k = leading - 1; k >= 1; --k) stride *= array->shape[k];
        if (leading > 0) {
            const AxisIndices &first = list[0];
            outer_ = first.count;
            outerStride_ = stride;
            outerValues_ = first.elided ? nullptr : first.values;
            const int64_t length = array->shape[0];
            bool inside = true;
            if (outerValues_ && !ForEachStride(outer_, [&](int64_t begin, int64_t end) {
                    for (int64_t j = begin; j < end; ++j)
                        inside &= outerValues_[j] - origin_ >= 0 && outerValues_[j] - origin_ < length;
                    return inside;
                })) {
                if (!inside) SetError(APL_ERR_INDEX);
                return false;
            }
        }
        entries_ = 1;
        for (int k = 1; k < leading; ++k) entries_ *= list[k].count;
        if (entries_ > 1) {
            block_ = static_cast<int32_t *>(AllocBlock(static_cast<size_t>(entries_) * sizeof(int32_t), HERE));
            if (!block_) {
                SetError(APL_ERR_WSFULL);
                return false;
            }
            table_ = block_;
        }
        table_[0] = 0;
        stride = run;
        int64_t size = 1;
        for (int k = leading - 1; k >= 1; --k) {
            const AxisIndices &axis = list[k];
            const int64_t length = array->shape[k];
            // Entry j * size + t is index j's offset plus old entry t; j runs
            // down so that the old entries (j = 0) are overwritten last.
            for (int64_t j = axis.count - 1; j >= 0; --j) {
                const int64_t index = axis.elided ? j : axis.values[j] - origin_;
                if (index < 0 || index >= length) {
                    SetError(APL_ERR_INDEX);
                    return false;
                }
                const int64_t base = index * stride;
                int32_t *to = table_ + j * size;
                for (int64_t t = 0; t < size; ++t) to[t] = static_cast<int32_t>(base + table_[t]);
            }
            size *= axis.count;
            stride *= length;
        }
        return true;
    }

    // Calls visit(i, offset) for every run in result order: element i of the
    // result (and its next run - 1) comes from element offset of the array.
    // An interruptible walk stops between runs when the host asks (false,
    // INTERRUPT ERROR set); a change made in place must not stop halfway.
    template <class Visit>
    bool forEach(Visit visit, bool interruptible = true) const {
        auto pieces = [interruptible](int64_t n, auto body) {
            if (interruptible) return ForEachStride(n, body);
            body(int64_t{0}, n);
            return true;
        };
        if (entries_ == 1) {  // A[I] and the like: one run per index of the first axis
            return pieces(outer_, [&](int64_t begin, int64_t end) {
                for (int64_t j = begin; j < end; ++j) {
                    const int64_t index = outerValues_ ? outerValues_[j] - origin_ : j;
                    visit(j * run, index * outerStride_ + table_[0]);
                }
            });
        }
        for (int64_t j = 0, i = 0; j < outer_; ++j) {
            const int64_t base = (outerValues_ ? outerValues_[j] - origin_ : j) * outerStride_;
            const bool done = pieces(entries_, [&](int64_t begin, int64_t end) {
                for (int64_t e = begin; e < end; ++e, i += run) visit(i, base + table_[e]);
            });
            if (!done) return false;
        }
        return true;
    }

    int64_t run = 1;

private:
    int64_t origin_ = 1;
    int64_t outer_ = 1;  // indices of the first listed axis (1 when none is listed)
    int64_t outerStride_ = 0;
    const int32_t *outerValues_ = nullptr;  // null: elided, or no listed axis
    int64_t entries_ = 1;
    int32_t single_ = 0;
    int32_t *table_ = &single_;
    int32_t *block_ = nullptr;
};

// ---- Selection ---------------------------------------------------------------------

template <class To, class From>
bool GatherRuns(To *out, const From *in, const Offsets &o) {
    const int64_t run = o.run;
    if (run == 1) return o.forEach([&](int64_t i, int64_t offset) { out[i] = static_cast<To>(in[offset]); });
    return o.forEach([&](int64_t i, int64_t offset) {
        if constexpr (sizeof(To) == sizeof(From)) {
            memcpy(out + i, in + offset, static_cast<size_t>(run) * sizeof(To));
        } else {
            for (int64_t k = 0; k < run; ++k) out[i + k] = static_cast<To>(in[offset + k]);
        }
    });
}

// BOOL rows start on fresh words: element (row, column) is bit column % 32 of
// word row * wordsPerRow + column / 32.
bool GatherBits(int32_t *out, const aplarray *a, const Offsets &o) {
    const int64_t length = RowLength(a);
    const int64_t words = (length + 31) / 32;
    const uint32_t *bits = DataOf<const uint32_t>(a);
    return o.forEach([&](int64_t i, int64_t offset) {
        for (int64_t k = 0; k < o.run; ++k) {
            const int64_t row = (offset + k) / length, column = (offset + k) % length;
            out[i + k] = static_cast<int32_t>((bits[row * words + column / 32] >> (column % 32)) & 1u);
        }
    });
}

// Links every selected item into the result's slots.
bool GatherItems(aplarray **out, const aplarray *a, const Offsets &o) {
    aplarray *const *in = ItemsOf(a);
    bool ok = true;
    const bool walked = o.forEach([&](int64_t i, int64_t offset) {
        for (int64_t k = 0; k < o.run; ++k) {
            aplarray *item = in[offset + k];
            out[i + k] = APL_LinkEx(item, HERE);
            ok = ok && (!item || out[i + k]);
        }
    });
    return ok && walked;
}

// Borrows `a` (linked by the engine); returns a new temporary or null.
aplarray *Select(aplarray *a, IndexList &list) {
    const int eltype = WidenedType(a->eltype);
    const int kind = eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE;
    // What is selected from positions still consists of positions.
    const int mark = a->type & APL_INDEXPOS;
    TempGuard result(AllocArray(kind | APL_TEMP | mark, list.resultRank, eltype, list.resultShape, HERE));
    aplarray *r = result.get();
    if (!r) return nullptr;
    if (list.resultCount == 0) {
        if (eltype == APL_NESTED) {
            aplarray *fill = prototype(a, kPrototypeTypical);
            if (!fill) return nullptr;
            ItemsOf(r)[0] = APL_LinkEx(fill, HERE);
        }
    } else {
        if (!list.readValues()) return nullptr;
        Offsets offsets;
        if (!offsets.build(a, list)) return nullptr;
        bool gathered = true;  // false: interrupted
        switch (a->eltype) {
            case APL_CHAR: gathered = GatherRuns(DataOf<uint8_t>(r), DataOf<const uint8_t>(a), offsets); break;
            case APL_INTG: gathered = GatherRuns(DataOf<int32_t>(r), DataOf<const int32_t>(a), offsets); break;
            case APL_REAL: gathered = GatherRuns(DataOf<double>(r), DataOf<const double>(a), offsets); break;
            case APL_SHORT: gathered = GatherRuns(DataOf<int32_t>(r), DataOf<const int16_t>(a), offsets); break;
            case APL_BOOL: gathered = GatherBits(DataOf<int32_t>(r), a, offsets); break;
            case APL_NESTED:
                if (!GatherItems(ItemsOf(r), a, offsets)) {
                    if (!aplerrno) SetError(APL_ERR_WSFULL);
                    return nullptr;
                }
                break;
            default: SetError(APL_ERR_DOMAIN); return nullptr;
        }
        if (!gathered) return nullptr;
    }
    if (eltype != APL_NESTED) return result.release();
    aplarray *simplified = SimplifyArray(result.release());
    if (aplerrno) {
        APL_UnLinkTempEx(simplified, HERE);
        return nullptr;
    }
    simplified->type = static_cast<uint8_t>(simplified->type | mark);
    return simplified;
}

// ---- Assignment ---------------------------------------------------------------------

template <class T>
bool ScatterRuns(T *out, const T *in, bool single, const Offsets &o, bool interruptible) {
    const int64_t run = o.run;
    if (single) {
        const T x = in[0];
        return o.forEach([&](int64_t, int64_t offset) { std::fill(out + offset, out + offset + run, x); },
                         interruptible);
    }
    if (run == 1) return o.forEach([&](int64_t i, int64_t offset) { out[offset] = in[i]; }, interruptible);
    return o.forEach(
        [&](int64_t i, int64_t offset) { memcpy(out + offset, in + i, static_cast<size_t>(run) * sizeof(T)); },
        interruptible);
}

// The new item is linked before the old one is unlinked, so that storing an
// item over itself keeps it alive.
bool ScatterItems(aplarray **out, aplarray *const *in, bool single, const Offsets &o, bool interruptible) {
    bool ok = true;
    const bool walked = o.forEach(
        [&](int64_t i, int64_t offset) {
            for (int64_t k = 0; k < o.run && ok; ++k) {
                aplarray *item = in[single ? 0 : i + k];
                aplarray *linked = APL_LinkEx(item, HERE);
                ok = !item || linked;
                if (!ok) return;
                aplarray *&slot = out[offset + k];
                aplarray *old = slot;
                slot = linked;
                APL_UnLinkEx(old, HERE);
            }
        },
        interruptible);
    return ok && walked;
}

// Stores v into the selected elements of a. `exclusive`: nobody but the caller
// holds a, which may then be changed where it is. Borrows a and v (both linked
// by the engine); returns a, or a new temporary, or null.
aplarray *Store(aplarray *a, IndexList &list, aplarray *v, bool exclusive) {
    // A one-element value of rank at most 1 stands for every selected element.
    const bool single = v->rank <= 1 && ElementCount(v) == 1;
    if (!single) {
        if (list.simple || v->rank != list.resultRank) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        if (!SameShape(v, list.resultRank, list.resultShape)) {
            SetError(APL_ERR_LENGTH);
            return nullptr;
        }
    }
    TempGuard ownedTarget, ownedValue;
    aplarray *target = a, *value = v;
    if (!Widen(target, ownedTarget) || !Widen(value, ownedValue)) return nullptr;
    if (list.resultCount > 0) {
        if (!list.readValues()) return nullptr;
        Offsets offsets;
        if (!offsets.build(target, list)) return nullptr;
        // INTG meets REAL in REAL; any other pair of different types in nested.
        if (target->eltype != value->eltype) {
            if ((target->eltype | value->eltype) == kNumeric) {
                const bool ok = target->eltype == APL_INTG ? Replace(target, ownedTarget, IntToReal)
                                                           : Replace(value, ownedValue, IntToReal);
                if (!ok) return nullptr;
            } else {
                if (!IsNested(target) && !Replace(target, ownedTarget, APL_MakeNested)) return nullptr;
                if (!IsNested(value) && !Replace(value, ownedValue, APL_MakeNested)) return nullptr;
            }
        }
        if (target == a && !exclusive) {
            ownedTarget.reset(ShallowCopy(a));
            target = ownedTarget.get();
            if (!target) return nullptr;
        }
        // A copy may be abandoned halfway; the caller's own array, changed in
        // place, must not be left half assigned, so the last chance to stop is here.
        const bool inPlace = target == a;
        if (inPlace && InterruptRequested()) return nullptr;
        bool stored = true;
        switch (target->eltype) {
            case APL_CHAR:
                stored = ScatterRuns(DataOf<uint8_t>(target), DataOf<uint8_t>(value), single, offsets, !inPlace);
                break;
            case APL_INTG:
                stored = ScatterRuns(DataOf<int32_t>(target), DataOf<int32_t>(value), single, offsets, !inPlace);
                break;
            case APL_REAL:
                stored = ScatterRuns(DataOf<double>(target), DataOf<double>(value), single, offsets, !inPlace);
                break;
            default:
                if (!ScatterItems(ItemsOf(target), ItemsOf(value), single, offsets, !inPlace)) {
                    if (!aplerrno) SetError(APL_ERR_WSFULL);
                    return nullptr;
                }
        }
        if (!stored) return nullptr;
    }
    aplarray *result = ownedTarget.get() == target ? ownedTarget.release() : target;
    if (!IsNested(result)) return result;
    aplarray *simplified = SimplifyArray(result);
    if (aplerrno) {
        if (simplified != a) APL_UnLinkTempEx(simplified, HERE);
        return nullptr;
    }
    return simplified;
}

}  // namespace

// ---- The engine -------------------------------------------------------------------

aplarray *IndexEngine(aplarray *array, aplarray *indices, aplarray *value, int32_t holderLinks) {
    if (aplerrno || !array || !indices) {
        if (!aplerrno) SetError(array ? APL_ERR_SYNTAX : APL_ERR_VALUE);
        ReleaseTemporaries(array, indices, value);
        return nullptr;
    }
    CheckArray(array, HERE);
    CheckArray(indices, HERE);
    CheckArray(value, HERE);
    const bool assigning = value != nullptr;
    // Changed in place only when nobody but the caller holds the array: any
    // further link is a holder who must keep seeing the old value. A value that
    // is the array itself would be read while it is written.
    bool exclusive = !IsStatic(array) && array->lnkcnt <= holderLinks && value != array;
    // Linking can fail only for a static argument (its copy), which needs no
    // releasing; every other argument is in the link set either way.
    LinkSet links;
    aplarray *a = links.take(array);
    aplarray *list = links.take(indices);
    aplarray *v = links.take(value);
    if (!a || !list || (assigning && !v)) return links.finish(nullptr);
    if (a != array) exclusive = true;  // a static array arrives as a copy of our own
    IndexList parsed;
    if (!parsed.read(a, list)) return links.finish(nullptr);
    aplarray *result = assigning ? Store(a, parsed, v, exclusive) : Select(a, parsed);
    return links.finish(result);
}

extern "C" aplarray *APL_IndexData(aplarray *array, aplarray *indices, aplarray *value) {
    return IndexEngine(array, indices, value, 0);
}

// ---- Squad -----------------------------------------------------------------------------

namespace {

// The shared elided-index marker, or a private one when EL has no usable value.
// Returns a temporary or the (linked) value of EL.
aplarray *ElidedMarker() {
    aplarray *marker = APL_Variable(sys_ELIDE_idx);
    if (IsSymbol(sys_ELIDE_idx) && IsElided(marker)) return marker;
    const int32_t one = 1;
    marker = AllocArray(APL_SIMPLE | APL_TEMP | APL_FLAG10, 1, APL_INTG, &one, HERE);
    if (marker) *DataOf<int32_t>(marker) = 0;
    return marker;
}

// The axis values as 0-based axes; AXIS for anything but distinct integers
// in range. `count` gets their number.
bool ReadAxis(aplarray *axis, int rank, int32_t *axes, int &count) {
    aplarray *values = axis;
    if (IsNested(axis)) {
        if (axis->number != 1 || !ItemAt(axis, 0) || IsNested(ItemAt(axis, 0))) {
            SetError(APL_ERR_AXIS);
            return false;
        }
        values = ItemAt(axis, 0);
    }
    const int64_t n = ElementCount(values);
    if (n > rank) {
        SetError(APL_ERR_AXIS);
        return false;
    }
    count = static_cast<int>(n);
    if (n == 0) return true;
    TempGuard widened;
    if (values->eltype == APL_BOOL || values->eltype == APL_SHORT) {
        widened.reset(values->eltype == APL_BOOL ? BoolToInt(values) : ShortToInt(values));
        values = widened.get();
        if (!values) return false;
    }
    int32_t *data = nullptr;
    const bool owned = IntegerData(values, &data);
    if (!data) {
        aplerrno = 0;
        SetError(APL_ERR_AXIS);
        return false;
    }
    const int64_t origin = IndexOrigin();
    bool seen[kMaxRank] = {};
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        const int64_t k = data[i] - origin;
        ok = k >= 0 && k < rank && !seen[k];
        if (ok) {
            seen[k] = true;
            axes[i] = static_cast<int32_t>(k);
        }
    }
    if (owned) FreeBlock(data, HERE);
    if (!ok) SetError(APL_ERR_AXIS);
    return ok;
}

// The full index list of squad with an axis: the positions named by the axis
// receive the items of `left` (a simple left contributes scalars, so that
// those axes disappear from the result), all others the elided-index marker.
// Returns a new temporary; borrows its arguments.
aplarray *AxisIndexList(aplarray *axis, aplarray *left, const aplarray *right) {
    int32_t axes[kMaxRank];
    int count = 0;
    if (!ReadAxis(axis, right->rank, axes, count)) return nullptr;
    if (ElementCount(left) != count) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    const int32_t rank = right->rank;
    TempGuard list(AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &rank, HERE));
    if (!list.get()) return nullptr;
    aplarray **slots = ItemsOf(list.get());
    for (int i = 0; i < count; ++i) {
        aplarray *item = IsNested(left) ? ItemAt(left, i) : ItemScalar(left, i);
        slots[axes[i]] = APL_LinkEx(item, HERE);
        if (!slots[axes[i]]) {
            if (!aplerrno) SetError(APL_ERR_WSFULL);
            return nullptr;
        }
    }
    TempGuard marker(ElidedMarker());
    if (!marker.get()) return nullptr;
    for (int k = 0; k < rank; ++k)
        if (!slots[k]) slots[k] = APL_LinkEx(marker.get(), HERE);
    return list.release();
}

aplarray *IndexingKernel(CallArgs &args) {
    if (!args.axis) return IndexEngine(args.right, args.left, nullptr, 0);
    aplarray *list = AxisIndexList(args.axis, args.left, args.right);
    if (!list) return nullptr;
    return IndexEngine(args.right, list, nullptr, 0);
}

}  // namespace

// Returns a temporary (lnkcnt 0). Consumes temporary arguments; linked ones are
// left as they were.
extern "C" aplarray *APL_Indexing(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Required(kAnyType), Required(kAnyType)}, axis, left, right,
                        IndexingKernel);
}

// ---- Indexed assignment to a name ----------------------------------------------------

namespace {
constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;
}  // namespace

aplarray *AssignableValue(uint16_t symbol, bool selective) {
    if (!IsSymbol(symbol)) {
        SetErrorText(APL_ERR_SYSTEM, "Invalid symbol index %u", symbol);
        return nullptr;
    }
    const aplsymbol &entry = Symbol(symbol);
    const bool label =
        (entry.kind & (APL_KIND_VARIABLE | APL_KIND_LABELBIT)) == (APL_KIND_VARIABLE | APL_KIND_LABELBIT) &&
        !(entry.kind & kFunctionKinds);
    if (label || (entry.value && (entry.kind & (kFunctionKinds | APL_KIND_OPERAND)))) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    if (selective && (entry.kind & APL_KIND_SYSTEM)) {
        SetErrorText(APL_ERR_SYNTAX, "System variables not allowed in selective specification");
        return nullptr;
    }
    if (!(entry.kind & APL_KIND_VARIABLE) || !entry.value) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    return static_cast<aplarray *>(entry.value);
}

void HoldValue(aplarray *value) {
    if (value && !IsStatic(value)) ++value->lnkcnt;
}
void UnholdValue(aplarray *value) {
    if (value && !IsStatic(value)) --value->lnkcnt;
}

// Returns `value` (a temporary stays one, for the caller to release), or null
// with the error set. Consumes a temporary index list; releases a temporary
// value on failure.
extern "C" aplarray *APL_AssignIdx(uint16_t index, aplarray *indices, aplarray *value) {
    if (aplerrno || !value) {
        if (!aplerrno) SetError(APL_ERR_VALUE);
        ReleaseTemporaries(indices, value, nullptr);
        return nullptr;
    }
    aplarray *old = AssignableValue(index, false);
    if (!old) {
        ReleaseTemporaries(indices, value, nullptr);
        return nullptr;
    }
    HoldValue(value);
    // The name holds one link on its value: with no other holder the value is
    // changed in place.
    aplarray *updated = IndexEngine(old, indices, value, 1);
    if (updated && updated != old) SetSymbolValue(index, updated);
    UnholdValue(value);
    if (!updated) {
        APL_UnLinkTempEx(value, HERE);
        return nullptr;
    }
    return value;
}
