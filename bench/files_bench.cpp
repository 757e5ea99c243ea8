// Serialising and reading back a 1e7-element REAL vector (IIOS both ways, IIO
// to a file and back) against memcpy of the same 80 MB in the same run, into
// touched and into fresh memory. Relies only on the exported interface.
#include "apl.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int32_t kCount = 10000000;
constexpr int64_t kBytes = 8 * static_cast<int64_t>(kCount);

aplarray *RealVector() {
    aplarray *vector = APL_Link(APL_Create(1, APL_REAL, &kCount));
    auto *data = static_cast<double *>(APL_Data(vector));
    for (int32_t i = 0; i < kCount; ++i) data[i] = i * 0.5 - 1e6;
    return vector;
}

std::string ScratchFile() {
    const char *dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/orbax-files-bench.bin";
}

// The baseline: one copy of the data bytes.
void BM_Memcpy(benchmark::State &state) {
    std::vector<char> from(static_cast<size_t>(kBytes), 1), to(static_cast<size_t>(kBytes));
    for (auto _ : state) {
        memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

// The same copy into memory taken fresh each time, as every result is: the
// first touch of new pages is part of the price.
void BM_MemcpyFresh(benchmark::State &state) {
    std::vector<char> from(static_cast<size_t>(kBytes), 1);
    for (auto _ : state) {
        char *to = static_cast<char *>(malloc(from.size()));
        if (!to) {
            state.SkipWithError("no memory");
            break;
        }
        memcpy(to, from.data(), from.size());
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
        free(to);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

// IIOS with a left argument: the CHAR vector of the serialised form.
void BM_SerialiseReal(benchmark::State &state) {
    aplarray *vector = RealVector();
    for (auto _ : state) {
        aplarray *bytes = APL_Serialize(nullptr, APL_Int(1), vector);
        if (!bytes) {
            state.SkipWithError("serialising failed");
            break;
        }
        benchmark::DoNotOptimize(APL_Data(bytes));
        APL_UnLinkTemp(bytes);
    }
    APL_UnLink(vector);
    state.SetBytesProcessed(state.iterations() * kBytes);
}

// IIOS without a left argument: the array rebuilt from those bytes.
void BM_DeserialiseReal(benchmark::State &state) {
    aplarray *original = RealVector();
    aplarray *bytes = APL_Link(APL_Serialize(nullptr, APL_Int(1), original));
    APL_UnLink(original);
    for (auto _ : state) {
        aplarray *vector = APL_Serialize(nullptr, nullptr, bytes);
        if (!vector) {
            state.SkipWithError("deserialising failed");
            break;
        }
        benchmark::DoNotOptimize(APL_Data(vector));
        APL_UnLinkTemp(vector);
    }
    APL_UnLink(bytes);
    state.SetBytesProcessed(state.iterations() * kBytes);
}

// IIO: the whole file written, then read back (page cache, not the disk).
void BM_FileWriteReal(benchmark::State &state) {
    aplarray *vector = RealVector();
    const std::string file = ScratchFile();
    for (auto _ : state) {
        APL_ReadWrite(nullptr, vector, APL_String(file.c_str()));
        if (aplerrno) {
            state.SkipWithError("writing failed");
            break;
        }
    }
    APL_UnLink(vector);
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_FileReadReal(benchmark::State &state) {
    const std::string file = ScratchFile();
    aplarray *original = RealVector();
    APL_ReadWrite(nullptr, original, APL_String(file.c_str()));
    APL_UnLink(original);
    for (auto _ : state) {
        aplarray *vector = APL_ReadWrite(nullptr, nullptr, APL_String(file.c_str()));
        if (!vector) {
            state.SkipWithError("reading failed");
            break;
        }
        benchmark::DoNotOptimize(APL_Data(vector));
        APL_UnLinkTemp(vector);
    }
    remove(file.c_str());
    state.SetBytesProcessed(state.iterations() * kBytes);
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialiseReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeserialiseReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileWriteReal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileReadReal)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
