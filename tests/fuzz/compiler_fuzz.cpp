// Fuzz target for the compiler: the bytes, cut at line ends, are fixed as a
// function; when that works the function is compiled into a project, and
// every C file generated must pass the C compiler's syntax check against
// include/apl.h and support/orbax.h (run from the source tree, as run.sh does).
// A compilation that fails must end in an error; blocks must all come back.
#include "apl.h"
#include "interpreter/fixing.h"

#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "compiler_fuzz", what); }

std::string workDir;
int32_t emptyBlocks = 0;

void MakeDirectory(const char *path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

// Every generated C file passes `cc -fsyntax-only`.
void CheckSyntax(const std::string &project) {
    if (access("support/orbax.h", R_OK) != 0) return;  // not in the source tree
    const std::string command = "cc -fsyntax-only -w -Iinclude -Isupport -I" + project + " " + project +
                                "/*.c >" + workDir + "/cc.log 2>&1";
    const int status = system(command.c_str());
    if (status != 0) {
        const int shown = system(("cat " + workDir + "/cc.log >&2").c_str());
        (void)shown;
        Require(false, "generated C does not compile");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::StartQuietSession(256ll << 20);
    char pattern[] = "/tmp/compiler_fuzz_XXXXXX";
    Require(mkdtemp(pattern) != nullptr, "no temporary directory");
    workDir = pattern;
    const std::string setup = workDir + "/orbax.ini";
    FILE *file = fopen(setup.c_str(), "w");
    Require(file != nullptr, "no setup file");
    fprintf(file, "[Settings]\nProjectDir=%s\n[CC]\nObjExtension=.o\n", workDir.c_str());
    fclose(file);
    Require(setup.size() < sizeof APL_compilerfile, "temporary path too long");
    snprintf(APL_compilerfile, sizeof APL_compilerfile, "%s", setup.c_str());
    APL_Callback(6, reinterpret_cast<void *>(&MakeDirectory));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    fuzz::FreshWorkspace("compiler_fuzz", emptyBlocks);
    aplarray *lines = fuzz::InputLines(data, size, 32);
    aplarray *name = DefineFunction(lines);
    APL_UnLinkTemp(lines);
    aplerrno = 0;
    if (!name || name->eltype != APL_CHAR) {
        APL_UnLinkTemp(name);
        return 0;
    }
    const std::string project = workDir + "/p";
    std::error_code ignored;
    std::filesystem::remove_all(project, ignored);
    fuzz::InterruptAfter(200);
    APL_UnLinkTemp(APL_Compile(nullptr, name, APL_String(project.c_str())));
    fuzz::Disarm();
    const bool compiled = aplerrno == 0;
    aplerrno = 0;
    if (compiled) CheckSyntax(project);
    return 0;
}
