// syscmd: the session's system commands (a line that begins with a right
// parenthesis) and the bracket command that runs an external function.
// Relies on the symbol table, the session loop and the output channel.
#include "interpreter/syscmd.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "interpreter/help.h"
#include "interpreter/maininc.h"
#include "interpreter/mainloop.h"
#include "interpreter/transcmd.h"
#include "structural/nested.h"
#include "system/nfiles.h"
#include "system/oserror.h"
#include "system/ostext.h"
#include "system/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> CommandWords(const char *text) {
    std::vector<std::string> words;
    std::string word;
    for (const char *p = text;; ++p) {
        if (*p == 0 || *p == ' ' || *p == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*p == 0) break;
        } else {
            word += *p;
        }
    }
    return words;
}

namespace {

void Say(const char *text) { WriteText(text, true); }

int32_t ModeVariable() { return static_cast<int32_t>(FirstNumber(APL_Variable(sys_MODE_idx), 0)); }

// Toggles a bit of MODE (and of the session's mode word) and reports it.
void ToggleMode(uint32_t bit, const char *what) {
    const int32_t mode = ModeVariable() ^ static_cast<int32_t>(bit);
    SetSymbolValue(sys_MODE_idx, MakeInt(mode));
    sessionMode ^= bit;
    WriteLinef("%s %s", what, (mode & static_cast<int32_t>(bit)) ? "ON" : "OFF");
}

// Tracing switches live in the mode word only: MODE admits 0 to 5.
void ToggleTrace(uint32_t bit, const char *what) {
    sessionMode ^= bit;
    WriteLinef("%s %s", what, (sessionMode & bit) ? "ON" : "OFF");
}

bool ModeCommand(const std::vector<std::string> &w) {
    if (w.size() == 2 && w[1] == "ASCII") {
        ToggleMode(0x01, "ASCII KEYWORDS");
    } else if (w.size() == 2 && w[1] == "RESET") {
        ToggleMode(0x08, "AUTO RESET");
    } else if (w.size() == 2 && w[1] == "SCRIPT") {
        if (session.scriptMode)
            Say("SESSION MANAGER NOT AVAILIBLE. Restart program without '-script' Flag !");
        else
            ToggleMode(0x04, "SCRIPT MODE");
    } else if (w.size() == 3 && w[1] == "DEBUG") {
        if (w[2] == "MEMORY") {
            ToggleMode(kModeMemoryStats, "MEMORY DEBUGGING");
        } else if (w[2] == "ARRAYS") {
            ToggleTrace(kModeTraceArrays, "ARRAY DEBUGGING");
        } else if (w[2] == "BLOCKS") {
            ToggleTrace(kModeTraceBlocks, "BLOCK DEBUGGING");
        } else {
            // A block number that does not fit 32 bits names no block.
            errno = 0;
            char *end = nullptr;
            const long long n = strtoll(w[2].c_str(), &end, 10);
            if (!end || *end || w[2].empty() || errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
            DumpBlock(static_cast<int32_t>(n));
        }
    } else {
        return false;
    }
    return true;
}

// The symbols of a name list, in name order.
struct ListMasks {
    int include, exclude, plain;
    bool showKind;
};

bool Listed(const aplsymbol &entry, const ListMasks &masks) {
    return entry.value && !(entry.kind & APL_KIND_SYSTEM) && (entry.kind & masks.include) &&
           !(entry.kind & masks.exclude);
}

bool NameList(const std::vector<std::string> &w, const ListMasks &masks) {
    if (w.size() > 3) return false;
    const std::string first = w.size() > 1 ? w[1] : "";
    const std::string last = w.size() > 2 ? w[2] : "";
    std::vector<std::string> names;
    size_t width = 0;
    for (uint32_t i = 0; i < APL_symtab.count; ++i) {
        const uint16_t index = APL_symtab.sorted[i];
        const aplsymbol &entry = Symbol(index);
        if (!Listed(entry, masks)) continue;
        const std::string name = SymbolName(index);
        if (!first.empty() && name < first) continue;
        // A name that begins with the last word still counts.
        if (!last.empty() && name > last && name.compare(0, last.size(), last) != 0) continue;
        std::string shown = name;
        if (masks.showKind) shown += "." + std::to_string(entry.kind);
        if (!(entry.kind & masks.plain)) shown = "(" + shown + ")";
        width = std::max(width, shown.size());
        names.push_back(shown);
    }
    if (names.empty()) return true;
    const size_t column = width + 2;
    const size_t columns = std::max<size_t>(1, static_cast<size_t>(PrintWidth()) / column);
    const size_t rows = (names.size() + columns - 1) / columns;
    const int32_t shape[2] = {static_cast<int32_t>(rows), static_cast<int32_t>(column * columns)};
    aplarray *matrix = AllocArray(APL_TEMP, 2, APL_CHAR, shape, HERE);
    if (!matrix) return true;
    char *cells = DataOf<char>(matrix);
    memset(cells, ' ', rows * column * columns);
    for (size_t i = 0; i < names.size(); ++i)
        memcpy(cells + (i / columns) * column * columns + (i % columns) * column, names[i].data(), names[i].size());
    APL_Display(matrix);
    APL_UnLinkTempEx(matrix, HERE);
    return true;
}

void Erase(const char *rest) {
    for (const std::string &name : CommandWords(rest)) {
        const uint16_t index = LookupName(name);
        bool erased = false;
        if (IsSymbol(index)) {
            aplsymbol &entry = Symbol(index);
            const bool variable =
                (entry.kind & APL_KIND_VARIABLE) && !(entry.kind & APL_KIND_SYSTEM) && (entry.kind & 0x03) != 0x03;
            const bool function = (entry.kind & APL_KIND_USER) != 0;
            if (entry.value && (variable || function)) {
                APL_UnLinkEx(static_cast<aplarray *>(entry.value), HERE);
                entry.value = nullptr;
                entry.kind = 0;
                entry.kindHigh = 0;
                erased = true;
            }
        }
        if (!erased) WriteLinef("NOT ERASED : %s", name.c_str());
    }
}

void ShowStateIndicator() {
    for (int i = stateIndicator.count; i-- > 0;) {
        const StateEntry &entry = stateIndicator.entries[i];
        if (entry.function == kSessionLevel || !IsSymbol(entry.function))
            Say(".");
        else
            WriteLinef("%s[%ld]", SymbolName(entry.function), static_cast<long>(entry.line));
    }
}

void Reset(const std::vector<std::string> &w) {
    const int suspended = SuspendedCount();
    if (w.size() < 2) {
        if (suspended > 0) RequestUnwind(suspended);
        return;
    }
    char *end = nullptr;
    const long n = strtol(w[1].c_str(), &end, 10);
    if (!end || *end || n < 0) {
        Say("NUMBER OF LEVELS MUST BE POSITIVE");
        return;
    }
    if (n > suspended) {
        Say("NOT SO MANY LEVELS!");
        return;
    }
    if (n > 0) RequestUnwind(static_cast<int>(n));
}

void WriteSessionRecord() {
    if (session.scriptMode || !session.inputRecord) return;
    aplarray *result = APL_ReadWrite(nullptr, session.inputRecord, MakeString("session.iio"));
    APL_UnLinkTempEx(result, HERE);
    aplerrno = 0;
}

// ---- The command table -------------------------------------------------------------

// A command line: the words (the command first) and the text after the command.
struct CommandLine {
    const std::vector<std::string> &words;
    const char *rest;
};

enum class Outcome { Done, Misfit, EndSession };

// How many words (the command included) a command accepts; the handler may
// refuse more forms (Misfit prints SYSTEM COMMAND ERROR).
struct ArgumentRule {
    size_t least, most;
};
constexpr ArgumentRule kNoArguments{1, 1};
constexpr ArgumentRule kAnyArguments{1, SIZE_MAX};
constexpr ArgumentRule kUpTo(size_t arguments) { return {1, 1 + arguments}; }

struct CommandRow {
    const char *name;
    ArgumentRule rule;
    Outcome (*handler)(const CommandLine &line);
};

Outcome Fits(bool fits) { return fits ? Outcome::Done : Outcome::Misfit; }

// A name the identity buffer cannot hold whole would save or load another file.
bool FitsIdentity(const CommandLine &line) {
    return line.words.size() < 2 || line.words[1].size() < sizeof APL_workspaceID;
}

Outcome Off(const CommandLine &) {
    WriteSessionRecord();
    UntieAll();
    session.ending = true;
    RequestUnwind(0);
    return Outcome::EndSession;
}

Outcome Clear(const CommandLine &) {
    if (SuspendedCount() > 0) {
        // The suspended functions go first: they hold entries of this table.
        session.clearPending = true;
        RequestUnwind(SuspendedCount());
    } else {
        ClearAndAnnounce();
    }
    return Outcome::Done;
}

Outcome WorkspaceId(const CommandLine &line) {
    if (!FitsIdentity(line)) return Outcome::Misfit;
    if (line.words.size() == 1) {
        Say(APL_workspaceID);
    } else {
        WriteLinef("WAS %s", APL_workspaceID);
        SetWorkspaceID(line.words[1].c_str());
    }
    return Outcome::Done;
}

Outcome Mode(const CommandLine &line) { return Fits(ModeCommand(line.words)); }
Outcome EraseNames(const CommandLine &line) {
    Erase(line.rest);
    return Outcome::Done;
}
Outcome Vars(const CommandLine &line) { return Fits(NameList(line.words, {0x02, 0x01, 0x02, false})); }
Outcome Fns(const CommandLine &line) { return Fits(NameList(line.words, {0x04, 0, 0x40, false})); }
Outcome Ops(const CommandLine &line) { return Fits(NameList(line.words, {0x18, 0, 0x40, false})); }
Outcome Nms(const CommandLine &line) { return Fits(NameList(line.words, {0x1E, 0, 0x42, true})); }
Outcome Consts(const CommandLine &line) { return Fits(NameList(line.words, {0x01, 0x04, 0x01, false})); }
Outcome StateIndicator(const CommandLine &) {
    ShowStateIndicator();
    return Outcome::Done;
}
Outcome ResetLevels(const CommandLine &line) {
    Reset(line.words);
    return Outcome::Done;
}
Outcome In(const CommandLine &line) { return Fits(TransferIn(line.rest)); }
Outcome Out(const CommandLine &line) { return Fits(TransferOut(line.rest)); }

// ---- Workspace files --------------------------------------------------------------

// SAVE, LOAD and COPY work on a whole workspace: a running or suspended function
// would hold names the file replaces.
bool Pending(const char *command) {
    if (stateIndicator.count == 0) return false;
    WriteLinef("There are pending functions. No '%s' possible !", command);
    return true;
}

Outcome Save(const CommandLine &line) {
    if (!FitsIdentity(line)) return Outcome::Misfit;
    if (Pending("SAVE")) return Outcome::Done;
    const std::string former = APL_workspaceID;
    if (line.words.size() > 1) {
        if (!IsFileNameToWrite(line.words[1], kWorkspaceExtension)) return Outcome::Misfit;
        SetWorkspaceID(line.words[1].c_str());
    }
    if (strcmp(APL_workspaceID, "CLEAR WS") == 0) {
        Say("NOT SAVED");
        return Outcome::Done;
    }
    if (!IsFileNameToWrite(APL_workspaceID, kWorkspaceExtension)) return Outcome::Misfit;
    uint32_t savedAt = 0;
    if (SaveWorkspace(savedAt)) {
        WriteLinef("'%s' saved at %s ", APL_workspaceID, SaveTimeText(savedAt).c_str());
        return Outcome::Done;
    }
    // The workspace takes the new name only with its file; the error stays for
    // the session to report.
    const int32_t code = aplerrno;
    const std::string message = APL_error_message;
    SetWorkspaceID(former.c_str());
    SetErrorText(code, "%s", message.c_str());
    return Outcome::Done;
}

Outcome Load(const CommandLine &line) {
    if (!FitsIdentity(line)) return Outcome::Misfit;
    if (Pending("LOAD")) return Outcome::Done;
    const std::string former = APL_workspaceID;
    SetWorkspaceID(line.words[1].c_str());
    LoadWorkspace();
    if (aplerrno) {
        const int32_t code = aplerrno;
        SetWorkspaceID(former.c_str());
        aplerrno = code;
        return Outcome::Misfit;
    }
    RunLatentExpression();
    return Outcome::Done;
}

Outcome CopyFrom(const CommandLine &line, bool protect) {
    if (Pending(protect ? "PCOPY" : "COPY")) return Outcome::Done;
    const std::vector<std::string> names(line.words.begin() + 2, line.words.end());
    return Fits(CopyWorkspace(line.words[1], names, protect));
}
Outcome Copy(const CommandLine &line) { return CopyFrom(line, false); }
Outcome ProtectedCopy(const CommandLine &line) { return CopyFrom(line, true); }

#ifdef _WIN32
constexpr const char *kWorkspacesIn = "%s\\*.kaz";
#else
constexpr const char *kWorkspacesIn = "%s/*.kaz";
#endif

// The folder part of a pattern, as typed, for a message.
std::string FolderOf(const std::string &pattern) {
    const size_t slash = pattern.find_last_of("/\\");
    return slash == std::string::npos ? "." : pattern.substr(0, slash > 0 ? slash : 1);
}

// LIB [directory or pattern]: the workspace files as a character matrix.
// Folders are not workspaces and are left out; a name that the character set
// cannot show is named in escapes; a folder that cannot be read is said.
Outcome Library(const CommandLine &line) {
    std::string pattern = "*.kaz";
    if (line.words.size() > 1) {
        const std::string &argument = line.words[1];
        if (argument.find_first_of("*?") != std::string::npos) {
            pattern = argument;
        } else {
            std::vector<char> text(argument.size() + 16);
            snprintf(text.data(), text.size(), kWorkspacesIn, argument.c_str());
            pattern = text.data();
        }
    }
    const DirectoryMatches found = MatchDirectory(ToSystemText(pattern));
    if (!found.readable) {
        WriteLinef("FOLDER NOT FOUND : %s", FolderOf(pattern).c_str());
        return Outcome::Done;
    }
    std::vector<std::string> names, unshown;
    for (const std::string &file : found.files) {
        std::string codes;
        if (FromSystemText(file, codes) && codes.find('\0') == std::string::npos)
            names.push_back(std::move(codes));
        else
            unshown.push_back(ShownSystemText(file));
    }
    // Translation keeps the order of ASCII names only; sort in the codes.
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
        });
    });
    if (!names.empty()) {
        const auto count = static_cast<int32_t>(names.size());
        aplarray *list = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &count, HERE);
        for (int32_t i = 0; list && i < count; ++i) {
            aplarray *name = MakeString(names[static_cast<size_t>(i)].c_str());
            if (!name) {
                APL_UnLinkTempEx(list, HERE);
                return Outcome::Done;
            }
            ItemsOf(list)[i] = APL_LinkEx(name, HERE);
        }
        aplarray *matrix = list ? APL_Disclose(nullptr, nullptr, list) : nullptr;
        if (matrix) APL_Display(matrix);
        APL_UnLinkTempEx(matrix, HERE);
    }
    for (const std::string &name : unshown) WriteLinef("NOT LISTED : %s (not in the character set)", name.c_str());
    SetPendingOsError(0);
    return Outcome::Done;
}

