// cells: what the structural primitives (catenate, take, replicate, rotate,
// transpose) share: new results, the outer/axis/inner split of an array along
// an axis, runs of elements copied with their items linked, the stretch along
// one axis (shared with the scalar functions' axis form), fill elements, and
// the reading of axes and integer arguments. Relies on the array core only.
#pragma once

#include "apl.h"
#include "core/arrays.h"
#include "core/errors.h"

#include <cstdint>
#include <cstring>

// The element types the structural primitives work on; BOOL and SHORT
// arguments are widened to INTG on the way in.
constexpr int kStructuralTypes = APL_CHAR | APL_INTG | APL_REAL | APL_NESTED;

// Item slot i of a nested record; a static record is only 4-byte aligned.
inline aplarray *SlotAt(const aplarray *array, int64_t i) {
    aplarray *item;
    memcpy(&item, DataOf<const char>(array) + i * static_cast<int64_t>(sizeof item), sizeof item);
    return item;
}

// A new temporary of the given shape and element type (simple or nested
// flags from the type); null with WS FULL or DOMAIN (count overflow).
aplarray *NewResult(int rank, int eltype, const int32_t *shape);

// An array seen along axis k: `outer` cells of `length` sub-cells of `inner`
// elements each. A scalar is one cell of length 1.
struct AxisSplit {
    int64_t outer = 1;
    int64_t length = 1;
    int64_t inner = 1;
};
AxisSplit SplitAlong(const aplarray *array, int k);

// Copies `count` elements from element `from` of `source` to element `to` of
// `target` (both of one type, not BOOL); nested items are linked by the target.
// The interrupt flag is looked at before each piece of kInterruptStride
// elements: false with INTERRUPT ERROR, the pieces before it copied (a nested
// target's slots past them still empty, so that it can be released as it is).
[[nodiscard]] bool CopyRun(aplarray *target, int64_t to, const aplarray *source, int64_t from, int64_t count);

// Links every one of `count` item slots from `first` on, which were filled by
// a raw copy of pointers. A static item becomes a managed copy in its slot.
// Looks at the interrupt flag once a stride: false with INTERRUPT ERROR, the
// slots not yet linked cleared (their items belong to someone else).
[[nodiscard]] bool LinkSlots(aplarray **first, int64_t count);

// Copies `bytes` from `source` to `to` in pieces of kInterruptStride elements
// of `size` bytes, counting them in `done` and looking at the flag by that
// count: false on interrupt (the pieces before it copied).
[[nodiscard]] bool CopyInPieces(char *to, const char *source, size_t bytes, size_t size, StrideClock &clock,
                                int64_t &done);

// Every element repeated `count` times along `axis` (0-based), as replicate
// with a one-element count does: the axis length is multiplied by count.
// Any element type; nested items are linked once per copy. Borrows the array;
// returns a temporary or null with aplerrno set (DOMAIN when the result would
// hold more than 2^31-1 elements, WS FULL).
aplarray *StretchAxis(const aplarray *array, int axis, int32_t count);

// Writes the fill element `fill` (a scalar, as prototype gives it) into
// `count` elements from element `to` of `target`: its value for simple data
// (converted between INTG and REAL, a blank or zero when the kinds differ), a
// link to `fill` itself in every slot of nested data. Interrupted as CopyRun.
[[nodiscard]] bool StoreFill(aplarray *target, int64_t to, int64_t count, aplarray *fill);

// The integers of a simple numeric array (REAL values within 1e-13 of an
// integer), whatever its type; the block is freed on destruction.
class IntegerArgument {
public:
    // DOMAIN (and ok() false) for non-integers, CHAR or nested data.
    explicit IntegerArgument(const aplarray *array);
    IntegerArgument(const IntegerArgument &) = delete;
    IntegerArgument &operator=(const IntegerArgument &) = delete;
    ~IntegerArgument();
    bool ok() const { return ok_; }
    int64_t size() const { return count_; }
    const int32_t *data() const { return values_; }
    int32_t operator[](int64_t i) const { return values_[i]; }

private:
    int32_t *values_ = nullptr;
    int32_t *owned_ = nullptr;
    int64_t count_ = 0;
    bool ok_ = false;
};

// An axis argument as written: a simple array, or a nested scalar whose item
// holds the values.
struct AxisArgument {
    const aplarray *values = nullptr;  // the simple array holding the values
    bool nested = false;               // came as the item of a nested scalar
    bool numeric = false;              // INTG, REAL, BOOL or SHORT values
    bool integral = false;             // numeric and every value a near-integer
    int64_t count = 0;                 // number of values
    double first = 0;                  // the first value, when count > 0
};
// False (nothing set) when the nested form is not a scalar of one simple item;
// callers decide which error that is.
bool ReadAxisArgument(const aplarray *axis, AxisArgument &out);
// The integer nearest x, clamped far outside any axis or length (no overflow).
int64_t NearInteger(double x);
// Element i of a simple numeric array as a double.
double NumberAt(const aplarray *array, int64_t i);
// The one axis a function works along (0-based): the last (or, for the
// first-axis forms, the first) when none is written. AXIS for anything but one
// integer naming an axis; VALUE when the first axis is wanted and IO has no
// value. With scalarAxis a scalar counts as a vector of one, so axis 0 names it.
bool OneAxisAlong(const aplarray *axis, const aplarray *right, bool firstAxis, bool scalarAxis, int &k);
