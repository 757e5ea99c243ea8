// Serialised arrays and component files: IIOL sizes, IIOS layout and nesting
// limits, hostile and other-byte-order input, IIO component files (appends by
// several sessions show in the shared-files check), numbers no reader would
// take, and the checked-in files written by the 32-bit build.
#include "support.h"

#include "system/compfile.h"
#include "system/oserror.h"
#include "system/safefile.h"
#include "tests/fixtures/fixture_arrays.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <csignal>
#include <filesystem>

namespace {

using namespace fixture;
using Bytes = std::string;

// IIOS both ways; the argument is consumed (a linked one is kept).
Bytes Serialize(aplarray *array) {
    aplarray *bytes = APL_Serialize(nullptr, APL_Int(1), array);
    Bytes result = bytes ? Bytes(DataOf<const char>(bytes), static_cast<size_t>(bytes->number)) : "";
    APL_UnLinkTemp(bytes);
    return result;
}
aplarray *Deserialize(const Bytes &bytes) { return APL_Serialize(nullptr, nullptr, Chars(bytes)); }

int32_t Int32At(const Bytes &b, size_t at) {
    int32_t v;
    memcpy(&v, b.data() + at, 4);
    return v;
}
void PutInt32(Bytes &b, size_t at, int32_t v) { memcpy(b.data() + at, &v, 4); }

// An independent rewrite of serialised records into the other byte order:
// header integers and shape reversed, data by type, BOOL bits mirrored in
// every byte. Returns the offset after the record and its items.
size_t ToOtherByteOrder(Bytes &b, size_t at) {
    const int32_t size = Int32At(b, at), number = Int32At(b, at + 12);
    const int rank = static_cast<uint8_t>(b[at + 5]), eltype = static_cast<uint8_t>(b[at + 6]);
    auto reverse = [&b](size_t from, size_t n) { std::reverse(b.begin() + from, b.begin() + from + n); };
    for (size_t field : {0u, 8u, 12u}) reverse(at + field, 4);
    for (int i = 0; i < rank; ++i) reverse(at + 16 + 4 * i, 4);
    size_t data = at + 16 + 4 * static_cast<size_t>(rank);
    if (eltype == APL_NESTED) {
        for (int32_t i = 0; i < std::max(number, 1); ++i) data = ToOtherByteOrder(b, data);
        return data;
    }
    const size_t width = eltype == APL_INTG ? 4 : eltype == APL_REAL ? 8 : eltype == APL_SHORT ? 2 : 1;
    const size_t count = eltype == APL_BOOL ? 4 * static_cast<size_t>(number) : static_cast<size_t>(number);
    for (size_t i = 0; i < count; ++i) {
        if (eltype != APL_BOOL) {
            reverse(data + i * width, width);
            continue;
        }
        unsigned char v = static_cast<unsigned char>(b[data + i]), r = 0;
        for (int bit = 0; bit < 8; ++bit) r |= static_cast<unsigned char>(((v >> bit) & 1) << (7 - bit));
        b[data + i] = static_cast<char>(r);
    }
    return at + static_cast<size_t>(size);
}

aplarray *NameAndPosition(const std::string &name, int32_t position) {
    return Nested({APL_String(name.c_str()), APL_Int(position)});
}
// IIO append: (component number, offset), or empty when it failed.
std::vector<int32_t> Append(aplarray *value, const std::string &file) {
    aplarray *r = APL_ReadWrite(nullptr, value, NameAndPosition(file, 0));
    std::vector<int32_t> pair =
        r ? std::vector<int32_t>(DataOf<int32_t>(r), DataOf<int32_t>(r) + r->number) : std::vector<int32_t>{};
    APL_UnLinkTemp(r);
    return pair;
}
aplarray *ReadWhole(const std::string &file) { return APL_ReadWrite(nullptr, nullptr, APL_String(file.c_str())); }

// The array (consumed) equals what `expected` (consumed) builds.
void ExpectSame(aplarray *array, aplarray *expected, const std::string &what = "") {
    EXPECT_NE(array, nullptr) << what << ": error " << aplerrno << " " << APL_error_message;
    EXPECT_TRUE(Same(array, expected)) << what;
    APL_UnLinkTemp(array);
    APL_UnLinkTemp(expected);
}

using SerialRoundTrip = LibraryTest;

// Nested scalars inside each other, `depth` levels above an INTG scalar, with
// one link each as IIOS finds them in memory.
Bytes DeepBytes(int depth) {
    Bytes b;
    for (int i = 0; i < depth; ++i) b += Bytes("\x14\0\0\0\x02\0\x08\0\x01\0\0\0\x01\0\0\0", 16);
    // The innermost array is a vector: a nested scalar of a simple scalar would
    // read as that scalar.
    return b + Bytes("\x18\0\0\0\x01\x01\x02\0\x01\0\0\0\x01\0\0\0\x01\0\0\0\x09\0\0\0", 24);
}

TEST_F(SerialRoundTrip, NestingIsReadAndWrittenUpToTheLimitOnly) {
    const Bytes deep = DeepBytes(kMaxSerialDepth);
    aplarray *array = Deserialize(deep);
    ASSERT_NE(array, nullptr) << aplerrno;
    EXPECT_EQ(SerialLength(array), static_cast<int64_t>(deep.size()));
    EXPECT_EQ(Serialize(array), deep);
    Fails(Deserialize(DeepBytes(kMaxSerialDepth + 1)), APL_ERR_DOMAIN, "Incompatible data format");
    aplarray *deeper = APL_Int(1);
    for (int i = 0; i <= kMaxSerialDepth; ++i) deeper = Nested({deeper}, {});
    EXPECT_EQ(SerialLength(deeper), -1);
    Fails(APL_Serialize(nullptr, APL_Int(0), deeper), APL_ERR_LIMIT);
}

using HostileInput = LibraryTest;

TEST_F(HostileInput, InconsistentRecordsAreIncompatibleData) {
    const Bytes good = Serialize(Ints({1, 2, 3}));
    auto changed = [&good](size_t at, int32_t value, size_t width = 4) {
        Bytes b = good;
        memcpy(b.data() + at, &value, width);
        return b;
    };
    Bytes unknownType = changed(6, 3, 1);  // no such element type; its size rule gives 20
    PutInt32(unknownType, 0, 20);
    Bytes ranked = Bytes(16 + 4 * 65 + 4, '\0');  // rank 65 with a matching size
    PutInt32(ranked, 0, 16 + 4 * 65 + 4);
    ranked[4] = APL_SIMPLE;
    ranked[5] = 65;
    ranked[6] = APL_INTG;
    PutInt32(ranked, 12, 1);
    for (int i = 0; i < 65; ++i) PutInt32(ranked, 16 + 4 * i, 1);
    Bytes negative = Serialize(Ints({1, 2, 3, 4}, {2, 2}));  // axes -2 -2 give the number 4
    PutInt32(negative, 16, -2);
    PutInt32(negative, 20, -2);
    Bytes infinite = Serialize(Reals({1, 2}));
    PutInt32(infinite, 32, 0x7FF00000);
    Bytes notANumber = infinite;
    PutInt32(notANumber, 28, 1);
    Bytes corruptItem = Serialize(Nested({Chars("first"), Ints({1, 2}), Chars("third")}));
    PutInt32(corruptItem, 20 + 25, 99);
    const Bytes cases[] = {
        Bytes("not an array, just text"),
        changed(16, 4),
        changed(0, 29),
        changed(4, APL_NESTEDARRAY, 1),
        unknownType,
        ranked,
        negative,
        infinite,
        notANumber,
        corruptItem,
    };
    for (const Bytes &b : cases) Fails(Deserialize(b), APL_ERR_DOMAIN, "Incompatible data format");
    Fails(APL_Serialize(nullptr, nullptr, Nested({Chars("ab")})), APL_ERR_DOMAIN);
}

// ---- What the readers give back -----------------------------------------------------------

// Sets flag bits in the type byte of the record at `at` and of all its items,
// as a file written elsewhere might hold them. Returns the offset after them.
size_t MarkTypes(Bytes &b, size_t at, int flags) {
    b[at + 4] = static_cast<char>(static_cast<uint8_t>(b[at + 4]) | flags);
    if (b[at + 6] != APL_NESTED) return at + static_cast<size_t>(Int32At(b, at));
    size_t next = at + 16 + 4 * static_cast<size_t>(static_cast<uint8_t>(b[at + 5]));
    for (int32_t i = 0; i < std::max(Int32At(b, at + 12), 1); ++i) next = MarkTypes(b, next, flags);
    return next;
}

// Every type byte of the array and of its items is exactly the kind its
// element type implies. Consumes the array.
void ExpectPlainTypes(aplarray *a, const std::string &what) {
    ASSERT_NE(a, nullptr) << what << ": error " << aplerrno << " " << APL_error_message;
    std::vector<const aplarray *> pending{a};
    while (!pending.empty()) {
        const aplarray *x = pending.back();
        pending.pop_back();
        EXPECT_EQ(x->type, IsNested(x) ? APL_NESTEDARRAY : APL_SIMPLE) << what;
        if (IsNested(x))
            for (int32_t i = 0; i < ItemSlots(x); ++i) pending.push_back(ItemsOf(x)[i]);
    }
    APL_UnLinkTemp(a);
}

using Readers = LibraryTest;

// The flag bits mark arrays only inside the process that made them: the
// elided index (0x10, the value of EL), strands (0x08), index positions of a
// selective assignment (0x80), static records (0x40). An elided-index mark
// read from a file made an index select everything. Whatever a file holds
// (the whole-file and component writers store the type byte as it is in
// memory), every reader gives plain arrays.
TEST_F(Readers, NoFlagBitComesBackFromAnyReader) {
    auto build = [] { return Nested({Ints({0}), Chars("ab"), Nested({Reals({1.5}), APL_Int(3)})}); };
    auto flagged = [&build](int flags) {
        aplarray *a = build();
        aplarray *inner = ItemsOf(a)[2];
        for (aplarray *x : {a, ItemsOf(a)[0], ItemsOf(a)[1], inner, ItemsOf(inner)[0], ItemsOf(inner)[1]})
            x->type = static_cast<uint8_t>(x->type | flags);
        return a;
    };
    TempDir dir;
    const int kFlags[] = {APL_FLAG10, APL_STRAND, APL_INDEXPOS, APL_STATIC, 0x20, 0x04, 0xFC};
    for (int flags : kFlags) {
        const std::string what = "flags " + std::to_string(flags);
        Bytes bytes = Serialize(build());
        ASSERT_EQ(MarkTypes(bytes, 0, flags), bytes.size());
        ExpectPlainTypes(Deserialize(bytes), what + " IIOS");

        const std::string whole = dir.file("whole" + std::to_string(flags));
        aplarray *value = APL_Link(flagged(flags & ~APL_STATIC));
        EXPECT_EQ(APL_ReadWrite(nullptr, value, APL_String(whole.c_str())), nullptr);
        ExpectPlainTypes(ReadWhole(whole), what + " IIO");
        WriteFile(whole, bytes);
        ExpectPlainTypes(ReadWhole(whole), what + " IIO of a marked file");

        const std::string components = dir.file("comp" + std::to_string(flags));
        Append(value, components);
        Append(value, components);
        ExpectPlainTypes(ReadWhole(components), what + " components");
        ExpectPlainTypes(APL_ReadWrite(nullptr, nullptr, NameAndPosition(components, 20)), what + " component 1");
        APL_UnLink(value);
    }
}

using OtherByteOrder = LibraryTest;

TEST_F(OtherByteOrder, EveryTypeReadsWithItsValuesIntact) {
    auto build = [] {
        return Nested({Ints({1, -2, 0x01020304}), Reals({2.5, -1e300}, {1, 2}), Shorts({-300, 5}), Chars("text"),
                       Bools("1000000001000000"
                             "1",
                             {17}),
                       Nested({APL_Int(7)}, {0}), Ints({3}, {})});
    };
    Bytes b = Serialize(build());
    ASSERT_EQ(ToOtherByteOrder(b, 0), b.size());
    EXPECT_NE(b, Serialize(build()));
    // BOOL element 0 sits in bit 7 over there, element 9 in bit 6 of byte 1.
    const size_t bools = 20 + 32 + 40 + 24 + 24;
    EXPECT_EQ(b.substr(bools + 20, 3), Bytes("\x80\x40\x80", 3));
    ExpectSame(Deserialize(b), build());
}

using ComponentFiles = LibraryTest;

TEST_F(ComponentFiles, OtherByteOrderFileKeepsItsOrderWhenAppendedTo) {
    TempDir dir;
    const std::string file = dir.file("swapped");
    Append(Shorts({1, -2, 3}), file);
    Bytes bytes = ReadFile(file);
    ToOtherByteOrder(bytes, 0);
    WriteFile(file, bytes);
    EXPECT_EQ(Append(Chars("new"), file), (std::vector<int32_t>{2, static_cast<int32_t>(bytes.size())}));
    EXPECT_EQ(ReadFile(file).substr(0, 20), Bytes("\0\0\0\x1c\x02\x01\x08\0\0\0\0\0\0\0\0\x02\0\0\0\x02", 20));
    ExpectSame(ReadWhole(file), Nested({Shorts({1, -2, 3}), Chars("new")}));
}

// An INTG scalar inside `levels` nested scalars.
aplarray *NestedDeep(int levels) {
    aplarray *value = APL_Int(1);
    for (int i = 0; i < levels; ++i) value = Nested({value}, {});
    return value;
}

// Writes of this process beyond `bytes` fail (EFBIG) while it lives.
#ifndef _WIN32
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};
#else
// Windows has no limit of this kind: the test that needs it is left out there.
struct FileSizeLimit {
    explicit FileSizeLimit(uint64_t) { ADD_FAILURE() << "no file size limit for a process on Windows"; }
};
#endif

