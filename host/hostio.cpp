// hostio: the callbacks that connect the library to the current screen and
// input source, so that the terminal session and the transcript checker can
// each plug in their own.
#include "hostio.h"

#include "apl.h"
#include "codepage.h"
#include "editor.h"
#include "keyboard.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

Screen *screen = nullptr;
InputSource *input = nullptr;
int readsAfterEnd = 0;

void WriteText(const char *text, int32_t newLine) {
    if (!screen) return;
    screen->Write(text, newLine != 0);
    APL_cursor_pos = screen->Column();
}

// A count of 0 asks for what was written to be seen now; the output stays
// block-buffered otherwise, so that a long display into a pipe is cheap.
void EndLines(int32_t count) {
    if (count == 0) {
        fflush(stdout);
        return;
    }
    if (!screen) return;
    screen->EndLines(count);
    APL_cursor_pos = 0;
}

// The end of input ends the session as )OFF does. Evaluated input asked for
// after the end gets empty lines, and an interrupt when it keeps asking, so
// that a loop reading input cannot spin for ever.
void ReadLine(char *buffer, int32_t mode) {
    std::string codes;
    if (!input || !input->Line(mode, codes)) {
        codes = mode == kReadSession ? ")OFF" : "";
        if (mode != kReadSession && ++readsAfterEnd > 1) APL_interrupted = 1;
    } else if (mode == kReadSession && screen && editor::Handles(codes)) {
        // The editor takes its lines here; the library sees an empty line.
        editor::Run(codes, *input, *screen);
        codes.clear();
    }
    if (codes.size() >= APL_INPUT_BUFFER) {
        if (screen)
            screen->Write(("orbax: line of " + std::to_string(codes.size()) + " characters refused (at most " +
                           std::to_string(APL_INPUT_BUFFER - 1) + ")")
                              .c_str(),
                          true);
        codes.clear();
    }
    memcpy(buffer, codes.c_str(), codes.size() + 1);
}

// Plug-ins: the libraries named in ORBAX_PLUGINS, separated by colons.
void ListPlugins(char *buffer) {
    const char *list = getenv("ORBAX_PLUGINS");
    size_t used = 0;
    const size_t room = 65536 - 2;
    for (const char *p = list ? list : ""; *p;) {
        const char *end = strchr(p, ':');
        const size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
        if (length > 0 && used + length + 1 < room) {
            memcpy(buffer + used, p, length);
            used += length;
            buffer[used++] = 0;
        }
        p += length + (end ? 1 : 0);
    }
    buffer[used] = 0;
}

// A plug-in that does not load is named with the loader's reason, not skipped in silence.
void *LoadLibrary(const char *name) {
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = dlerror();
        fprintf(stdout, "orbax: plug-in %s not loaded: %s\n", name, reason ? reason : "unknown reason");
        fflush(stdout);
    }
    return handle;
}

void *FindProcedure(void *handle, const char *name) { return handle ? dlsym(handle, name) : nullptr; }

// The compiler's directory for a project, with the directories above it.
// A failure shows when the compiler writes its first file there.
void MakeDirectory(const char *path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

// The compiler's support files into a project; 0 when the copy was made.
int32_t CopyFile(const char *from, const char *to, int32_t) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        fprintf(stdout, "orbax: cannot copy %s to %s: %s\n", from, to, error.message().c_str());
        fflush(stdout);
        return 1;
    }
    return 0;
}

// Input source of RunLines.
class Lines : public InputSource {
public:
    explicit Lines(const std::vector<std::string> &lines) : lines_(lines) {}
    bool Line(int, std::string &codes) override {
        if (next_ >= lines_.size()) return false;
        codes = lines_[next_++];
        return true;
    }

private:
    const std::vector<std::string> &lines_;
    size_t next_ = 0;
};

// )HELP draws the keyboard from the layout the line editor types with.
int32_t KeyboardCode(int32_t key) {
    if (key == 0) return static_cast<unsigned char>(keyboard::kPrefix);
    return key > 0 && key < 128 ? keyboard::CodeForKey(static_cast<char>(key)) : -1;
}

}  // namespace

void InstallCallbacks() {
    APL_Callback(1, reinterpret_cast<void *>(&WriteText));
    APL_Callback(2, reinterpret_cast<void *>(&EndLines));
    APL_Callback(3, reinterpret_cast<void *>(&ReadLine));
    APL_Callback(5, reinterpret_cast<void *>(&CopyFile));
    APL_Callback(6, reinterpret_cast<void *>(&MakeDirectory));
    APL_Callback(7, reinterpret_cast<void *>(&ListPlugins));
    APL_Callback(8, reinterpret_cast<void *>(&LoadLibrary));
    APL_Callback(9, reinterpret_cast<void *>(&FindProcedure));
    APL_Callback(11, reinterpret_cast<void *>(&KeyboardCode));
}

void UseScreen(Screen *s) { screen = s; }
void UseInput(InputSource *source) {
    input = source;
    readsAfterEnd = 0;
}
Screen *CurrentScreen() { return screen; }

void RunLines(const std::vector<std::string> &codes, Screen &target) {
    Screen *savedScreen = screen;
    InputSource *savedInput = input;
    Lines lines(codes);
    UseScreen(&target);
    UseInput(&lines);
    APL_MainLoop();
    UseScreen(savedScreen);
    UseInput(savedInput);
}
