// discl: the primitive disclose (⊃): mix, mix with axis and pick, and the
// text-row mix that ⎕FX uses. Relies on the array core, the standard wrapper,
// prototype (rho), and ReadIntegers and TransposeBorrowed (enclose).
#include "apl.h"
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "structural/nested.h"
#include "structural/rho.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

aplarray *NewArray(int rank, int eltype, const int32_t *shape) {
    return AllocArray((eltype == APL_NESTED ? APL_NESTEDARRAY : APL_SIMPLE) | APL_TEMP, rank, eltype, shape, HERE);
}

// Copies n elements of `item` from `first` to `out`, converted to `eltype`
// (CHAR to CHAR, integers to INTG or REAL, REAL to REAL).
void CopyConverted(void *out, int eltype, const aplarray *item, int64_t first, int64_t n) {
    if (item->eltype == eltype && eltype != APL_NESTED) {
        const size_t size = ElementSize(eltype);
        memcpy(out, DataOf<const char>(item) + size * static_cast<size_t>(first), size * static_cast<size_t>(n));
    } else if (eltype == APL_REAL) {
        auto *to = static_cast<double *>(out);
        for (int64_t i = 0; i < n; ++i) to[i] = IntegerAt(item, first + i);
    } else {
        auto *to = static_cast<int32_t *>(out);
        for (int64_t i = 0; i < n; ++i) to[i] = IntegerAt(item, first + i);
    }
}

// Element i of a simple array as a new scalar (BOOL and SHORT become INTG).
aplarray *ScalarOf(const aplarray *item, int64_t i) {
    if (item->eltype == APL_BOOL || item->eltype == APL_SHORT) return MakeInt(IntegerAt(item, i));
    return ItemScalar(item, i);
}

// Links n elements of `item` from `first` into nested slots: the items of a
// nested item, new scalars for a simple one. False on WS FULL.
bool LinkElements(aplarray **slots, const aplarray *item, int64_t first, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        aplarray *element = IsNested(item) ? ItemsOf(item)[first + i] : ScalarOf(item, first + i);
        if (!element) return false;
        slots[i] = APL_LinkEx(element, HERE);
    }
    return true;
}

// What a mix builds: the rank and shape of its cells and the result type.
struct MixPlan {
    int itemRank = 0;
    int32_t itemShape[kMaxRank] = {0};
    int eltype = APL_INTG;
    int64_t cell = 1;  // elements of one cell
};

bool PlanMix(const aplarray *array, MixPlan &plan) {
    aplarray *const *items = ItemsOf(array);
    const int32_t slots = ItemSlots(array);
    for (int32_t i = 0; i < slots; ++i)
        if (items[i] && items[i]->rank > 0) {
            plan.itemRank = items[i]->rank;
            break;
        }
    int types = 0;
    for (int32_t i = 0; i < slots; ++i) {
        const aplarray *item = items[i];
        if (!item) continue;
        types |= TypeClass(item->eltype);
        if (item->rank == 0) continue;
        if (item->rank != plan.itemRank) {
            SetError(APL_ERR_RANK);
            return false;
        }
        for (int a = 0; a < plan.itemRank; ++a)
            if (item->shape[a] > plan.itemShape[a]) plan.itemShape[a] = item->shape[a];
    }
    plan.eltype = JoinedType(types);
    double total = 1.0;
    for (int a = 0; a < array->rank; ++a) total *= array->shape[a];
    for (int a = 0; a < plan.itemRank; ++a) {
        total *= plan.itemShape[a];
        plan.cell *= plan.itemShape[a];
    }
    if (array->rank + plan.itemRank > kMaxRank) {
        SetError(APL_ERR_RANK);
        return false;
    }
    if (total > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return false;
    }
    return true;
}

