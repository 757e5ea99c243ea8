// project: the project header around the prototypes, and the project source
// with the run-time error handler, init_<project> that enters every name in
// the symbol table, and a default main.
// Relies on the symbol table, serialisation (initial values) and the emitter.
#include "compiler/compilation.h"

#include "core/arrays.h"
#include "core/callbacks.h"
#include "core/errors.h"
#include "core/symtab.h"

#include <cstdio>
#include <cstring>

void GenerateHeaderStart(Compilation &c) {
    Emitter &out = c.out;
    out.Select(kToHeader);
    for (const char *line : {"#if defined(__cplusplus)", "#include <math.h>", "extern \"C\"", "{", "#endif", "",
                             "#include <stdio.h>", "#include <stdlib.h>", "#include <setjmp.h>", "#include \"apl.h\"",
                             "#include \"orbax.h\"", "", "#ifdef NOT_EXTERN", "#define EXTERN_DECL ", "#else ",
                             "#define EXTERN_DECL extern", "#endif", ""})
        out.Line(line);
    out.Line("void runtime_error(char *, int );");
    out.Line("void init_" + c.project + "(char *);");
    out.Newline();
    out.Line("/*");
    out.Line(" * Prototypes of compiled apl-functions");
    out.Text(" */");
    out.Select(kToSource);
}

namespace {

// System names belong to the library: never declared or entered again.
bool IsSystemName(uint16_t symbol) { return (Symbol(symbol).kind & APL_KIND_SYSTEM) != 0; }

void IndexSection(Compilation &c, const char *comment, const WorkList &list) {
    std::string names;
    for (uint16_t s : list.items) {
        if (IsSystemName(s)) continue;
        names += (names.empty() ? "" : ", ") + Identifier(c, s) + "_idx";
    }
    if (names.empty()) return;
    Emitter &out = c.out;
    out.Newline(2);
    out.Line("/*");
    out.Line(comment);
    out.Line(" */");
    out.Text("EXTERN_DECL TYPE_USHORT " + names + ";");
}

const char *PluginCName(uint16_t symbol) {
    bool plugin = false;
    const char *name = SystemFunctionCName(reinterpret_cast<aplfunction>(Symbol(symbol).value), plugin);
    return name ? name : "";
}

}  // namespace

bool GenerateHeaderEnd(Compilation &c) {
    Emitter &out = c.out;
    out.Select(kToHeader);
    if (!c.plugins.items.empty()) {
        out.Newline(2);
        out.Line("/*");
        out.Line(" * Function pointers for plugin commands");
        out.Text(" */");
        for (uint16_t s : c.plugins.items) {
            out.Newline();
            out.Text(std::string("EXTERN_DECL apl_function ") + PluginCName(s) + ";");
        }
    }
    // A global that is also a local of some function is entered once, as a local.
    WorkList globals;
    for (uint16_t s : c.globals.items)
        if (!c.locals.Has(s)) globals.Add(s);
    IndexSection(c, " * Symbol table indices for global variables", globals);
    IndexSection(c, " * Symbol table indices for local variables", c.locals);
    out.Newline(2);
    out.Line("#if defined(__cplusplus)");
    out.Line("}");
    out.Line("#endif");
    out.Select(kToSource);
    return !aplerrno;
}

namespace {

// The bytes of a global's initial value: a simple value's record, a nested
// value serialised. Taken as a static record with one link.
bool InitialImage(aplarray *value, std::vector<uint8_t> &image, bool &nested) {
    nested = IsNested(value);
    const uint8_t type = value->type;
    const int32_t links = value->lnkcnt;
    value->type = static_cast<uint8_t>(type | APL_STATIC);
    value->lnkcnt = 1;
    bool ok = true;
    if (!nested) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(value);
        image.assign(bytes, bytes + value->size);
    } else {
        aplarray *text = APL_Serialize(nullptr, MakeInt(0), value);
        ok = text != nullptr;
        if (ok) image.assign(DataOf<uint8_t>(text), DataOf<uint8_t>(text) + text->number);
        APL_UnLinkTempEx(text, HERE);
    }
    value->type = type;
    value->lnkcnt = links;
    return ok;
}

void ImageText(Emitter &out, const std::string &id, const std::vector<uint8_t> &image) {
    out.Text("  static unsigned char " + id + "_init[] = { ");
    const bool breaks = image.size() >= 21;
    for (size_t i = 0; i < image.size(); ++i) {
        if (i) {
            out.Text(",");
            if (breaks && i % 10 == 0) {
                out.Newline();
                out.Text("          ");
            }
        }
        out.Text(std::to_string(image[i]));
    }
    out.Line(" };");
}

std::string Escaped(uint16_t symbol) { return EscapedName(SymbolName(symbol)); }
int NameLength(uint16_t symbol) { return static_cast<int>(strlen(SymbolName(symbol))); }

}  // namespace

