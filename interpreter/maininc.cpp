// maininc: the workspace file: SaveWorkspace writes the symbol table, the name
// pool, the values and the save time as one serialised array; LoadWorkspace and
// COPY read it back. Relies on serialisation (compfile), fixing, the symbol table
// and the runtime-state reset (runstate).
#include "interpreter/maininc.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/cover.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/execfn.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "interpreter/runstate.h"
#include "interpreter/tokenizer.h"
#include "system/compfile.h"
#include "system/nfiles.h"
#include "system/register.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

constexpr uint32_t kEntryBytes = 12;  // one symbol entry in the 32-bit layout
constexpr uint32_t kTimeOffset = 3600;
constexpr int kLabelKind = APL_KIND_LABELBIT | APL_KIND_VARIABLE;
constexpr const char *kDamaged = "Damaged workspace file: %s";

uint32_t ReadWord(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void WriteWord(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool IsLabel(int kind) { return (kind & 0x1F) == kLabelKind; }

// An entry whose value the file holds: a variable that is not a label (system
// variables included) or a user-defined function or operator.
bool HoldsValue(int kind, bool marked) {
    return marked && (kind & (APL_KIND_VARIABLE | APL_KIND_USER)) && !IsLabel(kind);
}

bool IsSystemName(const std::string &name) {
    const auto first = static_cast<uint8_t>(name[0]);
    return first == glyph::kQuad || first == glyph::kQuoteQuad;
}

bool IsCharVector(const aplarray *a) { return a && !IsNested(a) && a->eltype == APL_CHAR && a->rank == 1; }

// The kinds a table holds: names without meaning, variables, labels, the
// kinds of functions and operators, system names and user-defined objects.
bool KnownKind(int kind, int kindHigh) {
    if (kindHigh > 1) return false;
    switch (kind) {
        case 0x00:
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x08:
        case 0x10:
        case 0x22:
        case 0x24:
        case 0x25:
        case 0x44:
        case 0x45:
        case 0x48:
        case 0x50:
        case 0x80: return true;
        default: return false;
    }
}

// A new temporary CHAR vector holding the bytes; null with WS FULL.
aplarray *CharVector(const void *bytes, uint64_t n) {
    if (n > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        return nullptr;
    }
    const auto length = static_cast<int32_t>(n);
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &length, HERE);
    if (a && n) memcpy(DataOf(a), bytes, n);
    return a;
}

// ---- The image: a workspace file read and checked ------------------------------------

struct ImageEntry {
    std::string name;
    int kind = 0;
    int kindHigh = 0;
    aplarray *value = nullptr;  // linked: a variable's value, or a function's lines
    uint32_t created = 0, fixed = 0;
};

// Everything of a workspace file that a load or copy uses, checked. Owns a
// link to every value it holds.
struct WorkspaceImage {
    std::vector<ImageEntry> entries;
    std::unordered_map<std::string, size_t> byName;
    uint32_t savedAt = 0;

    WorkspaceImage() = default;
    WorkspaceImage(const WorkspaceImage &) = delete;
    WorkspaceImage &operator=(const WorkspaceImage &) = delete;
    ~WorkspaceImage() {
        for (ImageEntry &entry : entries) APL_UnLinkEx(entry.value, HERE);
    }
    const ImageEntry *Find(const std::string &name) const {
        const auto found = byName.find(name);
        return found == byName.end() ? nullptr : &entries[found->second];
    }
};

bool Damaged(const char *what) {
    SetErrorText(APL_ERR_FILEIO, kDamaged, what);
    return false;
}

// A function value as saved: (record, serialised lines). Takes its lines (a
// new array, linked into the entry) and time stamps; borrows the value, and
// never uses the stored record itself.
bool TakeFunction(const aplarray *value, ImageEntry &entry) {
    if (!value || !IsNested(value) || value->rank != 1 || value->number != 2) return Damaged("function value");
    const aplarray *record = ItemsOf(value)[0];
    const aplarray *text = ItemsOf(value)[1];
    if (!IsCharVector(record) || record->number < static_cast<int32_t>(kRecordHeaderBytes) || !IsCharVector(text))
        return Damaged("function value");
    entry.created = ReadWord(DataOf<const uint8_t>(record) + 4 * kWordCreated);
    entry.fixed = ReadWord(DataOf<const uint8_t>(record) + 4 * kWordFixed);
    aplarray *lines = ReadArrayBytes(DataOf(text), text->number, APL_ERR_FILEIO, "Damaged function text");
    if (!lines) return false;
    bool good = IsNested(lines) && lines->rank == 1 && lines->number >= 1;
    for (int32_t i = 0; good && i < lines->number; ++i) {
        const aplarray *line = ItemsOf(lines)[i];
        good = line && !IsNested(line) && line->eltype == APL_CHAR && line->rank <= 1;
    }
    if (!good) {
        APL_UnLinkTempEx(lines, HERE);
        return Damaged("function text");
    }
    entry.value = APL_LinkEx(lines, HERE);
    return true;
}

// Reads the entries of items 1 and 2: names inside the pool, valid, distinct,
// of known kinds. Counts the values item 3 must hold.
bool ReadEntries(const aplarray *table, const aplarray *pool, WorkspaceImage &image, std::vector<bool> &holds) {
    if (!IsCharVector(table) || table->number % kEntryBytes != 0) return Damaged("symbol table");
    if (!IsCharVector(pool)) return Damaged("name pool");
    const uint32_t count = static_cast<uint32_t>(table->number) / kEntryBytes;
    if (count > kMaxSymbols) return Damaged("too many names");
    const auto *bytes = DataOf<const uint8_t>(table);
    const auto *names = DataOf<const char>(pool);
    const auto poolLength = static_cast<uint32_t>(pool->number);
    image.entries.resize(count);
    holds.assign(count, false);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *raw = bytes + i * kEntryBytes;
        const uint32_t offset = ReadWord(raw);
        if (offset >= poolLength) return Damaged("name outside the pool");
        const void *end = memchr(names + offset, 0, poolLength - offset);
        if (!end) return Damaged("name outside the pool");
        const auto length = static_cast<int32_t>(static_cast<const char *>(end) - (names + offset));
        if (!IsValidName(names + offset, length)) return Damaged("invalid name");
        ImageEntry &entry = image.entries[i];
        entry.name.assign(names + offset, static_cast<size_t>(length));
        entry.kind = raw[4];
        entry.kindHigh = raw[5];
        if (!KnownKind(entry.kind, entry.kindHigh)) return Damaged("unknown kind of name");
        if (IsSystemName(entry.name)) {
            // A system name is never a user's object; a value stored under it
            // goes through the checks of the system variable, whatever its kind.
            if (entry.kind & APL_KIND_USER) return Damaged("function with a system name");
            if ((entry.kind & APL_KIND_VARIABLE) && !IsLabel(entry.kind))
                entry.kind = APL_KIND_SYSTEM | APL_KIND_VARIABLE;
        }
        if (!image.byName.emplace(entry.name, i).second) return Damaged("name entered twice");
        holds[i] = HoldsValue(entry.kind, ReadWord(raw + 8) != 0);
    }
    return true;
}

