// )HELP as the session shows it: every system command, system name and glyph
// has its text in share/help.txt, glyphs name their key from the host's
// layout, and the keyboard chart is drawn from that layout.
#include "support.h"

#include "core/callbacks.h"
#include "interpreter/syscmd.h"
#include "system/register.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// A host's layout: the prefix key '`', then r gives ⍴ and i gives ⍳.
int32_t TestKeyboard(int32_t key) {
    if (key == 0) return '`';
    if (key == 'r') return static_cast<uint8_t>(A("⍴")[0]);
    if (key == 'i') return static_cast<uint8_t>(A("⍳")[0]);
    return -1;
}

class Help : public WorkspaceTest {
protected:
    // The system functions' table outlives the workspace: made before the
    // blocks are counted, it only names them again afterwards.
    void SetUp() override {
        RegisterBuiltins();
        WorkspaceTest::SetUp();
        ReregisterSystemFunctions();
        snprintf(APL_helpfile, sizeof APL_helpfile, "share/help.txt");
        APL_Callback(kSlotKeyboard, reinterpret_cast<void *>(&TestKeyboard));
    }
    void TearDown() override {
        APL_helpfile[0] = 0;
        APL_Callback(kSlotKeyboard, nullptr);
        WorkspaceTest::TearDown();
    }
    // The reference pages show help in transcripts, where a line that
    // begins with six blanks would be read as typed input.
    static std::string Ask(const std::string &what) {
        SystemCommand(("HELP " + what).c_str());
        const std::string text = CapturedOutput::Take();
        EXPECT_EQ(text.find("\n      "), std::string::npos) << what << ":\n" << text;
        EXPECT_NE(text.rfind("      ", 0), 0u) << what;
        return text;
    }
};

// Every code of the character set that has a role and a visible glyph.
std::vector<uint8_t> Glyphs() {
    std::ifstream file("share/codepage.tsv");
    std::vector<uint8_t> glyphs;
    std::string line;
    for (std::getline(file, line); std::getline(file, line);) {
        std::istringstream fields(line);
        std::string code, unicode, glyph, role;
        std::getline(fields, code, '\t');
        std::getline(fields, unicode, '\t');
        std::getline(fields, glyph, '\t');
        std::getline(fields, role, '\t');
        if (!role.empty() && std::stoi(code) > ' ') glyphs.push_back(static_cast<uint8_t>(std::stoi(code)));
    }
    return glyphs;
}

TEST_F(Help, EveryCommandAndSystemNameHasItsLine) {
    const std::string list = Ask("");
    for (const std::string &name : SystemCommandNames()) {
        EXPECT_EQ(Ask(name).rfind(")" + name + " ", 0), 0u) << name;
        EXPECT_NE(list.find("\n)" + name + " "), std::string::npos) << name << " is not listed";
    }
    const std::string mode = Ask("MODE");
    EXPECT_EQ(std::count(mode.begin(), mode.end(), '\n'), 4) << "one line per form of )MODE:\n" << mode;
    const std::string names = Ask(A("⎕"));
    int systemNames = 0;
    for (uint16_t i = 0; i < APL_symtab.count; ++i) {
        const std::string name = SymbolName(i);
        if (!(Symbol(i).kind & APL_KIND_SYSTEM) || name.size() < 2) continue;
        ++systemNames;
        EXPECT_EQ(Ask(name).rfind(name + " ", 0), 0u) << name.substr(1);
        EXPECT_NE(names.find("\n" + name + " "), std::string::npos) << name.substr(1) << " is not listed";
    }
    EXPECT_GT(systemNames, 40);
}

TEST_F(Help, EveryGlyphHasItsMeaningAndItsKey) {
    const std::vector<uint8_t> glyphs = Glyphs();
    EXPECT_GT(glyphs.size(), 70u);
    for (uint8_t code : glyphs) {
        if (code == static_cast<uint8_t>(A("⎕")[0])) continue;  // )HELP ⎕ lists the system names
        const std::string text = Ask(std::string(1, static_cast<char>(code)));
        EXPECT_EQ(text.find("NO HELP"), std::string::npos) << Page().glyphs[code];
        EXPECT_NE(text.find("\nkey    "), std::string::npos) << Page().glyphs[code];
    }
    EXPECT_NE(Ask(A("⍴")).find("\nkey    `r\n"), std::string::npos);
    EXPECT_NE(Ask("+").find("\nkey    +\n"), std::string::npos);
    EXPECT_NE(Ask(A("⌽")).find("\nkey    none on this keyboard\n"), std::string::npos);
}

// The chart of the real layout is shown (and checked) in docs/keyboard.md.
TEST_F(Help, AHostWithoutAKeyboardIsSaidSo) {
    APL_Callback(kSlotKeyboard, nullptr);
    EXPECT_EQ(Ask("KEYS").rfind("NO KEYBOARD", 0), 0u);
    EXPECT_NE(Ask(A("⍴")).find("\nkey    none on this keyboard\n"), std::string::npos);
}

TEST_F(Help, UnknownWordsAndAMissingFileAreAnswered) {
    EXPECT_EQ(Ask("NOSUCH").rfind("NO HELP FOR NOSUCH\n", 0), 0u);
    EXPECT_EQ(Ask(A("⎕NOSUCH")).rfind(A("NO HELP FOR ⎕NOSUCH\n"), 0), 0u);
    snprintf(APL_helpfile, sizeof APL_helpfile, "share/no-such-help.txt");
    EXPECT_EQ(Ask(""), "HELP FILE NOT FOUND: share/no-such-help.txt\n");
    EXPECT_EQ(Ask("KEYS").rfind("Type the prefix key", 0), 0u) << "the chart needs no file";
}

}  // namespace
