// Compile time of ORBAX: a function of 200 lines (assignments, calls,
// operators, indexing, a branch) translated into a C project in a temporary
// directory, once per iteration. The make time of the project is measured
// by hand (bench/README.md).
#include "bench_support.h"

#include "interpreter/fixing.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::string workDir;

aplarray *Lines(int count) {
    const auto n = static_cast<int32_t>(count + 1);
    aplarray *lines = APL_Create(1, APL_NESTED, &n);
    auto put = [&](int32_t i, const std::string &text) { ItemsOf(lines)[i] = APL_Link(APL_String(text.c_str())); };
    // Z←F200 V;I;X   (code page: 132 is the left arrow, 133 the branch arrow)
    put(0, "Z\x84" "F200 V;I;X");
    for (int32_t i = 1; i <= count; ++i) {
        switch (i % 4) {
            case 0: put(i, "I\x84I+1"); break;
            case 1: put(i, "X\x84(+/V)\xd7I"); break;
            case 2: put(i, "Z\x84V[1+I|3],X"); break;
            default: put(i, "\x85(I>1000)/0"); break;
        }
    }
    return lines;
}

void BM_Compile200Lines(benchmark::State &state) {
    aplarray *name = DefineFunction(Lines(200));
    if (!name || name->eltype != APL_CHAR) {
        state.SkipWithError("the function does not fix");
        return;
    }
    APL_Link(name);
    const std::string target = workDir + "/f200";
    aplarray *where = APL_Link(APL_String(target.c_str()));
    for (auto _ : state) {
        APL_Compile(nullptr, name, where);
        if (aplerrno) state.SkipWithError(APL_error_message);
    }
    APL_UnLink(where);
    APL_UnLink(name);
}
BENCHMARK(BM_Compile200Lines)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    char pattern[] = "/tmp/compile_bench_XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    workDir = pattern;
    const std::string setup = workDir + "/orbax.ini";
    FILE *file = fopen(setup.c_str(), "w");
    if (!file) return 1;
    fputs("[CC]\nObjExtension=.o\nCompileCmd=$(CC) -c -I../../../include -I../../../support $<\n", file);
    fclose(file);
    snprintf(APL_compilerfile, sizeof APL_compilerfile, "%s", setup.c_str());
    APL_Callback(6, reinterpret_cast<void *>(+[](const char *path) {
                     std::error_code ignored;
                     std::filesystem::create_directories(path, ignored);
                 }));
    const int status = bench_support::RunInSession(argc, argv);
    printf("generated project kept in %s/f200\n", workDir.c_str());
    return status;
}