// Takes the values of item 3 into the entries that hold one: each linked
// into its entry (the lines of a function rebuilt from its text).
bool ReadValues(const aplarray *values, WorkspaceImage &image, const std::vector<bool> &holds) {
    int64_t expected = 0;
    for (bool h : holds) expected += h ? 1 : 0;
    if (!values || values->rank != 1 || values->number != expected || (expected > 0 && !IsNested(values)))
        return Damaged("too few or too many values");
    int32_t next = 0;
    for (size_t i = 0; i < holds.size(); ++i) {
        if (!holds[i]) continue;
        ImageEntry &entry = image.entries[i];
        const aplarray *value = ItemsOf(values)[next++];
        if (entry.kind & APL_KIND_USER) {
            if (!TakeFunction(value, entry)) return false;
        } else {
            if (!value) return Damaged("missing value");
            entry.value = APL_LinkEx(const_cast<aplarray *>(value), HERE);
        }
    }
    return true;
}

// Reads and checks the whole file into `image`, which links what it keeps;
// the array read is released. False with the error set; nothing of the
// workspace is touched either way.
bool ReadImage(const std::string &file, WorkspaceImage &image) {
    aplarray *contents = APL_LinkEx(APL_ReadWrite(nullptr, nullptr, MakeString(file.c_str())), HERE);
    if (!contents) return false;
    struct Release {
        aplarray *held;
        ~Release() { APL_UnLinkEx(held, HERE); }
    } release{contents};
    if (!IsNested(contents) || contents->rank != 1 || contents->number != 4) return Damaged("not a workspace");
    aplarray *const *items = ItemsOf(contents);
    std::vector<bool> holds;
    if (!ReadEntries(items[0], items[1], image, holds)) return false;
    if (!ReadValues(items[2], image, holds)) return false;
    if (!IsCharVector(items[3]) || items[3]->number != 4) return Damaged("save time");
    image.savedAt = ReadWord(DataOf<const uint8_t>(items[3]));
    return true;
}

