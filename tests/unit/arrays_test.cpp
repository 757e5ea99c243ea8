// Array records: link counts, block reallocation and the guard-word reports
// (sizes refused before allocation are in rho.tr).
#include "support.h"

#include "core/errors.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

aplarray *Alloc(int flags, int eltype, std::vector<int32_t> shape) {
    return AllocArray(flags, static_cast<int>(shape.size()), eltype, shape.data(), HERE);
}

// A static record such as the constant pool holds, placed in caller memory.
struct StaticIntVector {
    alignas(8) unsigned char bytes[16 + 4 + 3 * 4];
    aplarray *array() { return reinterpret_cast<aplarray *>(bytes); }
    StaticIntVector() {
        const int32_t header[] = {static_cast<int32_t>(sizeof bytes), 0, 1, 3, 3, 7, 8, 9};
        memcpy(bytes, header, sizeof header);
        array()->type = APL_SIMPLE | APL_STATIC;
        array()->rank = 1;
        array()->eltype = APL_INTG;
        array()->pad = 0;
    }
};

using LinkCounts = LibraryTest;

TEST_F(LinkCounts, LinkingAStaticArrayGivesAFreshManagedCopyEachTime) {
    StaticIntVector constant;
    aplarray *s = constant.array();
    aplarray *first = APL_Link(s);
    aplarray *second = APL_Link(s);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, s);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->lnkcnt, 1);
    EXPECT_EQ(second->lnkcnt, 1);
    EXPECT_EQ(first->type & APL_STATIC, 0);
    EXPECT_EQ(static_cast<int32_t *>(APL_Data(second))[2], 9);
    // The static record is never touched by unlinking.
    APL_UnLink(s);
    APL_UnLinkTemp(s);
    EXPECT_EQ(s->lnkcnt, 1);
    EXPECT_EQ(CapturedOutput::Take(), "");
    APL_UnLink(first);
    APL_UnLink(second);
}

TEST_F(LinkCounts, VeryDeepNestingIsFreedWithoutExhaustingTheStack) {
    const int32_t before = LiveBlocks();
    aplarray *inner = APL_Int(0);
    for (int depth = 0; depth < 200000; ++depth) {
        aplarray *outer = Alloc(APL_TEMP, APL_NESTED, {});
        ItemsOf(outer)[0] = APL_Link(inner);
        inner = outer;
    }
    APL_UnLinkTemp(inner);
    EXPECT_EQ(LiveBlocks(), before);
}

using Blocks = LibraryTest;

TEST_F(Blocks, ReallocKeepsContentsAndPlaceInTheList) {
    auto *b = static_cast<char *>(AllocBlock(4, HERE));
    const int32_t serial = BlockHeader(b)->serial;
    memcpy(b, "abc", 4);
    aplarray *after = APL_Int(1);  // a later block, so the grown one sits mid-list
    b = static_cast<char *>(ReallocBlock(b, 1 << 20, HERE));
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b, "abc");
    EXPECT_EQ(BlockHeader(b)->serial, serial);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
    FreeBlock(b, HERE);
    APL_UnLinkTemp(after);
}

using GuardWords = LibraryTest;

TEST_F(GuardWords, ForeignPointersAreReportedAndLeftAlone) {
    alignas(16) unsigned char fake[64] = {};
    auto *a = reinterpret_cast<aplarray *>(fake + 32);
    a->type = APL_SIMPLE;
    a->eltype = APL_INTG;
    a->size = 20;
    a->lnkcnt = 1;
    APL_UnLinkEx(a, "/x/caller.cpp", 11);
    APL_UnLinkTempEx(a, "caller.cpp", 12);
    FreeBlock(a, "caller.cpp", 13);
    EXPECT_EQ(ReallocBlock(a, 8, "caller.cpp", 14), nullptr);
    FreeShell(a, "caller.cpp", 15);
    EXPECT_EQ(CapturedOutput::Take(),
              "INTERNAL ERROR: Unlinking invalid array at caller.cpp:11\n"
              "INTERNAL ERROR: TMP-Unlinking invalid array at caller.cpp:12\n"
              "INTERNAL ERROR: Can't free memory block at caller.cpp:13\n"
              "INTERNAL ERROR: Can't realloc memory block at caller.cpp:14\n"
              "INTERNAL ERROR: Unlinking invalid array at caller.cpp:15\n");
    EXPECT_EQ(a->lnkcnt, 1);
}

TEST_F(GuardWords, OverwrittenGuardWordStopsTheUnlink) {
    aplarray *a = APL_Int(3);
    memblock *header = BlockHeader(a);
    header->magic = 0xDEADBEEF;
    APL_UnLinkEx(a, "g.cpp", 1);
    EXPECT_EQ(CapturedOutput::Take(), "INTERNAL ERROR: Unlinking invalid array at g.cpp:1\n");
    header->magic = kBlockMagic;
    APL_UnLinkTemp(a);
}

TEST_F(GuardWords, RegistryStaysExactThroughManyAllocations) {
    std::vector<void *> live;
    unsigned seed = 12345;
    for (int step = 0; step < 20000; ++step) {
        seed = seed * 1103515245u + 12345u;
        if (live.empty() || (seed >> 16) % 3 != 0) {
            live.push_back(AllocBlock((seed >> 8) % 100, HERE));
        } else {
            const size_t victim = (seed >> 4) % live.size();
            FreeBlock(live[victim], HERE);
            EXPECT_FALSE(IsLiveBlock(live[victim]));
            live[victim] = live.back();
            live.pop_back();
        }
    }
    for (void *b : live) EXPECT_TRUE(IsLiveBlock(b));
    for (void *b : live) FreeBlock(b, HERE);
    EXPECT_EQ(CapturedOutput::Take(), "");
}

using BlockListing = LibraryTest;

TEST_F(BlockListing, MemDebugCountsBlocksAndLinks) {
    aplarray *before = APL_MemDebug(nullptr, nullptr, nullptr);
    const int32_t blocks = static_cast<int32_t *>(APL_Data(before))[0];
    const int32_t links = static_cast<int32_t *>(APL_Data(before))[1];
    APL_UnLinkTemp(before);
    aplarray *kept = APL_Link(APL_Link(APL_Int(1)));
    void *raw = AllocBlock(4, HERE);
    aplarray *after = APL_MemDebug(nullptr, nullptr, nullptr);
    EXPECT_EQ(after->rank, 1);
    EXPECT_EQ(after->eltype, APL_INTG);
    EXPECT_EQ(static_cast<int32_t *>(APL_Data(after))[0], blocks + 2);
    EXPECT_EQ(static_cast<int32_t *>(APL_Data(after))[1], links + 2);
    APL_UnLinkTemp(after);
    FreeBlock(raw, HERE);
    APL_UnLink(kept);
    APL_UnLink(kept);
}

TEST_F(BlockListing, ArraysLeftWithoutLinksAreReported) {
    aplarray *orphan = APL_Int(9);
    const int32_t serial = BlockHeader(orphan)->serial;
    APL_UnLinkTemp(APL_MemDebug(nullptr, nullptr, nullptr));
    char expected[96];
    snprintf(expected, sizeof expected, "INTERNAL ERROR: Array #%d has link count 0!\n", serial);
    EXPECT_EQ(CapturedOutput::Take(), expected);
    APL_UnLinkTemp(orphan);
}

}  // namespace
