// editor: the del editor of the session and )ED. Lines are kept as codes of
// the APL character set, header first, and fixed as a whole when the del
// closes the definition: a fix that fails leaves every line in place.
#include "editor.h"

#include "apl.h"
#include "codepage.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace editor {
namespace {

constexpr char kDel = '\x90';
constexpr char kDelta = '\x91';
constexpr char kQuad = '\x8C';
constexpr char kBranch = '\x85';
constexpr char kArrow = '\x84';
constexpr char kQuote = '\'';

int faults = 0;

using Lines = std::vector<std::string>;

std::string Trimmed(const std::string &text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The del that ends a line outside quotes closes the definition; it is cut
// off, with the blanks before it.
bool CutClosingDel(std::string &line) {
    line = Trimmed(line);
    if (line.empty() || line.back() != kDel) return false;
    bool quoted = false;
    for (size_t i = 0; i + 1 < line.size(); ++i)
        if (line[i] == kQuote) quoted = !quoted;
    if (quoted) return false;
    line = Trimmed(line.substr(0, line.size() - 1));
    return true;
}

// A header of one word names a function to edit rather than a new one.
bool IsName(const std::string &header) {
    for (char c : header)
        if (c == ' ' || c == kArrow || c == '(' || c == ')' || c == ';') return false;
    return !header.empty();
}

// ---- The library, through its exported functions ----------------------------

std::string TextOf(aplarray *item) {
    if (!item || item->eltype != APL_CHAR) return "";
    return std::string(static_cast<const char *>(APL_Data(item)), static_cast<size_t>(item->number));
}

// The lines of a defined function (header first), or false when the name is
// not one.
bool FunctionLines(const std::string &name, Lines &lines) {
    aplarray *rep = APL_VectorRep(nullptr, nullptr, APL_String(name.c_str()));
    const bool found = rep && aplerrno == 0 && rep->eltype == APL_NESTED && rep->rank == 1 && rep->shape[0] > 0;
    if (found) {
        aplarray **items = static_cast<aplarray **>(APL_Data(rep));
        lines.clear();
        for (int32_t i = 0; i < rep->shape[0]; ++i) lines.push_back(TextOf(items[i]));
    }
    if (rep) APL_UnLinkTemp(rep);
    aplerrno = 0;
    APL_error_message[0] = 0;
    return found;
}

// The name class (0 unused, 2 variable, 3 function, ...), -1 when not a name.
int NameClass(const std::string &name) {
    aplarray *result = APL_NameClass(nullptr, nullptr, APL_String(name.c_str()));
    int nameClass = -1;
    if (result && aplerrno == 0 && result->eltype == APL_INTG && result->number == 1)
        nameClass = *static_cast<const int32_t *>(APL_Data(result));
    if (result) APL_UnLinkTemp(result);
    aplerrno = 0;
    return nameClass;
}

// Fixes the lines; on failure `fault` is the line at fault (0 the header)
// and `reason` the library's explanation, if any.
bool Fix(const Lines &lines, size_t &fault, std::string &reason) {
    fault = 0;
    reason.clear();
    if (lines.size() < 2) {
        reason = "a definition needs a line after its header";
        return false;
    }
    const auto count = static_cast<int32_t>(lines.size());
    aplarray *vector = APL_Create(1, APL_NESTED, &count);
    if (!vector) {
        aplerrno = 0;
        reason = "WS FULL";
        return false;
    }
    aplarray **items = static_cast<aplarray **>(APL_Data(vector));
    for (int32_t i = 0; i < count; ++i) items[i] = APL_Link(APL_String(lines[static_cast<size_t>(i)].c_str()));
    aplarray *result = APL_Fix(nullptr, nullptr, vector);
    const bool fixed = result && aplerrno == 0 && result->eltype == APL_CHAR;
    if (!fixed && result && result->eltype == APL_INTG && result->number == 1) {
        const int32_t line = *static_cast<const int32_t *>(APL_Data(result));
        if (line > 0 && line < count) fault = static_cast<size_t>(line);
    }
    if (!fixed) reason = APL_error_message;
    if (result) APL_UnLinkTemp(result);
    aplerrno = 0;
    APL_error_message[0] = 0;
    return fixed;
}

// ---- The editor ---------------------------------------------------------------

class Editor {
public:
    Editor(InputSource &input, Screen &screen, Lines lines) : input_(input), screen_(screen), lines_(std::move(lines)) {
        cursor_ = Count() + 1;
    }

    // Takes lines until the definition is fixed or abandoned.
    void Run() {
        std::string line;
        while (!done_) {
            if (!input_.EditorLine(Prompt(), line)) {
                Say("orbax: the input ended inside the definition of " + Name() + ", which was not fixed");
                ++faults;
                return;
            }
            Take(line);
        }
    }

    // One line typed to the editor: a command, a line of the function, or
    // either followed by the closing del.
    void Take(std::string line) {
        const bool close = CutClosingDel(line);
        if (!line.empty() && line[0] == '[') {
            if (!Command(line)) return;
        } else if (!line.empty()) {
            Store(line);
        }
        if (close) Close();
    }

    bool Done() const { return done_; }

    // After a failed fix, the next line typed replaces the one at fault.
    void MoveTo(size_t line) {
        cursor_ = line;
        inserting_ = false;
    }

    // Fixes the lines; a failure is shown and leaves the editor open at the
    // line at fault.
    void Close() {
        size_t fault;
        std::string reason;
        if (Fix(lines_, fault, reason)) {
            done_ = true;
            return;
        }
        ++faults;
        Say(reason.empty() ? "DEFN ERROR" : "DEFN ERROR : " + reason);
        Say(Numbered(fault));
        MoveTo(fault);
    }

private:
    size_t Count() const { return lines_.size() - 1; }
    std::string Name() const { return Trimmed(lines_[0]); }

    void Say(const std::string &codes) { screen_.Write(codes, true); }

    std::string Numbered(size_t line) const { return "[" + std::to_string(line) + "]  " + lines_[line]; }

    std::string Prompt() const {
        return "[" + std::to_string(cursor_) + (inserting_ ? ".1" : "") + "] ";
    }

    void Show() {
        Say(std::string("    ") + kDel + " " + lines_[0]);
        for (size_t i = 1; i <= Count(); ++i) Say(Numbered(i));
        Say(std::string("    ") + kDel);
    }

    // Replaces the line at the cursor (appends past the last), or inserts
    // after it; the cursor moves on to the next line.
    void Store(const std::string &text) {
        if (inserting_) {
            lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(cursor_) + 1, text);
        } else if (cursor_ <= Count()) {
            lines_[cursor_] = text;
        } else {
            lines_.push_back(text);
        }
        ++cursor_;
    }

    void Refuse(const std::string &why) { Say("orbax: " + why + "; nothing changed"); }

    // Reads "n" or "n.m" (m any digits); false when the text is neither.
    static bool LineNumber(const std::string &text, size_t &number, bool &fraction) {
        size_t i = 0;
        number = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            if (number > 1000000000) return false;
            number = number * 10 + static_cast<size_t>(text[i] - '0');
        }
        if (i == 0) return false;
        fraction = i < text.size() && text[i] == '.';
        if (fraction) {
            const size_t digits = ++i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
            if (i == digits) return false;
        }
        return i == text.size();
    }