Outcome Help(const CommandLine &line) {
    ShowHelp(line.rest);
    return Outcome::Done;
}

// One row per command. New commands (SAVE, LOAD, COPY, PCOPY, LIB, IN, OUT)
// are a row and a handler each.
constexpr CommandRow kCommands[] = {
    {"OFF", kNoArguments, Off},
    {"CLEAR", kNoArguments, Clear},
    {"WSID", kUpTo(1), WorkspaceId},
    {"MODE", kAnyArguments, Mode},
    {"ERASE", kAnyArguments, EraseNames},
    {"VARS", kAnyArguments, Vars},
    {"FNS", kAnyArguments, Fns},
    {"OPS", kAnyArguments, Ops},
    {"NMS", kAnyArguments, Nms},
    {"CONSTS", kAnyArguments, Consts},
    {"SI", kNoArguments, StateIndicator},
    {"RESET", kUpTo(1), ResetLevels},
    {"SIC", kUpTo(1), ResetLevels},
    {"SAVE", kUpTo(1), Save},
    {"LOAD", {2, 2}, Load},
    {"COPY", {2, SIZE_MAX}, Copy},
    {"PCOPY", {2, SIZE_MAX}, ProtectedCopy},
    {"LIB", kUpTo(1), Library},
    {"IN", kAnyArguments, In},
    {"OUT", kAnyArguments, Out},
    {"HELP", kAnyArguments, Help},
};

