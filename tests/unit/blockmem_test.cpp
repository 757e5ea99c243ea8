// Recycling of block memory: small records come back from free lists, a few
// large freed blocks are kept within bounds, file names are interned, and the
// sanitize build keeps nothing so that AddressSanitizer sees every free.
#include "core/blockmem.h"
#include "support.h"

#include <cstring>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class BlockMemory : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ReleaseKeptMemory();
    }
    void TearDown() override {
        ReleaseKeptMemory();
        LibraryTest::TearDown();
    }
    static aplarray *IntVector(int32_t n) { return AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_INTG, &n, HERE); }
};

TEST_F(BlockMemory, FreedSmallRecordIsReusedAndCountedAsFree) {
    if (kSanitized) GTEST_SKIP() << "the sanitize build recycles nothing";
    const int32_t blocks = LiveBlocks();
    aplarray *first = APL_Int(1);
    ReleaseKeptMemory();
    APL_UnLinkTemp(first);
    EXPECT_EQ(KeptMemoryNow().smallBlocks, 1u);
    aplarray *second = APL_Int(2);
    EXPECT_EQ(second, first);
    EXPECT_EQ(*DataOf<int32_t>(second), 2);
    EXPECT_EQ(KeptMemoryNow().smallBlocks, 0u);
    EXPECT_TRUE(IsLiveBlock(second));
    APL_UnLinkTemp(second);
    EXPECT_FALSE(IsLiveBlock(second));
    EXPECT_EQ(LiveBlocks(), blocks);
}

TEST_F(BlockMemory, LargeBlockIsKeptAndReusedOnlyForASimilarSize) {
    if (kSanitized) GTEST_SKIP() << "the sanitize build keeps nothing";
    aplarray *big = IntVector(1 << 20);
    APL_UnLinkTemp(big);
    EXPECT_EQ(KeptMemoryNow().largeBlocks, 1u);
    // A much smaller request must not pin the 4 MB block.
    aplarray *small = IntVector(100000);
    EXPECT_NE(small, big);
    EXPECT_EQ(KeptMemoryNow().largeBlocks, 1u);
    aplarray *again = IntVector(1 << 20);
    EXPECT_EQ(again, big);
    EXPECT_EQ(KeptMemoryNow().largeBlocks, 0u);
    DataOf<int32_t>(again)[(1 << 20) - 1] = 7;  // the whole record is usable
    APL_UnLinkTemp(again);
    APL_UnLinkTemp(small);
}

TEST_F(BlockMemory, KeptLargeBlocksStayWithinTheirBounds) {
    std::vector<aplarray *> arrays;
    for (int32_t i = 0; i < 12; ++i) arrays.push_back(IntVector((1 << 22) + 4096 * i));
    for (aplarray *a : arrays) APL_UnLinkTemp(a);
    const KeptMemory now = KeptMemoryNow();
    EXPECT_LE(now.largeBlocks, 4u);
    EXPECT_LE(now.largeBytes, now.largeBlocks * (size_t{17} << 20));
    EXPECT_EQ(now.largeBlocks == 0, now.largeBytes == 0);
    ReleaseKeptMemory();
    EXPECT_EQ(KeptMemoryNow().largeBlocks, 0u);
    EXPECT_EQ(KeptMemoryNow().largeBytes, 0u);
}

#if defined(GTEST_HAS_DEATH_TEST) && GTEST_HAS_DEATH_TEST
TEST_F(BlockMemory, SanitizerStillSeesUseAfterFree) {
    if (!kSanitized) GTEST_SKIP() << "only the sanitize build checks every access";
    EXPECT_DEATH(
        {
            aplarray *a = APL_Int(5);
            APL_UnLinkTemp(a);
            aplarray *b = APL_Int(6);
            fprintf(stderr, "%d\n", *static_cast<volatile int32_t *>(DataOf<int32_t>(a)));
            APL_UnLinkTemp(b);
        },
        "use-after-free");
}
#endif

}  // namespace
