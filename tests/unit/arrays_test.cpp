// Array records, link counts, copying, block reallocation and the guard-word reports.
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

using ArrayRecord = LibraryTest;

TEST_F(ArrayRecord, EmptyNestedArrayKeepsOneNullPrototypeSlot) {
    aplarray *a = Alloc(APL_TEMP, APL_NESTED, {0});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->number, 0);
    EXPECT_EQ(a->type, APL_NESTEDARRAY);
    EXPECT_EQ(a->size, 16 + 4 + static_cast<int32_t>(sizeof(void *)));
    EXPECT_EQ(ItemsOf(a)[0], nullptr);
    // Unlinking visits the prototype slot: a prototype stored there is freed too.
    ItemsOf(a)[0] = APL_Link(APL_Int(0));
    APL_UnLinkTemp(a);
}

TEST_F(ArrayRecord, DataStartsOnA16ByteBoundaryForEveryRank) {
    for (int rank = 0; rank <= 8; ++rank) {
        for (int eltype : {APL_CHAR, APL_INTG, APL_REAL, APL_NESTED, APL_BOOL, APL_SHORT}) {
            std::vector<int32_t> shape(rank, 2);
            aplarray *a = Alloc(APL_TEMP, eltype, shape);
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(APL_Data(a)) % 16, 0u) << "rank " << rank;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 4, 0u);
            APL_UnLinkTemp(a);
        }
    }
}

using HugeShapes = LibraryTest;

// A wrapping count and a negative axis are DOMAIN, a record beyond the size
// field WS FULL, rank 65 LIMIT: all without allocating.
TEST_F(HugeShapes, AreErrorsWithoutAllocation) {
    const struct {
        std::vector<int32_t> shape;
        int eltype, error;
    } cases[] = {{{65536, 65536}, APL_INTG, APL_ERR_DOMAIN},  {{2, -1}, APL_CHAR, APL_ERR_DOMAIN},
                 {{46341, 46341}, APL_CHAR, APL_ERR_DOMAIN},  {{300000000}, APL_REAL, APL_ERR_WSFULL},
                 {{1 << 29}, APL_INTG, APL_ERR_WSFULL},       {std::vector<int32_t>(65, 1), APL_INTG, APL_ERR_LIMIT}};
    for (const auto &c : cases) {
        EXPECT_EQ(Alloc(APL_TEMP, c.eltype, c.shape), nullptr);
        EXPECT_EQ(aplerrno, c.error) << "rank " << c.shape.size();
        aplerrno = 0;
    }
    aplarray *a = Alloc(APL_TEMP, APL_INTG, std::vector<int32_t>(64, 1));
    ASSERT_NE(a, nullptr);
    APL_UnLinkTemp(a);
}

using LinkCounts = LibraryTest;

TEST_F(LinkCounts, UnlinkFreesAtTheLastLinkOnly) {
    const int32_t before = LiveBlocks();
    aplarray *a = APL_Link(APL_Link(APL_Int(7)));
    EXPECT_EQ(a->lnkcnt, 2);
    APL_UnLink(a);
    EXPECT_EQ(a->lnkcnt, 1);
    EXPECT_EQ(LiveBlocks(), before + 1);
    APL_UnLink(a);
    EXPECT_EQ(LiveBlocks(), before);
    // A temporary is freed by its first unlink.
    APL_UnLink(APL_Int(8));
    EXPECT_EQ(LiveBlocks(), before);
}

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

