// enclose: the primitive enclose (⊂): enclose, enclose with axis and
// partitioned enclose, and the row split that ⎕CR uses. Relies on the array
// core, the standard wrapper, prototype (rho) and the strided gather.
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/nested.h"
#include "structural/rho.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

aplarray *NewArray(int rank, int eltype, const int32_t *shape) {
    return AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, rank, eltype, shape, HERE);
}

// A simple scalar is its own enclosure; anything else goes into a new nested
// scalar that links it. Returns the argument or a new temporary.
aplarray *EncloseOne(aplarray *array) {
    if (array->rank == 0 && !IsNested(array)) return array;
    aplarray *box = NewArray(0, APL_NESTED, nullptr);
    if (box) ItemsOf(box)[0] = APL_LinkEx(array, HERE);
    return box;
}

// Links `fill` into every slot of a nested array (its prototype slot too).
void LinkIntoEverySlot(aplarray *array, aplarray *fill) {
    aplarray **slots = ItemsOf(array);
    for (int32_t i = 0; i < ItemSlots(array); ++i) slots[i] = APL_LinkEx(fill, HERE);
}

// A new temporary of the given shape whose elements are the fill of `like`:
// blanks or zeros for simple data, the typical prototype for nested data.
aplarray *FillArray(const aplarray *like, int rank, const int32_t *shape) {
    aplarray *result = NewArray(rank, like->eltype, shape);
    if (!result) return nullptr;
    if (!IsNested(result)) {
        memset(DataOf(result), like->eltype == APL_CHAR ? ' ' : 0,
               ElementSize(like->eltype) * static_cast<size_t>(result->number));
        return result;
    }
    TempGuard fill(prototype(like, kPrototypeTypical));
    if (!fill.get()) {
        APL_UnLinkTempEx(result, HERE);
        return nullptr;
    }
    LinkIntoEverySlot(result, fill.get());
    return result;
}

// Links the items copied into a fresh nested array; an empty one gets the
// prototype of the array it came from.
bool LinkCopiedItems(aplarray *array, const aplarray *from) {
    aplarray **slots = ItemsOf(array);
    if (array->number > 0) {
        for (int32_t i = 0; i < array->number; ++i) ++slots[i]->lnkcnt;
        return true;
    }
    aplarray *fill = prototype(from, kPrototypeTypical);
    if (!fill) return false;
    slots[0] = APL_LinkEx(fill, HERE);
    return true;
}

bool AreTrailingAxes(const int32_t *axes, int count, int rank) {
    for (int i = 0; i < count; ++i)
        if (axes[i] != rank - count + i) return false;
    return true;
}

// Each item enclosed on its own (an empty list of axes). Returns the simple
// argument itself or a new temporary.
aplarray *EncloseEach(aplarray *array) {
    if (!IsNested(array)) return array;
    aplarray *result = NewArray(array->rank, APL_NESTED, array->shape);
    if (!result) return nullptr;
    for (int32_t i = 0; i < ItemSlots(array); ++i) {
        aplarray *item = ItemsOf(array)[i];
        aplarray *box = item ? EncloseOne(item) : nullptr;
        if (item && !box) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        ItemsOf(result)[i] = box ? APL_LinkEx(box, HERE) : nullptr;
    }
    return result;
}