TEST_F(ComponentFiles, EveryFailedWriteLeavesTheFileReadableWithItsComponents) {
    TempDir dir;
    const std::string file = dir.file("comp.cf");
    Append(Chars("one"), file);
    Append(Ints({2, 2}), file);
    const Bytes before = ReadFile(file);
    // A component lies one level inside the file's vector: the deepest that
    // reads back whole is one level short of the limit.
    Fails(APL_ReadWrite(nullptr, NestedDeep(kMaxSerialDepth), NameAndPosition(file, 0)), APL_ERR_LIMIT);
    EXPECT_EQ(ReadFile(file), before);
    // A write that fails half-way is cut back to the old end.
    {
        FileSizeLimit limit(before.size() + 8);
        Fails(APL_ReadWrite(nullptr, Ints(std::vector<int32_t>(100, 7)), NameAndPosition(file, 0)), APL_ERR_FILEIO);
        EXPECT_EQ(pendingOsError, EFBIG);
    }
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(Append(NestedDeep(kMaxSerialDepth - 1), file).size(), 2u);
    aplarray *all = ReadWhole(file);
    ASSERT_NE(all, nullptr) << aplerrno;
    EXPECT_EQ(all->number, 3);
    APL_UnLinkTemp(all);
    // A whole-file write that fails keeps the old contents and leaves nothing beside them.
    const std::string whole = dir.file("whole");
    APL_ReadWrite(nullptr, Chars("old contents"), APL_String(whole.c_str()));
    const Bytes old = ReadFile(whole);
    {
        FileSizeLimit limit(old.size() + 8);
        Fails(APL_ReadWrite(nullptr, Ints(std::vector<int32_t>(100, 7)), APL_String(whole.c_str())), APL_ERR_FILEIO);
    }
    Fails(APL_ReadWrite(nullptr, NestedDeep(kMaxSerialDepth + 1), APL_String(whole.c_str())), APL_ERR_LIMIT);
    ExpectSame(ReadWhole(whole), Chars("old contents"));
    int entries = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.file(""))) ++entries;
    EXPECT_EQ(entries, 2);
}

