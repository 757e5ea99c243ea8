// driver: the system function ORBAX. Reads the setup file, resolves the
// target, compiles the requested function and every function it reaches into
// one source file each, then writes the project header, the project source
// and the makefile, and has the host copy the support files beside them.
// Relies on the generator, the symbol table, the callbacks and native files.
#include "compiler/compilation.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/glyphs.h"
#include "core/symtab.h"
#include "core/wrapper.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using MakeDirectoryFn = void (*)(const char *path);
using CopyFileFn = int (*)(const char *from, const char *to, int flag);

constexpr char kSeparator = '/';
constexpr size_t kMaxPath = 256;  // a built path must fit, with its zero
constexpr const char *kDefaultSetupFile = "orbax.ini";

bool Text(const aplarray *a, std::string &text) {
    if (a->eltype != APL_CHAR || a->rank > 1) return false;
    text.assign(DataOf<const char>(a), static_cast<size_t>(a->number));
    return text.find('\0') == std::string::npos;
}

// dir, separator, name and extension; false with FILE I/O when it would not fit.
bool BuildPath(const std::string &dir, const std::string &name, const char *extension, std::string &path) {
    path = dir + kSeparator + name + extension;
    if (path.size() < kMaxPath) return true;
    SetErrorText(APL_ERR_FILEIO, "Path too long: %.60s...", path.c_str());
    return false;
}

bool WriteFile(const std::string &text, const std::string &path) {
    const auto n = static_cast<int32_t>(text.size());
    aplarray *bytes = APL_Create(1, APL_CHAR, &n);
    if (!bytes) return false;
    memcpy(DataOf<char>(bytes), text.data(), text.size());
    aplarray *name = APL_String(path.c_str());
    if (!name) {
        APL_UnLinkTempEx(bytes, HERE);
        return false;
    }
    APL_UnLinkTempEx(APL_FileWrite(nullptr, bytes, name), HERE);
    return !aplerrno;
}

// The directory of the project and its name from the target text.
bool ResolveTarget(const CompilerSettings &s, const std::string &target, std::string &directory,
                   std::string &project) {
    const size_t cut = target.find_last_of("/\\");
    if (cut == std::string::npos) {
        project = target;
        directory = std::string(s.projectDir) + kSeparator + target;
    } else {
        project = target.substr(cut + 1);
        directory = target;
    }
    if (!IsProjectName(project)) {
        SetErrorText(APL_ERR_DOMAIN, "Illegal project name '%.100s'", project.c_str());
        return false;
    }
    // The longest path written directly: <dir>/<project>.c (or "makefile").
    std::string path;
    return BuildPath(directory, project, ".c", path) && BuildPath(directory, "makefile", "", path);
}

void Report() {
    WriteNewLines(1);
    WriteText("ORBAX: Compiling APL", true);
    WriteText("====================", true);
}

bool CompileFunctions(Compilation &c) {
    const CompilerSettings &s = c.settings;
    Emitter &out = c.out;
    for (size_t i = 1; i <= c.functions.items.size(); ++i) {
        const uint16_t function = c.functions.items[i - 1];
        out.ResetLayout();
        out.Clear(kToSource);
        out.Select(kToSource);
        WriteText(SymbolName(function), false);
        if (!GenerateBanner(c, function)) return false;
        out.Newline(2);
        out.Text("#include \"" + c.project + ".h\"");
        if (!GenerateFunction(c, function)) return false;
        const std::string name = Identifier(c, function);
        std::string path;
        if (!BuildPath(c.outputDir, name, ".c", path) || !WriteFile(out.Joined(kToSource), path)) return false;
        char done[kMaxPath + 16];
        snprintf(done, sizeof done, " %c %s.c", static_cast<char>(glyph::kRightArrow), name.c_str());
        WriteText(done, true);
        out.Select(kToMakefile);
        out.Text(name + s.objExtension + " ");
        if (i % 5 == 0) {
            out.Text(s.objSep);
            out.Newline();
            out.Text("         ");
        }
        out.Select(kToSource);
    }
    return true;
}

