// compilation: the state of one run of the compiler (settings, output texts,
// work lists, names) and the generator's entry points shared by its modules.
// Relies on the symbol table, the fixed function record and the emitter.
#pragma once

#include "apl.h"
#include "compiler/emitter.h"
#include "compiler/settings.h"
#include "interpreter/fixing.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// What a user-defined operator's operand is at its calls.
enum class OperandUse : uint8_t { Unknown, Function, Array };

// A counted list of symbol indices; adding one already there does nothing.
struct WorkList {
    std::vector<uint16_t> items;
    void Add(uint16_t symbol) {
        for (uint16_t s : items)
            if (s == symbol) return;
        items.push_back(symbol);
    }
    bool Has(uint16_t symbol) const {
        for (uint16_t s : items)
            if (s == symbol) return true;
        return false;
    }
};

struct Compilation {
    explicit Compilation(bool crlf) : out(crlf) {}
    CompilerSettings settings{};
    Emitter out;
    std::string project;    // a C identifier
    std::string outputDir;  // where the files go
    WorkList functions, globals, locals, plugins;
    // The requested function's header, which shapes main().
    bool firstHasResult = false, firstHasLeft = false, firstNiladic = false;
    bool firstSeen = false;
    // C identifier -> the symbol it was made for: two names on one identifier
    // would share one C variable.
    std::map<std::string, uint16_t> identifiers;
    // User-defined operator -> its left and right operands' kinds, from the
    // calls translated so far; fixed when the operator is generated.
    std::map<uint16_t, std::array<OperandUse, 2>> operandUses;
};

// ---- Names (names.cpp) -----------------------------------------------------------
// The C identifier of a symbol ("apl_" and the name, parts replaced); empty
// with DOMAIN and a message when another name already has it or the name has
// a character no identifier can hold.
std::string Identifier(Compilation &c, uint16_t symbol);
// Every byte written as a backslash and its octal value.
std::string EscapedName(const std::string &name);
// A call in the layout of generated text: over several lines (markers) when an
// argument holds a call itself.
std::string CallText(const std::string &name, const std::vector<std::string> &args);
// True for a C identifier that is not the name of a support file.
bool IsProjectName(const std::string &name);
// The generated-code name of a system function, or null when the side table
// does not know the address; `plugin` tells a plug-in's command.
const char *SystemFunctionCName(aplfunction function, bool &plugin);

// ---- Generation (generate.cpp, translate.cpp, project.cpp) -----------------------
// The banner of a function's source file.
bool GenerateBanner(Compilation &c, uint16_t function);
// The whole function: prototype into the header, the source text. False with
// aplerrno set.
bool GenerateFunction(Compilation &c, uint16_t function);
// The header's closing sections.
bool GenerateHeaderEnd(Compilation &c);
// The project source: error handler, init_<project>, main.
bool GenerateProjectSource(Compilation &c);
// The fixed opening of the project header.
void GenerateHeaderStart(Compilation &c);
