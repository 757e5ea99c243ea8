// execfn: running user-defined functions: the line-control protocol shared
// with compiled code (line frames, branches, control values), the state
// indicator and the call of a defined function or operator.
// Relies on the line evaluator, the symbol table and the fixed function records.
#include "interpreter/execfn.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/cover.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "core/wrapper.h"
#include "interpreter/execline.h"
#include "interpreter/fixing.h"
#include "interpreter/lineplan.h"
#include "interpreter/mainloop.h"
#include "interpreter/tokfile.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

StateIndicator stateIndicator;

namespace {

aplarray *pendingControl = nullptr;  // linked
LineFrame sessionFrame{1, 1, 1, 1, 0, 0, 0, &sessionFrame, 0};

// The flag byte of a line, read from the line-flags vector: an array image
// (a static CHAR vector in a function's pool, or a constant image of compiled
// code) whose element 0 belongs to the header. Lines it does not reach have 0.
uint8_t LineFlag(const uint8_t *image, int32_t line) {
    if (!image || line < 0) return 0;
    int32_t number;
    memcpy(&number, image + 12, 4);
    if (line >= number) return 0;
    return image[16 + 4 * image[5] + line];
}

// Scans forward from `from` for the line that closes the block opened just
// before it; 0 when none does.
int32_t ClosingLine(const uint8_t *flags, int32_t from, int32_t last) {
    int level = 1;
    for (int32_t line = from; line <= last; ++line) {
        if (LineFlag(flags, line) & kLineOpensBlock) ++level;
        if (LineFlag(flags, line) & kLineClosesBlock) --level;
        if (level == 0) return line;
    }
    return 0;
}

LineFrame *PushEntry(LineFrame *parent, int32_t kind, int32_t first, int32_t last, int32_t count) {
    LineFrame *entry = parent + 1;
    *entry = LineFrame{kind, first, last, count, 0, first, 0, parent->base, parent->depth + 1};
    return entry;
}

// Turns the pending control value into entries for the block that starts at
// the current line; returns the innermost, or null with the error set.
LineFrame *EnterBlock(LineFrame *entry, const uint8_t *flags, aplarray *control) {
    const int32_t start = entry->line;
    const int32_t close = flags ? ClosingLine(flags, start, entry->last) : 0;
    if (!close) {
        SetErrorText(APL_ERR_SYNTAX, "Can't find end of control.");
        return nullptr;
    }
    const int64_t n = ElementCount(control);
    const int32_t *counts = DataOf<int32_t>(control);
    // Room: the frame has one entry per body line, and each entry covers a line.
    if (entry->depth + 1 + n >= entry->base->last + 1) {
        SetError(APL_ERR_LIMIT);
        return nullptr;
    }
    if (n == 1) return PushEntry(entry, counts[0] < 0 ? 2 : 1, start, close, std::abs(counts[0]));
    bool negative = false;
    for (int64_t i = 0; i < n; ++i) negative = negative || counts[i] < 0;
    LineFrame *block = PushEntry(entry, negative ? 2 : 1, start, close, 0);
    // Sections, found from the end: each starts at a separator line at the
    // block's own level.
    int64_t element = n - 1;
    int32_t sectionEnd = close - 1;
    int level = 0;
    LineFrame *top = block;
    for (int32_t line = close - 1; line >= start; --line) {
        const uint8_t flag = LineFlag(flags, line);
        if (flag & kLineClosesBlock) ++level;
        if ((flag & kLineOpensBlock) && level > 0) --level;
        if (level != 0 || !(flag & kLineSeparator)) continue;
        if (element < 0) {
            SetErrorText(APL_ERR_LENGTH, "Too many alternatives!");
            return nullptr;
        }
        top = PushEntry(top, 1, line, sectionEnd, std::abs(counts[element]));
        sectionEnd = line - 1;
        --element;
    }
    if (element >= 0) {
        SetErrorText(APL_ERR_LENGTH, "Not enough alternatives available!");
        return nullptr;
    }
    return top;
}

}  // namespace