// Every item a scalar: the result has the shape of the argument.
aplarray *MixScalars(const aplarray *array, const MixPlan &plan) {
    TempGuard result(NewArray(array->rank, plan.eltype, array->shape));
    if (!result.get()) return nullptr;
    const int32_t slots = plan.eltype == APL_NESTED ? ItemSlots(result.get()) : result.get()->number;
    const size_t size = ElementSize(plan.eltype);
    for (int32_t i = 0; i < slots; ++i) {
        if (InterruptAt(i + 1)) return nullptr;
        const aplarray *item = ItemsOf(array)[i];
        if (plan.eltype != APL_NESTED) {
            CopyConverted(DataOf<char>(result.get()) + size * static_cast<size_t>(i), plan.eltype, item, 0, 1);
            continue;
        }
        // A nested scalar gives up its content; a simple scalar stands as itself.
        if (!item) continue;
        aplarray *value = IsNested(item) ? ItemsOf(item)[0] : const_cast<aplarray *>(item);
        ItemsOf(result.get())[i] = APL_LinkEx(value, HERE);
    }
    return result.release();
}

// Copies one item into its cell, row by row: a row of the item lands at the
// start of the matching row of the cell; a scalar lands in the first position.
// An item may be long: the interrupt flag is looked at by the elements placed
// (`done`, on `clock`). False on interrupt or WS FULL.
bool PlaceItem(char *cell, aplarray **cellSlots, const aplarray *item, const MixPlan &plan, StrideClock &clock,
               int64_t &done) {
    const size_t size = ElementSize(plan.eltype);
    if (item->rank == 0) {
        if (cellSlots) return LinkElements(cellSlots, item, 0, 1);
        CopyConverted(cell, plan.eltype, item, 0, 1);
        return true;
    }
    const int r = plan.itemRank;
    int64_t rows = 1;
    for (int a = 0; a + 1 < r; ++a) rows *= item->shape[a];
    const int64_t length = item->shape[r - 1];
    if (rows == 0 || length == 0) return true;
    int64_t cellStrides[kMaxRank];
    int64_t step = 1;
    for (int a = r - 1; a >= 0; --a) {
        cellStrides[a] = step;
        step *= plan.itemShape[a];
    }
    int32_t index[kMaxRank] = {0};
    int64_t at = 0;
    for (int64_t row = 0; row < rows; ++row) {
        for (int64_t p = 0; p < length; p += kInterruptStride) {
            const int64_t n = std::min(length - p, kInterruptStride);
            if (cellSlots) {
                if (!LinkElements(cellSlots + at + p, item, row * length + p, n)) return false;
            } else {
                CopyConverted(cell + size * static_cast<size_t>(at + p), plan.eltype, item, row * length + p, n);
            }
            done += n;
            if (clock.passed(done)) return false;
        }
        for (int a = r - 2; a >= 0; --a) {
            if (++index[a] < item->shape[a]) {
                at += cellStrides[a];
                break;
            }
            at -= cellStrides[a] * (item->shape[a] - 1);
            index[a] = 0;
        }
    }
    return true;
}

aplarray *MixCells(const aplarray *array, const MixPlan &plan) {
    int32_t shape[kMaxRank];
    memcpy(shape, array->shape, 4 * static_cast<size_t>(array->rank));
    memcpy(shape + array->rank, plan.itemShape, 4 * static_cast<size_t>(plan.itemRank));
    TempGuard result(NewArray(array->rank + plan.itemRank, plan.eltype, shape));
    if (!result.get()) return nullptr;
    const bool nested = plan.eltype == APL_NESTED;
    const aplarray *first = ItemsOf(array)[0];
    TempGuard fill(!nested ? nullptr : first ? prototype(first, kPrototypeTypical) : MakeInt(0));
    if (nested && !fill.get()) return nullptr;
    if (!nested) {
        char *data = DataOf<char>(result.get());
        const size_t size = ElementSize(plan.eltype);
        const int blank = plan.eltype == APL_CHAR ? ' ' : 0;
        if (!ForEachStride(result.get()->number, [=](int64_t begin, int64_t end) {
                memset(data + size * static_cast<size_t>(begin), blank, size * static_cast<size_t>(end - begin));
            }))
            return nullptr;
    }
    const int64_t cells = result.get()->number ? ElementCount(array) : 0;
    const size_t size = ElementSize(plan.eltype);
    StrideClock clock;
    int64_t done = 0;
    for (int64_t c = 0; c < cells; ++c) {
        char *cell = DataOf<char>(result.get()) + size * static_cast<size_t>(c * plan.cell);
        aplarray **cellSlots = nested ? ItemsOf(result.get()) + c * plan.cell : nullptr;
        ++done;  // an empty item still counts
        if (!PlaceItem(cell, cellSlots, ItemsOf(array)[c], plan, clock, done)) return nullptr;
    }
    if (nested) {
        aplarray **slots = ItemsOf(result.get());
        aplarray *padding = fill.get();
        if (!ForEachStride(ItemSlots(result.get()), [slots, padding](int64_t begin, int64_t end) {
                for (int64_t i = begin; i < end; ++i)
                    if (!slots[i]) slots[i] = APL_LinkEx(padding, HERE);
            }))
            return nullptr;
    }
    return result.release();
}