    // A bracketed command, perhaps with a line after it. A command that is not
    // understood is answered and changes nothing (the closing del included):
    // false then.
    bool Command(const std::string &line) {
        const size_t end = line.find(']');
        const std::string inside = end == std::string::npos ? "" : Trimmed(line.substr(1, end - 1));
        const std::string text = end == std::string::npos ? "" : Trimmed(line.substr(end + 1));
        const std::string usage = "[" + std::string(1, kQuad) + "] [n] [n] line [n.m] line [" + kDelta + "n] [" +
                                  kBranch + "]";
        if (end == std::string::npos || inside.empty()) {
            Refuse(line + " is not an editor command (" + usage + ")");
            return false;
        }
        if (inside == std::string(1, kBranch)) {
            done_ = true;  // abandoned: the function stays as it was
            return false;
        }
        if (inside == std::string(1, kQuad) && text.empty()) {
            Show();
            return true;
        }
        if (inside[0] == kDelta && text.empty()) return Delete(inside.substr(1));
        size_t number;
        bool fraction;
        if (!LineNumber(inside, number, fraction)) {
            Refuse(line + " is not an editor command (" + usage + ")");
            return false;
        }
        if (number > Count() + (fraction ? 0 : 1)) {
            Refuse("there is no line " + inside + " (the function has " + std::to_string(Count()) + ")");
            return false;
        }
        cursor_ = number;
        inserting_ = fraction;
        if (!text.empty()) Store(text);
        return true;
    }

    // [∆n] and [∆n m ...]: removes those lines; the header stays.
    bool Delete(const std::string &numbers) {
        std::vector<size_t> doomed(lines_.size(), 0);
        size_t count = 0, from = 0;
        const std::string list = Trimmed(numbers) + " ";
        for (size_t blank; (blank = list.find(' ', from)) != std::string::npos; from = blank + 1) {
            const std::string word = list.substr(from, blank - from);
            if (word.empty()) continue;
            size_t number;
            bool fraction;
            if (!LineNumber(word, number, fraction) || fraction || number == 0 || number > Count()) {
                Refuse("cannot delete line " + word + " (lines 1 to " + std::to_string(Count()) + " can go)");
                return false;
            }
            doomed[number] = 1;
            ++count;
        }
        if (count == 0) {
            Refuse(std::string("[") + kDelta + "] wants the numbers of the lines to delete");
            return false;
        }
        Lines kept;
        for (size_t i = 0; i < lines_.size(); ++i)
            if (!doomed[i]) kept.push_back(lines_[i]);
        lines_ = std::move(kept);
        MoveTo(Count() + 1);
        return true;
    }

