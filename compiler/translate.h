// translate: one stored line of a fixed function into C statements, read from
// its right end as the evaluator reads it, with values as C expressions.
// Relies on the tokenizer's stored lines, the primitive tables and the symbol table.
#pragma once

#include "compiler/compilation.h"

#include <map>
#include <set>
#include <string>
#include <vector>

// What the generator knows about the function being compiled.
struct FunctionContext {
    uint16_t symbol = 0;
    FixedView view;
    std::set<uint16_t> localNames;               // header names, locals, labels
    std::map<uint16_t, std::string> operands;    // operand name -> its parameter
    int operatorCounter = 0;                     // per line
    int operatorsUsed = 0;                       // the busiest line's count
    int loops = 0;                               // for-loops so far
    std::vector<std::string> jumpTargets{"nextline"};
    const uint8_t *lineBegin = nullptr;          // the line's left marker, bounding its blocks
    // A selective assignment being translated.
    bool selective = false, selectiveMet = false;
    uint16_t selectiveSymbol = 0;
};

// Emits the statements of body line n (1 ...) into the source text. False with
// aplerrno set.
bool TranslateLine(Compilation &c, FunctionContext &f, uint32_t n);
