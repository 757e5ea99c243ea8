// The host's ceiling on workspace memory: past it allocation is WS FULL,
// below it everything works, and what is freed can be allocated again.
#include "support.h"

#include "core/errors.h"

namespace {

class AllocationLimit : public LibraryTest {
protected:
    void TearDown() override {
        APL_SetAllocationLimit(0);
        LibraryTest::TearDown();
    }
};

TEST_F(AllocationLimit, RaisedOrRemovedCeilingAllowsMore) {
    const int32_t n = 8 << 20;
    APL_SetAllocationLimit(1 << 20);
    EXPECT_EQ(APL_Shape(nullptr, APL_Int(n), APL_Int(1)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_WSFULL);
    aplerrno = 0;
    APL_SetAllocationLimit(0);
    aplarray *r = APL_Shape(nullptr, APL_Int(n), APL_Int(1));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->number, n);
    APL_UnLinkTemp(r);
    // A negative ceiling means none, as 0 does.
    APL_SetAllocationLimit(-5);
    r = APL_Shape(nullptr, APL_Int(n), APL_Int(1));
    EXPECT_NE(r, nullptr);
    APL_UnLinkTemp(r);
}

}  // namespace
