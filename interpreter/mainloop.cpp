// mainloop: the library's start-up and the interactive session: the
// read-evaluate-print cycle, error reports with their caret line, evaluated and
// character input, execute and the latent expression.
// Relies on the tokenizer, the evaluator, system commands and the host callbacks.
#include "interpreter/mainloop.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/frames.h"
#include "core/primitives.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/execline.h"
#include "interpreter/lineplan.h"
#include "interpreter/maininc.h"
#include "interpreter/runrecord.h"
#include "interpreter/runstate.h"
#include "interpreter/syscmd.h"
#include "interpreter/tokenizer.h"
#include "interpreter/tokfile.h"
#include "system/nfiles.h"
#include "system/oserror.h"
#include "system/platform.h"
#include "system/register.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

char APL_tokenfile[96] = "";
char APL_messagefile[96] = "";
char APL_workspacefile[80] = "";
char APL_workspaceID[80] = "CLEAR WS";
char APL_compilerfile[80] = "";
int32_t APL_cursor_pos = 0;

SessionState session;

namespace {

using ReadFn = void (*)(char *buffer, int32_t mode);
using NameFn = void (*)(const char *name);

// Names that the library's compiled DISPLAY function uses, entered right after
// the system variables so that their indices are the same in every workspace.
constexpr const char *kDisplayNames[] = {"A",  "S", "D", "R", "C", "HL",  "HC", "HT",  "HB", "VL",
                                         "VB", "V", "W", "N", "B", "GEN", "D3", "D3E", "SS"};

int32_t ModeValue() { return static_cast<int32_t>(FirstNumber(APL_Variable(sys_MODE_idx), 0)); }

// Reads one line through the host (empty when no host reads) in the system's
// characters, keyword translated when keyword mode is on. Whatever was written
// before reaches the host's screen first: a prompt, an answer, an error.
void ReadInputLine(char *buffer, int32_t mode) {
    buffer[0] = 0;
    FlushOutput();
    if (auto read = reinterpret_cast<ReadFn>(CallbackFunction(kSlotReadLine))) read(buffer, mode);
    buffer[APL_INPUT_BUFFER - 1] = 0;
    if ((sessionMode & kModeKeywords) && InstalledKeywordLexer())
        KeywordsToCodes(buffer, InstalledKeywordLexer(), true);
}

// A fault inside an evaluation: the session goes on with SYSTEM ERROR.
void ReportFault(const FaultReport &fault) {
    if (!fault.faulted) return;
    SetErrorText(APL_ERR_SYSTEM, "%X", static_cast<unsigned>(fault.signal));
}

// The typed text with a caret mark where tokenizing stopped; empty when it
// stopped elsewhere.
std::string MarkedSource(const uint8_t *text, int32_t length) {
    const uint8_t *at = errorPositions.tokenizer;
    if (!at || at < text || at > text + length) return std::string();
    std::string marked(reinterpret_cast<const char *>(text), static_cast<size_t>(at - text));
    marked += static_cast<char>(kCaretMark);
    marked.append(reinterpret_cast<const char *>(at), static_cast<size_t>(text + length - at));
    return marked;
}

void ShowTokenizerError(const uint8_t *text, int32_t length) {
    const std::string marked = MarkedSource(text, length);
    if (!marked.empty()) ShowCodes(reinterpret_cast<const uint8_t *>(marked.data()), static_cast<int32_t>(marked.size()));
}

// Texts run by execute (or given as evaluated input) that failed, innermost
// first, each with its caret: the error report shows them before the line
// that called execute, whose caret then marks the execute.
std::vector<std::string> failedTexts;

// Keeps the failed text of an execute: the stored line with the evaluator's
// mark, or the source with the tokenizer's.
void KeepFailedText(const StoredLine *line, const PoolView &pool, const uint8_t *text, int32_t length) {
    if (aplerrno == kUnwindRequest) return;
    std::string marked;
    if (line) {
        const int32_t saved = aplerrno;
        aplerrno = 0;
        if (aplarray *shown = LineToText(*line, pool, false)) {
            marked.assign(DataOf<const char>(shown), static_cast<size_t>(shown->number));
            APL_UnLinkTempEx(shown, HERE);
        }
        aplerrno = saved;
    } else {
        marked = MarkedSource(text, length);
    }
    if (marked.empty()) marked.assign(reinterpret_cast<const char *>(text), static_cast<size_t>(length));
    failedTexts.push_back(marked);
    ClearErrorPositions();
}

void ShowStoredLine(const StoredLine &line, const PoolView &pool) {
    if (!errorPositions.evaluator) return;
    const int32_t saved = aplerrno;
    aplerrno = 0;
    aplarray *text = LineToText(line, pool, false);
    if (text) ShowCodes(DataOf<uint8_t>(text), text->number);
    APL_UnLinkTempEx(text, HERE);
    aplerrno = saved;
}

// A line typed in the session: tokenized into a buffer and pool of its own (a
// suspended function's stay where they are) and evaluated in statement mode.
void ExecuteSessionLine(const uint8_t *text, int32_t length) {
    const TokenBuffer outerBuffer = SaveCodeBuffer();
    const ConstantPoolState outerPool = TakeConstantPool();
    ClearErrorPositions();
    ForgetFailedTexts();
    StoredLine line;
    if (!TokenizeSourceLine(text, length, kTokImmediate, line)) {
        const int32_t code = aplerrno;
        PrintError(code);
        ShowTokenizerError(text, length);
        FlushOutput();
        aplerrno = 0;
    } else {
        const PoolView pool = CurrentPool();
        // A fault skips every frame between it and here: the runtime goes back
        // to how it stood before the line.
        const RunRecord before = SaveRunRecord();
        const FaultReport fault = RunGuarded([&] { EvaluateStatementLine(line, pool); });
        if (fault.faulted) RestoreRunRecord(before);
        ReportFault(fault);
        if (aplerrno && aplerrno != kUnwindRequest) {
            PrintError(aplerrno);
            ShowFailedTexts();
            ShowStoredLine(line, pool);
            FlushOutput();
            aplerrno = 0;
        }
    }
    ResetTokenBuffer(codeBuffer);
    RestoreCodeBuffer(outerBuffer);
    RestoreConstantPool(outerPool);
}

// Remembers typed lines for the session input record that OFF writes.
void RecordInput(const char *line) {
    constexpr int kKept = 1000;
    aplarray *text = MakeString(line);
    if (!text) {
        aplerrno = 0;
        return;
    }
    aplarray *old = session.inputRecord;
    const int32_t kept = old ? (old->number < kKept ? old->number : kKept - 1) : 0;
    const int32_t n = kept + 1;
    aplarray *record = AllocArray(APL_TEMP, 1, APL_NESTED, &n, HERE);
    if (!record) {
        APL_UnLinkTempEx(text, HERE);
        aplerrno = 0;
        return;
    }
    for (int32_t i = 0; i < kept; ++i) ItemsOf(record)[i] = APL_LinkEx(ItemsOf(old)[old->number - kept + i], HERE);
    ItemsOf(record)[kept] = APL_LinkEx(text, HERE);
    session.inputRecord = APL_LinkEx(record, HERE);
    APL_UnLinkEx(old, HERE);
}

// An unwind request counts the session loops it still has to leave: each loop
// that sees it leaves and counts one; function runners between them end at
// once and pass it on. True when this loop is to return.
bool PassUnwind() {
    if (aplerrno != kUnwindRequest) return false;
    if (session.ending) return true;
    if (session.unwindLevels > 0) {
        --session.unwindLevels;
        return true;
    }
    aplerrno = 0;
    if (session.clearPending && SuspendedCount() == 0) {
        session.clearPending = false;
        ClearAndAnnounce();
    }
    return false;
}

// One session line: what its first character asks for. True when the loop returns.
bool HandleLine(char *buffer) {
    char *text = buffer;
    while (*text == ' ') ++text;
    const auto first = static_cast<uint8_t>(*text);
    if (first == ')') return SystemCommand(text + 1) != 0;
    if (first == ']') {
        BracketCommand(text + 1);
        if (aplerrno && aplerrno != kUnwindRequest) {
            PrintError(aplerrno);
            aplerrno = 0;
        }
        return false;
    }
    if (first == 0 || first == glyph::kLamp) return false;
    if (first == glyph::kRightArrow) {
        const char *rest = text + 1;
        while (*rest == ' ') ++rest;
        if (*rest == 0) {
            // Escape: leave the suspended functions up to the last session level.
            int levels = 0;
            for (int i = stateIndicator.count; i-- > 0 && stateIndicator.entries[i].function != kSessionLevel;)
                levels += stateIndicator.entries[i].suspended ? 1 : 0;
            if (levels > 0) RequestUnwind(levels);
            return false;
        }
    }
    ExecuteSessionLine(reinterpret_cast<const uint8_t *>(text), static_cast<int32_t>(strlen(text)));
    return false;
}

}  // namespace

