// The compiler through the session: functions fixed with FX, compiled with
// ORBAX into a temporary directory, and the generated files compared with
// files written by hand (the banner's date line excepted); the setup file's
// rules; and bad input, which ends in an error with nothing written outside
// the project's directory.
#include "../unit/session_support.h"

#include <sys/stat.h>
#include <unistd.h>

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
        char pattern[] = "/tmp/orbax_compiler_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        Setup(
            "[Settings]\nProjectDir=" + dir_.string() +
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
    void Setup(const std::string &text) {
        WriteFile(dir_ / "orbax.ini", text);
        snprintf(APL_compilerfile, sizeof APL_compilerfile, "%s", (dir_ / "orbax.ini").c_str());
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
    const std::string shown = Compile("HELLO", (dir_ / "out" / "hello").string());
    EXPECT_EQ(shown, "\nORBAX: Compiling APL\n====================\nTARGET OS: Linux\nTARGET CC: cc\n\n"
                     "GENERATING C CODE:\n------------------\nHELLO \x85 apl_HELLO.c\n");
    const fs::path out = dir_ / "out" / "hello";
    for (const char *file : {"apl_HELLO.c", "hello.h", "hello.c", "makefile"})
        ExpectFile(out / file, std::string("hello/") + file);
    // The directory first, then the two support files from SourceDir.
    const std::vector<std::string> calls{"mkdir " + out.string(),
                                         "copy /usr/share/orbax/orbax.c " + (out / "orbax.c").string() + " 0",
                                         "copy /usr/share/orbax/orbax.h " + (out / "orbax.h").string() + " 0"};
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
