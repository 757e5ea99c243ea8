// symtab: the workspace's one flat table of names, the system variables with
// their defaults, and the constant pool of fixed functions.
// Relies on the array core; names are in the system's 8-bit character set.
#include "core/symtab.h"

#include "core/arrays.h"
#include "core/errors.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

aplsymtab APL_symtab;

uint16_t sys_ELIDE_idx, sys_PW_idx, sys_CT_idx, sys_PP_idx, sys_IO_idx, sys_DIV_idx, sys_AV_idx, sys_RL_idx,
    sys_MODE_idx, sys_alph_idx, sys_Alph_idx, sys_DIGIT_idx, sys_LX_idx, sys_TC_idx, sys_NLT_idx, sys_SM_idx,
    sys_FC_idx, sys_EM_idx, sys_WA_idx;

namespace {

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string_view NameAt(uint16_t index) { return SymbolName(index); }

// Byte order of unsigned characters, a prefix first.
int CompareNames(std::string_view a, std::string_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    const int c = n ? memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// Position in `sorted` of the name, or of the first greater name.
uint16_t SortedPosition(std::string_view name, bool &found) {
    uint32_t low = 0, high = APL_symtab.count;
    while (low < high) {
        const uint32_t middle = (low + high) / 2;
        const int c = CompareNames(NameAt(APL_symtab.sorted[middle]), name);
        if (c == 0) {
            found = true;
            return static_cast<uint16_t>(middle);
        }
        if (c < 0)
            low = middle + 1;
        else
            high = middle;
    }
    found = false;
    return static_cast<uint16_t>(low);
}

constexpr int kFunctionKinds = APL_KIND_FUNCTION | APL_KIND_MONOP | APL_KIND_DYOP;

// Applies the redefinition rules to an existing entry; false with the error set
// when the new kind may not replace the old one, `keep` when nothing changes.
bool MayRedefine(aplsymbol &entry, int32_t kind, bool &keep) {
    keep = false;
    if (!entry.value) return true;
    if (entry.kind & APL_KIND_VARIABLE) {
        if (kind & kFunctionKinds) {
            SetError(APL_ERR_DEFN);
            return false;
        }
        APL_UnLinkEx(static_cast<aplarray *>(entry.value), HERE);
        return true;
    }
    if (!(entry.kind & kFunctionKinds)) {
        keep = true;
        return true;
    }
    if (kind & APL_KIND_VARIABLE) {
        SetError(APL_ERR_SYNTAX);
        return false;
    }
    if (entry.kind & APL_KIND_USER) APL_UnLinkEx(static_cast<aplarray *>(entry.value), HERE);
    return true;
}

void StoreEntry(aplsymbol &entry, int32_t kind, void *const *init) {
    entry.kind = static_cast<uint8_t>(kind);
    entry.kindHigh = static_cast<uint8_t>(kind >> 8);
    entry.zero[0] = entry.zero[1] = 0;
    entry.value = *init;
}

// Room reserved beyond what the table uses. The blocks grow geometrically, so
// that entering n names costs O(n) copying, not O(n^2) as growth by one would.
uint32_t entryCapacity = 0;
uint32_t poolCapacity = 0;

uint32_t Grown(uint32_t needed, uint32_t current) {
    uint32_t capacity = current ? current : 16;
    while (capacity < needed) capacity = capacity > UINT32_MAX / 2 ? needed : capacity * 2;
    return capacity;
}

// Makes room for one more name. On failure the table stays usable: a block may
// have grown, but count and the names are unchanged.
bool GrowForName(std::string_view name) {
    const uint32_t count = APL_symtab.count;
    if (count + 1 > entryCapacity) {
        const uint32_t capacity = Grown(count + 1, entryCapacity);
        auto *entries = static_cast<aplsymbol *>(ReallocBlock(APL_symtab.entries, capacity * sizeof(aplsymbol), HERE));
        if (!entries) return false;
        APL_symtab.entries = entries;
        auto *sorted = static_cast<uint16_t *>(ReallocBlock(APL_symtab.sorted, capacity * sizeof(uint16_t), HERE));
        if (!sorted) return false;
        APL_symtab.sorted = sorted;
        entryCapacity = capacity;
    }
    const uint64_t poolNeeded = static_cast<uint64_t>(APL_symtab.poolUsed) + name.size() + 1;
    if (poolNeeded > UINT32_MAX / 2) return false;
    if (poolNeeded > poolCapacity) {
        const uint32_t capacity = Grown(static_cast<uint32_t>(poolNeeded), poolCapacity);
        auto *pool = static_cast<char *>(ReallocBlock(APL_symtab.pool, capacity, HERE));
        if (!pool) return false;
        APL_symtab.pool = pool;
        poolCapacity = capacity;
    }
    return true;
}

}  // namespace

bool IsValidName(const char *name, int32_t length) {
    if (!name || length < 1) return false;
    const auto *p = reinterpret_cast<const uint8_t *>(name);
    const uint8_t first = p[0];
    if (!IsLetter(first) && first != glyph::kQuad && first != glyph::kQuoteQuad && first != glyph::kDelta &&
        first != glyph::kDeltaUnderbar && first != glyph::kAlpha)
        return false;
    for (int32_t i = 1; i < length; ++i) {
        const uint8_t c = p[i];
        if (!IsLetter(c) && !(c >= '0' && c <= '9') && c != '_' && c != glyph::kHighMinus && c != glyph::kDelta &&
            c != glyph::kDeltaUnderbar)
            return false;
    }
    return true;
}

uint16_t LookupName(std::string_view name) {
    if (APL_symtab.count == 0) return 0;
    bool found;
    const uint16_t position = SortedPosition(name, found);
    return found ? APL_symtab.sorted[position] : APL_symtab.count;
}

uint16_t DefineName(const char *name, int32_t length, int32_t kind, void *const *init) {
    if (!IsValidName(name, length)) {
        SetErrorText(APL_ERR_SYNTAX, "Illegal symbol name '%.*s' !", length > 0 ? length : 0, name);
        return APL_symtab.count;
    }
    const std::string_view text(name, static_cast<size_t>(length));
    bool found = false;
    const uint16_t position = APL_symtab.count ? SortedPosition(text, found) : 0;
    if (found) {
        const uint16_t index = APL_symtab.sorted[position];
        if (*init == nullptr) return index;
        bool keep;
        if (!MayRedefine(Symbol(index), kind, keep)) return APL_symtab.count;
        if (!keep) StoreEntry(Symbol(index), kind, init);
        return index;
    }
    if (APL_symtab.count >= kMaxSymbols || !GrowForName(text)) {
        SetError(APL_ERR_WSFULL);
        return APL_symtab.count;
    }
    const uint16_t index = APL_symtab.count;
    memcpy(APL_symtab.pool + APL_symtab.poolUsed, text.data(), text.size());
    APL_symtab.pool[APL_symtab.poolUsed + text.size()] = 0;
    aplsymbol &entry = APL_symtab.entries[index];
    entry.name = APL_symtab.poolUsed;
    APL_symtab.poolUsed += static_cast<uint32_t>(text.size() + 1);
    StoreEntry(entry, kind, init);
    memmove(APL_symtab.sorted + position + 1, APL_symtab.sorted + position,
            (APL_symtab.count - position) * sizeof(uint16_t));
    APL_symtab.sorted[position] = index;
    ++APL_symtab.count;
    return index;
}

extern "C" uint16_t APL_AddSymbol(const char *name, int32_t length, int32_t kind, void *const *init) {
    const uint16_t existing = LookupName(name, length);
    if (existing < APL_symtab.count && *init == nullptr) return existing;
    return DefineName(name, length, kind, init);
}

extern "C" aplarray *APL_Variable(uint16_t index) {
    return IsSymbol(index) ? static_cast<aplarray *>(Symbol(index).value) : nullptr;
}

uint16_t CreateSystemVariable(const char *name, aplarray *value) {
    const uint16_t existing = LookupName(name, static_cast<int32_t>(strlen(name)));
    if (existing < APL_symtab.count && Symbol(existing).value) {
        APL_UnLinkTempEx(value, HERE);
        return existing;
    }
    if (!value) return APL_symtab.count;
    void *init = APL_LinkEx(value, HERE);
    const uint16_t index =
        DefineName(name, static_cast<int32_t>(strlen(name)), APL_KIND_SYSTEM | APL_KIND_VARIABLE, &init);
    if (index == APL_symtab.count) APL_UnLinkEx(static_cast<aplarray *>(init), HERE);
    return index;
}

void DestroySymbolTable() {
    for (uint32_t i = 0; i < APL_symtab.count; ++i) {
        aplsymbol &entry = APL_symtab.entries[i];
        if ((entry.kind & (APL_KIND_VARIABLE | APL_KIND_USER)) && entry.value)
            APL_UnLinkEx(static_cast<aplarray *>(entry.value), HERE);
        entry.value = nullptr;
    }
    FreeBlock(APL_symtab.pool, HERE);
    FreeBlock(APL_symtab.sorted, HERE);
    FreeBlock(APL_symtab.entries, HERE);
    APL_symtab = aplsymtab{};
    entryCapacity = poolCapacity = 0;
}

namespace {
uint16_t *const kSystemIndices[] = {&sys_ELIDE_idx, &sys_PW_idx,    &sys_CT_idx, &sys_PP_idx,   &sys_IO_idx,
                                    &sys_DIV_idx,   &sys_AV_idx,    &sys_RL_idx, &sys_MODE_idx, &sys_alph_idx,
                                    &sys_Alph_idx,  &sys_DIGIT_idx, &sys_LX_idx, &sys_TC_idx,   &sys_NLT_idx,
                                    &sys_SM_idx,    &sys_FC_idx,    &sys_EM_idx, &sys_WA_idx};
static_assert(sizeof kSystemIndices / sizeof kSystemIndices[0] == sizeof SymbolTableState{}.systemIndices / 2);
}  // namespace

SymbolTableState TakeSymbolTable() {
    SymbolTableState state;
    state.table = APL_symtab;
    state.entryCapacity = entryCapacity;
    state.poolCapacity = poolCapacity;
    for (size_t i = 0; i < sizeof kSystemIndices / sizeof kSystemIndices[0]; ++i)
        state.systemIndices[i] = *kSystemIndices[i];
    APL_symtab = aplsymtab{};
    entryCapacity = poolCapacity = 0;
    return state;
}

void RestoreSymbolTable(const SymbolTableState &saved) {
    DestroySymbolTable();
    APL_symtab = saved.table;
    entryCapacity = saved.entryCapacity;
    poolCapacity = saved.poolCapacity;
    for (size_t i = 0; i < sizeof kSystemIndices / sizeof kSystemIndices[0]; ++i)
        *kSystemIndices[i] = saved.systemIndices[i];
}

void SetSymbolValue(uint16_t index, aplarray *value) {
    if (!IsSymbol(index)) return;
    aplsymbol &entry = Symbol(index);
    aplarray *linked = APL_LinkEx(value, HERE);
    aplarray *old = static_cast<aplarray *>(entry.value);
    entry.value = linked;
    APL_UnLinkEx(old, HERE);
}

// ---- System variables ----------------------------------------------------------

namespace {

aplarray *CharVector(const uint8_t *codes, int32_t n) {
    aplarray *a = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (a && n) memcpy(DataOf(a), codes, static_cast<size_t>(n));
    return a;
}

std::string QuadName(const char *letters) { return std::string(1, static_cast<char>(glyph::kQuad)) + letters; }

void CreateQuadVariable(uint16_t *index, const char *letters, aplarray *value) {
    const uint16_t i = CreateSystemVariable(QuadName(letters).c_str(), value);
    if (index) *index = i;
}

}  // namespace

void CreateSystemVariables(bool programMode) {
    const int32_t one = 1;
    aplarray *elide = AllocArray(APL_SIMPLE | APL_TEMP | APL_FLAG10, 1, APL_INTG, &one, HERE);
    if (elide) *DataOf<int32_t>(elide) = 0;
    CreateQuadVariable(&sys_ELIDE_idx, "EL", elide);
    CreateQuadVariable(&sys_PW_idx, "PW", MakeInt(79));
    CreateQuadVariable(&sys_CT_idx, "CT", MakeReal(1e-13));
    CreateQuadVariable(&sys_PP_idx, "PP", MakeInt(6));
    CreateQuadVariable(&sys_IO_idx, "IO", MakeInt(1));
    CreateQuadVariable(&sys_DIV_idx, "DIV", MakeInt(1));
    uint8_t codes[256];
    for (int i = 0; i < 256; ++i) codes[i] = static_cast<uint8_t>(i);
    CreateQuadVariable(&sys_AV_idx, "AV", CharVector(codes, 256));
    CreateQuadVariable(&sys_RL_idx, "RL", MakeInt(16807));
    CreateQuadVariable(&sys_MODE_idx, "MODE", MakeInt(programMode ? 4 : 0));
    CreateQuadVariable(&sys_alph_idx, "a", MakeString("abcdefghijklmnopqrstuvwxyz"));
    CreateQuadVariable(&sys_Alph_idx, "A", MakeString("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    CreateQuadVariable(&sys_DIGIT_idx, "D", MakeString("0123456789"));
    CreateQuadVariable(&sys_LX_idx, "LX", MakeString(""));
    const uint8_t terminal[] = {8, 13, 10};
    CreateQuadVariable(&sys_TC_idx, "TC", CharVector(terminal, 3));
    CreateQuadVariable(nullptr, "SENDER", MakeString(""));
    CreateQuadVariable(&sys_NLT_idx, "NLT", MakeString("ENGLISH"));
    const int32_t noRows[] = {0, 0};
    CreateQuadVariable(&sys_SM_idx, "SM", AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_CHAR, noRows, HERE));
    const uint8_t formatChars[] = {'.', ',', '*', '0', '_', glyph::kHighMinus};
    CreateQuadVariable(&sys_FC_idx, "FC", CharVector(formatChars, 6));
    CreateQuadVariable(&sys_EM_idx, "EM", MakeString("NO ERROR"));
    CreateQuadVariable(&sys_WA_idx, "WA", MakeInt(64000000));
    const char quad[] = {static_cast<char>(glyph::kQuad), 0};
    const char quoteQuad[] = {static_cast<char>(glyph::kQuoteQuad), 0};
    CreateSystemVariable(quad, MakeInt(0));
    CreateSystemVariable(quoteQuad, MakeInt(0));
}

double FirstNumber(const aplarray *a, double fallback) {
    if (!a || ElementCount(a) < 1) return fallback;
    switch (a->eltype) {
        case APL_INTG: return *DataOf<const int32_t>(a);
        case APL_REAL: return *DataOf<const double>(a);
        case APL_SHORT: return *DataOf<const int16_t>(a);
        case APL_BOOL: return *DataOf<const uint32_t>(a) & 1u;
        default: return fallback;
    }
}

namespace {
double SystemNumber(uint16_t index, double fallback) {
    return IsSymbol(index) ? FirstNumber(APL_Variable(index), fallback) : fallback;
}
}  // namespace

double ComparisonTolerance() { return SystemNumber(sys_CT_idx, 1e-13); }
// Read at every index: an INTG scalar, as ⎕IO nearly always holds, is taken
// where it lies.
int32_t IndexOrigin() {
    if (IsSymbol(sys_IO_idx)) {
        const auto *io = static_cast<const aplarray *>(Symbol(sys_IO_idx).value);
        if (io && io->rank == 0 && io->eltype == APL_INTG) return *DataOf<const int32_t>(io);
    }
    return static_cast<int32_t>(SystemNumber(sys_IO_idx, 1));
}
int32_t PrintWidth() { return static_cast<int32_t>(SystemNumber(sys_PW_idx, 79)); }
int32_t PrintPrecision() { return static_cast<int32_t>(SystemNumber(sys_PP_idx, 6)); }
int32_t DivisionMode() { return static_cast<int32_t>(SystemNumber(sys_DIV_idx, 1)); }

// ---- Constant pool -----------------------------------------------------------------

namespace {
char *constantPool = nullptr;
uint32_t constantPoolUsed = 0;
int32_t *constantOffsets = nullptr;
int32_t constantCount = 0;
// Changes whenever another pool becomes current, so that the cache of recent
// constants below never answers for a pool it was not filled from.
uint32_t poolGeneration = 0;
struct RecentConstant {
    uint32_t generation;
    int32_t offset;
};
RecentConstant recentConstants[64];
}  // namespace

namespace {
// The pool and its offset table grow to the next power of two, so that a
// line's constants do not each move the pool. The room is found from the
// count in use: a pool handed over and back keeps the same capacity.
uint64_t PoolRoom(uint64_t used, uint64_t least = 256) {
    uint64_t room = least;
    while (room < used) room *= 2;
    return room;
}

// The first words of `array` as the pool stores them (flagged static, one link).
constexpr size_t kPoolHead = offsetof(aplarray, number);
void PooledHead(const aplarray *array, char (&head)[kPoolHead]) {
    memcpy(head, array, kPoolHead);
    head[offsetof(aplarray, type)] = static_cast<char>(array->type | APL_STATIC);
    const int32_t one = 1;
    memcpy(head + offsetof(aplarray, lnkcnt), &one, sizeof one);
}

// Whether n bytes are equal. Most constants are a scalar or a short strand,
// compared here in a few words without a library call.
bool SameBytes(const char *a, const char *b, size_t n) {
    if (n > 64) return memcmp(a, b, n) == 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t x, y;
        memcpy(&x, a + i, 4);
        memcpy(&y, b + i, 4);
        if (x != y) return false;
    }
    for (; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// A hash of a record's bytes as the pool stores them: its head, then the rest.
uint64_t RecordHash(const char *head, const char *rest, size_t restLength) {
    uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](const char *bytes, size_t n) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t word;
            memcpy(&word, bytes + i, 8);
            h = (h ^ word) * 0x100000001B3ull;
            h ^= h >> 29;
        }
        for (; i < n; ++i) h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001B3ull;
    };
    mix(head, kPoolHead);
    mix(rest, restLength);
    return h ^ (h >> 32);
}

// An open-addressing index of the pool's records by RecordHash, so that
// pooling a constant costs the same however many are pooled: without it,
// fixing a function of many distinct lines took time in the square of their
// number. It follows the current pool: records added are indexed as they
// come, and another pool made current is indexed afresh when next used.
struct PoolIndex {
    std::vector<int32_t> slots;  // offsets into the pool, -1 empty; a power of two long
    uint32_t generation = 0;
    int32_t indexed = 0;  // the first constantCount records are in it
};
PoolIndex poolIndex;

uint64_t PooledHash(int32_t offset) {
    const char *record = constantPool + offset;
    const auto size = static_cast<size_t>(reinterpret_cast<const aplarray *>(record)->size);
    return RecordHash(record, record + kPoolHead, size - kPoolHead);
}

void IndexRecord(int32_t offset, uint64_t hash) {
    const size_t mask = poolIndex.slots.size() - 1;
    size_t at = hash & mask;
    while (poolIndex.slots[at] >= 0) at = (at + 1) & mask;
    poolIndex.slots[at] = offset;
}

// Brings the index up to the current pool with room for one more record.
void CatchUpPoolIndex() {
    if (poolIndex.generation != poolGeneration || poolIndex.indexed > constantCount) {
        poolIndex.slots.clear();
        poolIndex.indexed = 0;
        poolIndex.generation = poolGeneration;
    }
    if (poolIndex.slots.size() < 2 * static_cast<size_t>(constantCount + 1)) {
        size_t room = 64;
        while (room < 2 * static_cast<size_t>(constantCount + 1)) room *= 2;
        poolIndex.slots.assign(room, -1);
        poolIndex.indexed = 0;
    }
    for (; poolIndex.indexed < constantCount; ++poolIndex.indexed)
        IndexRecord(constantOffsets[poolIndex.indexed], PooledHash(constantOffsets[poolIndex.indexed]));
}

// The pool's copy is all that is kept of the array (the tokenizer passes a
// static record, which needs no release).
void ReleasePooled(aplarray *array) {
    if (!IsStatic(array)) APL_UnLinkEx(array, HERE);
}
}  // namespace

