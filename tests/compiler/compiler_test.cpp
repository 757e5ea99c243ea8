// The compiler through the session: functions fixed with FX, compiled with
// ORBAX into a temporary directory, and the generated files compared with
// files written by hand (the banner's date line excepted); the setup file's
// rules; and bad input, which ends in an error with nothing written outside
// the project's directory.
#include "../unit/session_support.h"

#include "compiler/settings.h"

#include "system/register.h"
#include "../unit/testos.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const fs::path &path, const std::string &text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
}

// The lines of a text, the banner's date line left out.
std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        if (line.rfind(" ** DATE: ", 0) != 0) lines.push_back(line);
    return lines;
}

struct Calls {
    static std::vector<std::string> &Log() {
        static std::vector<std::string> log;
        return log;
    }
    static void MakeDirectory(const char *path) {
        Log().push_back(std::string("mkdir ") + path);
        std::error_code ignored;
        fs::create_directories(path, ignored);
    }
    static int32_t Copy(const char *from, const char *to, int32_t flag) {
        Log().push_back(std::string("copy ") + from + " " + to + " " + std::to_string(flag));
        return 0;
    }
};

class CompilerTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        dir_ = testos::MakeTempDir("orbax_compiler_");
        ASSERT_FALSE(dir_.empty());
        WriteSetup(
            "[Settings]\nProjectDir=" + dir_.generic_string() +
            "/projects\nSourceDir=/usr/share/orbax\n"
            "[CC]\nCompilerName=cc\nTargetOS=Linux\nExecExtension=\nObjExtension=.o\n"
            "CompileCmd=$(CC) -c $<\nLinkCmd=$(CC) -o $@ $(OBJS)\n[Makefile]\nObjSep=\\\n");
        APL_Callback(5, reinterpret_cast<void *>(&Calls::Copy));
        APL_Callback(6, reinterpret_cast<void *>(&Calls::MakeDirectory));
        Calls::Log().clear();
    }
    void TearDown() override {
        APL_Callback(5, nullptr);
        APL_Callback(6, nullptr);
        APL_compilerfile[0] = 0;
        std::error_code ignored;
        if (!getenv("ORBAX_COMPILER_KEEP")) fs::remove_all(dir_, ignored);  // kept to look at by hand
        SessionTest::TearDown();
    }
    void WriteSetup(const std::string &text) {
        WriteFile(dir_ / "orbax.ini", text);
        snprintf(APL_compilerfile, sizeof APL_compilerfile, "%s", (dir_ / "orbax.ini").generic_string().c_str());
    }
    // Fixes a function from UTF-8 lines; fails the test when FX refuses it.
    void Fix(const std::vector<std::string> &lines) {
        std::string expression = "⎕FX";
        for (const std::string &line : lines) {
            std::string quoted;
            for (char ch : line) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
            expression += " (,'" + quoted + "')";
        }
        const std::string shown = Run(A(expression));
        ASSERT_EQ(shown.find("ERROR"), std::string::npos) << shown;
    }
    // What ORBAX printed for `name ⎕ORBAX target` (UTF-8 target).
    std::string Compile(const std::string &name, const std::string &target) {
        return Run(A("'" + name + "' ⎕ORBAX '" + target + "'"));
    }
    // The generated file against the hand-written one (both as code-page text).
    void ExpectFile(const fs::path &generated, const std::string &expected) {
        const std::string wanted = A(ReadFile(fs::path("tests/compiler/expected") / expected));
        ASSERT_TRUE(fs::exists(generated)) << generated;
        const std::vector<std::string> got = Lines(ReadFile(generated)), want = Lines(wanted);
        EXPECT_EQ(got.size(), want.size()) << generated;
        for (size_t i = 0; i < got.size() && i < want.size(); ++i)
            EXPECT_EQ(got[i], want[i]) << generated << " line " << i + 1;
    }
    std::vector<fs::path> FilesUnder(const fs::path &root) {
        std::vector<fs::path> files;
        for (const auto &entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file()) files.push_back(entry.path());
        return files;
    }
    fs::path dir_;
};

}  // namespace

// ---- Generated text ------------------------------------------------------------------