// ---- Files made beside others -------------------------------------------------

using ComponentLocks = LibraryTest;

TEST_F(ComponentLocks, ANewFileIsNeverMadeOverOneThatAppeared) {
    TempDir dir;
    const std::string file = dir.file("made");
    WriteFile(file, "theirs");
    const FilePiece mine{"mine", 4};
    EXPECT_EQ(CreateNewFile(file.c_str(), &mine, 1), Creation::Existed);
    EXPECT_EQ(ReadFile(file), "theirs");
    EXPECT_EQ(CreateNewFile(dir.file("fresh").c_str(), &mine, 1), Creation::Created);
    EXPECT_EQ(ReadFile(dir.file("fresh")), "mine");
    int entries = 0;  // no temporary file is left beside them
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.file(""))) ++entries;
    EXPECT_EQ(entries, 2);
}

// ---- Numbers that no reader takes ---------------------------------------------------
// Every writer of serialised arrays refuses an infinity or NaN, which its
// reader would refuse, and writes the extremes of the doubles, which it reads.

struct SerialWriter {
    const char *name;
    // Writes the value (consumed) and reads it back; null with the error set.
    aplarray *(*writeAndRead)(aplarray *value, const std::string &file);
};

const SerialWriter kSerialWriters[] = {
    {"IIOS",
     [](aplarray *value, const std::string &) -> aplarray * {
         aplarray *bytes = APL_Serialize(nullptr, APL_Int(1), value);
         return bytes ? APL_Serialize(nullptr, nullptr, bytes) : nullptr;
     }},
    {"whole file",
     [](aplarray *value, const std::string &file) -> aplarray * {
         APL_ReadWrite(nullptr, value, APL_String(file.c_str()));
         return aplerrno ? nullptr : ReadWhole(file);
     }},
    {"component",
     [](aplarray *value, const std::string &file) -> aplarray * {
         const std::vector<int32_t> at = Append(value, file);
         return at.empty() ? nullptr : APL_ReadWrite(nullptr, nullptr, NameAndPosition(file, at[1]));
     }},
};

