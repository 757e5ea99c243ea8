// main: the console program. At a terminal it runs an interactive session
// with line editing; with a script or piped input it runs the lines without
// interaction; with --check it checks transcripts.
#include "apl.h"
#include "codepage.h"
#include "editor.h"
#include "hostio.h"
#include "hostos.h"
#include "lineedit.h"
#include "streaminput.h"
#include "transcript.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Usage() {
    fputs(
        "usage: orbax [WS]            interactive session (script mode when input is not a terminal)\n"
        "       orbax -script FILE [WS] run the lines of FILE\n"
        "       (WS: a workspace to load at start, its latent expression run)\n"
        "       orbax --check FILE... check transcripts\n"
        "option --ws SIZE (before the others): the workspace may hold at most SIZE bytes,\n"
        "       with a suffix K, M or G (--ws 2G); past it allocation is WS FULL\n"
        "option --no-plans: every line takes the general walk, none a compiled plan\n"
        "       (as ORBAX_PLANS=0 in the environment does)\n",
        stderr);
}

void OnInterrupt(int) { APL_interrupted = 1; }

// "2G", "512M", "64K" or a plain number of bytes; -1 when it is none of these.
int64_t ParseSize(const std::string &text) {
    constexpr int64_t kMaxDigits = 1000000000000000LL;  // 10^15: no shift below overflows
    int64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < kMaxDigits; ++i)
        value = value * 10 + (text[i] - '0');
    if (i == 0 || i + 1 < text.size()) return -1;
    if (i == text.size()) return value;
    int shift = 0;
    switch (text[i]) {
        case 'k':
        case 'K': shift = 10; break;
        case 'm':
        case 'M': shift = 20; break;
        case 'g':
        case 'G': shift = 30; break;
        default: return -1;
    }
    return value > (INT64_MAX >> shift) ? -1 : value << shift;
}

// Data files live next to the program (the build tree), else in the data
// directory of the installation the program belongs to, found from where the
// program is so that an installed tree can be moved, else in the directory
// the build was configured to install into.
std::string DataFile(const char *name) {
    const std::string folder = ProgramDirectory();
    if (!folder.empty()) {
        for (const std::string &path : {folder + name, folder + ORBAX_DATADIR_FROM_BIN "/" + name})
            if (access(path.c_str(), R_OK) == 0) return path;
    }
    return std::string(ORBAX_DATADIR "/") + name;
}

// The library keeps each data file's path in a buffer of fixed size, so a
// deep installation's path is shortened to fit. One that still does not fit
// is said so at start, rather than a file of that name in the working
// directory being read without a word.
void SetDataFile(char *buffer, size_t size, const char *name) {
    std::string path = DataFile(name);
    if (path.size() >= size) {
        const std::string shorter = ShortPathOf(path, size);
        if (!shorter.empty()) path = shorter;
    }
    if (path.size() < size) {
        snprintf(buffer, size, "%s", path.c_str());
        return;
    }
    fprintf(stderr,
            "orbax: %s: its path has %zu characters, more than the %zu the library keeps;"
            " %s is looked for in the working directory\n",
            path.c_str(), path.size(), size - 1, name);
}

// Lines typed at the terminal: shown as a terminal shows them, the text
// already on the line (the prompt) followed by what was typed.
class TerminalInput : public InputSource {
public:
    bool Line(int mode, std::string &codes) override {
        Screen &screen = *CurrentScreen();
        std::string prompt = screen.PendingLine();
        if (mode == kReadSession) prompt += "      ";
        if (!Read(prompt, mode != kReadSession, codes)) return false;
        codes = prompt + codes;
        return true;
    }

    // The del editor's prompt ("[3] ") is not part of the line.
    bool EditorLine(const std::string &prompt, std::string &codes) override { return Read(prompt, false, codes); }

private:
    // Ctrl-C gives a fresh line to type on, or with `interruptAnswers` (input
    // for a running function) an empty answer with the flag left raised, for
    // the library to stop that function.
    bool Read(const std::string &prompt, bool interruptAnswers, std::string &codes) {
        Screen &screen = *CurrentScreen();
        const std::string promptUtf8 = codepage::ToUtf8(prompt);
        for (;;) {
            // The prompt is drawn again by the editor from the line's start.
            if (!screen.PendingLine().empty()) fputs("\r", stdout);
            fflush(stdout);
            std::string typed;
            if (!editor_.Read(promptUtf8, typed)) {
                if (APL_interrupted && interruptAnswers) {
                    fputs("\n", stdout);
                    codes.clear();
                    screen.LineEndedByInput();
                    return true;
                }
                if (APL_interrupted) {
                    APL_interrupted = 0;
                    fputs("\n", stdout);
                    continue;
                }
                fputs("\n", stdout);
                return false;
            }
            std::string problem;
            if (codepage::FromUtf8(typed, codes, problem)) {
                screen.LineEndedByInput();
                return true;
            }
            fprintf(stdout, "orbax: %s\n", problem.c_str());
        }
    }

