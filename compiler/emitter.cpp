// emitter: the output texts of a compilation and their layout.
// Relies on nothing but the C++ library.
#include "compiler/emitter.h"

void Emitter::Text(const std::string &text) {
    for (int t = 0; t < 3; ++t)
        if (mask_ & (1 << t)) texts_[t].back() += text;
}

void Emitter::Newline(int count) {
    for (int i = 0; i < count; ++i)
        for (int t = 0; t < 3; ++t)
            if (mask_ & (1 << t)) {
                // A line left empty carries no indentation.
                std::string &line = texts_[t].back();
                if (line.find_first_not_of(' ') == std::string::npos) line.clear();
                line += newline_;
                texts_[t].emplace_back();
            }
    const int blanks = indent_ + extra_;
    extra_ = 0;
    if (blanks > 0) Text(std::string(static_cast<size_t>(blanks), ' '));
}

void Emitter::Expanded(const std::string &text) {
    std::string run;
    for (const char c : text) {
        switch (c) {
            case kMarkOpen:
            case kMarkNext:
            case kMarkClose:
            case kMarkIndent:
            case kMarkOutdent:
                Text(run);
                run.clear();
                if (c == kMarkOpen || c == kMarkIndent) indent_ += 2;
                if (c == kMarkClose || c == kMarkOutdent) indent_ -= 2;
                if (c == kMarkOpen || c == kMarkNext || c == kMarkClose) Newline();
                break;
            case kMarkNoCall: break;
            default: run += c;
        }
    }
    Text(run);
}

void Emitter::Clear(int mask) {
    for (int t = 0; t < 3; ++t)
        if (mask & (1 << t)) texts_[t].assign(1, std::string());
}

std::string Emitter::Joined(int target) const {
    int t = target == kToSource ? 0 : target == kToHeader ? 1 : 2;
    std::string all;
    for (const std::string &line : texts_[t]) all += line;
    return all;
}

void Emitter::PullLeft(int n) {
    for (int t = 0; t < 3; ++t) {
        if (!(mask_ & (1 << t))) continue;
        std::string &line = texts_[t].back();
        if (line.find_first_not_of(' ') != std::string::npos) continue;
        line.resize(line.size() > static_cast<size_t>(n) ? line.size() - static_cast<size_t>(n) : 0);
    }
}
