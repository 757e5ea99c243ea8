// Prototypes of broken or deep data, which the session cannot make. Shapes,
// values, fills, Boolean rows and errors of reshape are in rho.tr and take.tr.
#include "support.h"

#include "structural/rho.h"

#include <vector>

namespace {

using namespace arrays_support;

// What a call returned (type 0 for null), the result released.
Got Take(aplarray *r) {
    if (!r) return {0, {}, {}};
    Got got{r->eltype, Shape(r->shape, r->shape + r->rank), IsNested(r) ? Values{} : Elements(r)};
    APL_UnLinkTemp(r);
    return got;
}

using Prototype = LibraryTest;

TEST_F(Prototype, UnknownTypesAndImpossiblyDeepNesting) {
    aplarray *corrupt = APL_Link(Ints({1, 2}));
    corrupt->eltype = 3;
    const Got got = Take(prototype(corrupt, kPrototypeWhole));
    corrupt->eltype = APL_INTG;
    EXPECT_EQ(CapturedOutput::Take(), "unknown type in function 'prototype' !\n");
    EXPECT_EQ(got, (Got{APL_INTG, {2}, {0, 0}}));
    APL_UnLink(corrupt);
    aplarray *deep = Ints({1});
    for (int i = 0; i < 10002; ++i) deep = Nest({deep});
    APL_Link(deep);
    EXPECT_EQ(prototype(deep, kPrototypeWhole), nullptr);
    EXPECT_EQ(aplerrno, APL_ERR_LIMIT);
    APL_UnLink(deep);
}

}  // namespace
