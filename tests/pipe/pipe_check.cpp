// pipe_check: drives the console program through pipes, as an editor, a test
// harness or an expect script does: each line is written only once the answer
// to the line before has arrived. The program must hand over what it wrote
// before it waits for input (a session line, ⎕ or ⍞) and after an error
// report, or this driver and the program wait for each other. The deadline of
// each answer only catches that hang; a slow or busy machine passes.
//   pipe_check PATH-TO-ORBAX
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kHangMilliseconds = 60000;

int toProgram = -1, fromProgram = -1;
std::string seen;

// Reads until `want` appears after `from`; false at the end of the output or
// when nothing more arrives within the deadline.
bool WaitFor(const std::string &want, size_t from) {
    while (seen.find(want, from) == std::string::npos) {
        pollfd ready{fromProgram, POLLIN, 0};
        if (poll(&ready, 1, kHangMilliseconds) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(fromProgram, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

// Writes `line` and waits for `answer` in what follows it.
bool Ask(const char *what, const std::string &line, const std::string &answer) {
    const size_t mark = seen.size();
    const std::string text = line + "\n";
    const bool written = write(toProgram, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool ok = written && WaitFor(answer, mark);
    printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) printf("---- after %s the program wrote ----\n%s\n", line.c_str(), seen.substr(mark).c_str());
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: pipe_check PATH-TO-ORBAX\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    // The end of the session writes its record into a directory of our own.
    char directory[] = "/tmp/orbax-pipe-XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0) {
        perror("temporary directory");
        return 2;
    }
    int input[2], output[2];
    if (pipe(input) != 0 || pipe(output) != 0) {
        perror("pipe");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(output[1], STDERR_FILENO);
        close(input[0]);
        close(input[1]);
        close(output[0]);
        close(output[1]);
        execl(argv[1], argv[1], static_cast<char *>(nullptr));
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    toProgram = input[1];
    fromProgram = output[0];

    // Each step needs the one before: the first hang ends the run.
    const bool ok = Ask("an answer", "2+2", "4\n") &&
                    Ask("an error report, caret and all", "1\u00f70", "DOMAIN ERROR\n1\u00f70\n ^\n") &&
                    Ask("the prompt of evaluated input", "X\u2190\u2395", "\u2395:") &&
                    Ask("the line read by \u2395 is evaluated", "3\u00d77", "") && Ask("its value", "X", "21\n") &&
                    Ask("text written before character input", "\u235e\u2190'name? ' \u22c4 Y\u2190\u235e", "name? ") &&
                    Ask("the line read by \u235e is taken whole", "abc", "") &&
                    Ask("behind the blanks of the prompt", "\u233d6\u2193Y", "cba\n") &&
                    Ask("a function is defined", "\u2395FX 'Z\u2190F X' 'Z\u2190X\u00f70'", "F\n") &&
                    Ask("an error inside it suspends it", "F 1", "F[1]\n") &&
                    Ask("and the suspended session answers", ")SI", "F[1]") &&
                    Ask("the session goes on", "2\u00d73", "6\n");

    close(toProgram);
    if (!ok) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const bool ended = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (ok) printf("%s: the end of input ends the session\n", ended ? "ok  " : "FAIL");
    unlink("session.iio");
    rmdir(directory);
    return ok && ended ? 0 : 1;
}
