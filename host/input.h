// input: where the session's lines come from: the terminal, a script or
// standard input, or a transcript being checked.
#pragma once

#include <string>

// Read modes of the library's read callback.
constexpr int kReadEvaluated = 0;  // quad and quote-quad input
constexpr int kReadSession = 5;    // a line of the session

class InputSource {
public:
    virtual ~InputSource() = default;
    // The next line in the APL character set, as the library expects it for
    // `mode`; false at the end of input.
    virtual bool Line(int mode, std::string &codes) = 0;
    // A line of the del editor. Only a terminal shows the prompt (codes, "[3] ");
    // scripts and transcripts hold the editor's lines as typed lines.
    virtual bool EditorLine(const std::string & /*prompt*/, std::string &codes) {
        return Line(kReadSession, codes);
    }
};
