// Reduce through its exported entry point with a native operand that asks to
// stop on a chosen call (the typed loops against the general path, the calls
// counted and an error in the operand are in reduce.tr and reduce_user.tr).
#include "support.h"

#include <vector>

namespace {

using Reduce = LibraryTest;

aplfnc Native(aplfunction f) { return aplfnc{APL_FN_FUNCTION, nullptr, reinterpret_cast<void *>(f), 0}; }

int calls = 0;
aplarray *Counted(aplarray *axis, aplarray *left, aplarray *right) {
    if (++calls == 4) APL_interrupted = 1;
    return APL_Sub(axis, left, right);
}

TEST_F(Reduce, AnInterruptAskedForDuringANativeOperandStopsTheFold) {
    aplfnc f = Native(Counted);
    calls = 0;
    std::vector<int32_t> v(100, 1);
    EXPECT_EQ(APL_Reduce(nullptr, nullptr, &f, nullptr, nullptr, nullptr, MakeIntVector(v.data(), 100)), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_INTERRUPT);
    EXPECT_EQ(calls, 4);
    APL_interrupted = 0;
}

}  // namespace
