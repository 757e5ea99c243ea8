// syscmd: the session's system commands (a line that begins with a right
// parenthesis) and the bracket command that runs an external function.
// Relies on the symbol table, the session loop and the output channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs the command in `text` (the line after the parenthesis). Returns 1 when
// the session loop must return (OFF), else 0.
int SystemCommand(const char *text);
// Runs the external function named first in `text` (the line after the bracket).
void BracketCommand(const char *text);

// The names of the commands, in the order of the table (for the help's checks).
std::vector<std::string> SystemCommandNames();

// The words of a command's text, split at blanks and tabs.
std::vector<std::string> CommandWords(const char *text);
