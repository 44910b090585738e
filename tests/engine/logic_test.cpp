// The engine's pure logic, called directly: Content-Length parsing, the prepared URL text and the
// request target, staging names, the outcome precedence; and FormatSystemError against the
// system message table, including what it leaves of the system's buffer. No network, no files;
// test thread only.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "download/content_length.h"
#include "download/download_state.h"
#include "download/outcome_precedence.h"
#include "download/staging.h"
#include "download/system_error.h"
#include "download/url_target.h"
#include "tests/engine/harness.h"

namespace {

constexpr std::uint64_t Max64 = 18446744073709551615ull;

TEST(ContentLength, AcceptsUnsignedDecimalWithOptionalPlusAndLeadingWhiteSpace) {
    EXPECT_EQ(ParseContentLength(L"0"), std::optional<std::uint64_t>(0));
    EXPECT_EQ(ParseContentLength(L"5"), std::optional<std::uint64_t>(5));
    EXPECT_EQ(ParseContentLength(L"+5"), std::optional<std::uint64_t>(5));
    EXPECT_EQ(ParseContentLength(L" 5"), std::optional<std::uint64_t>(5));
    EXPECT_EQ(ParseContentLength(L"\t\r\n 42"), std::optional<std::uint64_t>(42));
    EXPECT_EQ(ParseContentLength(L"007"), std::optional<std::uint64_t>(7));
    EXPECT_EQ(ParseContentLength(L"18446744073709551615"), std::optional<std::uint64_t>(Max64));
}

TEST(ContentLength, SaturatesWhenTheDigitsExceed64Bits) {
    EXPECT_EQ(ParseContentLength(L"18446744073709551616"), std::optional<std::uint64_t>(Max64));
    EXPECT_EQ(ParseContentLength(L"1234567890123456789012345"),
              std::optional<std::uint64_t>(Max64));
}

TEST(ContentLength, RefusesTextWithoutDigitsOrWithAnythingAfterThem) {
    for (const wchar_t* text : {L"", L" ", L"+", L"-", L"abc", L"12abc", L"0x10", L"5 ", L"5.0",
                                L"1e3", L"+ 5", L"++5", L"5\t"}) {
        EXPECT_FALSE(ParseContentLength(text).has_value()) << "\"" << Narrow(text) << "\"";
    }
}

TEST(ContentLength, RefusesAMinusSignFirstOrAfterWhiteSpace) {
    // wcstoull itself would read these as 2^64 - n.
    for (const wchar_t* text :
         {L"-1", L"-0", L" -1", L"\t-1", L"  -18446744073709551615", L"+-1", L"-+1"}) {
        EXPECT_FALSE(ParseContentLength(text).has_value()) << "\"" << Narrow(text) << "\"";
    }
}

TEST(RequestTarget, IsThePathOrSlashFollowedByTheQuery) {
    EXPECT_EQ(ComposeRequestTarget(L""), L"/");
    EXPECT_EQ(ComposeRequestTarget(L"/"), L"/");
    EXPECT_EQ(ComposeRequestTarget(L"/dir/file.zip"), L"/dir/file.zip");
    EXPECT_EQ(ComposeRequestTarget(L"?x=1"), L"/?x=1");
    EXPECT_EQ(ComposeRequestTarget(L"/dir/file.zip?v=2"), L"/dir/file.zip?v=2");
    EXPECT_EQ(ComposeRequestTarget(L"/a?"), L"/a?");
}

TEST(RequestTarget, DropsEverythingFromTheFirstHash) {
    EXPECT_EQ(ComposeRequestTarget(L"/dir/file.zip?v=2#part"), L"/dir/file.zip?v=2");
    EXPECT_EQ(ComposeRequestTarget(L"/dir/file.zip#part"), L"/dir/file.zip");
    EXPECT_EQ(ComposeRequestTarget(L"#f"), L"/");
    EXPECT_EQ(ComposeRequestTarget(L"/a#b?c"), L"/a");
    EXPECT_EQ(ComposeRequestTarget(L"/a?b#c#d"), L"/a?b");
    EXPECT_EQ(ComposeRequestTarget(L"/a#b#c"), L"/a");
    EXPECT_EQ(ComposeRequestTarget(L"?q#"), L"/?q");
}

TEST(RequestTarget, KeepsEscapesAndOtherCharactersAsTyped) {
    EXPECT_EQ(ComposeRequestTarget(L"/a%20b/%7Ex?q=%41%2F&r=a+b"), L"/a%20b/%7Ex?q=%41%2F&r=a+b");
    EXPECT_EQ(ComposeRequestTarget(L"/a b/\u00e9?x=\u044f"), L"/a b/\u00e9?x=\u044f");
    EXPECT_EQ(ComposeRequestTarget(L"/x@y:z?a=b?c"), L"/x@y:z?a=b?c");
}

TEST(RequestTarget, PreparedTextGetsASlashOnlyWhereTheAuthorityMeetsQueryOrFragment) {
    EXPECT_EQ(PrepareUrlForCracking(L"https://h?x=1"), L"https://h/?x=1");
    EXPECT_EQ(PrepareUrlForCracking(L"https://h:1?x=1"), L"https://h:1/?x=1");
    EXPECT_EQ(PrepareUrlForCracking(L"https://h#f"), L"https://h/#f");
    EXPECT_EQ(PrepareUrlForCracking(L"https://h?x=@y"), L"https://h/?x=@y");
    EXPECT_EQ(PrepareUrlForCracking(L"https://u:p@h:5#f?x"), L"https://u:p@h:5/#f?x");
    // Nothing to do: an authority that ends at '/' or at the end, or no authority at all.
    for (const wchar_t* url : {L"https://h", L"https://h/", L"https://h/a?b#c", L"https://h/a#b?c",
                               L"https://", L"nonsense", L"mailto:a?b", L"https:h?x", L""}) {
        EXPECT_EQ(PrepareUrlForCracking(url), url) << Narrow(url);
    }
}

TEST(StagingName, ExtendsTheTargetWithProcessIdAndAttempt) {
    EXPECT_EQ(StagingFileName(L"D:\\Downloads\\setup.exe", 716, 0),
              L"D:\\Downloads\\setup.exe.quillmere-716-0.part");
    EXPECT_EQ(StagingFileName(L"D:\\Downloads\\setup.exe", 716, 99),
              L"D:\\Downloads\\setup.exe.quillmere-716-99.part");
    EXPECT_EQ(StagingFileName(L"N:\\x", 4294967295u, 10), L"N:\\x.quillmere-4294967295-10.part");
}

// A formatter that records whether and with what the precedence asked for a code's text.
std::vector<std::uint32_t> formatted;
std::wstring RecordingFormatter(std::uint32_t code) {
    formatted.push_back(code);
    return L"text of " + std::to_wstring(code);
}

class OutcomePrecedence : public ::testing::Test {
  protected:
    void SetUp() override { formatted.clear(); }
    DownloadOutcome Settle(DownloadOutcome outcome, bool cancelRequested, std::uint32_t code) {
        SettleOutcome(outcome, cancelRequested, code, &RecordingFormatter);
        return outcome;
    }
};

TEST_F(OutcomePrecedence, CommittedStaysSucceededEvenWhenCancelArrivedLate) {
    DownloadOutcome committed;
    committed.succeeded = true;
    const DownloadOutcome settled = Settle(committed, true, 0);
    EXPECT_TRUE(settled.succeeded);
    EXPECT_FALSE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"");
    EXPECT_TRUE(formatted.empty());
}