// ---- Installing objects ---------------------------------------------------------------

// Fixes a function from its stored lines (borrowed) and gives it its stored
// time stamps. False with the error set when the text does not define the
// function of the entry's name; a text that names another object is refused
// before it is fixed, so that it cannot replace that object.
bool FixFunction(const ImageEntry &entry) {
    std::string defined;
    if (!DefinedName(entry.value, defined) || defined != entry.name) {
        SetErrorText(APL_ERR_DEFN, "Function %s cannot be fixed", entry.name.c_str());
        return false;
    }
    aplarray *result = DefineFunction(entry.value);
    TempGuard guard(result);
    const bool named = result && IsCharVector(result) &&
                       std::string_view(DataOf<const char>(result), static_cast<size_t>(result->number)) == entry.name;
    if (!named) {
        SetErrorText(APL_ERR_DEFN, "Function %s cannot be fixed", entry.name.c_str());
        return false;
    }
    const aplarray *record = FixedRecord(LookupName(entry.name));
    if (record && record->number >= static_cast<int32_t>(kRecordHeaderBytes)) {
        auto *bytes = DataOf<uint8_t>(record);
        WriteWord(bytes + 4 * kWordCreated, entry.created);
        WriteWord(bytes + 4 * kWordFixed, entry.fixed);
    }
    return true;
}

// A system variable's value through the checked assignment, which links it
// (or a checked copy): a value the library would refuse (PP 1000, an EL)
// leaves the default in place.
void AssignSystemValue(uint16_t index, aplarray *value) {
    aplarray *stored = AssignSystemVariable(index, value);
    (void)stored;
    aplerrno = 0;
    APL_error_message[0] = 0;
}

bool IsSystemVariable(uint16_t index) {
    return IsSymbol(index) && Symbol(index).kind == (APL_KIND_SYSTEM | APL_KIND_VARIABLE);
}

// Builds the workspace of the image in the current (empty) table: every name at
// its stored index, the standard names and system functions, the variables, the
// functions fixed from their text, then the system variables.
bool BuildWorkspace(const WorkspaceImage &image) {
    for (size_t i = 0; i < image.entries.size(); ++i) {
        const std::string &name = image.entries[i].name;
        void *none = nullptr;
        if (DefineName(name.data(), static_cast<int32_t>(name.size()), 0, &none) != i) return false;
    }
    CreateStandardNames();
    if (aplerrno || !ReregisterSystemFunctions()) return false;
    for (const ImageEntry &entry : image.entries) {
        if (!entry.value || (entry.kind & (APL_KIND_SYSTEM | APL_KIND_USER))) continue;
        void *value = APL_LinkEx(entry.value, HERE);
        if (DefineName(entry.name.data(), static_cast<int32_t>(entry.name.size()), APL_KIND_VARIABLE, &value) ==
            APL_symtab.count) {
            APL_UnLinkEx(static_cast<aplarray *>(value), HERE);
            return false;
        }
    }
    for (const ImageEntry &entry : image.entries)
        if (entry.value && (entry.kind & APL_KIND_USER) && !FixFunction(entry)) return false;
    for (const ImageEntry &entry : image.entries) {
        if (!entry.value || entry.kind != (APL_KIND_SYSTEM | APL_KIND_VARIABLE)) continue;
        const uint16_t index = LookupName(entry.name);
        if (IsSystemVariable(index)) AssignSystemValue(index, entry.value);
    }
    return true;
}

int32_t ModeValue() { return static_cast<int32_t>(FirstNumber(APL_Variable(sys_MODE_idx), 0)); }

// MODE bit 0x04 follows script mode: set in script mode, and kept clear when it
// was clear before the load.
void SettleScriptBit(bool wasSet) {
    int32_t mode = ModeValue();
    if (session.scriptMode)
        mode |= kModeScript;
    else if (!wasSet)
        mode &= ~static_cast<int32_t>(kModeScript);
    SetSymbolValue(sys_MODE_idx, MakeInt(mode));
    sessionMode = (sessionMode & ~0x0Fu) | static_cast<uint32_t>(mode);
}

std::string OpenableName(const std::string &file) {
    if (FILE *f = fopen(file.c_str(), "rb")) {
        fclose(f);
        return file;
    }
    return file + ".kaz";
}