bool PushState(const StateEntry &entry) {
    if (stateIndicator.count >= kMaxStateIndicator) {
        SetError(APL_ERR_LIMIT);
        return false;
    }
    stateIndicator.entries[stateIndicator.count++] = entry;
    return true;
}

void PopState() {
    if (stateIndicator.count > 0) --stateIndicator.count;
}

int SuspendedCount() {
    int n = 0;
    for (int i = 0; i < stateIndicator.count; ++i) n += stateIndicator.entries[i].suspended ? 1 : 0;
    return n;
}

LineFrame *SessionFrame() { return &sessionFrame; }

void ClearPendingControl() {
    APL_UnLinkEx(pendingControl, HERE);
    pendingControl = nullptr;
}

namespace {

// Line frames are the interpreter's own memory, not workspace blocks, and
// are kept for reuse: every call of a defined function makes one, and a loop
// of calls would otherwise allocate and free one on every turn. Each block
// has one entry more in front, whose count holds the entries the block has.
constexpr int kSpareFrames = 8;
LineFrame *spareFrames[kSpareFrames];
int spareFrameCount = 0;

LineFrame *TakeFrames(int32_t entries) {
    for (int i = spareFrameCount; i-- > 0;) {
        LineFrame *block = spareFrames[i];
        if (block->count < entries) continue;
        spareFrames[i] = spareFrames[--spareFrameCount];
        return block + 1;
    }
    auto *block = static_cast<LineFrame *>(malloc(sizeof(LineFrame) * static_cast<size_t>(entries + 1)));
    if (!block) return nullptr;
    block->count = entries;
    return block + 1;
}

void GiveFrames(LineFrame *frames) {
    LineFrame *block = frames - 1;
    if (spareFrameCount < kSpareFrames)
        spareFrames[spareFrameCount++] = block;
    else
        free(block);
}

}  // namespace

extern "C" void *APL_InitLines(void **oldOut, int32_t lineCount, ...) {
    if (oldOut) *oldOut = currentFrame;
    const int32_t entries = lineCount > 0 ? lineCount : 1;
    LineFrame *frame = TakeFrames(entries + 1);
    if (!frame) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    frame[0] = LineFrame{1, 1, lineCount, 1, 0, 0, 0, frame, 0};
    currentFrame = frame;
    return frame;
}

namespace {

// Everything but the plain next line of a block: a control value to enter, a
// branch, a block repeated or left. `entry` is the current frame entry, its
// line already advanced.
__attribute__((noinline)) int32_t FollowLines(LineFrame *entry, const uint8_t *lineFlags) {
    if (pendingControl) {
        aplarray *control = pendingControl;
        pendingControl = nullptr;
        entry = EnterBlock(entry, lineFlags, control);
        APL_UnLinkEx(control, HERE);
        if (!entry) return 0;
    }
    for (;;) {
        if (entry->count == 0 && entry->line <= entry->last) entry->line = entry->last + 1;
        const int32_t line = entry->line;
        if (entry->jumped) {
            if (line >= entry->first && line <= entry->last) break;
            if (entry->depth == 0) return 0;
            LineFrame *parent = entry - 1;
            parent->line = line;
            parent->jumped = 1;
            entry = parent;
            continue;
        }
        if (line <= entry->last && line >= entry->first) break;
        if (++entry->done < entry->count) {
            entry->line = entry->first;
            break;
        }
        if (entry->depth == 0) return 0;
        LineFrame *parent = entry - 1;
        parent->line = entry->kind == 2 ? entry->first - 1 : entry->line;
        entry = parent;
    }
    entry->jumped = 0;
    currentFrame = entry;
    return entry->line;
}

// lineFlags is the function's line-flags vector as an array image (what
// compiled code passes as its last constant), not bare bytes.
inline int32_t NextLine(const uint8_t *lineFlags) {
    LineFrame *entry = currentFrame;
    if (!entry || entry == &sessionFrame) return 0;
    const int32_t line = ++entry->line;
    if (aplerrno) return 0;
    // The line after the last one, in the same block: what nearly every line does.
    if (!pendingControl && !entry->jumped && entry->count != 0 && line >= entry->first && line <= entry->last)
        return line;
    return FollowLines(entry, lineFlags);
}

}  // namespace

