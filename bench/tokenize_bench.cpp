// Tokenizing a 200-character line (names, numbers, strands, strings, brackets,
// diamonds and a comment) as the session does it, against a plain loop that
// classifies and copies the same characters, measured in the same run.
// Relies on the tokenizer and the runtime's internals (linked from orbaxcore).
#include "apl.h"
#include "core/symtab.h"
#include "interpreter/tokenizer.h"
#include "system/register.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Z←(+/X×Y)÷⍴X ⋄ R←2 3⍴⍳6 ⋄ S←'it''s' ... in the system's codes.
std::string Line200() {
    const std::string arrow = "\x84", rho = "\xbd", iota = "\xbc", times = "\xd7", divide = "\xf7", diamond = "\xaa",
                      lamp = "\xa9", high = "\xaf";
    const std::string piece = "Z" + arrow + "(+/X" + times + "Y)" + divide + rho + "X " + diamond + " R" + arrow +
                              "2 3 " + high + "4.5" + rho + iota + "6 " + diamond + " S" + arrow + "'it''s' " +
                              diamond + " T" + arrow + "R[1;2]+Z " + diamond + " ";
    std::string line;
    while (line.size() + piece.size() < 190) line += piece;
    line += "U" + arrow + "0 " + lamp + " note";
    line.resize(200, ' ');
    return line;
}

void Prepare() {
    static bool done = false;
    if (done) return;
    RegisterBuiltins();
    CreateSystemVariables(false);
    done = true;
}

void BM_TokenizeLine(benchmark::State &state) {
    Prepare();
    const std::string line = Line200();
    const auto *text = reinterpret_cast<const uint8_t *>(line.data());
    for (auto _ : state) {
        // As before every line of the session: an empty pool and code buffer.
        ResetConstantPool();
        StoredLine stored;
        if (!TokenizeSourceLine(text, static_cast<int32_t>(line.size()), kTokDiamonds, stored)) {
            state.SkipWithError("the line does not tokenize");
            break;
        }
        benchmark::DoNotOptimize(stored.last);
    }
    ResetTokenBuffer(codeBuffer);
    ResetConstantPool();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_TokenizeLine);

// Baseline: one table lookup and one store per character, written backwards as
// the tokenizer writes.
void BM_BaselineClassifyCopy(benchmark::State &state) {
    Prepare();
    const std::string line = Line200();
    uint16_t classes[256];
    for (int c = 0; c < 256; ++c) classes[c] = TagClass(static_cast<uint8_t>(c));
    std::string out(line.size(), ' ');
    for (auto _ : state) {
        uint32_t symbols = 0;
        for (size_t i = line.size(); i-- > 0;) {
            const auto c = static_cast<uint8_t>(line[i]);
            symbols += classes[c] != 0;
            out[line.size() - 1 - i] = static_cast<char>(c);
        }
        benchmark::DoNotOptimize(symbols);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_BaselineClassifyCopy);

}  // namespace

BENCHMARK_MAIN();