// Items that are whole trailing blocks of the data: one block copy each.
// BOOL blocks are whole rows of words.
aplarray *EncloseTrailing(aplarray *array, int count, aplarray *result) {
    const int lead = array->rank - count;
    const int32_t *itemShape = array->shape + lead;
    int64_t leading = 1;
    for (int i = 0; i < lead; ++i) leading *= array->shape[i];
    StrideClock clock;  // by elements copied: the items may be long, or many
    int64_t copied = 0;
    for (int64_t p = 0; p < (leading ? leading : 1); ++p) {
        aplarray *item = leading ? NewArray(count, array->eltype, itemShape) : FillArray(array, count, itemShape);
        if (!item) return nullptr;
        ItemsOf(result)[p] = APL_LinkEx(item, HERE);
        if (!leading) break;
        const size_t size = ElementSize(item->eltype);
        const int64_t n = item->number;
        const char *from = DataOf<const char>(array) + size * static_cast<size_t>(n * p);
        char *to = DataOf<char>(item);
        const bool copiedWhole = ForEachStride(n, [&](int64_t begin, int64_t end) {
            memcpy(to + size * static_cast<size_t>(begin), from + size * static_cast<size_t>(begin),
                   size * static_cast<size_t>(end - begin));
        });
        // Slots left unlinked by an interrupt are cleared: their items belong
        // to the argument.
        if (!copiedWhole && IsNested(item)) memset(DataOf(item), 0, size * static_cast<size_t>(n));
        if (!copiedWhole || (IsNested(item) && !LinkCopiedItems(item, array))) return nullptr;
        copied += n + 1;
        if (clock.passed(copied)) return nullptr;
    }
    return result;
}

// ---- Axis arguments ------------------------------------------------------------------

// The one value list of an axis: a simple scalar, or a nested scalar holding
// the list. AXIS for more than one element, RANK for a list of rank 2 or more.
const aplarray *AxisList(const aplarray *axis) {
    if (ElementCount(axis) != 1) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    if (!IsNested(axis)) return axis;
    const aplarray *list = ItemsOf(axis)[0];
    if (list->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (IsNested(list)) {
        SetError(APL_ERR_AXIS);
        return nullptr;
    }
    return list;
}

// The axes of enclose with axis, 0-based. False with the error set.
bool ReadEncloseAxes(const aplarray *axis, int rank, std::vector<int32_t> &axes) {
    const aplarray *list = AxisList(axis);
    if (!list) return false;
    std::vector<int64_t> values;
    if (!ReadIntegers(list, values)) {
        if (aplerrno == APL_ERR_DOMAIN) SetError(APL_ERR_AXIS);
        return false;
    }
    if (values.size() > static_cast<size_t>(rank)) {
        SetErrorText(APL_ERR_LENGTH, "In axis argument");
        return false;
    }
    const int64_t origin = IndexOrigin();
    bool seen[kMaxRank] = {false};
    for (int64_t v : values) {
        const int64_t k = v - origin;
        if (k < 0 || k >= rank) {
            SetError(APL_ERR_AXIS);
            return false;
        }
        if (seen[k]) {
            SetErrorText(APL_ERR_DOMAIN, "All values in axis argument must be different");
            return false;
        }
        seen[k] = true;
        axes.push_back(static_cast<int32_t>(k));
    }
    return true;
}

// ---- Partitioned enclose ------------------------------------------------------------

// Where the partitions are: each one is a run of positions, given by its
// first position and its length. Negative values count as 0: they belong to
// no partition and end the one before them.
struct Partitions {
    std::vector<int32_t> starts;
    std::vector<int32_t> lengths;
};

// False on interrupt.
bool FindPartitions(const std::vector<int64_t> &left, int32_t length, Partitions &parts) {
    // Room for the most there can be, so that growing never copies a long
    // vector between two looks at the flag (reserving touches no memory).
    parts.starts.reserve(static_cast<size_t>(length));
    parts.lengths.reserve(static_cast<size_t>(length));
    int64_t previous = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (InterruptAt(i)) return false;
        const int64_t value = left.size() == 1 ? left[0] : left[static_cast<size_t>(i)];
        const int64_t current = value > 0 ? value : 0;
        if (current > 0) {
            if (i == 0 || previous < current) {
                parts.starts.push_back(i);
                parts.lengths.push_back(0);
            }
            ++parts.lengths.back();
        }
        previous = current;
    }
    return true;
}