extern "C" int32_t APL_NextLine(const uint8_t *lineFlags) { return NextLine(lineFlags); }

extern "C" void APL_ResumeLines(void *old) {
    if (!old && !currentFrame) return;
    if (currentFrame && currentFrame != &sessionFrame) GiveFrames(currentFrame->base);
    currentFrame = static_cast<LineFrame *>(old);
}

void BranchTo(int32_t line) {
    LineFrame *frame = currentFrame ? currentFrame : &sessionFrame;
    frame->line = line - 1;
    frame->jumped = 1;
}

// The branch arrow: the next line is the first element of the argument.
extern "C" aplarray *APL_Jump(aplarray *axis, aplarray *left, aplarray *right) {
    // A managed INTG target of one axis at most, as compiled branches make it,
    // needs no conversion and no link: the branch is taken at once.
    if (!aplerrno && !axis && !left && right && !IsUnaligned(right) && right->eltype == APL_INTG && right->rank <= 1 &&
        !(right->type & (APL_STATIC | APL_INDEXPOS))) {
        if (right->rank == 0 || right->shape[0] > 0) BranchTo(DataOf<int32_t>(right)[0]);
        if (right->lnkcnt == 0) APL_UnLinkTempEx(right, HERE);
        return nullptr;
    }
    return StandardCall({kRefused, kRefused, Required(APL_INTG)}, axis, left, right, [](CallArgs &args) -> aplarray * {
        aplarray *target = args.right;
        if (target->rank > 1) {
            SetError(APL_ERR_RANK);
            return nullptr;
        }
        if (ElementCount(target) > 0) BranchTo(DataOf<int32_t>(target)[0]);
        return nullptr;
    });
}

// The control symbol: with an argument it sets the control value that the next
// line takes; alone at the end of a line it closes a block and does nothing.
extern "C" aplarray *APL_Control(aplarray *axis, aplarray *left, aplarray *right) {
    if (!currentFrame || currentFrame == &sessionFrame) {
        APL_UnLinkTempEx(axis, HERE);
        APL_UnLinkTempEx(left, HERE);
        APL_UnLinkTempEx(right, HERE);
        if (!aplerrno) SetErrorText(APL_ERR_SYNTAX, "Single-line controls not implemented yet!");
        return nullptr;
    }
    return StandardCall({kRefused, kRefused, Optional(APL_INTG)}, axis, left, right, [](CallArgs &args) -> aplarray * {
        if (!args.right) return nullptr;
        ClearPendingControl();
        pendingControl = APL_LinkEx(args.right, HERE);
        return nullptr;
    });
}

// ---- Running a defined function or operator ------------------------------------------

