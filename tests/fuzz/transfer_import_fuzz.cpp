// Fuzz target for form 1 transfer texts: arbitrary bytes are imported as a
// form 1 text. Whatever happens, no block may be left behind once the
// workspace is cleared, and a variable that came in must export to a text
// that imports to the same text again.
#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"
#include "interpreter/fixing.h"
#include "interpreter/mainloop.h"
#include "interpreter/transfer.h"

#include "fuzz_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "transfer_import_fuzz", what); }

int32_t clearBlocks = 0;

// The form 1 text of a variable; empty when it has none.
std::string Exported(uint16_t symbol) {
    std::string text;
    if (!ExportObject(symbol, 1, text)) text.clear();
    aplerrno = 0;
    return text;
}

// A variable that came in goes out and in again to the same text.
void CheckRoundTrip(const aplarray *name) {
    const std::string_view spelt(DataOf<const char>(name), static_cast<size_t>(name->number));
    const uint16_t symbol = LookupName(spelt);
    Require(IsSymbol(symbol) && Symbol(symbol).value, "an imported name has no value");
    if (IsUserFunction(symbol)) return;
    const std::string first = Exported(symbol);
    Require(!first.empty(), "an imported variable cannot be exported");
    aplarray *again = ImportTransferText(1, first.data(), static_cast<int64_t>(first.size()));
    Require(again != nullptr, "an exported text does not import");
    APL_UnLinkTemp(again);
    Require(Exported(symbol) == first, "the text changes on the way round");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::StartQuietSession(int64_t{256} << 20);
    ClearAndAnnounce();
    clearBlocks = fuzz::LiveBlocks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    aplerrno = 0;
    APL_error_message[0] = 0;
    // A text may ask for a function of millions of lines or a huge array:
    // the import is interrupted, as a user would, after 50 ms.
    fuzz::InterruptAfter(50);
    aplarray *result = ImportTransferText(1, reinterpret_cast<const char *>(data), static_cast<int64_t>(size));
    fuzz::Disarm();
    Require((result != nullptr) == (aplerrno == 0), "a result and an error together, or neither");
    if (result && result->eltype == APL_CHAR && size > 0 && data[0] != 'F') CheckRoundTrip(result);
    APL_UnLinkTemp(result);
    aplerrno = 0;
    ClearAndAnnounce();
    Require(fuzz::LiveBlocks() == clearBlocks, "blocks left behind");
    return 0;
}
