// The worker's final outcome for each row of its precedence, end to end, in English and in
// Russian: stored messages in the chosen language, system texts as the system gives them, and a
// cancellation that keeps a stored message but never turns a code into text. Test thread; each
// job on a worker thread.
#include <windows.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "download/platform_seam.h"
#include "download/system_error.h"
#include "tests/engine/harness.h"

namespace {

BOOL WINAPI CancelAfterCommit(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    const BOOL ok = MoveFileExW(existing, newName, flags);
    appGlobals.cancelRequested.exchange(true);
    return ok;
}

class OutcomeTexts : public EngineTest, public ::testing::WithParamInterface<bool> {
  protected:
    bool Russian() const { return GetParam(); }
    JobResult Run(const std::wstring& url, bool cancelBeforeStart = false) {
        JobOptions options;
        options.russianUi = Russian();
        options.cancelBeforeStart = cancelBeforeStart;
        JobResult result = RunJob(url, Target(L"dest.bin"), options);
        EXPECT_TRUE(result.outcome) << Narrow(url);
        if (result.outcome) {
            EXPECT_EQ(result.outcome->targetPath, Target(L"dest.bin"));
        }
        return result;
    }
    void ExpectFailed(const JobResult& result, const std::wstring& text) {
        ASSERT_TRUE(result.outcome);
        EXPECT_FALSE(result.outcome->succeeded);
        EXPECT_FALSE(result.outcome->cancelled);
        EXPECT_EQ(result.outcome->errorText, text);
    }
};

TEST_P(OutcomeTexts, CommittedJobHasNoText) {
    platformSeam.moveFileEx = CancelAfterCommit; // a cancel after the commit changes nothing
    const JobResult result = Run(BedUrl(L"/ok/10"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    EXPECT_EQ(result.outcome->errorText, L"");
}

TEST_P(OutcomeTexts, StoredMessagesAreInTheChosenLanguage) {
    ExpectFailed(Run(L"ftp://localhost/x"), SelectText(TextEnterValidHttpsUrl, Russian()));
    ExpectFailed(Run(BedUrl(L"/status/500")),
                 std::wstring(SelectText(TextServerReturnedHttp, Russian())) + L"500.");
    ExpectFailed(Run(BedUrl(L"/cl?v=12abc&n=5")), SelectText(TextInvalidContentLength, Russian()));
    ExpectFailed(Run(BedUrl(L"/short/10")), SelectText(TextSizeMismatch, Russian()));
}

TEST_P(OutcomeTexts, ErrorCodesGetTheSystemTextInEitherLanguage) {
    ExpectFailed(Run(BedUrlOnPort(L"QM_PORT_SELFSIGNED", L"/ok/10")), L"Error 12157");
    ExpectFailed(Run(BedUrl(L"/cl?v=" + std::wstring(70, L'9') + L"&n=1")),
                 FormatSystemError(ERROR_INSUFFICIENT_BUFFER));
}

TEST_P(OutcomeTexts, CancellationKeepsAMessageButNeverFormatsACode) {
    const JobResult refused = Run(L"https://user@localhost/x", true);
    ASSERT_TRUE(refused.outcome);
    EXPECT_TRUE(refused.outcome->cancelled);
    EXPECT_EQ(refused.outcome->errorText, SelectText(TextEnterValidHttpsUrl, Russian()));

    const JobResult accepted = Run(BedUrl(L"/ok/10"), true);
    ASSERT_TRUE(accepted.outcome);
    EXPECT_TRUE(accepted.outcome->cancelled);
    EXPECT_EQ(accepted.outcome->errorText, L"");
}

INSTANTIATE_TEST_SUITE_P(Languages, OutcomeTexts, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Russian" : "English";
                         });

} // namespace