TEST_F(CompilerTest, NiladicFunctionWithoutResult) {
    Fix({"HELLO", "⎕←'HI'"});
    const std::string shown = Compile("HELLO", (dir_ / "out" / "hello").generic_string());
    EXPECT_EQ(shown, "\nORBAX: Compiling APL\n====================\nTARGET OS: Linux\nTARGET CC: cc\n\n"
                     "GENERATING C CODE:\n------------------\nHELLO \x85 apl_HELLO.c\n");
    const fs::path out = dir_ / "out" / "hello";
    for (const char *file : {"apl_HELLO.c", "hello.h", "hello.c", "makefile"})
        ExpectFile(out / file, std::string("hello/") + file);
    // The directory first, then the two support files from SourceDir.
    const std::vector<std::string> calls{"mkdir " + out.generic_string(),
                                         "copy /usr/share/orbax/orbax.c " + (out / "orbax.c").generic_string() + " 0",
                                         "copy /usr/share/orbax/orbax.h " + (out / "orbax.h").generic_string() + " 0"};
    EXPECT_EQ(Calls::Log(), calls);
}

TEST_F(CompilerTest, DyadicFunctionWithResultLocalsAndLabels) {
    Fix({"Z←A PLUS B;T", "T←A+B", "L1:Z←T×3", "→(Z<10)/L1"});
    // A target without a separator goes under ProjectDir.
    const std::string shown = Compile("PLUS", "plus");
    EXPECT_NE(shown.find("PLUS \x85 apl_PLUS.c\n"), std::string::npos) << shown;
    const fs::path out = dir_ / "projects" / "plus";
    for (const char *file : {"apl_PLUS.c", "plus.h", "plus.c"}) ExpectFile(out / file, std::string("plus/") + file);
}

TEST_F(CompilerTest, TwoOperatorApplicationsInALine) {
    Fix({"Z←OPS V", "Z←(+/V),×/V", "Z←+/Z"});
    Compile("OPS", (dir_ / "ops").generic_string());
    ExpectFile(dir_ / "ops" / "apl_OPS.c", "ops/apl_OPS.c");
}

TEST_F(CompilerTest, ForAndCaseBlocks) {
    Fix({"BLOCKS N", "{⍺I←⍳N: ⎕←⍺I}", "{N: ⎕←'one' : ⎕←'two'}"});
    Compile("BLOCKS", (dir_ / "blocks").generic_string());
    ExpectFile(dir_ / "blocks" / "apl_BLOCKS.c", "blocks/apl_BLOCKS.c");
    ExpectFile(dir_ / "blocks" / "blocks.h", "blocks/blocks.h");
}

// ---- The setup file -------------------------------------------------------------------

TEST_F(CompilerTest, SetupKeysAndSectionsIgnoreCaseAndTheLastValueWins) {
    WriteSetup("[cc]\ncompilername=first\n[CC]\nCOMPILERNAME = second\n[other]\nCompilerName=third\n"
          "[Cc]\nTargetOS=  Linux\r\nno equals sign here\nObjExtension=.obj\n");
    CompilerSettings s;
    ASSERT_TRUE(ReadSettings(APL_compilerfile, s));
    EXPECT_STREQ(s.compilerName, "second");
    EXPECT_STREQ(s.targetOS, "Linux");  // blanks after '=' skipped, a CR ending dropped
    EXPECT_STREQ(s.objExtension, ".obj");
    EXPECT_STREQ(s.linkCmd, "Undefined");
    EXPECT_STREQ(s.objSep, "Undefined");
    // Without ProjectDir and SourceDir: the setup file's directory.
    EXPECT_EQ(std::string(s.projectDir), dir_.generic_string());
    EXPECT_EQ(std::string(s.sourceDir), (dir_ / "src").generic_string());
    EXPECT_FALSE(s.crlf);
}

TEST_F(CompilerTest, OnlyCRLFInCapitalsSelectsCarriageReturns) {
    Fix({"HELLO", "⎕←'HI'"});
    WriteSetup("[Settings]\nNewline=crlf\n");
    Compile("HELLO", (dir_ / "lf").generic_string());
    EXPECT_EQ(ReadFile(dir_ / "lf" / "makefile").find('\r'), std::string::npos);
    WriteSetup("[Settings]\nNewline=CRLF\n");
    Compile("HELLO", (dir_ / "crlf").generic_string());
    const std::string text = ReadFile(dir_ / "crlf" / "makefile");
    EXPECT_EQ(text.rfind("NAME   = crlf\r\nEXEX   = Undefined\r\n\r\nOBJS   = apl_HELLO", 0), 0u) << text;
}

