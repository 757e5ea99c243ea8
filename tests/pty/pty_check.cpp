// pty_check: drives the console program through a pseudo-terminal as a person
// would: glyphs typed with the prefix key, and Ctrl-C during a long display,
// an endless loop, a long scalar function and at a quad prompt, after which
// the session must still answer; OFF writes the session record without following a symbolic link.
//   pty_check PATH-TO-ORBAX
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int terminal = -1;
std::string seen;
size_t interruptTyped = 0;  // how much had been seen when Ctrl-C was typed

// Reads what the program writes until `want` appears after `from`, or the time is up.
bool WaitFor(const std::string &want, size_t from, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (seen.find(want, from) != std::string::npos) return true;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(terminal, &set);
        timeval wait{0, 100000};
        if (select(terminal + 1, &set, nullptr, nullptr, &wait) > 0) {
            char buffer[65536];
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n <= 0) return seen.find(want, from) != std::string::npos;
            seen.append(buffer, static_cast<size_t>(n));
        }
    }
    return false;
}

// The line editor turns the terminal's line discipline off only when it starts
// to read, after the prompt is out; a control key typed before then (Ctrl-R
// is "reprint" to the line discipline) never reaches the program.
bool WaitForLineEditor(int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    termios modes{};
    while (tcgetattr(terminal, &modes) == 0 && (modes.c_lflag & ICANON)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        WaitFor("\x01", seen.size(), 0);
        usleep(10000);
    }
    return true;
}

void Type(const std::string &keys) {
    for (char c : keys) {
        if (write(terminal, &c, 1) != 1) return;
        usleep(2000);
    }
}

void WriteWhole(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Step(const char *what, bool ok) {
    printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    return ok;
}

// Types `work`, waits until its output shows `started` (so the work is under
// way, however busy the machine), then Ctrl-C must give INTERRUPT ERROR and
// the session must answer `line` with `answer`. The deadlines only catch a
// hang: a slow or loaded machine passes as a fast one does.
bool InterruptThenAnswer(const std::string &work, const std::string &started, const char *stopped,
                         const std::string &line, const std::string &answer, const char *goesOn) {
    size_t mark = seen.size();
    Type(work);
    bool ok = Step("the work has started", WaitFor(started, mark, 60));
    interruptTyped = seen.size();
    Type("\x03");
    ok = Step(stopped, WaitFor("INTERRUPT ERROR", mark, 60)) && ok;
    mark = seen.size();
    Type(line);
    return Step(goesOn, WaitFor(answer, mark, 60)) && ok;
}

// A definition typed with the prefix key: the editor prompts for each line,
// a fix that fails shows DEFN ERROR and the faulty line's prompt, the mended
// function runs; )ED hands the text to $EDITOR and fixes what comes back.
bool EditorSteps() {
    size_t mark = seen.size();
    Type("`gZ`[DBL X\r");
    bool ok = Step("the del opens a definition and prompts for line 1", WaitFor("[1] ", mark, 60));
    mark = seen.size();
    Type("Z`[X`-(2\r");
    ok = Step("then for line 2", WaitFor("[2] ", mark, 60)) && ok;
    mark = seen.size();
    Type("`g\r");
    ok = Step("a faulty line is DEFN ERROR", WaitFor("DEFN ERROR", mark, 60)) && ok;
    ok = Step("and the prompt returns to it", WaitFor("[1] ", mark, 60)) && ok;
    mark = seen.size();
    Type("Z`[X`-2`g\r");
    Type("DBL 21\r");
    ok = Step("the mended function runs", WaitFor("42", mark, 60)) && ok;
    mark = seen.size();
    Type(")ED DBL\r");
    Type("DBL 21\r");
    ok = Step(")ED fixes what the editor wrote", WaitFor("23", mark, 60)) && ok;
    return ok;
}

// Starts the program at a new pseudo-terminal, with the directory as its
// home (where the history is kept); -1 when it cannot.
pid_t StartSession(const char *program, const char *home) {
    seen.clear();
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        perror("forkpty");
        return -1;
    }
    if (child == 0) {
        setenv("TERM", "dumb", 1);
        setenv("HOME", home, 1);
        // )ED's editor: turns the first × of each line into +.
        setenv("EDITOR", "sed -i -e 's/\xC3\x97/+/'", 1);
        execl(program, program, static_cast<char *>(nullptr));
        _exit(127);
    }
    return child;
}

// )OFF must end the program, with exit status 0.
bool EndSession(pid_t child) {
    Type(")OFF\r");
    int status = 0;
    for (int i = 0; i < 600 && waitpid(child, &status, WNOHANG) == 0; ++i) {
        WaitFor("\x01", seen.size(), 0);
        usleep(50000);
    }
    close(terminal);
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return Step(")OFF ends the program", false);
    }
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!clean) printf("exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return Step(")OFF ends the program", clean);
}

// Tab completes a workspace name, a system command and a system name; the
// line typed last is remembered for the next session.
bool CompletionSteps() {
    size_t mark = seen.size();
    Type("LONGNAME`[7\r");
    Type("LONGN\t+1\r");
    bool ok = Step("Tab completes a name", WaitFor("LONGNAME +1", mark, 60) && WaitFor("8", mark, 60));
    mark = seen.size();
    Type(")WSI\t\r");
    ok = Step("Tab completes a system command", WaitFor(")WSID ", mark, 60) && WaitFor("CLEAR WS", mark, 60)) && ok;
    mark = seen.size();
    Type("`lDISP\t1 2\r");
    ok = Step("Tab completes a system name", WaitFor("\u2395DISPLAY 1 2", mark, 60)) && ok;
    mark = seen.size();
    Type("'RECALL',`'6`-7\r");
    return Step("a line to recall later", WaitFor("RECALL42", mark, 60)) && ok;
}