TEST_F(LinkCounts, NestedArrayOwnsOneLinkOnEachItem) {
    const int32_t before = LiveBlocks();
    aplarray *shared = APL_Link(APL_String("shared"));
    aplarray *n = Alloc(APL_TEMP, APL_NESTED, {2});
    ItemsOf(n)[0] = APL_Link(shared);
    ItemsOf(n)[1] = APL_Link(APL_Int(3));
    EXPECT_EQ(shared->lnkcnt, 2);
    APL_UnLinkTemp(n);
    EXPECT_EQ(shared->lnkcnt, 1);
    EXPECT_EQ(LiveBlocks(), before + 1);
    APL_UnLink(shared);
    EXPECT_EQ(LiveBlocks(), before);
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

TEST_F(LinkCounts, FreeShellLeavesTheHandedOverItemsAlive) {
    aplarray *item = APL_Link(APL_Int(5));
    aplarray *n = Alloc(0, APL_NESTED, {1});
    ItemsOf(n)[0] = APL_Link(item);
    ReleaseItemLinks(n);  // the item now belongs to somebody else
    EXPECT_EQ(item->lnkcnt, 1);
    FreeShell(n, HERE);
    EXPECT_TRUE(IsLiveBlock(item));
    EXPECT_EQ(item->lnkcnt, 1);
    APL_UnLink(item);
}

using Copying = LibraryTest;

// A copy is a fresh temporary down to the items; with an error pending there
// is none, and nothing is lost.
TEST_F(Copying, NestedCopyCopiesItemsToo) {
    aplarray *n = Alloc(0, APL_NESTED, {2});
    ItemsOf(n)[0] = APL_Link(APL_String("xy"));
    ItemsOf(n)[1] = APL_Link(APL_Int(4));
    aplarray *c = CopyArray(n, HERE);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->lnkcnt, 0);
    EXPECT_NE(ItemsOf(c)[0], ItemsOf(n)[0]);
    EXPECT_EQ(ItemsOf(c)[0]->lnkcnt, 1);
    static_cast<char *>(APL_Data(ItemsOf(c)[0]))[0] = 'Q';
    EXPECT_EQ(static_cast<char *>(APL_Data(ItemsOf(n)[0]))[0], 'x');
    APL_UnLinkTemp(c);
    aplerrno = APL_ERR_DOMAIN;
    EXPECT_EQ(CopyArray(n, HERE), nullptr);
    aplerrno = 0;
    APL_UnLink(n);
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

TEST_F(GuardWords, DataAccessChecksTheRecord) {
    EXPECT_EQ(APL_DataEx(nullptr, "d.cpp", 1), nullptr);
    EXPECT_EQ(CapturedOutput::Take(), "INTERNAL ERROR: Accessing NULL pointer at d.cpp:1\n");

    alignas(16) unsigned char fake[64] = {};
    auto *foreign = reinterpret_cast<aplarray *>(fake + 32);
    EXPECT_EQ(APL_DataEx(foreign, "d.cpp", 2), fake + 48);
    EXPECT_EQ(CapturedOutput::Take(),
              "INTERNAL ERROR: Accessing invalid array at d.cpp:2\n"
              "INTERNAL ERROR (memblock): Invalid array at d.cpp:2\n");

    aplarray *a = APL_Int(1);
    a->lnkcnt = -3;
    APL_DataEx(a, "d.cpp", 3);
    a->lnkcnt = 0;
    a->rank = 0xC8;  // -56 as a signed byte passes the rank test
    CheckArray(a, "d.cpp", 4);
    a->rank = 65;
    CheckArray(a, "d.cpp", 5);
    a->rank = 0;
    EXPECT_EQ(CapturedOutput::Take(),
              "INTERNAL ERROR (lnkcnt=-3): Invalid array at d.cpp:3\n"
              "INTERNAL ERROR (rank=65): Invalid array at d.cpp:5\n");
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

using Constructors = LibraryTest;

TEST_F(Constructors, ItemScalarPicksOneElement) {
    aplarray *b = AllocArray(APL_TEMP, 2, APL_BOOL, std::vector<int32_t>{2, 35}.data(), HERE);
    auto *words = DataOf<uint32_t>(b);
    words[0] = words[1] = words[2] = words[3] = 0;
    words[3] = 1u << 2;  // row 1, element 34
    aplarray *one = ItemScalar(b, 35 + 34);
    aplarray *zero = ItemScalar(b, 34);
    EXPECT_EQ(one->rank, 0);
    EXPECT_EQ(one->eltype, APL_BOOL);
    EXPECT_EQ(*DataOf<uint32_t>(one), 1u);
    EXPECT_EQ(*DataOf<uint32_t>(zero), 0u);
    aplarray *s = APL_String("xyz");
    aplarray *y = ItemScalar(s, 1);
    EXPECT_EQ(*DataOf<char>(y), 'y');
    aplarray *n = AllocArray(APL_TEMP, 1, APL_NESTED, std::vector<int32_t>{1}.data(), HERE);
    ItemsOf(n)[0] = APL_Link(s);
    aplarray *e = ItemScalar(n, 0);
    EXPECT_EQ(e->type, APL_NESTEDARRAY);
    EXPECT_EQ(ItemsOf(e)[0], s);
    EXPECT_EQ(s->lnkcnt, 2);
    for (aplarray *a : {one, zero, y, e, n, b}) APL_UnLinkTemp(a);
}

}  // namespace