void ShowFailedTexts() {
    for (const std::string &text : failedTexts)
        ShowCodes(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()));
    failedTexts.clear();
}

void ForgetFailedTexts() { failedTexts.clear(); }

// ---- Start-up and clear workspace ----------------------------------------------------

void SetWorkspaceID(const char *name) {
    std::string id = name ? name : "";
    const size_t dot = id.size() >= 4 ? id.size() - 4 : std::string::npos;
    if (id.find(".kaz") != std::string::npos || id.find(".KAZ") != std::string::npos) {
        if (dot != std::string::npos && (id.compare(dot, 4, ".kaz") == 0 || id.compare(dot, 4, ".KAZ") == 0))
            id.resize(dot);
    }
    snprintf(APL_workspaceID, sizeof APL_workspaceID, "%s", id.c_str());
    if (auto notify = reinterpret_cast<NameFn>(CallbackFunction(kSlotWorkspaceName))) notify(APL_workspaceID);
}

void CreateStandardNames() {
    CreateSystemVariables(session.programMode);
    for (const char *name : kDisplayNames) {
        void *none = nullptr;
        DefineName(name, static_cast<int32_t>(strlen(name)), 0, &none);
    }
}

void ClearWorkspace() {
    SetWorkspaceID("CLEAR WS");
    CreateStandardNames();
    errno = 0;
    aplerrno = 0;
    RegisterBuiltins();
    ResetTokenBuffer(codeBuffer);
    aplerrno = 0;
}