// A second session finds the first one's lines: Ctrl-R searches them.
bool HistorySteps(const char *program, const char *home) {
    bool ok = Step("the history is kept under the home", ReadWhole(".orbax_history").find("RECALL") != std::string::npos);
    const pid_t child = StartSession(program, home);
    if (child < 0) return false;
    ok = Step("a second session starts", WaitFor("      ", 0, 60)) && ok;
    ok = Step("the line editor reads the keys", WaitForLineEditor(60)) && ok;
    const size_t mark = seen.size();
    Type("\x12RECALL\r");
    ok = Step("Ctrl-R finds a line of the last session", WaitFor("RECALL42", mark, 60)) && ok;
    return EndSession(child) && ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: pty_check PATH-TO-ORBAX\n");
        return 2;
    }
    // The session runs in a directory of its own, where session.iio is a
    // symbolic link to a file that OFF must not write through.
    char directory[] = "/tmp/orbax-pty-XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0) {
        perror("temporary directory");
        return 2;
    }
    const std::string victim = std::string(directory) + "/victim";
    WriteWhole(victim, "keep me\n");
    if (symlink(victim.c_str(), "session.iio") != 0) {
        perror("symlink");
        return 2;
    }
    const pid_t child = StartSession(argv[1], directory);
    if (child < 0) return 2;
    bool ok = Step("the banner names the prefix key and )HELP",
                   WaitFor("prefix key `", 0, 60) && WaitFor(")HELP KEYS", 0, 60));
    ok &= Step("and the prompt follows", WaitFor("      ", 0, 60));
    size_t mark = seen.size();
    // 2`r`i3 types 2⍴⍳3.
    Type("2`r`i3\r");
    ok &= Step("prefix key echoes the glyphs", WaitFor("2\u2374\u23733", mark, 60));
    ok &= Step("and the result is shown", WaitFor("1 2", mark, 60));
    // `p is power; `w (omega, which this APL lacks) types nothing.
    mark = seen.size();
    Type("2`p`w3\r");
    ok &= Step("`p gives * and `w nothing", WaitFor("2*3", mark, 60) && WaitFor("8", mark, 60));

    ok &= EditorSteps();
    ok &= CompletionSteps();

    // The display of 100000 rows cannot end while nothing reads the terminal;
    // a row on a line of its own shows that it has begun.
    mark = seen.size();
    Type("X`[100000 3`r'abc'\r");
    Type("2+2\r");
    WaitFor("4", mark, 60);
    ok &= InterruptThenAnswer("X\r", "\nabc", "Ctrl-C stops a long display", "1+1\r", "2", "the session goes on");
    // The display looks at the interrupt on every line: after Ctrl-C come only
    // the lines the terminal already held, not the rest of the 100000.
    size_t after = 0;
    const size_t stop = seen.find("INTERRUPT ERROR", interruptTyped);
    for (size_t at = interruptTyped; (at = seen.find("abc", at)) < stop; at += 3) ++after;
    printf("      %zu lines after Ctrl-C\n", after);
    ok &= Step("and stops at the next line", after < 10000);
    // Each line prints a number that its echo does not hold before the work.
    ok &= InterruptThenAnswer("`l`[2`-1001 `` {`aI`[`i1000000: {`aJ`[`i1000000: Y`[1}}\r", "2002",
                              "Ctrl-C stops an endless loop", "3+4\r", "7", "the session still answers");
    // A scalar function over 1E8 elements looks at the flag every stride:
    // Ctrl-C stops it inside the one long call.
    mark = seen.size();
    Type("X`[1E8`r1.5\r");
    Type("5+6\r");
    WaitFor("11", mark, 120);
    ok &= InterruptThenAnswer("`l`[3`-1001 `` Y`[X+X\r", "3003", "Ctrl-C stops X+X on 1E8 elements",
                              "8+9\r", "17", "and the session carries on");

    // Ctrl-C at a quad prompt stops the function that asked, as any interrupt
    // does: it is left suspended, and the session answers.
    mark = seen.size();
    Type("`lFX 'ASK' 'X`[`l'\r");
    WaitFor("ASK", mark, 60);
    mark = seen.size();
    Type("ASK\r");
    ok &= Step("the function asks", WaitFor("\u2395:", mark, 60) && WaitForLineEditor(60));
    Type("\x03");
    ok &= Step("Ctrl-C at the quad prompt is INTERRUPT ERROR", WaitFor("INTERRUPT ERROR", mark, 60));
    ok &= Step("in the function's line", WaitFor("ASK[1]", mark, 60));
    mark = seen.size();
    Type(")SIC\r1+1\r");
    ok &= Step("and the session goes on", WaitFor("2", mark, 60));

    ok &= EndSession(child);
    struct stat record;
    ok &= Step("OFF leaves the target of a link at session.iio alone", ReadWhole(victim) == "keep me\n");
    ok &= Step("and writes session.iio as a file of its own",
               lstat("session.iio", &record) == 0 && S_ISREG(record.st_mode) && record.st_size > 20);
    ok &= HistorySteps(argv[1], directory);
    unlink("session.iio");
    unlink(".orbax_history");
    unlink(victim.c_str());
    rmdir(directory);
    if (!ok)
        printf("---- what the terminal showed (last 2000 bytes) ----\n%s\n",
               seen.substr(seen.size() > 2000 ? seen.size() - 2000 : 0).c_str());
    return ok ? 0 : 1;
}