namespace {

constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;

// Takes the host's Ctrl-C, if there is one, as INTERRUPT ERROR; true then.
bool TakeInterrupt() {
    if (!APL_interrupted) return false;
    APL_interrupted = 0;
    SetError(APL_ERR_INTERRUPT);
    return true;
}

// Releases the temporaries of a call that ends before it starts; the same
// temporary may stand in two places.
aplarray *Refuse(int32_t code, aplarray *axis, aplarray *left, aplarray *right) {
    if (!aplerrno) SetError(code);
    APL_UnLinkTempEx(axis, HERE);
    if (left != axis) APL_UnLinkTempEx(left, HERE);
    if (right != axis && right != left) APL_UnLinkTempEx(right, HERE);
    return nullptr;
}

// A function can be suspended only where a session can read what to do next:
// a compiled program, or a host that reads no lines, gets the error back, and
// so does an expression whose errors EA takes over.
bool CanSuspend() {
    return !session.programMode && session.trapDepth == 0 && CallbackFunction(kSlotReadLine) != nullptr;
}

// The names that running calls have localised, in the order of localisation,
// with the entries they had; they come back in the reverse order, so that a
// name localised twice (a result that is also an argument) ends with its
// outer entry. With them, the calls themselves: the fixed record each holds
// and the line frame that was current when it began. Both live here, not in
// the calls' C++ frames, so that the session can put them back itself when a
// caught processor fault skips those frames.
struct Localised {
    uint16_t symbol;
    bool label;
    aplsymbol saved;
};

struct CallShape;
struct RunningCall {
    aplarray *record;  // linked
    LineFrame *frameBefore;
    CallShape *shape;  // what the call reads of the record
    bool ownsShape;    // made for this call alone, deleted when it ends
};

// A stack of plain records that keeps its room: a call reserves what it
// needs once and fills it without further checks.
template <class T>
class CallStack {
public:
    CallStack() = default;
    CallStack(const CallStack &) = delete;
    CallStack &operator=(const CallStack &) = delete;
    ~CallStack() { free(data_); }