TEST_F(OutcomePrecedence, CancellationKeepsAStoredMessageAndNeverFormatsACode) {
    DownloadOutcome polled;
    polled.cancelled = true;
    DownloadOutcome refused;
    refused.errorText = L"refused";

    DownloadOutcome settled = Settle(polled, false, 0);
    EXPECT_TRUE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"");

    settled = Settle(polled, true, 10054); // a read failed just before the poll saw the cancel
    EXPECT_TRUE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"");

    settled = Settle(refused, true, 0); // cancel requested by the end of the job
    EXPECT_TRUE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"refused");
    EXPECT_FALSE(settled.succeeded);
    EXPECT_TRUE(formatted.empty());
}

TEST_F(OutcomePrecedence, AStoredMessageWinsOverTheErrorCode) {
    DownloadOutcome status;
    status.errorText = L"Server returned HTTP 404.";
    const DownloadOutcome settled = Settle(status, false, 0);
    EXPECT_FALSE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"Server returned HTTP 404.");
    EXPECT_TRUE(formatted.empty());
}

TEST_F(OutcomePrecedence, OnlyAnErrorCodeBecomesItsTextOnce) {
    const DownloadOutcome settled = Settle(DownloadOutcome{}, false, 12157);
    EXPECT_FALSE(settled.succeeded);
    EXPECT_FALSE(settled.cancelled);
    EXPECT_EQ(settled.errorText, L"text of 12157");
    EXPECT_EQ(formatted, std::vector<std::uint32_t>{12157});
}