    LineEditor editor_;
};

// The script's file, open for reading; -1 after a message when it cannot be
// read as lines (missing, unreadable, a directory).
int OpenScript(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat status;
    if (fd >= 0 && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(fd);
        errno = EISDIR;
        fprintf(stderr, "orbax: cannot read %s: %s\n", path.c_str(), strerror(errno));
        return -1;
    }
    if (fd < 0) fprintf(stderr, "orbax: cannot open %s: %s\n", path.c_str(), strerror(errno));
    return fd;
}

void WriteStdout(std::string_view utf8) { fwrite(utf8.data(), 1, utf8.size(), stdout); }

}  // namespace

int main(int argc, char **argv) {
    if (!setlocale(LC_CTYPE, "C.UTF-8")) setlocale(LC_CTYPE, "");
    std::vector<std::string> checks;
    std::string script;
    std::string workspace;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ws" && i + 1 < argc && !check) {
            const int64_t limit = ParseSize(argv[++i]);
            if (limit <= 0) {
                fprintf(stderr, "orbax: --ws wants a size such as 2G, not '%s'\n", argv[i]);
                return 2;
            }
            APL_SetAllocationLimit(limit);
        } else if (arg == "--no-plans") {
            // The library reads the switch when the session starts.
            SetEnvironment("ORBAX_PLANS", "0");
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "-script" && i + 1 < argc && !check) {
            script = argv[++i];
        } else if (check && arg[0] != '-') {
            checks.push_back(arg);
        } else if (!check && workspace.empty() && !arg.empty() && arg[0] != '-') {
            workspace = arg;
        } else {
            Usage();
            return 2;
        }
    }
    SetDataFile(APL_tokenfile, sizeof APL_tokenfile, "Standard.tok");
    SetDataFile(APL_messagefile, sizeof APL_messagefile, "session.msg");
    SetDataFile(APL_compilerfile, sizeof APL_compilerfile, "orbax.ini");
    SetDataFile(APL_helpfile, sizeof APL_helpfile, "help.txt");
    InstallCallbacks();
    CatchInterrupt(OnInterrupt);

    Screen screen(WriteStdout);
    UseScreen(&screen);
    const bool interactive = !check && script.empty() && isatty(STDIN_FILENO);
    APL_SetScriptMode(interactive ? 0 : 1);
    std::string workspaceCodes, problem;
    if (!codepage::FromUtf8(workspace, workspaceCodes, problem)) {
        fprintf(stderr, "orbax: the workspace name %s\n", problem.c_str());
        return 2;
    }
    if (workspaceCodes.size() >= sizeof APL_workspacefile) {
        fprintf(stderr, "orbax: a workspace name has at most %zu characters\n", sizeof APL_workspacefile - 1);
        return 2;
    }
    APL_Init(0, workspaceCodes.c_str());
    fflush(stdout);
    if (check) return CheckTranscripts(checks) == 0 ? 0 : 1;

    std::unique_ptr<InputSource> input;
    StreamInput *stream = nullptr;
    int scriptFile = -1;
    if (!script.empty()) {
        scriptFile = OpenScript(script);
        if (scriptFile < 0) return 2;
        input = std::make_unique<StreamInput>(scriptFile, script);
        stream = static_cast<StreamInput *>(input.get());
    } else if (interactive) {
        input = std::make_unique<TerminalInput>();
    } else {
        input = std::make_unique<StreamInput>(STDIN_FILENO, "standard input");
        stream = static_cast<StreamInput *>(input.get());
    }
    UseInput(input.get());
    APL_MainLoop();
    fflush(stdout);
    if (scriptFile >= 0) close(scriptFile);
    if (stream && stream->Failed()) return 2;
    // A script or piped session that reported an error fails, so that make
    // and CI see it; an interactive session ends well whatever was typed.
    return !interactive && (APL_ErrorsReported() != 0 || editor::FaultsReported() != 0) ? 1 : 0;
}