    size_t size() const { return count_; }
    T &back() { return data_[count_ - 1]; }
    void pop_back() { --count_; }
    // Room for `more` entries past the top; false when memory runs out.
    bool Reserve(size_t more) { return count_ + more <= capacity_ || Grow(count_ + more); }
    // The next entry, within the room reserved.
    T &Add() { return data_[count_++]; }

private:
    bool Grow(size_t needed) {
        size_t capacity = capacity_ ? capacity_ * 2 : 64;
        while (capacity < needed) capacity *= 2;
        void *data = realloc(data_, capacity * sizeof(T));
        if (!data) return false;
        data_ = static_cast<T *>(data);
        capacity_ = capacity;
        return true;
    }
    T *data_ = nullptr;
    size_t count_ = 0, capacity_ = 0;
};

CallStack<Localised> localised;
CallStack<RunningCall> runningCalls;

// Lets go of a link held here: a block that keeps another link is only
// counted off; the last link (or a traced one) takes the unlink.
void Unlink(aplarray *array) {
    if (array && !IsStatic(array) && array->lnkcnt >= 2 && !TracingArrays())
        --array->lnkcnt;
    else
        APL_UnLinkEx(array, HERE);
}

// A link taken as APL_LinkEx takes it (a static record becomes a linked
// copy, a traced session sees the link); a managed record only counts it.
aplarray *Link(aplarray *array) {
    if (!array || IsStatic(array) || TracingArrays()) return APL_LinkEx(array, HERE);
    ++array->lnkcnt;
    return array;
}

// The names come back as KAZ_ResumeVar and KAZ_ResumeLabel put them back: a
// variable's own value and a label's managed copy are let go, and only an
// entry still of the name (not one of a table made since) is written.
void RestoreLocalisedNames(size_t count) {
    while (localised.size() > count) {
        const Localised &name = localised.back();
        if (IsSymbol(name.symbol) && name.saved.name == Symbol(name.symbol).name) {
            aplsymbol &entry = Symbol(name.symbol);
            auto *value = static_cast<aplarray *>(entry.value);
            if (name.label ? value && !IsStatic(value) : OwnsArray(entry)) Unlink(value);
            entry = name.saved;
        }
        localised.pop_back();
    }
}

// ---- What a call reads of a function record -------------------------------------------

// Where the header's names stand in the names area: result, left argument,
// left operand, right operand, right argument (-1 for a name the header lacks).
struct HeaderPlaces {
    int64_t result = -1, left = -1, leftOperand = -1, rightOperand = -1, right = -1;
};

bool ReadHeaderPlaces(const FixedView &view, int kind, HeaderPlaces &h) {
    int64_t next = 0;
    if (view.flags & kRecordResult) h.result = next++;
    if (view.flags & kRecordLeft) h.left = next++;
    if (kind & (APL_KIND_MONOP | APL_KIND_DYOP)) h.leftOperand = next++;
    if (kind & APL_KIND_DYOP) h.rightOperand = next++;
    const bool niladic = (kind & (APL_KIND_FUNCTION | APL_KIND_LABELBIT)) == (APL_KIND_FUNCTION | APL_KIND_LABELBIT);
    if (!niladic) h.right = next++;
    if (next != view.HeaderNames()) {
        SetErrorText(APL_ERR_SYSTEM, "Damaged function record");
        return false;
    }
    return true;
}

// What a name of the names area becomes in a call.
enum class Role : uint8_t { Local, Left, Right, LeftOperand, RightOperand, Label };

struct ShapeName {
    uint16_t symbol;
    Role role;
    aplarray *label;  // a label's value: the static INTG scalar in the record's pool
};

// A function record as a call reads it, worked out once: every name of the
// names area in header order with the part it plays, and where each line
// stands. Calls in a loop or a recursion then localise from a short list and
// run each line without finding it again.
struct CallShape {
    const aplarray *record = nullptr;  // null: the slot describes nothing yet
    int32_t serial = 0;                // the record's block, since a later record may take a freed address
    int kind = 0;                      // the function kind it was read for
    int running = 0;                   // calls that read it: the slot is not refilled under them
    uint32_t used = 0;                 // when it was last found or filled
    FixedView view;
    int64_t result = -1;  // the result's place among the names, -1 for none
    bool left = false, right = false;
    uint16_t highest = 0;  // the highest symbol index of the names
    std::vector<ShapeName> names;
    std::vector<StoredLine> lines;    // line n at n - 1
    std::vector<LinePlanHint> plans;  // where line n's compiled plan was found last
};

bool FillShape(CallShape &shape, const aplarray *record, int kind) {
    FixedView view;
    HeaderPlaces places;
    if (!ReadFixedRecord(record, view) || !ReadHeaderPlaces(view, kind, places)) return false;
    shape.view = view;
    shape.kind = kind;
    shape.result = places.result;
    shape.left = places.left >= 0;
    shape.right = places.right >= 0;
    shape.highest = 0;
    shape.names.clear();
    // Labels stand in reverse line order; their values open the pool.
    const uint32_t firstLabel = view.names - view.labels;
    for (uint32_t i = 0; i < view.names; ++i) {
        ShapeName name{view.Name(i), Role::Local, nullptr};
        if (i >= firstLabel) {
            name.role = Role::Label;
            name.label = view.LabelValue(view.names - 1 - i);
        } else if (i == places.left) {
            name.role = Role::Left;
        } else if (i == places.right) {
            name.role = Role::Right;
        } else if (i == places.leftOperand) {
            name.role = Role::LeftOperand;
        } else if (i == places.rightOperand) {
            name.role = Role::RightOperand;
        }
        if (name.symbol > shape.highest) shape.highest = name.symbol;
        shape.names.push_back(name);
    }
    shape.lines.clear();
    for (uint32_t n = 1; n <= view.lines; ++n) shape.lines.push_back(view.Line(n));
    shape.plans.assign(view.lines, LinePlanHint{});
    return true;
}

// The shapes of the records called last, found by address among a few
// slots: a caller and the function it calls in a loop keep a slot each even
// when their records fall on the same place.
constexpr int kShapesRemembered = 32;
constexpr int kShapeWays = 4;
CallShape shapes[kShapesRemembered];
uint32_t shapeClock = 0;  // when a slot was last used, for the choice of the one to refill

// The shape of the record, from the slot that remembers it or read now; null
// with SYSTEM set when the record does not hold up. A slot under a running
// call is not refilled; the least recently used of the others is. When all
// are running, the shape is made for this call alone (`owned`).
CallShape *ShapeOf(const aplarray *record, int kind, bool &owned) {
    owned = false;
    const memblock *header = record ? BlockHeader(record) : nullptr;
    const size_t first = (reinterpret_cast<uintptr_t>(record) >> 4) % kShapesRemembered;
    CallShape *shape = nullptr;
    if (header) {
        for (size_t way = 0; way < kShapeWays; ++way) {
            CallShape &slot = shapes[(first + way) % kShapesRemembered];
            if (slot.record == record && slot.serial == header->serial && slot.kind == kind) {
                slot.used = ++shapeClock;
                return &slot;
            }
            if (slot.running == 0 && (!shape || slot.used < shape->used)) shape = &slot;
        }
    }
    if (!shape) {
        shape = new CallShape;
        owned = true;
    }
    if (!FillShape(*shape, record, kind)) {
        if (owned)
            delete shape;
        else
            shape->record = nullptr;
        return nullptr;
    }
    if (!owned) {
        shape->record = record;
        shape->serial = header->serial;
        shape->used = ++shapeClock;
    }
    return shape;
}

// Ends the calls above `count`, innermost first: the line frame each made is
// freed and the record it held let go.
void EndRunningCalls(size_t count) {
    while (runningCalls.size() > count) {
        const RunningCall call = runningCalls.back();
        runningCalls.pop_back();
        if (currentFrame && currentFrame != call.frameBefore && currentFrame != &sessionFrame)
            GiveFrames(currentFrame->base);
        currentFrame = call.frameBefore;
        if (call.ownsShape)
            delete call.shape;
        else
            --call.shape->running;
        Unlink(call.record);
    }
}

// Localises every name of the names area, in header order; the arguments,
// operands and labels take their values as they go (as KAZ_InitVar,
// KAZ_InitArg and KAZ_InitLabel give them). The room is reserved.
void LocaliseNames(const CallShape &shape, aplop *op, aplarray *left, aplarray *right) {
    constexpr int kSystemVariable = APL_KIND_SYSTEM | APL_KIND_VARIABLE;
    for (const ShapeName &name : shape.names) {
        aplsymbol &entry = Symbol(name.symbol);
        Localised &saved = localised.Add();
        saved.symbol = name.symbol;
        saved.label = name.role == Role::Label;
        saved.saved = entry;
        entry.kindHigh = 0;
        aplarray *value = nullptr;
        switch (name.role) {
            case Role::Local:
                // A local system variable starts with the global value.
                if ((entry.kind & kSystemVariable) == kSystemVariable && entry.value) {
                    entry.value = Link(static_cast<aplarray *>(entry.value));
                    entry.kind = kSystemVariable;
                } else {
                    entry.value = nullptr;
                    entry.kind = APL_KIND_VARIABLE;
                }
                continue;
            case Role::Label:
                // A label's value is used where it lies in the record; one
                // that could not be read there is held as a linked copy.
                value = name.label;
                entry.value = !value || (IsStatic(value) && !IsUnaligned(value)) ? value : Link(value);
                entry.kind = APL_KIND_VARIABLE | APL_KIND_LABELBIT;
                continue;
            case Role::Left: value = left; break;
            case Role::Right: value = right; break;
            case Role::LeftOperand:
            case Role::RightOperand: {
                // A function operand: the name stands for its descriptor.
                aplfnc &operand = name.role == Role::LeftOperand ? op->left : op->right;
                if (!(operand.flags & kItemArray)) {
                    entry.value = &operand;
                    entry.kind = APL_KIND_OPERAND;
                    continue;
                }
                value = static_cast<aplarray *>(operand.function);
                break;
            }
        }
        entry.value = Link(value);
        entry.kind = APL_KIND_VARIABLE;
    }
}

// The value of the result name, taken from it (its link now the caller's), or
// null when the name holds no value.
aplarray *TakeResult(uint16_t symbol) {
    aplsymbol &entry = Symbol(symbol);
    constexpr int kNotPlain = APL_KIND_LABELBIT | APL_KIND_OPERAND | kFunctionKinds;
    if (!(entry.kind & APL_KIND_VARIABLE) || (entry.kind & kNotPlain) || !entry.value) return nullptr;
    auto *value = static_cast<aplarray *>(entry.value);
    entry.value = nullptr;
    return value;
}

// Reports the error of a line and runs a nested session until a branch
// resumes the function (true) or an unwind request ends it (false, 1111 set).
// False with the error kept when the function cannot be suspended.
bool Suspend(uint16_t symbol, int32_t lineNumber, const StoredLine &line, const PoolView &pool) {
    if (!CanSuspend()) return false;
    PrintError(aplerrno);
    aplerrno = 0;
    ShowFailedTexts();
    WriteLinef("%s[%d]", SymbolName(symbol), static_cast<int>(lineNumber));
    errorPositions.tokenizer = nullptr;
    if (aplarray *text = LineToText(line, pool, false)) {
        ShowCodes(DataOf<const uint8_t>(text), text->number);
        APL_UnLinkTempEx(text, HERE);
    }
    FlushOutput();
    aplerrno = 0;
    if (!PushState({errorPositions.evaluator, symbol, lineNumber, true})) return false;
    // The nested session starts its own evaluations; the suspended line's
    // evaluation goes on from where it is once the session returns.
    // A control value of the failed line, or one typed in the session, is
    // not for the line the function resumes at.
    const EvaluatorState evaluation = evaluator;
    if (currentFrame) currentFrame->jumped = 0;
    ClearPendingControl();
    APL_MainLoop();
    ClearPendingControl();
    evaluator = evaluation;
    stateIndicator.executing = symbol;
    PopState();
    if (aplerrno == kUnwindRequest) return false;
    aplerrno = 0;
    return true;
}

}  // namespace

