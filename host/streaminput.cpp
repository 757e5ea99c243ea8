// streaminput: the lines of a script or of piped input, read from a file
// descriptor in bounded pieces (a line too long for the library is refused
// and skipped). Relies on POSIX read, the code page and the screen.
#include "streaminput.h"

#include "apl.h"
#include "codepage.h"
#include "hostio.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A line of at most APL_INPUT_BUFFER - 1 characters takes at most four bytes
// each in UTF-8; anything longer cannot reach the library whole.
constexpr size_t kMaxLineBytes = 4 * (APL_INPUT_BUFFER - 1);

}  // namespace

StreamInput::StreamInput(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

bool StreamInput::Fill(int mode) {
    if (ended_) return false;
    if (start_ > 0) {
        memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    for (;;) {
        const ssize_t n = read(fd_, buffer_ + end_, sizeof buffer_ - end_);
        if (n > 0) {
            end_ += static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) {
            // Ctrl-C while waiting: a session line is not running yet and the
            // interrupt is dropped; evaluated input belongs to a running line,
            // which the interrupt stops.
            if (APL_interrupted && mode != kReadSession) {
                interruptedWait_ = true;
                return false;
            }
            continue;
        }
        if (n < 0) {
            fprintf(stdout, "orbax: cannot read %s: %s\n", name_.c_str(), strerror(errno));
            failed_ = true;
        }
        ended_ = true;
        return false;
    }
}

StreamInput::Got StreamInput::RawLine(int mode, std::string &line) {
    line.clear();
    bool tooLong = false;
    for (;;) {
        const char *from = buffer_ + start_;
        const auto *newline = static_cast<const char *>(memchr(from, '\n', end_ - start_));
        const size_t piece = newline ? static_cast<size_t>(newline - from) : end_ - start_;
        if (!tooLong && line.size() + piece > kMaxLineBytes) {
            tooLong = true;
            line.clear();
            fprintf(stdout, "orbax: line %d is longer than %zu bytes: refused\n", lineNumber_ + 1, kMaxLineBytes);
        }
        if (!tooLong) line.append(from, piece);
        start_ += piece;
        if (newline) {
            ++start_;
            return tooLong ? Got::TooLong : Got::Line;
        }
        if (!Fill(mode)) {
            if (interruptedWait_) return Got::End;
            return line.empty() && !tooLong ? Got::End : tooLong ? Got::TooLong : Got::Line;
        }
    }
}

bool StreamInput::Line(int mode, std::string &codes) {
    codes.clear();
    interruptedWait_ = false;
    std::string line;
    const Got got = RawLine(mode, line);
    if (interruptedWait_) return true;  // an empty answer; the interrupt stops the line
    if (got == Got::End) return false;
    ++lineNumber_;
    if (mode == kReadSession) APL_interrupted = 0;
    if (Screen *screen = CurrentScreen()) screen->LineEndedByInput();
    if (got == Got::TooLong) return true;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string problem;
    if (!codepage::FromUtf8(line, codes, problem)) {
        fprintf(stdout, "orbax: line %d: %s\n", lineNumber_, problem.c_str());
        codes.clear();
    }
    return true;
}