// ---- Mix with axis --------------------------------------------------------------

// The axis of mix with axis as the 0-based result positions of the item axes.
// INDEX for every fault.
bool ReadMixAxes(const aplarray *axis, int itemRank, int resultRank, std::vector<int32_t> &positions) {
    if (axis->rank > 1 || ElementCount(axis) != 1) return SetError(APL_ERR_INDEX), false;
    const aplarray *list = IsNested(axis) ? ItemsOf(axis)[0] : axis;
    std::vector<int64_t> values;
    if (IsNested(list) || list->rank > 1 || !ReadIntegers(list, values) ||
        static_cast<int64_t>(values.size()) != itemRank)
        return SetError(APL_ERR_INDEX), false;
    bool seen[kMaxRank] = {false};
    for (int64_t v : values) {
        const int64_t k = v - IndexOrigin();
        if (k < 0 || k >= resultRank || seen[k]) return SetError(APL_ERR_INDEX), false;
        seen[k] = true;
        positions.push_back(static_cast<int32_t>(k));
    }
    return true;
}

aplarray *MixWithAxis(aplarray *array, const aplarray *axis) {
    MixPlan plan;
    if (IsNested(array) && !PlanMix(array, plan)) return nullptr;
    const int resultRank = array->rank + plan.itemRank;
    std::vector<int32_t> positions;
    if (!ReadMixAxes(axis, plan.itemRank, resultRank, positions)) return nullptr;
    // Scalar items (or a simple argument) leave no axes to move.
    if (plan.itemRank == 0) return MixItems(array);
    TempGuard mixed(MixItems(array));
    if (!mixed.get()) return nullptr;
    // Listed positions take the item axes in order, the others the axes of the
    // argument in order.
    std::vector<int32_t> targets(static_cast<size_t>(resultRank), -1);
    bool listed[kMaxRank] = {false};
    for (int j = 0; j < plan.itemRank; ++j) {
        targets[static_cast<size_t>(array->rank + j)] = positions[static_cast<size_t>(j)];
        listed[positions[static_cast<size_t>(j)]] = true;
    }
    bool identity = true;
    for (int a = 0, p = 0; a < array->rank; ++a, ++p) {
        while (listed[p]) ++p;
        targets[static_cast<size_t>(a)] = p;
    }
    for (int a = 0; a < resultRank; ++a) identity = identity && targets[static_cast<size_t>(a)] == a;
    return identity ? mixed.release() : TransposeBorrowed(mixed.get(), targets);
}

// ---- Pick -------------------------------------------------------------------------

// One step of a path given as a simple vector: into item `index` of a vector.
// `current` becomes the item, or `scalar` the element made of a simple vector.
bool StepIntoVector(const aplarray *&current, aplarray *&scalar, int64_t index) {
    if (scalar) return SetError(APL_ERR_LENGTH), false;
    if (current->rank != 1) return SetError(APL_ERR_RANK), false;
    if (index < 0 || index >= current->shape[0]) return SetError(APL_ERR_INDEX), false;
    if (IsNested(current)) {
        current = ItemsOf(current)[index];
        return true;
    }
    scalar = ScalarOf(current, index);
    return scalar != nullptr;
}