aplarray *Extremes() {
    constexpr double kMax = std::numeric_limits<double>::max();
    constexpr double kTiny = std::numeric_limits<double>::denorm_min();
    return Nested({Reals({kMax, -kMax, kTiny, -kTiny, std::numeric_limits<double>::min(), -0.0}),
                   Nested({Reals({1e308}, {}), Chars("x")})});
}

std::vector<aplarray *> NonFinite() {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    // An infinity far into a long vector, deep in a nested one.
    std::vector<double> longVector(200000, 1.0);
    longVector.back() = kInf;
    return {Reals({kInf}, {}), Reals({1, 2, -kInf}), Reals({nan}),
            Nested({Chars("deep"), Nested({Ints({1}), Reals(longVector)})})};
}

using FiniteNumbers = LibraryTest;

TEST_F(FiniteNumbers, EveryWriterReadsBackTheExtremesAndRefusesWhatItsReaderWould) {
    TempDir dir;
    for (const SerialWriter &writer : kSerialWriters) {
        const std::string file = dir.file(std::string(writer.name) + ".cf");
        ExpectSame(writer.writeAndRead(Extremes(), file), Extremes(), writer.name);
        const Bytes before = ReadFile(file);
        for (aplarray *value : NonFinite()) {
            Fails(writer.writeAndRead(value, file), APL_ERR_DOMAIN, "Infinity or NaN cannot be written");
            EXPECT_EQ(ReadFile(file), before) << writer.name;
        }
    }
}

