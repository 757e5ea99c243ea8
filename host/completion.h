// completion: what Tab offers for the word before the cursor: the names of
// the workspace (variables, functions, operators), system names after the
// quad, and system commands after the right parenthesis that starts a line.
#pragma once

#include <string>
#include <vector>

namespace completion {

// The candidates (codes, whole words) for the word that ends `codes`, the
// line up to the cursor; `wordStart` is where that word begins.
std::vector<std::string> Candidates(const std::string &codes, size_t &wordStart);
// The longest beginning all candidates share.
std::string SharedBeginning(const std::vector<std::string> &candidates);
// The system commands, in the order they are listed.
const std::vector<std::string> &SystemCommands();

}  // namespace completion