// One step given as a nested item: its values index every axis.
bool StepIntoArray(const aplarray *&current, aplarray *&scalar, const aplarray *step) {
    if (scalar) return SetError(APL_ERR_LENGTH), false;
    std::vector<int64_t> values;
    if (IsNested(step) || step->rank > 1) return SetError(IsNested(step) ? APL_ERR_DOMAIN : APL_ERR_RANK), false;
    if (!ReadIntegers(step, values)) return false;
    if (current->rank == 0 || static_cast<int64_t>(values.size()) != current->rank)
        return SetError(APL_ERR_RANK), false;
    int64_t offset = 0;
    for (int a = 0; a < current->rank; ++a) {
        const int64_t k = values[static_cast<size_t>(a)] - IndexOrigin();
        if (k < 0 || k >= current->shape[a]) return SetError(APL_ERR_INDEX), false;
        offset = offset * current->shape[a] + k;
    }
    if (IsNested(current)) {
        current = ItemsOf(current)[offset];
        return true;
    }
    scalar = ScalarOf(current, offset);
    return scalar != nullptr;
}

// Returns the item reached, linked, or a new scalar.
aplarray *Pick(const aplarray *path, aplarray *right) {
    if (path->rank > 1) return SetError(APL_ERR_RANK), nullptr;
    const aplarray *current = right;
    aplarray *scalar = nullptr;
    const int64_t steps = ElementCount(path);
    bool ok = true;
    if (IsNested(path)) {
        for (int64_t s = 0; ok && s < steps; ++s) ok = StepIntoArray(current, scalar, ItemsOf(path)[s]);
    } else {
        std::vector<int64_t> values;
        ok = ReadIntegers(path, values);
        for (int64_t s = 0; ok && s < steps; ++s) ok = StepIntoVector(current, scalar, values[s] - IndexOrigin());
    }
    if (!ok) {
        APL_UnLinkTempEx(scalar, HERE);
        return nullptr;
    }
    if (scalar) return scalar;
    // The right argument itself goes back as it is; an item gains a link that
    // the wrapper gives up on the way out.
    return current == right ? right : APL_LinkEx(const_cast<aplarray *>(current), HERE);
}

aplarray *DiscloseKernel(CallArgs &args) {
    if (args.left) {
        if (args.axis) return SetError(APL_ERR_AXIS), nullptr;
        return Pick(args.left, args.right);
    }
    return args.axis ? MixWithAxis(args.right, args.axis) : MixItems(args.right);
}

}  // namespace

aplarray *MixItems(aplarray *array) {
    if (!IsNested(array)) return array;
    MixPlan plan;
    if (!PlanMix(array, plan)) return nullptr;
    return plan.itemRank == 0 ? MixScalars(array, plan) : MixCells(array, plan);
}

aplarray *MixTextRows(aplarray *vector) {
    if (!vector) return SetError(APL_ERR_VALUE), nullptr;
    if (vector->rank > 1) return SetError(APL_ERR_RANK), nullptr;
    // Every row as a CHAR vector: the argument itself when it is simple.
    const int32_t count = !IsNested(vector) || vector->rank == 0 ? 1 : vector->shape[0];
    TempGuard rows(NewArray(1, APL_NESTED, &count));
    if (!rows.get()) return nullptr;
    for (int32_t i = 0; i < ItemSlots(rows.get()); ++i) {
        const aplarray *item = count == 0 ? nullptr : IsNested(vector) ? ItemsOf(vector)[i] : vector;
        if (item && item->rank > 1) return SetError(APL_ERR_RANK), nullptr;
        const bool text = item && item->eltype == APL_CHAR;
        if (item && !text && (IsNested(item) || ElementCount(item) != 0)) return SetError(APL_ERR_DOMAIN), nullptr;
        const int32_t n = text ? static_cast<int32_t>(ElementCount(item)) : 0;
        aplarray *row = text && item->rank == 1 ? const_cast<aplarray *>(item) : NewArray(1, APL_CHAR, &n);
        if (!row) return nullptr;
        if (row != item && n) memcpy(DataOf(row), DataOf(item), 1);
        ItemsOf(rows.get())[i] = APL_LinkEx(row, HERE);
    }
    return MixItems(rows.get());
}

// Returns a temporary (lnkcnt 0), an item of the right argument, or the
// simple right argument itself. Consumes temporary arguments; linked ones are
// left as they were (items placed in the result gain links).
extern "C" aplarray *APL_Disclose(aplarray *axis, aplarray *left, aplarray *right) {
    return StandardCall({Optional(kAnyType), Optional(kAnyType), Required(kAnyType)}, axis, left, right,
                        DiscloseKernel);
}