void ClearAndAnnounce() {
    ResetRuntimeState();
    WriteText(APL_workspaceID, true);
}

void RequestUnwind(int levels) {
    aplerrno = kUnwindRequest;
    session.unwindLevels = levels;
}

extern "C" void APL_SetScriptMode(int32_t on) { session.scriptMode = on != 0; }

extern "C" int32_t APL_Init(uint8_t mode, const char *workspaceFile) {
    tracingActive = false;
    // What a previous session left running goes before its workspace does.
    while (stateIndicator.count) PopState();
    stateIndicator.executing = kSessionLevel;
    currentFrame = nullptr;
    APL_UnLinkEx(session.inputRecord, HERE);
    const bool scriptMode = session.scriptMode;
    session = SessionState{};
    session.scriptMode = scriptMode;
    session.programMode = mode != 0;
    snprintf(APL_workspacefile, sizeof APL_workspacefile, "%s", workspaceFile ? workspaceFile : "");
    if (!APL_tokenfile[0]) snprintf(APL_tokenfile, sizeof APL_tokenfile, "Standard.tok");
    if (!APL_messagefile[0]) snprintf(APL_messagefile, sizeof APL_messagefile, "session.msg");
    // Process-wide tables first: a clear workspace registers its builtins in them.
    InitPrimitiveTables();
    InstallFunctionRunners();  // defined functions run through execfn
    InstallSystemValueCheck();
    ReadLinePlanSwitch();
    ResetSystemFunctionTable();
    ResetRuntimeState();
    if (!session.programMode) {
        LoadTokenFile(APL_tokenfile);
        aplerrno = 0;
        if (!session.scriptMode) {
            // The banner: the three lines of the message file, between empty lines.
            std::ifstream messages(APL_messagefile);
            WriteText("", true);
            std::string line;
            for (int i = 0; i < 3 && std::getline(messages, line); ++i) WriteText(line.c_str(), true);
            WriteText("", true);
        }
    } else {
        stateIndicator.executing = 0;
    }
    LoadPlugins();
    aplerrno = 0;
    ResetTokenBuffer(codeBuffer);
    errno = 0;
    fflush(stdout);
    if (APL_workspacefile[0]) {
        snprintf(APL_workspaceID, sizeof APL_workspaceID, "%s", APL_workspacefile);
        LoadWorkspace();
        if (aplerrno) {
            PrintError(aplerrno);
            FlushOutput();
            aplerrno = 0;
            // A later SAVE must not overwrite the file that would not load.
            SetWorkspaceID("CLEAR WS");
        }
        errno = 0;
        RunLatentExpression();
    }
    tracingActive = true;
    return 0;
}

// ---- The session loop ------------------------------------------------------------------