const CommandRow *FindCommand(const std::string &name) {
    for (const CommandRow &row : kCommands)
        if (name == row.name) return &row;
    return nullptr;
}

}  // namespace

std::vector<std::string> SystemCommandNames() {
    std::vector<std::string> names;
    for (const CommandRow &row : kCommands) names.emplace_back(row.name);
    return names;
}

int SystemCommand(const char *text) {
    const std::vector<std::string> w = CommandWords(text);
    const CommandRow *row = w.empty() ? nullptr : FindCommand(w[0]);
    if (!row) {
        Say("UNKNOWN SYSTEM COMMAND");
        return 0;
    }
    const char *rest = text;
    while (*rest == ' ') ++rest;
    rest += w[0].size();
    Outcome outcome = Outcome::Misfit;
    if (w.size() >= row->rule.least && w.size() <= row->rule.most) outcome = row->handler({w, rest});
    if (outcome == Outcome::Misfit) Say("SYSTEM COMMAND ERROR");
    return outcome == Outcome::EndSession ? 1 : 0;
}

void BracketCommand(const char *text) {
    // ]NAME rest: the function in NAME.efn, called with the rest of the line.
    const char *p = text;
    while (*p == ' ') ++p;
    const char *word = p;
    while (*p && *p != ' ') ++p;
    if (p == word) {
        SetError(APL_ERR_SYNTAX);
        return;
    }
    const std::string file = std::string(word, static_cast<size_t>(p - word)) + ".efn";
    if (*p == ' ') ++p;
    // Held: fixing consumes a temporary argument.
    aplarray *contents = APL_LinkEx(APL_ReadWrite(nullptr, nullptr, MakeString(file.c_str())), HERE);
    if (!contents) return;
    struct Release {
        aplarray *held;
        ~Release() { APL_UnLinkEx(held, HERE); }
    } release{contents};
    // The file holds the lines, or a vector whose first item they are.
    aplarray *lines = contents;
    const int32_t depth = ArrayDepth(lines);
    if (depth < 0) return;
    if (depth == 3 && IsNested(lines) && lines->number > 0) lines = ItemsOf(lines)[0];
    TempGuard fixed(APL_Fix(nullptr, nullptr, lines));
    if (!fixed.get()) return;
    const aplarray *name = fixed.get();
    if (IsNested(name) || name->eltype != APL_CHAR || name->rank != 1) {
        SetError(APL_ERR_DEFN);
        return;
    }
    const uint16_t symbol = LookupName(std::string_view(DataOf<const char>(name), static_cast<size_t>(name->number)));
    if (!IsUserFunction(symbol)) {
        SetError(APL_ERR_DEFN);
        return;
    }
    const int kind = FunctionKind(symbol);
    const bool niladic = (kind & (APL_KIND_FUNCTION | APL_KIND_LABELBIT)) == (APL_KIND_FUNCTION | APL_KIND_LABELBIT);
    const aplfnc function{APL_FN_DEFINED | kind, nullptr, nullptr, symbol};
    aplarray *result = RunUserFunction(function, nullptr, nullptr, niladic ? nullptr : MakeString(p));
    if (result && !aplerrno) APL_Display(result);
    APL_UnLinkTempEx(result, HERE);
    // The function was only borrowed from its file.
    if (IsUserFunction(symbol)) {
        aplsymbol &entry = Symbol(symbol);
        APL_UnLinkEx(static_cast<aplarray *>(entry.value), HERE);
        entry.value = nullptr;
        entry.kind = 0;
        entry.kindHigh = 0;
    }
}
