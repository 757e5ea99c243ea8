// Shared helpers for the unit tests: output captured from callback slot 1, a
// fixture that checks that every test gives back the blocks it took, and APL
// text written in UTF-8 translated through share/codepage.tsv.
#pragma once

#include "apl.h"
#include "core/arrays.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>

// Everything the library writes through the output channel.
class CapturedOutput {
public:
    static void Write(const char *text, int32_t newLine) {
        buffer() += text;
        if (newLine) buffer() += '\n';
    }
    static std::string Take() {
        std::string text = buffer();
        buffer().clear();
        return text;
    }

private:
    static std::string &buffer() {
        static std::string text;
        return text;
    }
};

// The number of live blocks, through the exported MD function.
inline int32_t LiveBlocks() {
    aplarray *counts = APL_MemDebug(nullptr, nullptr, nullptr);
    if (!counts) return -1;
    const int32_t blocks = static_cast<int32_t *>(APL_Data(counts))[0];
    APL_UnLinkTemp(counts);
    return blocks;
}

// Captures output, starts with no error and no tracing, and fails the test
// when blocks were left behind.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
        aplerrno = 0;
        APL_error_message[0] = 0;
        sessionMode = 0;
        tracingActive = false;
        blocksAtStart_ = LiveBlocks();
        CapturedOutput::Take();
    }
    void TearDown() override {
        sessionMode = 0;
        tracingActive = false;
        aplerrno = 0;
        EXPECT_EQ(LiveBlocks(), blocksAtStart_) << "blocks leaked by the test";
        CapturedOutput::Take();
    }

private:
    int32_t blocksAtStart_ = 0;
};

// The code page: the UTF-8 text of each code and the code of each text.
struct CodePage {
    std::map<std::string, char> codes;
    std::string glyphs[256];
    CodePage() {
        std::ifstream file("share/codepage.tsv");
        std::string line;
        for (std::getline(file, line); std::getline(file, line);) {
            const int c = std::stoi(line);
            const unsigned long u = std::stoul(line.substr(line.find("U+") + 2), nullptr, 16);
            std::string utf8(1, static_cast<char>(u));
            if (u >= 0x800)
                utf8 = {static_cast<char>(0xE0 | u >> 12), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (u & 0x3F))};
            else if (u >= 0x80)
                utf8 = {static_cast<char>(0xC0 | u >> 6), static_cast<char>(0x80 | (u & 0x3F))};
            glyphs[c] = utf8;
            if (c > 0) codes.emplace(utf8, static_cast<char>(c));
        }
    }
};
inline const CodePage &Page() {
    static const CodePage page;
    return page;
}

// UTF-8 to the system's codes; a character outside the code page fails the test.
inline std::string A(const std::string &utf8) {
    std::string out;
    for (size_t i = 0, n; i < utf8.size(); i += n) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        n = lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        const auto found = Page().codes.find(utf8.substr(i, n));
        EXPECT_NE(found, Page().codes.end()) << "not in the code page: " << utf8.substr(i, n);
        out += found == Page().codes.end() ? '?' : found->second;
    }
    return out;
}