// Writes a line of codes, in keywords when keyword mode is on.
void ShowCodes(const uint8_t *text, int32_t length) {
    std::string line;
    if ((sessionMode & kModeKeywords) && InstalledKeywordLexer()) {
        TokenBuffer out;
        out.forward = true;
        if (CodesToKeywords(text, length, InstalledKeywordLexer(), out))
            line.assign(reinterpret_cast<const char *>(BufferData(out)), static_cast<size_t>(BufferLength(out)));
        ResetTokenBuffer(out);
    } else {
        line.assign(reinterpret_cast<const char *>(text), static_cast<size_t>(length));
    }
    // Control codes in a string would act on the terminal: they show as "."
    // as in displayed values. The caret marks stay for the host.
    for (char &c : line)
        if (static_cast<uint8_t>(c) < 32 && static_cast<uint8_t>(c) != kCaretMark) c = '.';
    WriteText(line.c_str(), true);
}

namespace {

// The call itself, once the function is known to be user-defined and of the
// kind the call asks for (op the operator's record for a derived function).
aplarray *RunDefined(uint16_t symbol, int kind, aplop *op, aplarray *left, aplarray *right) {
    bool owned = false;
    aplarray *record = FixedRecord(symbol);
    CallShape *shape = ShapeOf(record, kind, owned);
    if (!shape) return Refuse(APL_ERR_SYSTEM, nullptr, left, right);
    const auto refuse = [&](int32_t code) {
        if (owned) delete shape;
        return Refuse(code, nullptr, left, right);
    };
    if ((left && !shape->left) || ((right != nullptr) != shape->right)) return refuse(APL_ERR_VALENCE);
    if (shape->highest >= APL_symtab.count) {
        SetErrorText(APL_ERR_SYSTEM, "Damaged function record");
        return refuse(APL_ERR_SYSTEM);
    }
    if (!localised.Reserve(shape->names.size()) || !runningCalls.Reserve(1)) return refuse(APL_ERR_WSFULL);
    if (!PushState({nullptr, stateIndicator.executing, APL_GetLineNum(), false})) return refuse(APL_ERR_LIMIT);
    // The record stays while the function runs, even when it is redefined.
    const size_t callsBefore = runningCalls.size(), namesBefore = localised.size();
    const FixedView &view = shape->view;
    runningCalls.Add() = {Link(record), currentFrame, shape, owned};
    if (!owned) ++shape->running;
    LocaliseNames(*shape, op, left, right);
    aplarray *result = nullptr;
    const uint16_t caller = stateIndicator.executing;
    stateIndicator.executing = symbol;
    void *outerFrame = nullptr;
    if (APL_InitLines(&outerFrame, static_cast<int32_t>(view.lines))) {
        const PoolView pool = view.Pool();
        for (;;) {
            const int32_t n = NextLine(view.LineFlags());
            if (n == 0) {
                if (!aplerrno) break;
                // A control value that fits no block: the fault is the
                // control line's, which the frame has just left.
                if (currentFrame && currentFrame->line > 1) --currentFrame->line;
                const int32_t at = currentFrame ? currentFrame->line : 1;
                ClearErrorPositions();
                if (!Suspend(symbol, at, view.Line(static_cast<uint32_t>(at)), pool)) break;
                continue;
            }
            ClearErrorPositions();
            const StoredLine &line = shape->lines[static_cast<size_t>(n - 1)];
            // The flag is looked at before every line as well as after
            // it: lines that all fail (under EA, say) must not keep a
            // Ctrl-C waiting for a line that succeeds.
            if (!TakeInterrupt()) EvaluateStatementLine(line, pool, &shape->plans[static_cast<size_t>(n - 1)]);
            if (!aplerrno) TakeInterrupt();
            if (!aplerrno) continue;
            if (aplerrno == kUnwindRequest) break;
            if (!Suspend(symbol, n, line, pool)) break;
        }
        if (!aplerrno && shape->result >= 0)
            result = TakeResult(shape->names[static_cast<size_t>(shape->result)].symbol);
        APL_ResumeLines(outerFrame);
    }
    stateIndicator.executing = caller;
    RestoreLocalisedNames(namesBefore);
    // The names are back; the result's link becomes the caller's temporary.
    if (result && result->lnkcnt > 0) --result->lnkcnt;
    PopState();
    EndRunningCalls(callsBefore);
    return result;
}

}  // namespace

