// maininc: the workspace file: SaveWorkspace writes the symbol table, the name
// pool, the values and the save time as one serialised array; LoadWorkspace and
// COPY read it back. Relies on serialisation (compfile), fixing, the symbol table
// and the runtime-state reset (runstate).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char *kWorkspaceExtension = ".kaz";

// The file of a workspace name: ".kaz" appended unless the name ends in it
// (in any case).
std::string WorkspaceFileName(const std::string &name);

// A stored save time (seconds since 1970 plus 3600) in the 24-character form
// "Sun Dec  6 18:16:00 2026", in local time.
std::string SaveTimeText(uint32_t stored);

// Writes the workspace to the file of the current identity, through a temporary
// file renamed over the old one, so that a failed save leaves the last good copy.
// True with the stored save time; false with the error set.
bool SaveWorkspace(uint32_t &savedAt);

// Reads the file of the current identity and replaces the workspace with it,
// then writes "'%s' saved at %s". The whole file is checked and the new
// workspace built before the old one is given up: on failure aplerrno is set
// and the old workspace is exactly as it was.
void LoadWorkspace();

// COPY (protect false) and PCOPY (protect true): copies objects from the
// workspace file `file` (as named, else with ".kaz") into the current one.
// Each word is a name, "[V]" (the names in variable V here) or "(V)" (the names
// in variable V of the file); no words copies every variable and function.
// False with the error set when the file cannot be read.
bool CopyWorkspace(const std::string &file, const std::vector<std::string> &words, bool protect);
