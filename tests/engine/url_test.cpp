// URL acceptance as the program does it: the prepared text through the system's WinHttpCrackUrl
// (Wine's, in this bed), then the request target from the text. Also the worker's outcome for a
// refused URL: the refusal text, the destination, nothing opened or touched. Test thread; jobs on
// a worker thread.
#include <gtest/gtest.h>

#include "download/url_target.h"
#include "tests/engine/harness.h"
#include "tests/engine/request_log.h"

namespace {

struct Accepted {
    const wchar_t* url;
    const wchar_t* host;
    std::uint16_t port;
    const wchar_t* target;
};

// The shapes where Wine's WinHttpCrackUrl on its own would give a wrong host, user name, port or
// target are marked; the program must give Windows' answer for them as well.
const Accepted acceptedUrls[] = {
    {L"https://example.com", L"example.com", 443, L"/"},
    {L"https://example.com/", L"example.com", 443, L"/"},
    {L"https://example.com:8443/dir/file.zip", L"example.com", 8443, L"/dir/file.zip"},
    {L"HTTPS://Example.COM/X", L"Example.COM", 443, L"/X"},
    {L"https://h/dir/file.zip?v=2#part", L"h", 443, L"/dir/file.zip?v=2"},
    {L"https://h/dir/file.zip#part", L"h", 443, L"/dir/file.zip"},
    {L"https://h/a#b#c", L"h", 443, L"/a"},                  // Wine: path "/a#b#c"
    {L"https://h/a#b?c", L"h", 443, L"/a"},                  // Wine: path "/a#b", extra "?c"
    {L"https://h:1?x=1", L"h", 1, L"/?x=1"},                 // Wine: query lost
    {L"https://localhost?x=1", L"localhost", 443, L"/?x=1"}, // Wine: host "localhost?x=1"
    {L"https://h#f", L"h", 443, L"/"},                       // Wine: host "h#f"
    {L"https://h:5#f", L"h", 5, L"/"},
    {L"https://h?x=@y", L"h", 443, L"/?x=@y"},   // Wine: user name "h?x="
    {L"https://h?x=1:5", L"h", 443, L"/?x=1:5"}, // Wine: port 5
    {L"https://h/a%20b?q=%41%2F", L"h", 443, L"/a%20b?q=%41%2F"},
    {L"https://h/x@y", L"h", 443, L"/x@y"},
    {L"https://h:65535/", L"h", 65535, L"/"},
};

TEST(UrlAcceptance, GivesHostPortAndTargetForEveryShape) {
    for (const Accepted& expected : acceptedUrls) {
        UrlTarget target;
        ASSERT_TRUE(AcceptUrl(expected.url, target)) << Narrow(expected.url);
        EXPECT_EQ(target.hostName, expected.host) << Narrow(expected.url);
        EXPECT_EQ(target.serverPort, expected.port) << Narrow(expected.url);
        EXPECT_EQ(target.requestTarget, expected.target) << Narrow(expected.url);
    }
}

TEST(UrlAcceptance, RefusesOtherSchemesUserInfoMissingHostsAndNonsense) {
    for (const wchar_t* url : {
             L"http://example.com/",       // plain HTTP
             L"ftp://example.com/",        // another scheme
             L"nonsense",                  // not a URL
             L"",                          //
             L"https://",                  // no host
             L"https:///x",                // empty host
             L"https:example.com/x",       // no authority
             L"https://user@example.com/", // a user name
             L"https://user:pw@example.com/",
             L"https://:pw@example.com/", // a password only
             L"https://u@h?x",            // user name before a query right after the host
             L"https://h:65536/",         // port out of range
             L"https://h:0/",             // port 0, which WinHttpConnect would turn into 443
             L"https://h:00000/?q",       //
             L"https://h:8x/",            // a port that is not a number (Wine reads 8)
             L"https://h:x/",             //
             L"https://h:/",              // a colon and no port
         }) {
        UrlTarget target;
        EXPECT_FALSE(AcceptUrl(url, target)) << Narrow(url);
    }
}

class UrlRefusal : public EngineTest {};

TEST_F(UrlRefusal, OutcomeCarriesTheTextAndTheDestinationAndNothingIsSentOrWritten) {
    WriteWholeFile(Target(L"kept.bin"), "before");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    const std::uint64_t mark = RequestLogMark();
    for (const bool russian : {false, true}) {
        for (const std::wstring& url :
             {L"http://localhost:" + BedVariable(L"QM_HTTPS_PORT") + L"/ok/10",
              L"https://user:pw@localhost:" + BedVariable(L"QM_HTTPS_PORT") + L"/ok/10",
              std::wstring(L"not a url")}) {
            JobOptions options;
            options.russianUi = russian;
            const JobResult result = RunJob(url, Target(L"kept.bin"), options);
            ASSERT_TRUE(result.outcome) << Narrow(url);
            EXPECT_EQ(result.messagesReceived, 1);
            EXPECT_EQ(result.wParam, 0u);
            EXPECT_FALSE(result.outcome->succeeded);
            EXPECT_FALSE(result.outcome->cancelled);
            EXPECT_EQ(result.outcome->errorText, SelectText(TextEnterValidHttpsUrl, russian));
            EXPECT_EQ(result.outcome->targetPath, Target(L"kept.bin"));
            EXPECT_EQ(result.outcome->bytesWritten, 0u);
        }
    }
    EXPECT_TRUE(RequestsSince(mark).empty());
    EXPECT_EQ(SnapshotDirectory(directory), before)
        << Narrow(DescribeSnapshot(SnapshotDirectory(directory)));
}

} // namespace