TEST(SystemError, KnownCodesGiveTheSystemTextWithItsLineBreak) {
    EXPECT_EQ(FormatSystemError(80), L"File exists.\r\n");
    EXPECT_EQ(FormatSystemError(29), L"Write fault.\r\n");
    EXPECT_EQ(FormatSystemError(122), L"Insufficient buffer.\r\n");
}

TEST(SystemError, CodesWithoutSystemTextGiveErrorAndTheUnsignedNumber) {
    EXPECT_EQ(FormatSystemError(12150), L"Error 12150");
    EXPECT_EQ(FormatSystemError(12157), L"Error 12157");
    EXPECT_EQ(FormatSystemError(0x80000000u), L"Error 2147483648");
    EXPECT_EQ(FormatSystemError(0xFFFFFFFFu), L"Error 4294967295");
}

TEST(SystemError, FallbackIsEnglishInRussianModeToo) {
    appGlobals.russianUi = true;
    const std::wstring text = FormatSystemError(12029);
    appGlobals.russianUi = false;
    EXPECT_EQ(text, L"Error 12029");
}

// Private memory committed to the process: PagefileUsage, which Wine keeps real (PrivateUsage
// reads 0 there) and which is the same figure on Windows.
std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        ADD_FAILURE() << "GetProcessMemoryInfo failed: " << GetLastError();
        return 0;
    }
    return counters.PagefileUsage;
}

TEST(SystemError, ReleasesTheSystemBufferOfEveryText) {
    // Every failure with a system code asks the system for a text it allocates; a long run of
    // failures must not keep them. Warm up first so that one-off costs (the message table,
    // the heap's first blocks) fall before the measurement.
    constexpr std::uint64_t Calls = 100000;
    const std::wstring text = FormatSystemError(80);
    ASSERT_EQ(text, L"File exists.\r\n");
    for (int i = 0; i < 1000; ++i) {
        FormatSystemError(80);
    }
    const std::uint64_t before = PrivateBytes();
    std::uint64_t characters = 0;
    for (std::uint64_t i = 0; i < Calls; ++i) {
        characters += FormatSystemError(80).size();
    }
    const std::uint64_t after = PrivateBytes();
    ASSERT_EQ(characters, Calls * text.size());
    // What the texts alone would take if each buffer were kept, without heap overhead.
    const std::uint64_t kept = Calls * (text.size() + 1) * sizeof(wchar_t);
    const std::uint64_t grown = after > before ? after - before : 0;
    std::cout << "[measured] private memory " << before << " -> " << after << " bytes (+" << grown
              << ") over " << Calls << " texts; kept texts would take " << kept << " bytes\n";
    EXPECT_LT(grown, kept / 4);
}

} // namespace