bool GenerateProjectSource(Compilation &c) {
    Emitter &out = c.out;
    out.Select(kToSource);
    out.Line("#define NOT_EXTERN");
    out.Line("#include \"" + c.project + ".h\"");
    out.Newline(3);
    for (const char *line : {"/*", " * Default runtime error handler.", " * Use setjmp() and longjmp() in cases",
                             " * where exit() cannot be used!", " */", "void runtime_error(char *module, int line)", "{",
                             "  printf(\"Run time error %d in module %s[%d]\\n\", aplerrno, module, line);",
                             "  exit(1);", "}"})
        out.Line(line);
    out.Newline(3);
    for (const char *line : {"/*", " * Initialisation function for all", " * global variables used in the compiled",
                             " * code.", " *", " * IMPORTANT NOTE: This function must be",
                             " *   called only once and it must be", " *   executed before the first call to any",
                             " *   of the generated functions.", " */"})
        out.Line(line);
    out.Line("void init_" + c.project + "(char *exe_file)");
    out.Line("{");
    // Initial-value images and the report of the globals.
    struct Global {
        uint16_t symbol;
        std::string id;
        bool hasValue, nested;
    };
    std::vector<Global> globals;
    bool reported = false;
    for (uint16_t s : c.globals.items) {
        if (IsSystemName(s) || c.locals.Has(s)) continue;
        Global g{s, Identifier(c, s), false, false};
        if (g.id.empty()) return false;
        if (!reported) {
            WriteNewLines(1);
            WriteText("GLOBAL VARIABLES:", true);
            WriteText("-----------------", true);
            reported = true;
        }
        const aplsymbol &entry = Symbol(s);
        auto *value = static_cast<aplarray *>(entry.value);
        char report[300];
        if ((entry.kind & APL_KIND_VARIABLE) && !(entry.kind & APL_KIND_LABELBIT) && value) {
            std::vector<uint8_t> image;
            if (!InitialImage(value, image, g.nested)) return false;
            ImageText(out, g.id, image);
            g.hasValue = true;
            snprintf(report, sizeof report, "%s [%s: %d Bytes]", SymbolName(s), g.nested ? "NESTED" : "SIMPLE",
                     static_cast<int>(image.size()));
        } else {
            snprintf(report, sizeof report, "%s [VOID]", SymbolName(s));
        }
        WriteText(report, true);
        globals.push_back(g);
    }
    out.Line("  KAZ_Init(exe_file);");
    char line[1024];
    for (const Global &g : globals) {
        const std::string name = Escaped(g.symbol);
        if (g.hasValue)
            snprintf(line, sizeof line, "  %s_idx = APL_AddSymbol(\"%s\", %d, 2, %s(%s_init));", g.id.c_str(),
                     name.c_str(), NameLength(g.symbol), g.nested ? "KAZ_InitNested" : "KAZ_InitSimple", g.id.c_str());
        else
            snprintf(line, sizeof line, "  %s_idx = APL_AddSymbol(\"%s\", %d, 2, KAZ_InitSimple(NULL));", g.id.c_str(),
                     name.c_str(), NameLength(g.symbol));
        out.Line(line);
    }
    for (uint16_t s : c.locals.items) {
        if (IsSystemName(s)) continue;
        const std::string id = Identifier(c, s);
        snprintf(line, sizeof line, "  %s_idx = APL_AddSymbol(\"%s\", %d, 2, KAZ_InitSimple(NULL));", id.c_str(),
                 Escaped(s).c_str(), NameLength(s));
        out.Line(line);
    }
    for (uint16_t s : c.functions.items) {
        const std::string id = Identifier(c, s);
        const int kind = Symbol(s).kind & ~APL_KIND_USER;
        snprintf(line, sizeof line, "  APL_AddSymbol(\"%s\", %d, %d, KAZ_InitFunction(%s));", Escaped(s).c_str(),
                 NameLength(s), kind, id.c_str());
        out.Line(line);
    }
    for (uint16_t s : c.plugins.items) {
        snprintf(line, sizeof line, "  %s = KAZ_GetPluginFunction(\"%s\");", PluginCName(s), Escaped(s).c_str());
        out.Line(line);
    }
    out.Line("}");
    out.Newline(3);
    for (const char *text : {"/*", " * Default main function. Only required", " * for the creation of a stand-alone",
                             " * executable.", " */", "int main(int argc, char **argv)", "{"})
        out.Line(text);
    std::vector<std::string> declared;
    if (c.firstHasResult) declared.push_back("result");
    if (c.firstHasLeft) declared.push_back("larg");
    if (!c.firstNiladic) declared.push_back("rarg");
    if (!declared.empty()) {
        std::string text = "  aplarray *";
        for (size_t i = 0; i < declared.size(); ++i) text += (i ? ", *" : "") + declared[i];
        out.Line(text + ";");
    }
    const int arguments = (c.firstHasLeft ? 1 : 0) + (c.firstNiladic ? 0 : 1);
    out.Line("  if (argc != " + std::to_string(1 + arguments) + ")");
    out.Line("  {");
    out.Line("    printf(\"ERROR: Wrong number of arguments!\\n\");");
    out.Line("    exit(1);");
    out.Line("  }");
    out.Line("  init_" + c.project + "(argv[0]);");
    if (c.firstHasLeft) {
        for (const char *text : {"  /*", "   * Creation of left argument", "   * -------------------------",
                                 "   * The default is the 2nd command", "   * line argument:", "   */",
                                 "  larg = APL_String(argv[2]);"})
            out.Line(text);
    }
    if (!c.firstNiladic) {
        for (const char *text : {"  /*", "   * Creation of right argument", "   * -------------------------",
                                 "   * The default is the 1st command", "   * line argument:", "   */",
                                 "  rarg = APL_String(argv[1]);"})
            out.Line(text);
    }
    const std::string name = Identifier(c, c.functions.items[0]);
    out.Line(std::string("  ") + (c.firstHasResult ? "result = " : "") + name + "(NULL, " +
             (c.firstHasLeft ? "larg" : "NULL") + ", " + (c.firstNiladic ? "NULL" : "rarg") + ");");
    if (c.firstHasResult) {
        for (const char *text : {"  /*", "   * Analysis of the 'result'",
                                 "   * The default is the output", "   * to screen:", "   */", "  KAZ_Display(result);"})
            out.Line(text);
    }
    out.Line("  return(aplerrno);");
    out.Text("}");
    out.Newline();
    return !aplerrno;
}
