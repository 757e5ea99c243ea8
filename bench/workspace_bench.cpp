// SAVE and LOAD of a workspace holding a 1e7-element REAL variable and 1000
// small functions, against a plain copy of a file of the same size (read
// whole, written whole) and a plain read of it, in the same run. Relies on the session (APL_Init,
// ⎕FX through the interpreter) and the workspace reader and writer.
#include "apl.h"
#include "core/arrays.h"
#include "core/errors.h"
#include "core/symtab.h"
#include "interpreter/maininc.h"
#include "interpreter/mainloop.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int32_t kReals = 10000000;
constexpr int kFunctions = 1000;

void Quiet(const char *, int32_t) {}

std::string Scratch(const char *name) {
    const char *dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

int64_t FileSize(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return -1;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fclose(f);
    return size;
}

// A workspace with the big variable and the functions, its identity set.
void BuildWorkspace() {
    static bool started = false;
    if (!started) {
        APL_Callback(1, reinterpret_cast<void *>(&Quiet));
        APL_SetScriptMode(1);
        APL_Init(1, "");
        started = true;
    }
    aplarray *reals = AllocArray(APL_SIMPLE | APL_TEMP, 1, APL_REAL, &kReals, HERE);
    auto *data = DataOf<double>(reals);
    for (int32_t i = 0; i < kReals; ++i) data[i] = i * 0.5 - 1e6;
    void *value = APL_LinkEx(reals, HERE);
    DefineName("BIG", 3, APL_KIND_VARIABLE, &value);
    const char arrow = static_cast<char>(132);
    for (int i = 0; i < kFunctions; ++i) {
        const std::string name = "F" + std::to_string(i);
        const std::string header = std::string("Z") + arrow + name + " X";
        const std::string body1 = std::string("Z") + arrow + "X+" + std::to_string(i);
        const std::string body2 = std::string("L:Z") + arrow + "Z+Z";
        const char *lines[] = {header.c_str(), body1.c_str(), body2.c_str()};
        const int32_t three = 3;
        aplarray *vector = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &three, HERE);
        for (int j = 0; j < 3; ++j) ItemsOf(vector)[j] = APL_LinkEx(MakeString(lines[j]), HERE);
        APL_UnLinkTempEx(APL_Fix(nullptr, nullptr, vector), HERE);
    }
    SetWorkspaceID(Scratch("orbax-workspace-bench").c_str());
}

void BM_Save(benchmark::State &state) {
    BuildWorkspace();
    const std::string file = Scratch("orbax-workspace-bench.kaz");
    for (auto _ : state) {
        uint32_t savedAt;
        if (!SaveWorkspace(savedAt)) {
            state.SkipWithError("SAVE failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * FileSize(file));
}

void BM_Load(benchmark::State &state) {
    BuildWorkspace();
    const std::string file = Scratch("orbax-workspace-bench.kaz");
    uint32_t savedAt;
    if (!SaveWorkspace(savedAt)) state.SkipWithError("SAVE failed");
    for (auto _ : state) {
        LoadWorkspace();
        if (aplerrno) {
            state.SkipWithError("LOAD failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * FileSize(file));
}

// The baseline: the same file read whole into memory and written whole to
// another file (through a temporary renamed over it, as SAVE does).
void BM_FileCopy(benchmark::State &state) {
    BuildWorkspace();
    const std::string file = Scratch("orbax-workspace-bench.kaz");
    uint32_t savedAt;
    if (!SaveWorkspace(savedAt)) state.SkipWithError("SAVE failed");
    const int64_t size = FileSize(file);
    const std::string copy = Scratch("orbax-workspace-bench.copy"), temporary = copy + ".tmp";
    std::vector<char> buffer(static_cast<size_t>(size));
    for (auto _ : state) {
        FILE *in = fopen(file.c_str(), "rb");
        const size_t got = in ? fread(buffer.data(), 1, buffer.size(), in) : 0;
        if (in) fclose(in);
        FILE *out = fopen(temporary.c_str(), "wb");
        const size_t put = out ? fwrite(buffer.data(), 1, got, out) : 0;
        if (out) fclose(out);
        if (put != buffer.size() || rename(temporary.c_str(), copy.c_str()) != 0) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    remove(copy.c_str());
    state.SetBytesProcessed(state.iterations() * size);
}

// The baseline of LOAD: the file read whole into memory taken fresh, as the
// arrays read are.
void BM_FileRead(benchmark::State &state) {
    BuildWorkspace();
    const std::string file = Scratch("orbax-workspace-bench.kaz");
    uint32_t savedAt;
    if (!SaveWorkspace(savedAt)) state.SkipWithError("SAVE failed");
    const int64_t size = FileSize(file);
    for (auto _ : state) {
        char *buffer = static_cast<char *>(malloc(static_cast<size_t>(size)));
        FILE *in = fopen(file.c_str(), "rb");
        const size_t got = in && buffer ? fread(buffer, 1, static_cast<size_t>(size), in) : 0;
        if (in) fclose(in);
        benchmark::DoNotOptimize(buffer);
        free(buffer);
        if (static_cast<int64_t>(got) != size) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
}

}  // namespace

BENCHMARK(BM_FileRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