// The prototype slot of a partition with no partitions (or no cells): the
// first item of a nested argument enclosed, the typical fill of a simple one.
bool PartitionPrototype(aplarray *result, const aplarray *right) {
    aplarray *fill = IsNested(right) ? EncloseOne(ItemsOf(right)[0]) : prototype(right, kPrototypeTypical);
    if (!fill) return false;
    ItemsOf(result)[0] = APL_LinkEx(fill, HERE);
    return true;
}

// Returns a new temporary; borrows the arguments, links items of `right`.
aplarray *PartitionAlong(const std::vector<int64_t> &left, aplarray *right, int k) {
    const int32_t length = right->shape[k];
    Partitions parts;
    if (!FindPartitions(left, length, parts)) return nullptr;
    int32_t shape[kMaxRank];
    memcpy(shape, right->shape, 4 * static_cast<size_t>(right->rank));
    shape[k] = static_cast<int32_t>(parts.lengths.size());
    TempGuard result(NewArray(right->rank, APL_NESTED, shape));
    if (!result.get()) return nullptr;
    if (result.get()->number == 0) return PartitionPrototype(result.get(), right) ? result.release() : nullptr;
    int64_t outer = 1, inner = 1;
    for (int a = 0; a < k; ++a) outer *= right->shape[a];
    for (int a = k + 1; a < right->rank; ++a) inner *= right->shape[a];
    const size_t size = ElementSize(right->eltype);
    const char *data = DataOf<const char>(right);
    aplarray **slot = ItemsOf(result.get());
    StrideClock clock;  // by elements copied: one partition may be long
    int64_t copied = 0;
    for (int64_t o = 0; o < outer; ++o) {
        for (size_t j = 0; j < parts.lengths.size(); ++j) {
            for (int64_t in = 0; in < inner; ++in, ++slot) {
                const int32_t n = parts.lengths[j], start = parts.starts[j];
                TempGuard item(NewArray(1, right->eltype, &n));
                if (!item.get()) return nullptr;
                char *out = DataOf<char>(item.get());
                for (int32_t i = start; i < start + n; ++i) {
                    if (clock.passed(++copied)) return nullptr;
                    memcpy(out, data + size * static_cast<size_t>((o * length + i) * inner + in), size);
                    out += size;
                }
                if (IsNested(item.get())) {
                    for (int32_t i = 0; i < n; ++i) ++ItemsOf(item.get())[i]->lnkcnt;
                    // A piece of simple scalars is a simple vector.
                    item.reset(SimplifyArray(item.release()));
                }
                *slot = APL_LinkEx(item.release(), HERE);
                if (clock.passed(++copied)) return nullptr;
            }
        }
    }
    return result.release();
}

aplarray *Partition(CallArgs &args) {
    aplarray *right = args.right;
    if (args.left->rank >= 2) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (right->rank == 0) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    int k = right->rank - 1;
    if (args.axis) {
        const aplarray *list = AxisList(args.axis);
        if (!list) return nullptr;
        std::vector<int64_t> values;
        if (!ReadIntegers(list, values) || values.size() != 1) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        const int64_t axis = values[0] - IndexOrigin();
        if (axis < 0 || axis >= right->rank) {
            SetError(APL_ERR_AXIS);
            return nullptr;
        }
        k = static_cast<int>(axis);
    }
    std::vector<int64_t> left;
    if (!ReadIntegers(args.left, left)) return nullptr;
    // A scalar stands for every position; a vector must fit the axis.
    if (args.left->rank == 1 && static_cast<int64_t>(left.size()) != right->shape[k]) {
        SetError(APL_ERR_LENGTH);
        return nullptr;
    }
    return PartitionAlong(left, right, k);
}

// Returns the argument itself (a simple scalar), a new temporary, or null with
// the error set.
aplarray *EncloseKernel(CallArgs &args) {
    if (args.left) return Partition(args);
    if (!args.axis) return EncloseOne(args.right);
    std::vector<int32_t> axes;
    if (!ReadEncloseAxes(args.axis, args.right->rank, axes)) return nullptr;
    return EncloseAxes(args.right, axes.data(), static_cast<int>(axes.size()));
}

}  // namespace