extern "C" void APL_MainLoop(void) {
    char *buffer = static_cast<char *>(malloc(APL_INPUT_BUFFER));
    if (!buffer) return;
    if (session.loopDepth == 0) {
        // A new outermost session: whatever ended the last one is over.
        session.ending = false;
        session.unwindLevels = 0;
        if (aplerrno == kUnwindRequest) aplerrno = 0;
    }
    ++session.loopDepth;
    for (;;) {
        if (session.ending) break;
        // An unwind request from a deeper level is passed on or ends here.
        if (aplerrno == kUnwindRequest && PassUnwind()) break;
        const int32_t mode = ModeValue();
        if (SuspendedCount() > 0 && (mode & kModeAutoReset)) {
            RequestUnwind(SuspendedCount());
            if (PassUnwind()) break;
        }
        // The DEBUG switches for array and block tracing live only in the mode
        // word: MODE itself admits 0 to 5.
        sessionMode = (sessionMode & (kModeTraceArrays | kModeTraceBlocks)) | static_cast<uint32_t>(mode);
        APL_interrupted = 0;
        stateIndicator.executing = kSessionLevel;
        evaluator.depth = 0;
        evaluator.selective = false;
        if (!currentFrame) currentFrame = SessionFrame();
        if (aplerrno) {
            PrintError(aplerrno);
            aplerrno = 0;
        }
        if (pendingOsError) {
            char line[320];
            snprintf(line, sizeof line, "Operating system error: %s", strerror(pendingOsError));
            WriteText(line, true);
            SetPendingOsError(0);
        }
        APL_error_message[0] = 0;
        if (sessionMode & kModeMemoryStats) {
            aplarray *counts = CountBlocks();
            if (counts) WriteLinef("BC=%d AC=%d", DataOf<int32_t>(counts)[0], DataOf<int32_t>(counts)[1]);
            APL_UnLinkTempEx(counts, HERE);
        }
        ReadInputLine(buffer, 5);
        if (!session.scriptMode && buffer[0]) RecordInput(buffer);
        const bool leave = HandleLine(buffer);
        if (SuspendedCount() == 0 && SessionFrame()->jumped) SessionFrame()->jumped = 0;
        if (leave) break;
        if (aplerrno == kUnwindRequest) {
            if (PassUnwind()) break;
            continue;
        }
        // A branch typed while a function is suspended resumes it there.
        if (!aplerrno && SuspendedCount() > 0 && currentFrame && currentFrame != SessionFrame() && currentFrame->jumped)
            break;
    }
    --session.loopDepth;
    if (session.loopDepth == 0) {
        // The outermost session is over: no request is left for anybody.
        if (currentFrame == SessionFrame()) currentFrame = nullptr;
        if (aplerrno == kUnwindRequest) aplerrno = 0;
    }
    free(buffer);
}

extern "C" void APL_EndInput(void) {
    session.ending = true;
    RequestUnwind(0);
}

// ---- Input, execute, latent expression -------------------------------------------------

aplarray *ExecuteText(const uint8_t *text, int32_t length, bool &assigned) {
    assigned = false;
    const TokenBuffer outerBuffer = SaveCodeBuffer();
    const ConstantPoolState outerPool = TakeConstantPool();
    StoredLine line;
    aplarray *value = nullptr;
    if (TokenizeSourceLine(text, length, kTokNamesMustExist, line)) {
        EvalResult result;
        EvaluateLine(line.last, kEvalExecute, result, CurrentPool());
        if (!aplerrno && result.function) SetError(APL_ERR_SYNTAX);
        if (aplerrno) {
            APL_UnLinkTempEx(result.value, HERE);
            KeepFailedText(&line, CurrentPool(), text, length);
        } else {
            // Handed on with a link, never copied: the value may be a
            // variable's own array, just assigned, of any size and depth.
            assigned = result.assigned;
            value = APL_LinkEx(result.value, HERE);
        }
    } else if (aplerrno) {
        KeepFailedText(nullptr, PoolView{}, text, length);
    }
    ResetTokenBuffer(codeBuffer);
    RestoreCodeBuffer(outerBuffer);
    RestoreConstantPool(outerPool);
    return value;
}

aplarray *QuadInput() { return APL_QuadInput(); }
aplarray *QuoteQuadInput() { return APL_QQuadInput(); }

// Ctrl-C while the host read an input line: the running function stops as
// at any interrupt. True then, with the error set.
bool InterruptedInput() {
    if (!APL_interrupted) return false;
    APL_interrupted = 0;
    SetError(APL_ERR_INTERRUPT);
    return true;
}