    InputSource &input_;
    Screen &screen_;
    Lines lines_;
    size_t cursor_ = 1;
    bool inserting_ = false;
    bool done_ = false;
};

// ---- Opening ------------------------------------------------------------------

std::string AfterBlanks(const std::string &codes) {
    const size_t first = codes.find_first_not_of(' ');
    return first == std::string::npos ? "" : codes.substr(first);
}

bool IsEditCommand(const std::string &text) {
    return text.compare(0, 3, ")ED") == 0 && (text.size() == 3 || text[3] == ' ');
}

// The lines to start from: the function's own, or a new definition's header.
// False (after a message) when the name belongs to something else.
bool StartingLines(const std::string &header, Lines &lines, Screen &screen) {
    if (IsName(header)) {
        if (FunctionLines(header, lines)) return true;
        const int nameClass = NameClass(header);
        if (nameClass > 0) {
            screen.Write("DEFN ERROR : " + header + " is not a defined function", true);
            ++faults;
            return false;
        }
    }
    lines = {header};
    return true;
}

void OpenDefinition(const std::string &text, InputSource &input, Screen &screen) {
    std::string rest = text.substr(1);  // after the del
    const size_t bracket = rest.find('[');
    std::string header = Trimmed(rest.substr(0, bracket));
    rest = bracket == std::string::npos ? "" : rest.substr(bracket);
    if (bracket == std::string::npos && CutClosingDel(header)) rest = std::string(1, kDel);
    Lines lines;
    if (header.empty()) {
        screen.Write("DEFN ERROR : a header or a function's name follows the del", true);
        ++faults;
        return;
    }
    if (!StartingLines(header, lines, screen)) return;
    Editor editor(input, screen, std::move(lines));
    if (!rest.empty()) editor.Take(rest);
    if (!editor.Done()) editor.Run();
}

// ---- )ED: the text in the user's editor -------------------------------------------

std::string ReadWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's lines in codes; false (after a message) when a line is not in
// the character set.
bool LinesOfFile(const std::string &utf8, Lines &lines, Screen &screen) {
    lines.clear();
    size_t from = 0;
    while (from < utf8.size()) {
        size_t end = utf8.find('\n', from);
        if (end == std::string::npos) end = utf8.size();
        std::string line = utf8.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string codes, problem;
        if (!codepage::FromUtf8(line, codes, problem)) {
            screen.Write("orbax: line " + std::to_string(lines.size() + 1) + ": " + problem, true);
            return false;
        }
        lines.push_back(Trimmed(codes));
        from = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return true;
}

void EditInEditor(const std::string &text, InputSource &input, Screen &screen) {
    const std::string name = Trimmed(text.substr(3));
    Lines lines;
    if (!IsName(name)) {
        screen.Write("orbax: )ED wants the name of a function", true);
        return;
    }
    if (!StartingLines(name, lines, screen)) return;
    const char *directory = getenv("TMPDIR");
    std::string pattern = std::string(directory && *directory ? directory : "/tmp") + "/orbax-ed-XXXXXX.apl";
    char *path = pattern.data();
    const int fd = mkstemps(path, 4);
    if (fd < 0) {
        screen.Write("orbax: )ED cannot make a temporary file", true);
        return;
    }
    std::string utf8;
    for (const std::string &line : lines) utf8 += codepage::ToUtf8(line) + "\n";
    const bool written = write(fd, utf8.data(), utf8.size()) == static_cast<ssize_t>(utf8.size());
    close(fd);
    // $EDITOR is read by the shell as written there, options and quotes included.
    const char *chosen = getenv("EDITOR");
    const std::string command = std::string(chosen && *chosen ? chosen : "vi") + " '" + path + "'";
    fflush(stdout);
    const int status = written ? system(command.c_str()) : -1;
    APL_interrupted = 0;
    if (status != 0) {
        screen.Write(std::string("orbax: the editor did not finish well; nothing changed (the text is in ") + path +
                         ")",
                     true);
        return;
    }
    Lines edited;
    if (!LinesOfFile(ReadWhole(path), edited, screen)) {
        screen.Write(std::string("orbax: nothing changed; the text is in ") + path, true);
        return;
    }
    unlink(path);
    if (edited.empty()) {
        screen.Write("orbax: the text came back empty; nothing changed", true);
        return;
    }
    // A fix that fails goes on in the del editor, with every line kept.
    Editor editor(input, screen, std::move(edited));
    editor.Close();
    if (!editor.Done()) editor.Run();
}

}  // namespace

bool Handles(const std::string &codes) {
    const std::string text = AfterBlanks(codes);
    return (!text.empty() && text[0] == kDel) || IsEditCommand(text);
}

void Run(const std::string &codes, InputSource &input, Screen &screen) {
    const std::string text = AfterBlanks(codes);
    if (IsEditCommand(text))
        EditInEditor(text, input, screen);
    else
        OpenDefinition(text, input, screen);
}

int FaultsReported() { return faults; }

}  // namespace editor
