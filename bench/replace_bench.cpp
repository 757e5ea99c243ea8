// replace_bench: APL_replace on English-like text of 1, 4 and 16 MB, in MB/s,
// beside memcpy of the same text and a plain C++ loop that tries every old
// string at every position. Relies on the exported functions.
#include "apl.h"
#include "core/arrays.h"

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kOld = {"the", "and", "of", "then", "a"};
const std::vector<std::string> kNew = {"THE", "&", "OF", "", "an"};

// Words from a small vocabulary, blank-separated, about `bytes` long.
std::string Text(int64_t bytes) {
    static const char *const kWords[] = {"the", "cat", "and", "then",    "a",        "dog", "of",  "theory",
                                         "sat", "on",  "mat", "another", "thematic", "off", "band"};
    std::mt19937 random(5);
    std::string text;
    text.reserve(static_cast<size_t>(bytes) + 16);
    while (static_cast<int64_t>(text.size()) < bytes) {
        text += kWords[random() % (sizeof kWords / sizeof kWords[0])];
        text += ' ';
    }
    text.resize(static_cast<size_t>(bytes));
    return text;
}

aplarray *CharVector(const std::string &s) {
    const auto n = static_cast<int32_t>(s.size());
    aplarray *a = APL_Create(1, APL_CHAR, &n);
    memcpy(DataOf(a), s.data(), s.size());
    return a;
}

aplarray *StringList(const std::vector<std::string> &strings) {
    const auto n = static_cast<int32_t>(strings.size());
    aplarray *a = APL_Create(1, APL_NESTED, &n);
    for (int32_t i = 0; i < n; ++i) ItemsOf(a)[i] = APL_Link(CharVector(strings[i]));
    return a;
}

void ReplaceLib(benchmark::State &state) {
    const int64_t bytes = state.range(0) << 20;
    aplarray *text = APL_Link(CharVector(Text(bytes)));
    const int32_t two = 2;
    aplarray *pair = APL_Link(APL_Create(1, APL_NESTED, &two));
    ItemsOf(pair)[0] = APL_Link(StringList(kOld));
    ItemsOf(pair)[1] = APL_Link(StringList(kNew));
    for (auto _ : state) {
        aplarray *r = APL_replace(nullptr, pair, text);
        if (!r) state.SkipWithError("error");
        APL_UnLinkTemp(r);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    APL_UnLink(pair);
    APL_UnLink(text);
}

// The longest old string at each position, by trying them all.
void ReplacePlain(benchmark::State &state) {
    const int64_t bytes = state.range(0) << 20;
    const std::string text = Text(bytes);
    for (auto _ : state) {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size();) {
            int best = -1;
            for (size_t k = 0; k < kOld.size(); ++k)
                if (text.compare(i, kOld[k].size(), kOld[k]) == 0 &&
                    (best < 0 || kOld[k].size() > kOld[static_cast<size_t>(best)].size()))
                    best = static_cast<int>(k);
            if (best < 0) {
                out += text[i++];
                continue;
            }
            out += kNew[static_cast<size_t>(best)];
            i += kOld[static_cast<size_t>(best)].size();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void Memcpy(benchmark::State &state) {
    const int64_t bytes = state.range(0) << 20;
    const std::string text = Text(bytes);
    std::vector<char> out(text.size());
    for (auto _ : state) {
        memcpy(out.data(), text.data(), text.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

}  // namespace

BENCHMARK(ReplaceLib)->Arg(1)->Arg(4)->Arg(16);
BENCHMARK(ReplacePlain)->Arg(1);
BENCHMARK(Memcpy)->Arg(1);

int main(int argc, char **argv) { return bench_support::RunInSession(argc, argv); }
