// transcript: checking transcripts. A transcript is a session written down:
// lines that begin with six blanks are typed, every other line is the output
// expected; each file runs in a fresh clear workspace.
#pragma once

#include <string>
#include <vector>

class Screen;

// Runs each file and prints a unified diff for every mismatch and the line
// "N passed, N failed". Returns the number of failed files.
int CheckTranscripts(const std::vector<std::string> &files);
