// Shared helpers for the unit tests: output captured from callback slot 1 and
// a fixture that checks that every test gives back the blocks it took.
#pragma once

#include "apl.h"
#include "core/arrays.h"

#include <gtest/gtest.h>

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