using ThirtyTwoBitFiles = LibraryTest;

// Whole files, and a component file appended to component by component: the
// numbers and offsets of the appends, the bytes and every way of reading back.
TEST_F(ThirtyTwoBitFiles, CheckedInFilesReadBackAndAreWrittenByteForByte) {
    TempDir dir;
    for (const WholeFile &file : kWholeFiles) {
        ExpectSame(ReadWhole(Path(file.name)), file.build(), file.name);
        APL_ReadWrite(nullptr, file.build(), APL_String(dir.file(file.name).c_str()));
        EXPECT_EQ(aplerrno, 0);
        const Bytes checkedIn = ReadFile(Path(file.name));
        EXPECT_FALSE(checkedIn.empty()) << Path(file.name);
        EXPECT_EQ(ReadFile(dir.file(file.name)), checkedIn) << file.name;
    }
    const std::string mine = dir.file(kComponentFile), checkedIn = Path(kComponentFile);
    std::vector<int32_t> offsets;
    for (aplarray *component : Components()) {
        const std::vector<int32_t> at = Append(component, mine);
        ASSERT_EQ(at.size(), 2u);
        EXPECT_EQ(at[0], static_cast<int32_t>(offsets.size()) + 1);
        offsets.push_back(at[1]);
    }
    EXPECT_EQ(offsets[0], 20);
    EXPECT_EQ(ReadFile(mine), ReadFile(checkedIn));
    std::vector<aplarray *> components = Components();
    for (size_t i = 0; i < components.size(); ++i)
        ExpectSame(APL_ReadWrite(nullptr, nullptr, NameAndPosition(checkedIn, offsets[i])), components[i],
                   "component " + std::to_string(i + 1));
    ExpectSame(ReadWhole(checkedIn), Nested(Components()));
}

}  // namespace
