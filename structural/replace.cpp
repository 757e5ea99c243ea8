// replace: APL_replace, which writes a character vector again with every old
// string of an (old new) pair replaced by its new string, scanning left to right.
// Relies on the array core, the standard wrapper and the shared string automaton.
#include "apl.h"
#include "core/arrays.h"
#include "core/automaton.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "structural/scratch.h"

#include <cstdint>
#include <cstring>

namespace {

bool Fail(int32_t code) {
    SetError(code);
    return false;
}

aplarray *Error(int32_t code) {
    SetError(code);
    return nullptr;
}

// One string of an old or new list; its characters stay in the argument.
struct Piece {
    const uint8_t *text;
    int32_t length;
};

// One side of the pair. Only reads the argument it points into.
class PieceList {
public:
    int32_t count() const { return count_; }
    const Piece &operator[](int32_t i) const { return pieces_[i]; }

    // One single character.
    bool ReadCharacter(const uint8_t *c) {
        if (!pieces_.Allocate(1)) return false;
        count_ = 1;
        pieces_[0] = {c, 1};
        return true;
    }
    // A CHAR item is a list of single characters, a nested item a list of
    // strings (CHAR scalars or vectors). RANK or DOMAIN for anything else.
    bool ReadItem(const aplarray *item) {
        if (item->rank > 1) return Fail(APL_ERR_RANK);
        if (!IsNested(item) && item->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
        if (!pieces_.Allocate(item->number)) return false;
        count_ = item->number;
        for (int32_t i = 0; i < count_; ++i) {
            if (!IsNested(item)) {
                pieces_[i] = {DataOf<uint8_t>(item) + i, 1};
                continue;
            }
            const aplarray *string = ItemsOf(item)[i];
            if (string->rank > 1) return Fail(APL_ERR_RANK);
            if (string->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
            pieces_[i] = {DataOf<uint8_t>(string), string->number};
        }
        return true;
    }

private:
    ScratchBlock<Piece> pieces_;
    int32_t count_ = 0;
};

// The (old new) pair read from the left argument, whose errors are found in
// this order. Only reads the argument.
bool ReadPairs(const aplarray *left, PieceList &old, PieceList &replacement) {
    if (left->rank != 1) return Fail(APL_ERR_RANK);
    if (left->number != 2) return Fail(APL_ERR_LENGTH);
    if (!IsNested(left)) {
        if (left->eltype != APL_CHAR) return Fail(APL_ERR_DOMAIN);
        const uint8_t *pair = DataOf<uint8_t>(left);
        return old.ReadCharacter(pair) && replacement.ReadCharacter(pair + 1);
    }
    if (!old.ReadItem(ItemsOf(left)[0]) || !replacement.ReadItem(ItemsOf(left)[1])) return false;
    if (old.count() != replacement.count()) {
        SetErrorText(APL_ERR_LENGTH, "Different length in left argument !");
        return false;
    }
    // An empty old string would match before every character.
    for (int32_t i = 0; i < old.count(); ++i)
        if (old[i].length == 0) return Fail(APL_ERR_DOMAIN);
    return true;
}

// The old strings compiled into the automaton that the keyword lexer uses:
// from a position in the text it finds the longest old string starting there.
class Matcher {
public:
    ~Matcher() {
        APL_UnLinkTempEx(columns_, HERE);
        APL_UnLinkTempEx(cells_, HERE);
    }

    bool Build(const PieceList &old) {
        ScratchBlock<AutomatonWord> words;
        if (!words.Allocate(old.count())) return false;
        // Of identical old strings the builder keeps the last it is given; the
        // list goes in backwards so that the first pair wins, as in a lookup.
        for (int32_t i = 0; i < old.count(); ++i) {
            const int32_t pair = old.count() - 1 - i;
            words[i] = {old[pair].text, old[pair].length, pair + 1};
        }
        if (!BuildAutomaton(words.get(), old.count(), columns_, cells_)) return false;
        width_ = cells_->shape[1];
        transitions_ = DataOf<int32_t>(cells_);
        // Characters in no old string share column 0, "any other character".
        const int32_t *columns = DataOf<int32_t>(columns_);
        for (int c = 0; c < 256; ++c) {
            column_[c] = columns[c] > 0 ? columns[c] : 0;
            starts_[c] = transitions_[column_[c]] != 0;
        }
        return true;
    }

    // Whether an old string can begin with this character.
    bool Starts(uint8_t c) const { return starts_[c]; }

    // The pair number + 1 of the longest old string that the text from `at`
    // begins with, or 0. The end of the text reads as "any other character".
    int32_t LongestAt(const uint8_t *text, int64_t at, int64_t length) const {
        int32_t state = 0;
        for (int64_t j = at;; ++j) {
            const int32_t column = j < length ? column_[text[j]] : 0;
            const int32_t entry = transitions_[static_cast<int64_t>(state) * width_ + column];
            // Column 0 never leads on; the test of j only makes that certain.
            if (entry > 0 && j < length) {
                state = entry;
                continue;
            }
            return -entry;
        }
    }

private:
    aplarray *columns_ = nullptr;
    aplarray *cells_ = nullptr;
    const int32_t *transitions_ = nullptr;
    int32_t width_ = 0;
    int32_t column_[256] = {};
    bool starts_[256] = {};
};

// Walks the text left to right, calling keep(from, count) for each run of
// characters written as they are and found(pair) for each old string found in
// place of which the pair's new string goes. A character where no old string
// begins is kept and the scan goes on from the next one. False with INTERRUPT.
template <class Keep, class Found>
bool Scan(const uint8_t *text, int64_t length, const Matcher &matcher, const PieceList &old, Keep keep, Found found) {
    StrideClock clock;
    int64_t keptTo = 0;
    for (int64_t i = 0; i < length;) {
        if (clock.passed(i)) return false;
        const int32_t pair = matcher.Starts(text[i]) ? matcher.LongestAt(text, i, length) - 1 : -1;
        if (pair < 0) {
            ++i;
            continue;
        }
        keep(keptTo, i - keptTo);
        found(pair);
        i += old[pair].length;
        keptTo = i;
    }
    keep(keptTo, length - keptTo);
    return true;
}

// The length of the replaced text; -1 with the error set (INTERRUPT). Known
// without a scan when every new string is as long as its old one.
int64_t ReplacedLength(const uint8_t *text, int64_t length, const Matcher &matcher, const PieceList &old,
                       const PieceList &replacement) {
    bool sameLengths = true;
    for (int32_t i = 0; i < old.count(); ++i) sameLengths = sameLengths && old[i].length == replacement[i].length;
    if (sameLengths) return length;
    int64_t total = 0;
    const bool scanned = Scan(
        text, length, matcher, old, [&](int64_t, int64_t n) { total += n; },
        [&](int32_t pair) { total += replacement[pair].length; });
    return scanned ? total : -1;
}

// The text with every old string replaced, as a new temporary CHAR vector.
// The length is counted first so that a result too large for a record is
// WS FULL before anything is written.
aplarray *Replace(const aplarray *right, const Matcher &matcher, const PieceList &old, const PieceList &replacement) {
    const uint8_t *text = DataOf<uint8_t>(right);
    const int64_t length = ReplacedLength(text, right->number, matcher, old, replacement);
    if (length < 0) return nullptr;
    // 16 header bytes and one shape word come before the characters.
    if (length > INT32_MAX - 64) return Error(APL_ERR_WSFULL);
    const auto n = static_cast<int32_t>(length);
    TempGuard result(AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_CHAR, &n, HERE));
    if (!result.get()) return nullptr;
    uint8_t *out = DataOf<uint8_t>(result.get());
    const bool scanned = Scan(
        text, right->number, matcher, old,
        [&](int64_t from, int64_t count) {
            memcpy(out, text + from, static_cast<size_t>(count));
            out += count;
        },
        [&](int32_t pair) {
            memcpy(out, replacement[pair].text, static_cast<size_t>(replacement[pair].length));
            out += replacement[pair].length;
        });
    return scanned ? result.release() : nullptr;
}

aplarray *ReplaceKernel(const CallArgs &args) {
    if (args.axis) return Error(APL_ERR_AXIS);
    if (!args.right) return Error(APL_ERR_SYNTAX);
    if (!args.left) return Error(APL_ERR_VALENCE);
    const aplarray *right = args.right;
    if (right->eltype != APL_CHAR) return Error(APL_ERR_DOMAIN);
    if (right->rank != 1) {
        SetErrorText(APL_ERR_RANK, "Right argument must be a character-vector !");
        return nullptr;
    }
    PieceList old, replacement;
    Matcher matcher;
    if (!ReadPairs(args.left, old, replacement) || !matcher.Build(old)) return nullptr;
    return Replace(right, matcher, old, replacement);
}

}  // namespace

// Replaces strings in a CHAR vector (left: the pair old new). Returns a new
// temporary CHAR vector. Consumes temporary arguments; linked ones are left as
// they were.
extern "C" aplarray *APL_replace(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Optional(kAnyType)};
    return StandardCall(kSignature, axis, left, right, ReplaceKernel);
}