bool Compile(Compilation &c, uint16_t function) {
    const CompilerSettings &s = c.settings;
    Emitter &out = c.out;
    c.functions.Add(function);
    out.Select(kToMakefile);
    out.Text(std::string("NAME   = ") + c.project);
    out.Newline();
    out.Text(std::string("EXEX   = ") + s.execExtension);
    out.Newline(2);
    out.Text("OBJS   = ");
    GenerateHeaderStart(c);
    Report();
    WriteText((std::string("TARGET OS: ") + s.targetOS).c_str(), true);
    WriteText((std::string("TARGET CC: ") + s.compilerName).c_str(), true);
    WriteNewLines(1);
    WriteText("GENERATING C CODE:", true);
    WriteText("------------------", true);
    if (!CompileFunctions(c)) return false;
    std::string path;
    if (!GenerateHeaderEnd(c) || !BuildPath(c.outputDir, c.project, ".h", path) ||
        !WriteFile(out.Joined(kToHeader), path))
        return false;
    out.ResetLayout();
    out.Clear(kToSource);
    if (!GenerateProjectSource(c) || !BuildPath(c.outputDir, c.project, ".c", path) ||
        !WriteFile(out.Joined(kToSource), path))
        return false;
    out.Select(kToMakefile);
    out.Text(c.project + s.objExtension + " orbax" + s.objExtension);
    out.Newline(2);
    out.Text(std::string(".c") + s.objExtension + ": ; " + s.compileCmd);
    out.Newline(2);
    out.Text("$(NAME)$(EXEX): $(OBJS)");
    out.Newline();
    out.Text(std::string("\t") + s.linkCmd);
    out.Newline();
    if (!BuildPath(c.outputDir, "makefile", "", path) || !WriteFile(out.Joined(kToMakefile), path)) return false;
    const auto copy = reinterpret_cast<CopyFileFn>(CallbackFunction(kSlotCopyFile));
    if (!copy) {
        WriteText("Implementation error: callback 'COPY_FILE' not set!", true);
        return true;
    }
    for (const char *extension : {".c", ".h"}) {
        std::string from, to;
        if (!BuildPath(s.sourceDir, "orbax", extension, from) || !BuildPath(c.outputDir, "orbax", extension, to))
            return false;
        copy(from.c_str(), to.c_str(), 0);
    }
    return true;
}

aplarray *CompileKernel(CallArgs &args) {
    if (args.axis) return SetError(APL_ERR_AXIS), nullptr;
    if (!args.left || !args.right) return SetError(APL_ERR_VALENCE), nullptr;
    std::string name, target;
    if (!Text(args.left, name) || !Text(args.right, target)) return SetError(APL_ERR_DOMAIN), nullptr;
    const char *setup = APL_compilerfile[0] ? APL_compilerfile : kDefaultSetupFile;
    CompilerSettings settings;
    if (!ReadSettings(setup, settings)) {
        SetErrorText(APL_ERR_SYSTEM, "Can't open compiler setup file '%s'!", setup);
        return nullptr;
    }
    auto c = std::make_unique<Compilation>(settings.crlf);
    c->settings = settings;
    if (!ResolveTarget(settings, target, c->outputDir, c->project)) return nullptr;
    const uint16_t function = LookupName(name);
    if (!IsSymbol(function) || !IsUserFunction(function)) {
        SetErrorText(APL_ERR_VALUE, "There is no function/operator with that name!");
        return nullptr;
    }
    if (FunctionKind(function) & (APL_KIND_MONOP | APL_KIND_DYOP)) {
        // main() would have no operands to give it.
        SetErrorText(APL_ERR_DOMAIN, "An operator cannot be the program's function");
        return nullptr;
    }
    if (const auto make = reinterpret_cast<MakeDirectoryFn>(CallbackFunction(kSlotMakeDirectory)))
        make(c->outputDir.c_str());
    Compile(*c, function);
    return nullptr;
}

}  // namespace

extern "C" aplarray *APL_Compile(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(63), Optional(63), Optional(63)};
    return StandardCall(kSignature, axis, left, right, CompileKernel);
}
