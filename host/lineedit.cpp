// lineedit: reading a line at the terminal with editing and history, and the
// prefix key that types APL glyphs (libedit).
#include "lineedit.h"

#include "codepage.h"
#include "completion.h"
#include "keyboard.h"

#include <histedit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct LineEditor::State {
    EditLine *editor = nullptr;
    History *history = nullptr;
    std::string prompt;
    std::string historyFile;  // empty: the history lasts as long as the session
};

namespace {

LineEditor::State *current = nullptr;

char *PromptOf(EditLine *) { return const_cast<char *>(current ? current->prompt.c_str() : ""); }

// The prefix key: the next key chooses the glyph. A key of the layout whose
// glyph the character set lacks gives nothing; a key outside the layout
// inserts the prefix and the key themselves.
unsigned char TypeGlyph(EditLine *editor, int) {
    wchar_t key = 0;
    if (el_wgetc(editor, &key) != 1) return CC_ERROR;
    const keyboard::Key *entry = key >= 0 && key < 128 ? keyboard::Find(static_cast<char>(key)) : nullptr;
    std::string text;
    if (!entry) {
        text = keyboard::kPrefix;
        text += codepage::EncodeUtf8(static_cast<uint32_t>(key));
    } else if (entry->code != keyboard::kNoCode) {
        text = codepage::EncodeUtf8(codepage::Unicode(static_cast<uint8_t>(entry->code)));
    }
    if (!text.empty()) el_insertstr(editor, text.c_str());
    return CC_REFRESH;
}

// Tab: completes the word before the cursor as far as its candidates agree;
// when they agree no further, lists them.
unsigned char Complete(EditLine *editor, int) {
    const LineInfo *line = el_line(editor);
    std::string codes, problem;
    if (!codepage::FromUtf8(std::string(line->buffer, line->cursor), codes, problem)) return CC_ERROR;
    size_t start;
    const std::vector<std::string> candidates = completion::Candidates(codes, start);
    if (candidates.empty()) return CC_REFRESH_BEEP;
    const size_t typed = codes.size() - start;
    std::string more = completion::SharedBeginning(candidates).substr(typed);
    if (candidates.size() == 1) more += ' ';
    if (!more.empty()) {
        el_insertstr(editor, codepage::ToUtf8(more).c_str());
        return CC_REFRESH;
    }
    std::string list = "\n";
    for (const std::string &candidate : candidates) list += codepage::ToUtf8(candidate) + "  ";
    list += "\n";
    fputs(list.c_str(), stdout);
    fflush(stdout);
    return CC_REDISPLAY;
}

// Lines entered in earlier sessions are kept under the user's home, at most
// kHistoryLines of them, as shells do.
constexpr int kHistoryLines = 1000;

std::string HistoryFile() {
    const char *home = getenv("HOME");
    return home && *home ? std::string(home) + "/.orbax_history" : "";
}

}  // namespace

LineEditor::LineEditor() : state_(new State) {
    current = state_;
    state_->editor = el_init("orbax", stdin, stdout, stderr);
    state_->history = history_init();
    HistEvent event;
    history(state_->history, &event, H_SETSIZE, kHistoryLines);
    history(state_->history, &event, H_SETUNIQUE, 1);
    state_->historyFile = HistoryFile();
    if (!state_->historyFile.empty()) history(state_->history, &event, H_LOAD, state_->historyFile.c_str());
    el_set(state_->editor, EL_EDITOR, "emacs");
    el_set(state_->editor, EL_PROMPT, PromptOf);
    el_set(state_->editor, EL_HIST, history, state_->history);
    el_set(state_->editor, EL_ADDFN, "apl-glyph", "type an APL glyph", TypeGlyph);
    el_set(state_->editor, EL_BIND, "`", "apl-glyph", nullptr);
    el_set(state_->editor, EL_ADDFN, "apl-complete", "complete a name or command", Complete);
    el_set(state_->editor, EL_BIND, "^I", "apl-complete", nullptr);
    el_set(state_->editor, EL_BIND, "^R", "em-inc-search-prev", nullptr);
    el_source(state_->editor, nullptr);  // the user's ~/.editrc, if any
}

LineEditor::~LineEditor() {
    history_end(state_->history);
    el_end(state_->editor);
    if (current == state_) current = nullptr;
    delete state_;
}

bool LineEditor::Read(const std::string &prompt, std::string &utf8) {
    state_->prompt = prompt;
    int count = 0;
    const char *line = el_gets(state_->editor, &count);
    if (!line || count < 0) return false;
    utf8.assign(line, static_cast<size_t>(count));
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r')) utf8.pop_back();
    if (!utf8.empty()) {
        HistEvent event;
        history(state_->history, &event, H_ENTER, utf8.c_str());
        // Saved at once, so that a session that is killed keeps its lines.
        if (!state_->historyFile.empty()) history(state_->history, &event, H_SAVE, state_->historyFile.c_str());
    }
    return true;
}