bool ReadIntegers(const aplarray *array, std::vector<int64_t> &values) {
    if (IsNested(array) || array->eltype == APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return false;
    }
    const int64_t n = ElementCount(array);
    // Reserved rather than sized, so that the memory is touched only as the
    // values are read, between looks at the flag.
    values.clear();
    values.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        // Not at the first element: callers turn a failure on a short list
        // (an axis, a path) into an error of their own.
        if (i > 0 && InterruptAt(i)) return false;
        switch (array->eltype) {
            case APL_INTG: values.push_back(DataOf<const int32_t>(array)[i]); break;
            case APL_SHORT: values.push_back(DataOf<const int16_t>(array)[i]); break;
            case APL_BOOL: {
                const int64_t row = RowLength(array), words = (row + 31) / 32;
                const uint32_t word = DataOf<const uint32_t>(array)[(i / row) * words + (i % row) / 32];
                values.push_back((word >> ((i % row) % 32)) & 1u);
                break;
            }
            default: {
                const double x = DataOf<const double>(array)[i], nearest = std::nearbyint(x);
                if (!(std::fabs(nearest) <= 9007199254740992.0) ||
                    std::fabs(x - nearest) > 1e-10 * std::fmax(1.0, std::fabs(x))) {
                    SetError(APL_ERR_DOMAIN);
                    return false;
                }
                values.push_back(static_cast<int64_t>(nearest));
            }
        }
    }
    return true;
}

aplarray *TransposeBorrowed(aplarray *array, const std::vector<int32_t> &targets) {
    std::vector<int32_t> left(targets);
    for (int32_t &t : left) t += IndexOrigin();
    aplarray *order = MakeIntVector(left.data(), static_cast<int32_t>(left.size()));
    if (!order) return nullptr;
    // Held across the call, which would otherwise release a temporary.
    ++array->lnkcnt;
    aplarray *moved = APL_Transpose(nullptr, order, array);
    --array->lnkcnt;
    return moved;
}

aplarray *EncloseAxes(aplarray *array, const int32_t *axes, int count) {
    if (count == 0) return EncloseEach(array);
    if (!AreTrailingAxes(axes, count, array->rank)) {
        // Moved so that the enclosed axes come last, in the order given.
        std::vector<int32_t> targets(static_cast<size_t>(array->rank), -1);
        const int lead = array->rank - count;
        for (int i = 0; i < count; ++i) targets[static_cast<size_t>(axes[i])] = lead + i;
        int next = 0;
        for (int32_t &t : targets)
            if (t < 0) t = next++;
        TempGuard moved(TransposeBorrowed(array, targets));
        if (!moved.get()) return nullptr;
        int32_t trailing[kMaxRank];
        for (int i = 0; i < count; ++i) trailing[i] = lead + i;
        return EncloseAxes(moved.get(), trailing, count);
    }
    TempGuard result(NewArray(array->rank - count, APL_NESTED, array->shape));
    if (!result.get()) return nullptr;
    return EncloseTrailing(array, count, result.get()) ? result.release() : nullptr;
}

aplarray *SplitRows(aplarray *array) {
    if (!array) {
        SetError(APL_ERR_VALUE);
        return nullptr;
    }
    if (IsNested(array)) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    if (array->rank == 0) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    const int32_t last = array->rank - 1;
    return EncloseAxes(array, &last, 1);
}

// Returns a temporary (lnkcnt 0), or a simple scalar argument itself. Consumes
// temporary arguments; linked ones are left as they were (an enclosed array or
// item gains the link of its enclosure).
extern "C" aplarray *APL_Enclose(aplarray *axis, aplarray *left, aplarray *right) {
    // BOOL is outside the mask so that the wrapper widens it to INTG; SHORT stays.
    return StandardCall({Optional(kAnyType), Optional(kAnyType), Required(kAnyButBool)}, axis, left, right,
                        EncloseKernel);
}
