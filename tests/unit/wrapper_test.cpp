// The standard wrapper's hold on static arguments: a kernel that borrows them
// reads constants where they lie, every other kernel gets a managed copy, and
// no static record ever leaves as a result or has its header written.
#include "support.h"

#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"

#include <cstring>
#include <string>

namespace {

// A static record as the constant pool or a label holds it, placed at a
// chosen offset from an 8-byte boundary (pooled records promise only 4).
class StaticRecord {
public:
    StaticRecord(int eltype, const void *data, int32_t count, size_t offset) {
        const size_t dataBytes = ElementSize(eltype) * static_cast<size_t>(count);
        auto *a = reinterpret_cast<aplarray *>(bytes_ + offset);
        a->size = static_cast<int32_t>(20 + dataBytes);
        a->type = APL_SIMPLE | APL_STATIC;
        a->rank = 1;
        a->eltype = static_cast<uint8_t>(eltype);
        a->pad = 0;
        a->lnkcnt = 1;
        a->number = count;
        memcpy(bytes_ + offset + 16, &count, 4);
        memcpy(bytes_ + offset + 20, data, dataBytes);
        array_ = a;
    }
    aplarray *get() const { return array_; }

private:
    alignas(16) unsigned char bytes_[128] = {};
    aplarray *array_;
};

class Wrapper : public LibraryTest {
protected:
    // What the call printed while array tracing was on.
    template <class Call>
    static std::string Traced(Call call) {
        sessionMode = kModeTraceArrays;
        tracingActive = true;
        call();
        tracingActive = false;
        sessionMode = 0;
        return CapturedOutput::Take();
    }
    static bool Copied(const std::string &trace) { return trace.find("COPYING STATIC ARRAY") != std::string::npos; }
};

aplarray *HandBackRight(aplarray *right, bool borrows) {
    const ArgSpec spec = borrows ? Borrowed(Required(kAnyType)) : Required(kAnyType);
    return StandardCall({kRefused, kRefused, spec}, nullptr, nullptr, right, [](CallArgs &args) { return args.right; });
}

TEST_F(Wrapper, ReshapeReadsStaticArgumentsWhereTheyLie) {
    const int32_t two = 2, values[] = {7, 8, 9};
    StaticRecord left(APL_INTG, &two, 1, 4), right(APL_INTG, values, 3, 4);
    aplarray *result = nullptr;
    const std::string trace = Traced([&] { result = APL_Shape(nullptr, left.get(), right.get()); });
    EXPECT_FALSE(Copied(trace)) << trace;
    ASSERT_NE(result, nullptr);
    EXPECT_FALSE(IsStatic(result));
    EXPECT_EQ(result->lnkcnt, 0);
    ASSERT_EQ(result->number, 2);
    EXPECT_EQ(DataOf<int32_t>(result)[0], 7);
    EXPECT_EQ(DataOf<int32_t>(result)[1], 8);
    EXPECT_EQ(left.get()->lnkcnt, 1);
    EXPECT_EQ(right.get()->lnkcnt, 1);
    APL_UnLinkTemp(result);

    // An error leaves the constants as they were and nothing behind.
    const int32_t negative = -1;
    StaticRecord bad(APL_INTG, &negative, 1, 4);
    EXPECT_EQ(APL_Shape(nullptr, bad.get(), right.get()), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_DOMAIN);
    EXPECT_EQ(right.get()->lnkcnt, 1);
}

TEST_F(Wrapper, MisalignedRealsAndKernelsThatDoNotBorrowGetACopy) {
    const double reals[] = {1.5, -2.25};
    const int32_t three = 3;
    StaticRecord shape(APL_INTG, &three, 1, 0);
    // Data at 16 + 4 bytes past an 8-byte boundary: not to be read as doubles.
    StaticRecord misaligned(APL_REAL, reals, 2, 0), aligned(APL_REAL, reals, 2, 4);
    ASSERT_NE(reinterpret_cast<uintptr_t>(DataOf(misaligned.get())) % 8, 0u);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(DataOf(aligned.get())) % 8, 0u);
    for (const StaticRecord *reals : {&misaligned, &aligned}) {
        aplarray *result = nullptr;
        const std::string trace = Traced([&] { result = APL_Shape(nullptr, shape.get(), reals->get()); });
        EXPECT_EQ(Copied(trace), reals == &misaligned) << trace;
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(result->number, 3);
        EXPECT_EQ(DataOf<double>(result)[0], 1.5);
        EXPECT_EQ(DataOf<double>(result)[1], -2.25);
        EXPECT_EQ(DataOf<double>(result)[2], 1.5);
        APL_UnLinkTemp(result);
    }

    const int32_t values[] = {4, 5};
    StaticRecord vector(APL_INTG, values, 2, 4);
    aplarray *copy = nullptr;
    EXPECT_TRUE(Copied(Traced([&] { copy = HandBackRight(vector.get(), false); })));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, vector.get());
    APL_UnLinkTemp(copy);
}

TEST_F(Wrapper, ABorrowedArgumentHandedBackLeavesAsAManagedTemporary) {
    const int32_t values[] = {4, 5};
    StaticRecord vector(APL_INTG, values, 2, 4);
    aplarray *result = HandBackRight(vector.get(), true);
    ASSERT_NE(result, nullptr);
    EXPECT_NE(result, vector.get());
    EXPECT_FALSE(IsStatic(result));
    EXPECT_TRUE(IsLiveBlock(result));
    EXPECT_EQ(result->lnkcnt, 0);
    EXPECT_EQ(DataOf<int32_t>(result)[1], 5);
    EXPECT_EQ(vector.get()->lnkcnt, 1);
    APL_UnLinkTemp(result);

    // A managed argument handed back is passed through with its links as they were.
    aplarray *linked = APL_Link(APL_Int(3));
    EXPECT_EQ(HandBackRight(linked, true), linked);
    EXPECT_EQ(linked->lnkcnt, 1);
    APL_UnLink(linked);
}

}  // namespace