TEST_F(CompilerTest, MissingKeysAreWrittenAsUndefined) {
    Fix({"HELLO", "⎕←'HI'"});
    WriteSetup("[Settings]\n");
    const std::string shown = Compile("HELLO", (dir_ / "p").generic_string());
    EXPECT_NE(shown.find("TARGET OS: Undefined\nTARGET CC: Undefined\n"), std::string::npos) << shown;
    EXPECT_EQ(ReadFile(dir_ / "p" / "makefile"),
              "NAME   = p\nEXEX   = Undefined\n\nOBJS   = apl_HELLOUndefined pUndefined orbaxUndefined\n\n"
              ".cUndefined: ; Undefined\n\n$(NAME)$(EXEX): $(OBJS)\n\tUndefined\n");
}

TEST_F(CompilerTest, ObjectListBreaksAfterEveryFifthObject) {
    Fix({"F1", "F2 ⋄ F3 ⋄ F4 ⋄ F5 ⋄ F6 ⋄ F1"});
    for (const char *name : {"F2", "F3", "F4", "F5", "F6"}) Fix({name, "⎕←1"});
    const std::string shown = Compile("F1", (dir_ / "six").generic_string());
    // The recursive call does not compile F1 twice.
    EXPECT_NE(shown.find("F1 \x85 apl_F1.c\nF2 \x85 apl_F2.c\nF3 \x85 apl_F3.c\nF4 \x85 apl_F4.c\nF5 \x85 apl_F5.c\n"
                         "F6 \x85 apl_F6.c\n"),
              std::string::npos)
        << shown;
    const std::string makefile = ReadFile(dir_ / "six" / "makefile");
    EXPECT_NE(makefile.find("OBJS   = apl_F1.o apl_F2.o apl_F3.o apl_F4.o apl_F5.o \\\n         apl_F6.o six.o orbax.o\n"),
              std::string::npos)
        << makefile;
}

TEST_F(CompilerTest, LongValuesAreCutToTheirBuffersAndBinaryBytesStayInTheirLine) {
    const std::string longValue(10000, 'x');
    WriteSetup("[CC]\nObjExtension=" + longValue + "\nCompileCmd=" + longValue + "\n" + std::string("Target\0OS=bin\x01\xff", 15) +
          "\n[Makefile]\nObjSep=" + longValue + "\n[CC]\nLinkCmd=" + longValue + "[Makefile]\n");
    CompilerSettings s;
    ASSERT_TRUE(ReadSettings(APL_compilerfile, s));
    EXPECT_EQ(std::string(s.objExtension), std::string(15, 'x'));
    EXPECT_EQ(std::string(s.compileCmd), std::string(255, 'x'));
    EXPECT_EQ(std::string(s.objSep), std::string(15, 'x'));
    EXPECT_EQ(std::string(s.linkCmd), std::string(255, 'x'));  // the rest of its line is no section
    EXPECT_STREQ(s.targetOS, "Undefined");
}

// ---- Bad input ---------------------------------------------------------------------------

TEST_F(CompilerTest, ArgumentsAreChecked) {
    Fix({"HELLO", "⎕←'HI'"});
    EXPECT_NE(Run(A("⎕ORBAX 'x'")).find("VALENCE ERROR"), std::string::npos);
    EXPECT_NE(Run(A("'HELLO' ⎕ORBAX[1] 'x'")).find("AXIS ERROR"), std::string::npos);
    EXPECT_NE(Run(A("'HELLO' ⎕ORBAX 1 2")).find("DOMAIN ERROR"), std::string::npos);
    EXPECT_NE(Run(A("'NOSUCH' ⎕ORBAX 'x'")).find("VALUE ERROR"), std::string::npos);
    Run(A("V←3"));
    EXPECT_NE(Run(A("'V' ⎕ORBAX 'x'")).find("There is no function/operator with that name!"), std::string::npos);
    APL_compilerfile[0] = 0;
    snprintf(APL_compilerfile, sizeof APL_compilerfile, "%s", (dir_ / "missing.ini").generic_string().c_str());
    EXPECT_NE(Compile("HELLO", "x").find("SYSTEM ERROR : Can't open compiler setup file '" +
                                         (dir_ / "missing.ini").generic_string() + "'!"),
              std::string::npos);
    EXPECT_EQ(FilesUnder(dir_).size(), 1u);  // the setup file alone
    EXPECT_TRUE(Calls::Log().empty());
}

