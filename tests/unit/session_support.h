// A session driven from a test: lines fed through the read callback, output
// captured from the write callback, and the block count checked around it.
#pragma once

#include "support.h"

#include "core/symtab.h"
#include "interpreter/mainloop.h"

#include <cstring>
#include <string>
#include <vector>

class SessionLines {
public:
    static void Read(char *buffer, int32_t) {
        std::vector<std::string> &lines = Lines();
        std::string line = lines.empty() ? ")OFF" : lines.front();
        if (!lines.empty()) lines.erase(lines.begin());
        snprintf(buffer, APL_INPUT_BUFFER, "%s", line.c_str());
    }
    static std::vector<std::string> &Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
};

// Starts a script-mode session once per test; Run feeds lines and returns
// what they printed. TearDown checks that a clear workspace has as many
// blocks as at the start.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
        APL_Callback(3, reinterpret_cast<void *>(&SessionLines::Read));
        APL_SetScriptMode(1);
        APL_Init(0, "");
        Run(")CLEAR");
        blocks_ = LiveBlocks();
    }
    void TearDown() override {
        Run(")CLEAR");
        EXPECT_EQ(LiveBlocks(), blocks_) << "blocks left behind";
        tracingActive = false;
        sessionMode = 0;
        APL_Callback(3, nullptr);
    }
    std::string RunLines(std::vector<std::string> lines) {
        CapturedOutput::Take();
        SessionLines::Lines() = std::move(lines);
        APL_MainLoop();
        return CapturedOutput::Take();
    }
    std::string Run(const std::string &line) { return RunLines({line}); }
    // Takes the block count of now as the one TearDown expects, for a test
    // whose blocks are known to stay (those of a caught processor fault).
    void RecountBlocks() { blocks_ = LiveBlocks(); }

private:
    int32_t blocks_ = 0;
};
