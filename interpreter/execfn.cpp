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

}  // namespace

// lineFlags is the function's line-flags vector as an array image (what
// compiled code passes as its last constant), not bare bytes.
extern "C" int32_t APL_NextLine(const uint8_t *lineFlags) {
    LineFrame *entry = currentFrame;
    if (!entry || entry == &sessionFrame) return 0;
    const int32_t line = ++entry->line;
    if (aplerrno) return 0;
    // The line after the last one, in the same block: what nearly every line does.
    if (!pendingControl && !entry->jumped && entry->count != 0 && line >= entry->first && line <= entry->last)
        return line;
    return FollowLines(entry, lineFlags);
}

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
    if (!aplerrno && !axis && !left && right && right->eltype == APL_INTG && right->rank <= 1 &&
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
std::vector<Localised> localised;

struct RunningCall {
    aplarray *record;  // linked
    LineFrame *frameBefore;
};
std::vector<RunningCall> runningCalls;

void RestoreLocalisedNames(size_t count) {
    while (localised.size() > count) {
        Localised &name = localised.back();
        if (name.label)
            KAZ_ResumeLabel(&name.saved, name.symbol);
        else
            KAZ_ResumeVar(&name.saved, name.symbol);
        localised.pop_back();
    }
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
        APL_UnLinkEx(call.record, HERE);
    }
}

// The names one call localises, put back when it ends.
class Locals {
public:
    Locals() : base_(localised.size()) {}
    ~Locals() { RestoreLocalisedNames(base_); }
    Locals(const Locals &) = delete;
    Locals &operator=(const Locals &) = delete;

    void Variable(uint16_t symbol) { KAZ_InitVar(Slot(symbol, false), symbol); }
    void Argument(uint16_t symbol, aplarray *value) { KAZ_InitArg(Slot(symbol, false), symbol, value); }
    void Label(uint16_t symbol, aplarray *value) { KAZ_InitLabel(Slot(symbol, true), symbol, value); }
    // A function operand: the name stands for the operand's descriptor.
    void Operand(uint16_t symbol, aplfnc *descriptor) {
        Variable(symbol);
        Symbol(symbol).kind = APL_KIND_OPERAND;
        Symbol(symbol).value = descriptor;
    }

private:
    // The slot that receives the name's entry; it stays in place until the
    // entry is filled in (the list grows only between localisations).
    static aplsymbol *Slot(uint16_t symbol, bool label) {
        localised.push_back({symbol, label, {}});
        return &localised.back().saved;
    }
    size_t base_;
};

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

// The views of the records read last, direct-mapped by address: calls of the
// same few functions in a loop or a recursion check each record once. A
// record is known by its block's serial number as well as its address, since
// a later record may be given the address of a freed one.
struct ReadRecord {
    const aplarray *record = nullptr;
    int32_t serial = 0;
    FixedView view;
};
constexpr int kRecordsRemembered = 8;
ReadRecord recordsRead[kRecordsRemembered];

bool ReadRecordOnce(const aplarray *record, FixedView &view) {
    const memblock *header = record ? BlockHeader(record) : nullptr;
    ReadRecord &slot = recordsRead[(reinterpret_cast<uintptr_t>(record) >> 4) % kRecordsRemembered];
    if (header && slot.record == record && slot.serial == header->serial) {
        view = slot.view;
        return true;
    }
    if (!ReadFixedRecord(record, view)) return false;
    if (header) slot = ReadRecord{record, header->serial, view};
    return true;
}

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

// Binds an operand: a function through its descriptor, an array as a variable.
void BindOperand(Locals &locals, uint16_t symbol, aplfnc &operand) {
    if (operand.flags & kItemArray)
        locals.Argument(symbol, static_cast<aplarray *>(operand.function));
    else
        locals.Operand(symbol, &operand);
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
    aplarray *record = FixedRecord(symbol);
    FixedView view;
    HeaderPlaces places;
    if (!ReadRecordOnce(record, view) || !ReadHeaderPlaces(view, kind, places))
        return Refuse(APL_ERR_SYSTEM, axis, left, right);
    if ((left && places.left < 0) || ((right != nullptr) != (places.right >= 0)))
        return Refuse(APL_ERR_VALENCE, axis, left, right);
    if (!PushState({nullptr, stateIndicator.executing, APL_GetLineNum(), false}))
        return Refuse(APL_ERR_LIMIT, axis, left, right);
    // The record stays while the function runs, even when it is redefined.
    const size_t callsBefore = runningCalls.size();
    runningCalls.push_back({APL_LinkEx(record, HERE), currentFrame});
    aplarray *result = nullptr;
    {
        // Every name of the names area is localised, in header order; the
        // arguments, operands and labels take their values as they go.
        Locals locals;
        const uint32_t firstLabel = view.names - view.labels;
        for (uint32_t i = 0; i < view.names; ++i) {
            const uint16_t name = view.Name(i);
            if (i >= firstLabel)
                // Labels stand in reverse line order; their values open the pool.
                locals.Label(name, view.LabelValue(view.names - 1 - i));
            else if (i == places.left)
                locals.Argument(name, left);
            else if (i == places.right)
                locals.Argument(name, right);
            else if (i == places.leftOperand)
                BindOperand(locals, name, op->left);
            else if (i == places.rightOperand)
                BindOperand(locals, name, op->right);
            else
                locals.Variable(name);
        }
        const uint16_t caller = stateIndicator.executing;
        stateIndicator.executing = symbol;
        void *outerFrame = nullptr;
        if (APL_InitLines(&outerFrame, static_cast<int32_t>(view.lines))) {
            const PoolView pool = view.Pool();
            for (;;) {
                const int32_t n = APL_NextLine(view.LineFlags());
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
                const StoredLine line = view.Line(static_cast<uint32_t>(n));
                // The flag is looked at before every line as well as after
                // it: lines that all fail (under EA, say) must not keep a
                // Ctrl-C waiting for a line that succeeds.
                if (!TakeInterrupt()) EvaluateStatementLine(line, pool);
                if (!aplerrno) TakeInterrupt();
                if (!aplerrno) continue;
                if (aplerrno == kUnwindRequest) break;
                if (!Suspend(symbol, n, line, pool)) break;
            }
            if (!aplerrno && places.result >= 0) result = TakeResult(view.Name(static_cast<uint32_t>(places.result)));
            APL_ResumeLines(outerFrame);
        }
        stateIndicator.executing = caller;
    }
    // The names are back; the result's link becomes the caller's temporary.
    if (result && result->lnkcnt > 0) --result->lnkcnt;
    PopState();
    EndRunningCalls(callsBefore);
    return result;
}

RunningCallsMark MarkRunningCalls() { return {localised.size(), runningCalls.size()}; }

void EndRunningCallsTo(const RunningCallsMark &mark) {
    RestoreLocalisedNames(mark.localised);
    EndRunningCalls(mark.calls);
}

void InstallFunctionRunners() { InstallDefinedFunctionRunner(RunUserFunction); }