// The names a COPY word stands for: the rows or blank-separated words of a
// character variable (borrowed).
void NamesOfText(const aplarray *text, std::vector<std::string> &names) {
    if (!text || IsNested(text) || text->eltype != APL_CHAR) return;
    const int32_t row = text->rank ? RowLength(text) : 1;
    const int64_t count = ElementCount(text);
    const char *chars = DataOf<const char>(text);
    std::string word;
    for (int64_t i = 0; i <= count; ++i) {
        const bool boundary = i == count || chars[i] == ' ' || (row > 0 && i % row == 0);
        if (boundary && !word.empty()) {
            names.push_back(word);
            word.clear();
        }
        if (i < count && chars[i] != ' ') word += chars[i];
    }
}

// The value of a variable here (borrowed, not linked), or null.
aplarray *VariableValue(const std::string &name) {
    const uint16_t index = LookupName(name);
    if (!IsSymbol(index)) return nullptr;
    const aplsymbol &entry = Symbol(index);
    return (entry.kind & APL_KIND_VARIABLE) && !IsLabel(entry.kind) ? static_cast<aplarray *>(entry.value) : nullptr;
}

// Copies one object of the image: a variable's value is linked to the name,
// a function fixed again from its text. Writes a line when it cannot.
void CopyObject(const WorkspaceImage &image, const std::string &name, bool protect) {
    const ImageEntry *entry = image.Find(name);
    if (!entry || !entry->value) {
        WriteLinef("NOT FOUND : %s", name.c_str());
        return;
    }
    const uint16_t existing = LookupName(name);
    if (protect && IsSymbol(existing) && Symbol(existing).value) return;
    bool copied;
    if (entry->kind & APL_KIND_USER) {
        copied = FixFunction(*entry);
    } else if (entry->kind & APL_KIND_SYSTEM) {
        copied = IsSystemVariable(existing) && AssignSystemVariable(existing, entry->value);
    } else {
        void *value = APL_LinkEx(entry->value, HERE);
        copied = DefineName(name.data(), static_cast<int32_t>(name.size()), entry->kind, &value) != APL_symtab.count;
        if (!copied) APL_UnLinkEx(static_cast<aplarray *>(value), HERE);
    }
    aplerrno = 0;
    APL_error_message[0] = 0;
    if (!copied) WriteLinef("NOT COPIED : %s", name.c_str());
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t &year, int &month, int &day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    year = yearOfEra + era * 400 + (month <= 2);
}

}  // namespace

// ---- Exported to the commands -------------------------------------------------------------

std::string WorkspaceFileName(const std::string &name) { return WithExtension(name, kWorkspaceExtension); }

std::string SaveTimeText(uint32_t stored) {
    // The local time of the last moment the platform's time_t can hold (all of
    // them on 64-bit systems), moved on by the rest: a 32-bit time_t ends in
    // 2038, the stored word in 2106.
    const int64_t seconds = static_cast<int64_t>(stored) - kTimeOffset;
    const time_t held = static_cast<time_t>(std::min<int64_t>(seconds, std::numeric_limits<time_t>::max()));
    struct tm local {};
    if (!localtime_r(&held, &local)) return "";
    const int64_t heldLocal = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
                              local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int64_t localSeconds = heldLocal + (seconds - static_cast<int64_t>(held));
    const int64_t days = localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400;
    const int64_t inDay = localSeconds - days * 86400;
    int64_t year;
    int month, day;
    CivilFromDays(days, year, month, day);
    static const char *const kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04lld", kWeekdays[((days % 7) + 7) % 7], kMonths[month - 1],
             day, static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60),
             static_cast<long long>(year));
    return text;
}

