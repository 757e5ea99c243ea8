// settings: the compiler setup file read one setting at a time.
// Relies on nothing but the C library.
#include "compiler/settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void CopyCut(char *buffer, size_t size, const char *text, size_t length) {
    const size_t n = length < size - 1 ? length : size - 1;
    memcpy(buffer, text, n);
    buffer[n] = 0;
}

bool SameIgnoringCase(const std::string &a, const char *b) {
    const size_t n = strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// One whole line, however long: a long value must not spill into lines that
// could read as keys or sections. False at the end of the file.
bool ReadLine(FILE *file, std::string &line) {
    line.clear();
    int c;
    while ((c = fgetc(file)) != EOF) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}

}  // namespace

void ReadSetting(const char *path, const char *section, const char *key, const char *fallback, char *buffer,
                 size_t size) {
    CopyCut(buffer, size, fallback, strlen(fallback));
    FILE *file = fopen(path, "rb");
    if (!file) return;
    std::string line;
    bool inside = false;
    while (ReadLine(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a file edited on Windows
        if (line.size() >= 2 && line[0] == '[') {
            const size_t close = line.find(']');
            if (close != std::string::npos) {
                inside = SameIgnoringCase(line.substr(1, close - 1), section);
                continue;
            }
        }
        if (!inside) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        if (!SameIgnoringCase(name, key)) continue;
        size_t from = equals + 1;
        while (from < line.size() && line[from] == ' ') ++from;
        // A NUL inside the value ends it, as it would in any C string.
        const char *value = line.c_str() + from;
        CopyCut(buffer, size, value, strnlen(value, line.size() - from));
    }
    fclose(file);
}

void DirectoryOf(const char *path, char *buffer, size_t size) {
    // Either separator, whichever comes last ("C:/work\\orbax.ini").
    const char *slash = strrchr(path, '/'), *backslash = strrchr(path, '\\');
    const char *cut = !backslash || (slash && slash > backslash) ? slash : backslash;
    if (!cut) {
        CopyCut(buffer, size, ".", 1);
        return;
    }
    CopyCut(buffer, size, path, static_cast<size_t>(cut - path));
}

bool ReadSettings(const char *path, CompilerSettings &s) {
    FILE *probe = fopen(path, "rb");
    if (!probe) return false;
    fclose(probe);
    char directory[kPathSetting];
    DirectoryOf(path, directory, sizeof directory);
    char source[kPathSetting + 8];
    snprintf(source, sizeof source, "%s%csrc", directory, '/');
    ReadSetting(path, "Settings", "ProjectDir", directory, s.projectDir, sizeof s.projectDir);
    ReadSetting(path, "Settings", "SourceDir", source, s.sourceDir, sizeof s.sourceDir);
    ReadSetting(path, "Settings", "Newline", "Undefined", s.newline, sizeof s.newline);
    ReadSetting(path, "CC", "CompilerName", "Undefined", s.compilerName, sizeof s.compilerName);
    ReadSetting(path, "CC", "TargetOS", "Undefined", s.targetOS, sizeof s.targetOS);
    ReadSetting(path, "CC", "ExecExtension", "Undefined", s.execExtension, sizeof s.execExtension);
    ReadSetting(path, "CC", "ObjExtension", "Undefined", s.objExtension, sizeof s.objExtension);
    ReadSetting(path, "CC", "CompileCmd", "Undefined", s.compileCmd, sizeof s.compileCmd);
    ReadSetting(path, "CC", "LinkCmd", "Undefined", s.linkCmd, sizeof s.linkCmd);
    ReadSetting(path, "Makefile", "ObjSep", "Undefined", s.objSep, sizeof s.objSep);
    s.crlf = strcmp(s.newline, "CRLF") == 0;
    return true;
}
