// completion: what Tab offers for the word before the cursor. The names come
// from the library: NL for the workspace's, the symbol table for system names.
#include "completion.h"

#include "apl.h"

#include <algorithm>

namespace completion {
namespace {

constexpr char kQuad = '\x8C';

bool IsNameCharacter(char c) {
    const auto code = static_cast<unsigned char>(c);
    return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') || (code >= '0' && code <= '9') ||
           code == '_' || code == 143 || code == 145;  // underlined delta and delta
}

bool StartsWith(const std::string &text, const std::string &start) { return text.compare(0, start.size(), start) == 0; }

// The workspace's variables, functions and operators (NL 2 3 4).
std::vector<std::string> WorkspaceNames() {
    const int32_t three = 3;
    aplarray *classes = APL_Create(1, APL_INTG, &three);
    std::vector<std::string> names;
    if (!classes) {
        aplerrno = 0;
        return names;
    }
    int32_t *wanted = static_cast<int32_t *>(APL_Data(classes));
    wanted[0] = 2, wanted[1] = 3, wanted[2] = 4;
    aplarray *matrix = APL_NameList(nullptr, nullptr, classes);
    if (matrix && aplerrno == 0 && matrix->eltype == APL_CHAR && matrix->rank == 2) {
        const char *cells = static_cast<const char *>(APL_Data(matrix));
        const auto width = static_cast<size_t>(matrix->shape[1]);
        for (int32_t row = 0; row < matrix->shape[0]; ++row) {
            std::string name(cells + static_cast<size_t>(row) * width, width);
            name.erase(name.find_last_not_of(' ') + 1);
            names.push_back(name);
        }
    }
    if (matrix) APL_UnLinkTemp(matrix);
    aplerrno = 0;
    return names;
}

// The system names (quad followed by letters) of the symbol table.
std::vector<std::string> SystemNames() {
    std::vector<std::string> names;
    for (uint16_t i = 0; i < APL_symtab.count; ++i) {
        const aplsymbol &entry = APL_symtab.entries[APL_symtab.sorted[i]];
        const char *name = APL_symtab.pool + entry.name;
        if ((entry.kind & APL_KIND_SYSTEM) && name[0] == kQuad && name[1] != 0) names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> Matching(const std::vector<std::string> &names, const std::string &word) {
    std::vector<std::string> found;
    for (const std::string &name : names)
        if (StartsWith(name, word)) found.push_back(name);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace

const std::vector<std::string> &SystemCommands() {
    static const std::vector<std::string> commands = {
        "CLEAR", "CONSTS", "COPY", "ED", "ERASE", "FNS", "HELP", "IN",  "LIB",   "LOAD", "MODE",
        "NMS",   "OFF",    "OPS",  "OUT", "PCOPY", "RESET", "SAVE", "SI", "SIC", "VARS", "WSID"};
    return commands;
}

std::vector<std::string> Candidates(const std::string &codes, size_t &wordStart) {
    wordStart = codes.size();
    while (wordStart > 0 && IsNameCharacter(codes[wordStart - 1])) --wordStart;
    if (wordStart > 0 && codes[wordStart - 1] == kQuad) {
        --wordStart;
        return Matching(SystemNames(), codes.substr(wordStart));
    }
    const std::string word = codes.substr(wordStart);
    const size_t first = codes.find_first_not_of(' ');
    if (first != std::string::npos && codes[first] == ')' && first + 1 == wordStart)
        return Matching(SystemCommands(), word);
    if (word.empty() || (word[0] >= '0' && word[0] <= '9')) return {};
    return Matching(WorkspaceNames(), word);
}

std::string SharedBeginning(const std::vector<std::string> &candidates) {
    if (candidates.empty()) return "";
    std::string shared = candidates[0];
    for (const std::string &candidate : candidates) {
        size_t same = 0;
        while (same < shared.size() && same < candidate.size() && shared[same] == candidate[same]) ++same;
        shared.resize(same);
    }
    return shared;
}

}  // namespace completion