// Builds the 4-item workspace value (a temporary whose items link the values)
// and writes it; the serialiser releases it.
bool SaveWorkspace(uint32_t &savedAt) {
    const uint32_t count = APL_symtab.count;
    std::vector<uint8_t> table(static_cast<size_t>(count) * kEntryBytes, 0);
    std::vector<aplarray *> values;
    for (uint32_t i = 0; i < count; ++i) {
        const aplsymbol &entry = APL_symtab.entries[i];
        uint8_t *raw = table.data() + static_cast<size_t>(i) * kEntryBytes;
        // An operand name only means something while its operator runs.
        const int kind = entry.kind == APL_KIND_OPERAND ? 0 : entry.kind;
        const bool marked = entry.value && kind && !IsLabel(kind);
        WriteWord(raw, entry.name);
        raw[4] = static_cast<uint8_t>(kind);
        raw[5] = entry.kindHigh;
        WriteWord(raw + 8, marked ? 1 : 0);
        if (HoldsValue(kind, marked)) values.push_back(static_cast<aplarray *>(entry.value));
    }
    savedAt = static_cast<uint32_t>(static_cast<uint64_t>(time(nullptr)) + kTimeOffset);
    uint8_t stamp[4];
    WriteWord(stamp, savedAt);

    const int32_t four = 4, n = static_cast<int32_t>(values.size());
    aplarray *workspace = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &four, HERE);
    if (!workspace) return false;
    TempGuard guard(workspace);
    aplarray *valueVector = n ? AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE) : CharVector("", 0);
    if (!valueVector) return false;
    for (int32_t i = 0; i < n; ++i) ItemsOf(valueVector)[i] = APL_LinkEx(values[static_cast<size_t>(i)], HERE);
    ItemsOf(workspace)[2] = APL_LinkEx(valueVector, HERE);
    aplarray *parts[] = {CharVector(table.data(), table.size()), CharVector(APL_symtab.pool, APL_symtab.poolUsed),
                         CharVector(stamp, 4)};
    for (aplarray *part : parts)
        if (!part) {
            for (aplarray *p : parts) APL_UnLinkTempEx(p, HERE);
            return false;
        }
    ItemsOf(workspace)[0] = APL_LinkEx(parts[0], HERE);
    ItemsOf(workspace)[1] = APL_LinkEx(parts[1], HERE);
    ItemsOf(workspace)[3] = APL_LinkEx(parts[2], HERE);
    // The serialiser writes a temporary file and renames it over the old one.
    aplarray *written = APL_ReadWrite(nullptr, guard.release(), MakeString(WorkspaceFileName(APL_workspaceID).c_str()));
    APL_UnLinkTempEx(written, HERE);
    return aplerrno == 0;
}

void LoadWorkspace() {
    WorkspaceImage image;
    if (!ReadImage(WorkspaceFileName(APL_workspaceID), image)) return;
    const std::string identity = APL_workspaceID;
    const bool scriptBitWasSet = (ModeValue() & kModeScript) != 0;
    const uint32_t oldMode = sessionMode;
    const bool oldLenient = lenientFixing;

    // The new workspace is built beside the old one, which is put aside whole.
    SymbolTableState old = TakeSymbolTable();
    const ConstantPoolState oldPool = TakeConstantPool();
    const TokenBuffer oldBuffer = SaveCodeBuffer();
    lenientFixing = true;
    const bool built = BuildWorkspace(image);
    lenientFixing = oldLenient;
    RestoreCodeBuffer(oldBuffer);
    RestoreConstantPool(oldPool);
    if (!built) {
        const int32_t code = aplerrno ? aplerrno : APL_ERR_WSFULL;
        const std::string message = APL_error_message;
        RestoreSymbolTable(old);
        sessionMode = oldMode;
        SetErrorText(code, "%s", message.c_str());
        return;
    }
    // Nothing of the old workspace may remain: its table goes back in place
    // only to be reset with every other part of the runtime state.
    const SymbolTableState fresh = TakeSymbolTable();
    RestoreSymbolTable(old);
    ResetRuntimeState();
    RestoreSymbolTable(fresh);
    SettleScriptBit(scriptBitWasSet);
    SetWorkspaceID(identity.c_str());
    WriteLinef("'%s' saved at %s", APL_workspaceID, SaveTimeText(image.savedAt).c_str());
}

bool CopyWorkspace(const std::string &file, const std::vector<std::string> &words, bool protect) {
    WorkspaceImage image;
    if (!ReadImage(OpenableName(file), image)) return false;
    const TokenBuffer outerBuffer = SaveCodeBuffer();
    const ConstantPoolState outerPool = TakeConstantPool();
    std::vector<std::string> names;
    if (words.empty()) {
        for (const ImageEntry &entry : image.entries)
            if (entry.value && !(entry.kind & APL_KIND_SYSTEM)) names.push_back(entry.name);
    }
    for (const std::string &word : words) {
        const bool bracketed = word.size() > 2 && word.front() == '[' && word.back() == ']';
        const bool parenthesised = word.size() > 2 && word.front() == '(' && word.back() == ')';
        if (!bracketed && !parenthesised) {
            names.push_back(word);
            continue;
        }
        const std::string inner = word.substr(1, word.size() - 2);
        const aplarray *text = nullptr;
        if (bracketed) {
            text = VariableValue(inner);
        } else if (const ImageEntry *entry = image.Find(inner)) {
            if (!(entry->kind & APL_KIND_USER)) text = entry->value;
        }
        if (!text || IsNested(text) || text->eltype != APL_CHAR)
            names.push_back(word);  // reported as not found, in its turn
        else
            NamesOfText(text, names);
    }
    for (const std::string &name : names) CopyObject(image, name, protect);
    RestoreCodeBuffer(outerBuffer);
    RestoreConstantPool(outerPool);
    return true;
}