int32_t PoolConstant(aplarray *array) {
    if (!array || IsNested(array) || array->size < 20) {
        if (!aplerrno) SetError(APL_ERR_DOMAIN);
        APL_UnLinkEx(array, HERE);
        return -1;
    }
    const auto size = static_cast<uint32_t>(array->size);
    const uint32_t rounded = (size + 3) & ~3u;
    char head[kPoolHead];
    PooledHead(array, head);
    const char *rest = reinterpret_cast<const char *>(array) + kPoolHead;
    auto same = [&](int32_t offset) {
        const char *pooled = constantPool + offset;
        return memcmp(pooled, head, kPoolHead) == 0 && SameBytes(pooled + kPoolHead, rest, size - kPoolHead);
    };
    // A line repeats its constants: the last record pooled with the same
    // hash is tried before the whole pool is searched.
    // Hashed on its size and first data words (the count, then the values).
    uint32_t hash = size * 2654435761u;
    for (uint32_t i = 0; i + 4 <= size - kPoolHead && i < 16; i += 4) {
        uint32_t word;
        memcpy(&word, rest + i, 4);
        hash = (hash ^ word) * 2654435761u;
    }
    RecentConstant &recent = recentConstants[(hash >> 26) & 63];
    if (recent.generation == poolGeneration && static_cast<uint32_t>(recent.offset) + size <= constantPoolUsed &&
        same(recent.offset)) {
        ReleasePooled(array);
        return recent.offset;
    }
    try {
        CatchUpPoolIndex();
    } catch (const std::bad_alloc &) {
        SetError(APL_ERR_WSFULL);
        ReleasePooled(array);
        return -1;
    }
    const uint64_t fullHash = RecordHash(head, rest, size - kPoolHead);
    const size_t mask = poolIndex.slots.size() - 1;
    for (size_t at = fullHash & mask; poolIndex.slots[at] >= 0; at = (at + 1) & mask) {
        const int32_t candidate = poolIndex.slots[at];
        if (!same(candidate)) continue;
        recent = RecentConstant{poolGeneration, candidate};
        ReleasePooled(array);
        return candidate;
    }
    const uint64_t used = static_cast<uint64_t>(constantPoolUsed) + rounded;
    if (used > INT32_MAX) {
        SetError(APL_ERR_WSFULL);
        ReleasePooled(array);
        return -1;
    }
    if (!constantPool || used > PoolRoom(constantPoolUsed)) {
        auto *pool = static_cast<char *>(ReallocBlock(constantPool, PoolRoom(used), HERE));
        if (!pool) {
            SetError(APL_ERR_WSFULL);
            ReleasePooled(array);
            return -1;
        }
        constantPool = pool;
    }
    const auto count = static_cast<uint64_t>(constantCount);
    // The offsets start small (a line has a few constants): a block that the
    // small free lists recycle.
    if (!constantOffsets || count + 1 > PoolRoom(count, 32)) {
        auto *offsets =
            static_cast<int32_t *>(ReallocBlock(constantOffsets, PoolRoom(count + 1, 32) * sizeof(int32_t), HERE));
        if (!offsets) {
            SetError(APL_ERR_WSFULL);
            ReleasePooled(array);
            return -1;
        }
        constantOffsets = offsets;
    }
    // Stored static with one link, as every reader of the pool expects.
    const auto offset = static_cast<int32_t>(constantPoolUsed);
    char *record = constantPool + offset;
    memcpy(record, array, size);
    if (rounded > size) memset(record + size, 0, rounded - size);
    ReleasePooled(array);
    auto *stored = reinterpret_cast<aplarray *>(record);
    stored->type |= APL_STATIC;
    stored->lnkcnt = 1;
    constantPoolUsed = static_cast<uint32_t>(used);
    constantOffsets[constantCount++] = offset;
    IndexRecord(offset, fullHash);
    ++poolIndex.indexed;
    recent = RecentConstant{poolGeneration, offset};
    return offset;
}