// The reply is the branch arrow alone: leave the running functions.
bool IsEscape(const char *answer) {
    if (static_cast<uint8_t>(*answer) != glyph::kRightArrow) return false;
    while (*++answer == ' ') {
    }
    return *answer == 0;
}

extern "C" aplarray *APL_QuadInput(void) {
    const char prompt[] = {static_cast<char>(glyph::kQuad), ':', ' ', 0};
    char *buffer = static_cast<char *>(malloc(APL_INPUT_BUFFER));
    if (!buffer) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    aplarray *value = nullptr;
    // A reply that fails is reported and asked for again; an interrupt, the
    // escape and a request to unwind end the input.
    for (;;) {
        WriteText(prompt, false);
        // The host echoes what the session wrote on the line (any earlier ⍞
        // output and the prompt) in front of the answer; a script's line is
        // the answer alone.
        const size_t shown = static_cast<size_t>(APL_cursor_pos > 0 ? APL_cursor_pos : 0);
        ReadInputLine(buffer, 0);
        if (InterruptedInput()) break;
        const char *answer = buffer;
        if (!session.scriptMode) answer += std::min(shown, strlen(buffer));
        while (*answer == ' ') ++answer;
        if (IsEscape(answer)) {
            RequestUnwind(0);
            break;
        }
        if (!*answer) {
            value = MakeString("");
            break;
        }
        bool assigned;
        ForgetFailedTexts();
        value = ExecuteText(reinterpret_cast<const uint8_t *>(answer), static_cast<int32_t>(strlen(answer)), assigned);
        if (!value && !aplerrno) SetError(APL_ERR_VALUE);
        if (!aplerrno || aplerrno == APL_ERR_INTERRUPT || aplerrno == kUnwindRequest) break;
        PrintError(aplerrno);
        ShowFailedTexts();
        aplerrno = 0;
        APL_error_message[0] = 0;
    }
    free(buffer);
    return GiveUpLink(value);
}

extern "C" aplarray *APL_QQuadInput(void) {
    char *buffer = static_cast<char *>(malloc(APL_INPUT_BUFFER));
    if (!buffer) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    ReadInputLine(buffer, 0);
    std::string answer(buffer);
    free(buffer);
    if (InterruptedInput()) return nullptr;
    const auto shown = static_cast<size_t>(APL_cursor_pos > 0 ? APL_cursor_pos : 0);
    // What the preceding output left on the line reads as blanks.
    if (session.scriptMode)
        answer.insert(0, shown, ' ');
    else
        answer.replace(0, std::min(shown, answer.size()), std::min(shown, answer.size()), ' ');
    return MakeString(answer.c_str());
}

extern "C" aplarray *APL_Execute(aplarray *axis, aplarray *left, aplarray *right) {
    TempGuard a(axis), r(right), l(left);
    if (aplerrno) return nullptr;
    if (left) {
        SetError(APL_ERR_VALENCE);
        return nullptr;
    }
    if (!right || axis) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    if (right->rank > 1) {
        SetError(APL_ERR_RANK);
        return nullptr;
    }
    if (ElementCount(right) == 0) return nullptr;
    if (right->eltype != APL_CHAR) {
        SetError(APL_ERR_DOMAIN);
        return nullptr;
    }
    // The text is copied: a temporary argument goes before the value is made.
    const std::string text(DataOf<const char>(right), static_cast<size_t>(right->number));
    bool assigned;
    aplarray *value =
        ExecuteText(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()), assigned);
    if (!value) return nullptr;
    if (assigned) {
        APL_UnLinkEx(value, HERE);
        return nullptr;
    }
    return GiveUpLink(value);
}

void RunLatentExpression() {
    aplarray *lx = APL_Variable(sys_LX_idx);
    if (!lx || lx->eltype != APL_CHAR || ElementCount(lx) == 0) return;
    aplarray *result = APL_Execute(nullptr, nullptr, lx);
    if (aplerrno) {
        PrintError(aplerrno);
        ShowFailedTexts();
        FlushOutput();
        aplerrno = 0;
    }
    if (result) {
        APL_Display(result);
        APL_UnLinkTempEx(result, HERE);
    }
}

extern "C" aplarray *APL_Screenres(aplarray *axis, aplarray *left, aplarray *right) {
    TempGuard a(axis), l(left), r(right);
    if (aplerrno) return nullptr;
    if (axis || left || right) {
        SetError(APL_ERR_SYNTAX);
        return nullptr;
    }
    const int32_t size[2] = {0, 0};
    return MakeIntVector(size, 2);
}
