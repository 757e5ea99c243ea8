// Fuzz target for loading workspace files: arbitrary bytes are written as the
// file of the current workspace and loaded. A refused file must leave the old
// workspace exactly as it was (its names, values and latent expression, and no
// block more or less, the latent expression not run); a loaded one must clear
// again without leaving blocks.
#include "apl.h"
#include "core/arrays.h"
#include "core/symtab.h"
#include "interpreter/maininc.h"
#include "interpreter/mainloop.h"
#include "interpreter/runstate.h"

#include "fuzz_support.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "wsload_fuzz", what); }

const std::string &WorkspaceName() {
    static const std::string name = "/tmp/wsload_fuzz_" + std::to_string(getpid());
    return name;
}

// A clear workspace with a variable and a latent expression that must survive.
int32_t clearBlocks = -1;
void MakeOldWorkspace() {
    ResetRuntimeState();
    if (clearBlocks < 0) clearBlocks = fuzz::LiveBlocks();
    Require(fuzz::LiveBlocks() == clearBlocks, "a clear workspace holds more blocks than the first");
    void *value = APL_LinkEx(MakeString("old"), HERE);
    Require(DefineName("OLD", 3, APL_KIND_VARIABLE, &value) < APL_symtab.count, "defining OLD");
    // Run, it would enter the name RAN.
    SetSymbolValue(sys_LX_idx, MakeString("RAN\x84"
                                          "1"));
    SetWorkspaceID(WorkspaceName().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool started = false;
    if (!started) {
        APL_Callback(1, reinterpret_cast<void *>(&fuzz::Discard));
        APL_SetScriptMode(1);
        APL_Init(0, "");
        started = true;
    }
    if (size > (1u << 22)) return 0;
    MakeOldWorkspace();
    const std::string file = WorkspaceName() + ".kaz";
    FILE *out = fopen(file.c_str(), "wb");
    Require(out && fwrite(data, 1, size, out) == size && fclose(out) == 0, "writing the file");

    const uint16_t count = APL_symtab.count;
    void *const oldValue = Symbol(LookupName("OLD")).value;
    aplarray *const oldLatent = APL_Variable(sys_LX_idx);
    const int32_t before = fuzz::LiveBlocks();
    aplerrno = 0;
    LoadWorkspace();
    const int32_t refused = aplerrno;
    aplerrno = 0;
    if (refused) {
        Require(APL_symtab.count == count, "a refused load changed the table");
        Require(Symbol(LookupName("OLD")).value == oldValue, "a refused load changed a value");
        Require(APL_Variable(sys_LX_idx) == oldLatent, "a refused load changed LX");
        Require(WorkspaceName() == APL_workspaceID, "a refused load changed the identity");
        Require(fuzz::LiveBlocks() == before, "a refused load left blocks behind");
        Require(LookupName("RAN") == APL_symtab.count, "a refused load ran the latent expression");
    }
    remove(file.c_str());
    return 0;
}
