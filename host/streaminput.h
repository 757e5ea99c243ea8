// streaminput: the lines of a script or of piped input, read from a file
// descriptor in bounded pieces (a line too long for the library is refused
// and skipped). Relies on POSIX read, the code page and the screen.
#pragma once

#include "input.h"

#include <cstddef>
#include <string>

class StreamInput : public InputSource {
public:
    // `name` is what messages call the input ("standard input" or the file's name).
    StreamInput(int fd, std::string name);
    bool Line(int mode, std::string &codes) override;
    // True when reading stopped on an error rather than at the end of input.
    bool Failed() const { return failed_; }

private:
    enum class Got { Line, TooLong, End };
    Got RawLine(int mode, std::string &line);
    // More bytes into the buffer; false at the end of input or on an error.
    bool Fill(int mode);

    int fd_;
    std::string name_;
    char buffer_[65536];
    size_t start_ = 0, end_ = 0;
    bool ended_ = false, failed_ = false, interruptedWait_ = false;
    int lineNumber_ = 0;
};