aplarray *RunUserFunction(const aplfnc &function, aplarray *axis, aplarray *left, aplarray *right) {
    if (aplerrno) return Refuse(aplerrno, axis, left, right);
    aplop *op = (function.flags & APL_FN_DERIVED) ? function.op : nullptr;
    if ((function.flags & APL_FN_DERIVED) && !op) return Refuse(APL_ERR_SYSTEM, axis, left, right);
    const auto symbol = static_cast<uint16_t>(op ? op->code : function.code);
    if (!IsUserFunction(symbol)) return Refuse(APL_ERR_VALUE, axis, left, right);
    const int kind = FunctionKind(symbol);
    const bool isOperator = (kind & (APL_KIND_MONOP | APL_KIND_DYOP)) != 0;
    if (isOperator != (op != nullptr)) return Refuse(APL_ERR_SYNTAX, axis, left, right);
    if (axis) return Refuse(APL_ERR_AXIS, axis, left, right);
    return RunDefined(symbol, kind, op, left, right);
}

aplarray *CallDefinedFunction(uint16_t symbol, aplarray *left, aplarray *right) {
    if (aplerrno || !IsUserFunction(symbol)) return Refuse(aplerrno ? aplerrno : APL_ERR_VALUE, nullptr, left, right);
    const int kind = FunctionKind(symbol);
    if (kind & (APL_KIND_MONOP | APL_KIND_DYOP)) return Refuse(APL_ERR_SYNTAX, nullptr, left, right);
    return RunDefined(symbol, kind, nullptr, left, right);
}

RunningCallsMark MarkRunningCalls() { return {localised.size(), runningCalls.size()}; }

void EndRunningCallsTo(const RunningCallsMark &mark) {
    RestoreLocalisedNames(mark.localised);
    EndRunningCalls(mark.calls);
}

void InstallFunctionRunners() { InstallDefinedFunctionRunner(RunUserFunction); }