TEST_F(CompilerTest, ProjectNamesMustBeCIdentifiersAndNoSupportFile) {
    Fix({"HELLO", "⎕←'HI'"});
    for (const char *target : {"my-project", "/1abc", "orbax", "sub/orbax", "a/..", "apl_HELLO", "x/", "na\\me."}) {
        EXPECT_NE(Compile("HELLO", (dir_ / "t").generic_string() + "/" + target).find("DOMAIN ERROR"), std::string::npos)
            << target;
        EXPECT_TRUE(Calls::Log().empty()) << target;
    }
    EXPECT_EQ(FilesUnder(dir_).size(), 1u);
    // A backslash separates too; '..' in the directory part is the user's choice.
    Compile("HELLO", (dir_ / "a").generic_string() + "/../b\\proj");
    EXPECT_TRUE(fs::exists(dir_ / "b\\proj" / "proj.c") || fs::exists(dir_ / "a/../b\\proj/proj.c"));
}

TEST_F(CompilerTest, PathsThatDoNotFitOrCannotBeWrittenAreFileErrors) {
    Fix({"HELLO", "⎕←'HI'"});
    EXPECT_NE(Compile("HELLO", (dir_ / std::string(300, 'd')).generic_string() + "/p").find("FILE I/O ERROR"), std::string::npos);
    EXPECT_TRUE(Calls::Log().empty());
    WriteFile(dir_ / "file", "not a directory");
    EXPECT_NE(Compile("HELLO", (dir_ / "file" / "p").generic_string()).find("FILE I/O ERROR"), std::string::npos);
    EXPECT_EQ(FilesUnder(dir_).size(), 2u);
}

TEST_F(CompilerTest, NamesThatShareAnIdentifierAreRefused) {
    Fix({"A∆B", "⎕←A_delta_B"});
    EXPECT_NE(Compile("A∆B", (dir_ / "p").generic_string()).find("DOMAIN ERROR : Two names map to the C identifier apl_A_delta_B"),
              std::string::npos);
    Fix({"OVER¯BAR", "⎕←1"});
    Compile("OVER¯BAR", (dir_ / "q").generic_string());
    EXPECT_TRUE(fs::exists(dir_ / "q" / "apl_OVER_bar_BAR.c"));
}

TEST_F(CompilerTest, UntranslatableLinesStopTheCompilation) {
    Fix({"BAD", "(1 2)←3"});
    EXPECT_NE(Compile("BAD", (dir_ / "p").generic_string()).find("SYNTAX ERROR : In selective assignment"), std::string::npos);
    Fix({"SEL;V", "V←⍳5", "(2↑⍋V)←0"});
    EXPECT_NE(Compile("SEL", (dir_ / "q").generic_string()).find(A("SYNTAX ERROR : Function '⍋' not allowed in selective specification")),
              std::string::npos);
}

TEST_F(CompilerTest, GlobalsWithAndWithoutValues) {
    Run(A("S←7"));
    Run(A("N←(1 2)'AB'"));
    Fix({"Z←G", "Z←(⍴N),S", "V←Z"});
    const std::string shown = Compile("G", (dir_ / "g").generic_string());
    EXPECT_NE(shown.find("G \x85 apl_G.c\n\nGLOBAL VARIABLES:\n-----------------\nS [SIMPLE: 20 Bytes]\n"
                         "N [NESTED: 70 Bytes]\nV [VOID]\n"),
              std::string::npos)
        << shown;
    for (const char *file : {"apl_G.c", "g.h", "g.c"}) ExpectFile(dir_ / "g" / file, std::string("globals/") + file);
    // Taking the images leaves the values as they were.
    EXPECT_EQ(Run(A("N≡(1 2)'AB' ⋄ S")), "1\n7\n");
}

