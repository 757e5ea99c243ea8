// The error report: names, the detail text and the compiled-code report.
#include "support.h"

#include "core/errors.h"

namespace {

using ErrorReport = LibraryTest;

TEST_F(ErrorReport, LongDetailIsCutToTheBuffer) {
    std::string longText(1000, 'x');
    SetErrorText(APL_ERR_SYNTAX, "%s", longText.c_str());
    EXPECT_EQ(strlen(APL_error_message), sizeof APL_error_message - 1);
    PrintError(aplerrno);
    const std::string line = CapturedOutput::Take();
    EXPECT_EQ(line, "SYNTAX ERROR : " + std::string(255, 'x') + "\n");
}

TEST_F(ErrorReport, WithoutAnOutputCallbackNothingIsWritten) {
    APL_Callback(1, nullptr);
    PrintError(APL_ERR_INDEX);
    APL_Callback(1, reinterpret_cast<void *>(&CapturedOutput::Write));
    EXPECT_EQ(CapturedOutput::Take(), "");
}

TEST_F(ErrorReport, CompiledCodeReportGoesToStandardOutput) {
    aplerrno = APL_ERR_LENGTH;
    testing::internal::CaptureStdout();
    runtime_error("apl_fn.c", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Run time error 5 in module apl_fn.c[3]\n");
    EXPECT_EQ(CapturedOutput::Take(), "");
}

}  // namespace
