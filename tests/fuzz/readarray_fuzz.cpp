// Fuzz target for reading serialised arrays: arbitrary bytes go to ReadArray
// through a stream and to the reading direction of IIOS. Whatever is read must
// serialise again to bytes that read back to the same bytes, and every block
// must be given back.
#include "apl.h"
#include "core/arrays.h"
#include "system/compfile.h"

#include "fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "readarray_fuzz", what); }

aplarray *CharVector(const uint8_t *data, size_t size) {
    const auto n = static_cast<int32_t>(size);
    aplarray *bytes = AllocArray(APL_TEMP, 1, APL_CHAR, &n, HERE);
    if (bytes && size) memcpy(DataOf(bytes), data, size);
    return bytes;
}

// IIOS of an array (consumed), linked; null when it fails.
aplarray *Serialized(aplarray *array) { return APL_Link(APL_Serialize(nullptr, APL_Int(0), array)); }

// Writing what was read and reading that again must reach a fixed point.
// (IIOS writes a BOOL or SHORT array as INTG, so lengths are compared on
// what it read back.)
void CheckRoundTrip(aplarray *array) {
    aplarray *first = Serialized(array);
    if (!first) {
        // Only nesting deeper than the writer takes, or no memory, may fail.
        Require(aplerrno == APL_ERR_LIMIT || aplerrno == APL_ERR_WSFULL, "serialising what was read");
        aplerrno = 0;
        return;
    }
    // A temporary, as the array read first was: the link counts written match.
    aplarray *again = APL_Serialize(nullptr, nullptr, first);
    Require(again != nullptr, "reading serialised bytes back");
    Require(SerialLength(again) == first->number, "IIOL differs from the IIOS length");
    aplarray *second = Serialized(again);
    Require(second && second->number == first->number &&
                memcmp(DataOf(first), DataOf(second), static_cast<size_t>(first->number)) == 0,
            "second serialisation differs from the first");
    APL_UnLink(first);
    APL_UnLink(second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 24)) return 0;
    APL_error_message[0] = 0;
    aplerrno = 0;
    const int32_t before = fuzz::LiveBlocks();

    if (size > 0) {
        FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
        Require(stream != nullptr, "fmemopen");
        aplarray *array = ReadArray(stream);
        fclose(stream);
        Require((array != nullptr) == (aplerrno == 0), "result and error disagree");
        if (array) CheckRoundTrip(array);
        aplerrno = 0;
    }

    aplarray *array = APL_Serialize(nullptr, nullptr, CharVector(data, size));
    Require((array != nullptr) == (aplerrno == 0), "IIOS result and error disagree");
    Require(!array || array->lnkcnt == 0, "IIOS result is not a temporary");
    APL_UnLinkTemp(array);
    aplerrno = 0;

    Require(fuzz::LiveBlocks() == before, "blocks left behind");
    return 0;
}