namespace {
// INTG scalars pooled lately, by value; an entry answers only for the pool
// (generation) it was filled from, which only grows while it is current.
struct RecentInteger {
    bool used;
    uint32_t generation;
    int32_t value;
    int32_t offset;
};
RecentInteger recentIntegers[64];
}  // namespace

int32_t PoolInteger(int32_t value) {
    RecentInteger &recent = recentIntegers[static_cast<uint32_t>(value) & 63];
    if (recent.used && recent.generation == poolGeneration && recent.value == value &&
        static_cast<uint32_t>(recent.offset) + 20 <= constantPoolUsed)
        return recent.offset;
    // The record as AllocArray lays out a simple scalar, marked static so
    // that pooling it frees nothing.
    alignas(8) unsigned char bytes[24] = {};
    auto *record = reinterpret_cast<aplarray *>(bytes);
    record->size = 20;
    record->type = APL_SIMPLE | APL_STATIC;
    record->eltype = APL_INTG;
    record->number = 1;
    memcpy(bytes + 16, &value, 4);
    const int32_t offset = PoolConstant(record);
    if (offset >= 0) recent = RecentInteger{true, poolGeneration, value, offset};
    return offset;
}

aplarray *PooledConstant(int32_t offset) { return reinterpret_cast<aplarray *>(constantPool + offset); }

uint32_t ConstantPoolSize() { return constantPoolUsed; }

void ResetConstantPool() {
    FreeBlock(constantPool, HERE);
    FreeBlock(constantOffsets, HERE);
    constantPool = nullptr;
    constantOffsets = nullptr;
    constantPoolUsed = 0;
    constantCount = 0;
    ++poolGeneration;
    // The generation alone already keeps these from answering; emptied all
    // the same, so that a cleared workspace starts from nothing remembered.
    std::fill(std::begin(recentConstants), std::end(recentConstants), RecentConstant{});
    std::fill(std::begin(recentIntegers), std::end(recentIntegers), RecentInteger{});
}

ConstantPoolState TakeConstantPool() {
    ConstantPoolState state{constantPool, constantPoolUsed, constantOffsets, constantCount};
    constantPool = nullptr;
    constantOffsets = nullptr;
    constantPoolUsed = 0;
    constantCount = 0;
    ++poolGeneration;
    return state;
}

void RestoreConstantPool(const ConstantPoolState &saved) {
    ResetConstantPool();
    constantPool = saved.pool;
    constantPoolUsed = saved.used;
    constantOffsets = saved.offsets;
    constantCount = saved.count;
}
