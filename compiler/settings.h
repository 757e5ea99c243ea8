// settings: the compiler setup file, an INI-style text of [Section] lines and
// Key=Value lines, read into fixed-size buffers before every compilation.
// Relies on nothing but the C library.
#pragma once

#include <cstddef>

// Buffer sizes: the longest value kept, the terminating zero included.
constexpr size_t kPathSetting = 256;
constexpr size_t kShortSetting = 16;

struct CompilerSettings {
    char projectDir[kPathSetting];
    char sourceDir[kPathSetting];
    char newline[kShortSetting];
    char compilerName[kPathSetting];
    char targetOS[kPathSetting];
    char execExtension[kShortSetting];
    char objExtension[kShortSetting];
    char compileCmd[kPathSetting];
    char linkCmd[kPathSetting];
    char objSep[kShortSetting];
    bool crlf;  // Newline is exactly "CRLF"
};

// Copies the default into the buffer (cut to size - 1 characters), then
// replaces it by the value of every line `key=value` of `section` in the file,
// names compared ignoring case, so that the last one wins. A file that cannot
// be opened leaves the default.
void ReadSetting(const char *path, const char *section, const char *key, const char *fallback, char *buffer,
                 size_t size);

// Reads every setting in the order of the table; false when the file does not
// open (nothing read then).
bool ReadSettings(const char *path, CompilerSettings &settings);

// The directory part of a path: everything before its last '/', or its last
// '\' when it has none; "." without either.
void DirectoryOf(const char *path, char *buffer, size_t size);