#ifdef ORBAX_SAMPLE_PLUGIN
void ListSample(char *buffer) { strcpy(buffer, ORBAX_SAMPLE_PLUGIN); }
void *LoadWithDlopen(const char *name) { return testos::OpenLibrary(name); }
void *FindWithDlsym(void *handle, const char *name) { return testos::FindInLibrary(handle, name); }

TEST_F(CompilerTest, PluginCommand) {
    APL_Callback(7, reinterpret_cast<void *>(ListSample));
    APL_Callback(8, reinterpret_cast<void *>(LoadWithDlopen));
    APL_Callback(9, reinterpret_cast<void *>(FindWithDlsym));
    ASSERT_EQ(LoadPlugins(), 0);
    APL_Callback(7, nullptr);
    Fix({"P", "⎕←⎕GETENV 'HOME'"});
    Compile("P", (dir_ / "pl").generic_string());
    ExpectFile(dir_ / "pl" / "apl_P.c", "plugin/apl_P.c");
    ExpectFile(dir_ / "pl" / "pl.h", "plugin/pl.h");
    const std::string source = ReadFile(dir_ / "pl" / "pl.c");
    EXPECT_NE(source.find("  KAZ_Init(exe_file);\n  APL_AddSymbol(\"\\120\", 1, 5, KAZ_InitFunction(apl_P));\n"
                          "  ORBAX_GetEnv = KAZ_GetPluginFunction(\"\\214\\107\\105\\124\\105\\116\\126\");\n}\n"),
              std::string::npos)
        << source;
}
#endif

TEST_F(CompilerTest, UserOperatorsStrandsAndArrayOperandsOfReplicate) {
    Fix({"Z←(F TWICE) R", "Z←F F R"});
    Fix({"Z←N", "Z←1 0 1"});
    Fix({"Z←CALLER V", "Z←(-TWICE) V", "Z←V V", "Z←N/V"});
    const std::string shown = Compile("CALLER", (dir_ / "op").generic_string());
    EXPECT_NE(shown.find("CALLER \x85 apl_CALLER.c\nTWICE \x85 apl_TWICE.c\nN \x85 apl_N.c\n"), std::string::npos) << shown;
    const std::string caller = ReadFile(dir_ / "op" / "apl_CALLER.c"), twice = ReadFile(dir_ / "op" / "apl_TWICE.c");
    // The operator is compiled with the operator signature, its operand applied through the library's call path.
    EXPECT_NE(twice.find("aplarray *apl_TWICE(aplarray *_axis, aplarray *_larg, aplfnc *apl_F, aplarray *_laxis, "
                         "aplfnc *_rop, aplarray *_raxis, aplarray *apl_R)\n"),
              std::string::npos);
    EXPECT_NE(twice.find("          APL_Evaluate(apl_F, NULL, NULL, APL_Variable(apl_R_idx), NULL),\n"), std::string::npos)
        << twice;
    EXPECT_NE(caller.find("            &func0, &op0,\n            apl_TWICE,\n            NULL,\n            KAZ_Fn(45, 14340, "
                          "APL_Sub),\n"),
              std::string::npos)
        << caller;
    // Juxtaposed arrays join by the strand rules; a niladic function left of / is its array operand: replicate.
    EXPECT_NE(caller.find("APL_CatArray(APL_Variable(apl_V_idx), APL_Variable(apl_V_idx), 0, 0)"), std::string::npos);
    EXPECT_NE(caller.find("APL_Replicate(\n          NULL,\n          apl_N(NULL, NULL, NULL),\n          APL_Variable(apl_V_idx)\n"),
              std::string::npos)
        << caller;
    EXPECT_NE(Compile("TWICE", (dir_ / "op2").generic_string()).find("DOMAIN ERROR"), std::string::npos);
}

// An operator is compiled once: its operand is an array in every call or in none.
TEST_F(CompilerTest, AnOperandIsAnArrayInEveryCallOrInNone) {
    Fix({"Z←(F AT N) R", "Z←F N↑R"});
    Fix({"Z←MIXED V", "Z←(- AT 2) V", "Z←(- AT -) V"});
    EXPECT_NE(Compile("MIXED", (dir_ / "m").generic_string())
                  .find("DOMAIN ERROR : Operator AT takes an array operand in one call and a function in another"),
              std::string::npos);
}
