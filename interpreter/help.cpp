// help: the )HELP command, its texts read from the help file and the keyboard
// asked of the host. The file is UTF-8: a line "@KEY" starts the entry KEY
// ("commands", "names", "glyph ⍴"), the lines up to the next such line are its
// text, and lines before the first entry are comments.
#include "interpreter/help.h"

#include "core/callbacks.h"
#include "core/glyphs.h"
#include "system/ostext.h"

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

char APL_helpfile[256] = "";

namespace {

using Entries = std::map<std::string, std::vector<std::string>>;
using KeyboardFn = int32_t (*)(int32_t key);

constexpr char kDefaultHelpFile[] = "help.txt";

// Read afresh each time: help is rare and the file may have been improved.
bool ReadEntries(Entries &entries) {
    std::ifstream file(APL_helpfile[0] ? APL_helpfile : kDefaultHelpFile);
    if (!file) return false;
    std::vector<std::string> *current = nullptr;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string codes;
        if (!FromSystemText(line, codes)) codes = ShownSystemText(line);
        if (!codes.empty() && codes[0] == '@') {
            current = &entries[codes.substr(1)];
        } else if (current) {
            current->push_back(codes);
        }
    }
    for (auto &entry : entries)
        while (!entry.second.empty() && entry.second.back().empty()) entry.second.pop_back();
    return true;
}

void Say(const std::string &codes) { WriteText(codes.c_str(), true); }

void SayAll(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) Say(line);
}

std::string FirstWord(const std::string &line) { return line.substr(0, line.find(' ')); }

// The lines of a listing (commands or names) whose first word is `word`:
// )MODE has one line for each of its forms.
std::vector<std::string> LinesNamed(const std::vector<std::string> &lines, const std::string &word) {
    std::vector<std::string> named;
    for (const std::string &line : lines)
        if (FirstWord(line) == word) named.push_back(line);
    return named;
}

// ---- The keyboard, as the host lays it out -----------------------------------------

KeyboardFn Keyboard() { return reinterpret_cast<KeyboardFn>(CallbackFunction(kSlotKeyboard)); }

// The rows of an ordinary keyboard, and the same keys with shift.
constexpr const char *kKeyRows[] = {"`1234567890-=", "qwertyuiop[]\\", "asdfghjkl;'", "zxcvbnm,./"};
constexpr const char *kShiftedRows[] = {"~!@#$%^&*()_+", "QWERTYUIOP{}|", "ASDFGHJKL:\"", "ZXCVBNM<>?"};

// One line of the chart: a label, then the glyph of each key (blank for none).
std::string GlyphLine(const char *label, const char *keys, KeyboardFn keyboard) {
    std::string line = label;
    for (const char *key = keys; *key; ++key) {
        const int32_t code = keyboard(static_cast<unsigned char>(*key));
        line += std::string(" ") + (code > 0 && code < 256 ? static_cast<char>(code) : ' ');
    }
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

// Drawn as the keys lie, with the shifted glyph under the plain one: the key
// labels are plain keys only, since the character set has no ASCII caret.
void ShowKeyboard() {
    const KeyboardFn keyboard = Keyboard();
    if (!keyboard) {
        Say("NO KEYBOARD: this host types APL glyphs its own way");
        return;
    }
    Say(std::string("Type the prefix key ") + static_cast<char>(keyboard(0)) +
        " and then a key, with shift for the glyph of the shift row:");
    for (size_t row = 0; row < std::size(kKeyRows); ++row) {
        std::string keys = "key   ";
        for (const char *key = kKeyRows[row]; *key; ++key) keys += std::string(" ") + *key;
        Say(keys);
        Say(GlyphLine("APL   ", kKeyRows[row], keyboard));
        Say(GlyphLine("shift ", kShiftedRows[row], keyboard));
    }
}

// How the glyph is typed: itself when the keyboard has it, and the prefix key
// followed by each key that gives it.
std::string KeysFor(uint8_t code) {
    std::string ways;
    if (code > ' ' && code < 127 && code != glyph::kWedge) ways = std::string(1, static_cast<char>(code));
    if (const KeyboardFn keyboard = Keyboard()) {
        const char prefix = static_cast<char>(keyboard(0));
        for (int key = '!'; key < 127; ++key) {
            if (keyboard(key) != code) continue;
            if (!ways.empty()) ways += "  or  ";
            ways += std::string(1, prefix) + static_cast<char>(key);
        }
    }
    return ways.empty() ? "none on this keyboard" : ways;
}

// ---- The forms of the command ---------------------------------------------------

void NoHelp(const std::string &word) {
    Say("NO HELP FOR " + word);
    Say(")HELP lists the commands, )HELP " + std::string(1, static_cast<char>(glyph::kQuad)) +
        " the system names, )HELP KEYS the keyboard");
}

std::string Trimmed(const char *text) {
    std::string word(text);
    const size_t first = word.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return word.substr(first, word.find_last_not_of(' ') - first + 1);
}

bool IsCommandWord(const std::string &word) {
    for (char c : word)
        if (c < 'A' || c > 'Z') return false;
    return !word.empty();
}

}  // namespace

void ShowHelp(const char *text) {
    const std::string word = Trimmed(text);
    if (word == "KEYS") {
        ShowKeyboard();
        return;
    }
    Entries entries;
    if (!ReadEntries(entries)) {
        Say(std::string("HELP FILE NOT FOUND: ") + (APL_helpfile[0] ? APL_helpfile : kDefaultHelpFile));
        return;
    }
    const std::string quad(1, static_cast<char>(glyph::kQuad));
    if (word.empty()) {
        SayAll(entries["commands"]);
    } else if (word == quad) {
        SayAll(entries["names"]);
    } else if (word.size() == 1 && entries.count("glyph " + word)) {
        SayAll(entries["glyph " + word]);
        Say("key    " + KeysFor(static_cast<uint8_t>(word[0])));
    } else {
        const std::vector<std::string> lines = word[0] == ')'       ? LinesNamed(entries["commands"], word)
                                               : IsCommandWord(word) ? LinesNamed(entries["commands"], ")" + word)
                                               : word[0] == quad[0]  ? LinesNamed(entries["names"], word)
                                                                     : std::vector<std::string>();
        if (lines.empty()) NoHelp(word);
        SayAll(lines);
    }
}
