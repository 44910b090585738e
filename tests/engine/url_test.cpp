// URL acceptance as the program does it: the prepared text through the system's WinHttpCrackUrl
// (Wine's, in this bed), then the request target from the text. Also the worker's outcome for a
// refused URL: the refusal text, the destination, nothing opened or touched. Test thread; jobs on
// a worker thread.
#include <gtest/gtest.h>

#include "download/platform_seam.h"
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
    {L"https://h:000443/x", L"h", 443, L"/x"},
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

// Where a redirect leads: its Location read against the URL of the request that received it.
TEST(UrlAcceptance, RedirectLocationsAreReadAgainstTheRequest) {
    const std::wstring request = RequestUrl({L"h", 8443, L"/a/b/c?q=1"});
    EXPECT_EQ(request, L"https://h:8443/a/b/c?q=1");
    EXPECT_EQ(RequestUrl({L"::1", 443, L"/"}), L"https://[::1]/");
    const wchar_t* const cases[][2] = {
        {L"https://x/y", L"https://x/y"},
        {L"HTTP://x/y", L"HTTP://x/y"}, // refused when it is accepted as a URL
        {L"//x/y?z", L"https://x/y?z"},
        {L"/p?z#f", L"https://h:8443/p?z#f"},
        {L"/x/../y", L"https://h:8443/y"},
        {L"?z=2", L"https://h:8443/a/b/c?z=2"},
        {L"", L"https://h:8443/a/b/c?q=1"},
        {L"#f", L"https://h:8443/a/b/c?q=1"},
        {L"d", L"https://h:8443/a/b/d"},
        {L"../d/./e?z", L"https://h:8443/a/d/e?z"},
        {L"../../../../d", L"https://h:8443/d"},
        {L".", L"https://h:8443/a/b/"},
        {L"..", L"https://h:8443/a/"},
        {L"d//e", L"https://h:8443/a/b/d//e"},
    };
    for (const auto& [location, expected] : cases) {
        EXPECT_EQ(ResolveLocation(request, location), expected) << Narrow(location);
    }
    EXPECT_EQ(ResolveLocation(L"https://h/", L"d"), L"https://h/d");
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
             L"https://h:65536/",         // ports out of range, whatever Wine's splitter makes
             L"https://h:65979/",         // of them (65979 would wrap around to 443)
             L"https://h:4294967297/",    //
             L"https://h:12345678901234567890/",
             L"https://h:18446744073709551617?q",
             L"https://[::1]:65979/",
             L"https://h:0/",       // port 0, which WinHttpConnect would turn into 443
             L"https://h:00000/?q", //
             L"https://h:8x/",      // a port that is not a number (Wine reads 8)
             L"https://h:x/",       //
             L"https://h:/",        // a colon and no port
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

// A URL splitter that reads "https://localhost:<digits>/..." and keeps the low 16 bits of a port
// that does not fit, as a splitter may: the program must not rely on it to refuse the number.
BOOL WINAPI WrappingSplitter(LPCWSTR url, DWORD, DWORD, URL_COMPONENTS* parts) {
    const std::wstring_view text(url);
    const std::wstring_view prefix = L"https://localhost:";
    if (text.substr(0, prefix.size()) != prefix) {
        return FALSE;
    }
    const std::size_t digitsEnd = text.find(L'/', prefix.size());
    std::uint64_t value = 0;
    for (std::size_t i = prefix.size(); i < digitsEnd; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    }
    parts->nScheme = INTERNET_SCHEME_HTTPS;
    parts->nPort = static_cast<INTERNET_PORT>(value);
    parts->lpszHostName = const_cast<LPWSTR>(url) + 8;
    parts->dwHostNameLength = 9;
    parts->dwUserNameLength = 0;
    parts->dwPasswordLength = 0;
    parts->lpszUrlPath = const_cast<LPWSTR>(url) + digitsEnd;
    parts->dwUrlPathLength = static_cast<DWORD>(text.size() - digitsEnd);
    parts->dwExtraInfoLength = 0;
    return TRUE;
}

// Ports whose low 16 bits (or 32 bits, or 64) are the bed server's own port: had the program gone
// by what the splitter reports, the server would answer.
TEST_F(UrlRefusal, PortsPastTheLastAreRefusedWhateverTheSplitterMakesOfThem) {
    platformSeam.crackUrl = WrappingSplitter;
    const std::uint64_t port = std::stoull(BedVariable(L"QM_HTTPS_PORT"));
    const DirectorySnapshot before = SnapshotDirectory(directory);
    const std::uint64_t mark = RequestLogMark();
    for (const std::uint64_t digits :
         {port + 65536, port + 65536 * 3, port + 4294967296ull, port + 18446744073709486080ull}) {
        const std::wstring url = L"https://localhost:" + std::to_wstring(digits) + L"/ok/10";
        const JobResult result = RunJob(url, Target(L"out.bin"));
        ASSERT_TRUE(result.outcome) << Narrow(url);
        EXPECT_EQ(result.outcome->errorText, SelectText(TextEnterValidHttpsUrl, false))
            << Narrow(url);
    }
    // The fake splitter does lead to the server when the port is its own.
    const JobResult control = RunJob(BedUrl(L"/ok/10"), Target(L"control.bin"));
    ASSERT_TRUE(control.outcome);
    EXPECT_TRUE(control.outcome->succeeded) << Narrow(control.outcome->errorText);
    EXPECT_EQ(RequestsSince(mark).size(), 1u);
    DirectorySnapshot after = SnapshotDirectory(directory);
    after.erase(L"control.bin");
    EXPECT_EQ(after, before) << Narrow(DescribeSnapshot(after));
}

} // namespace
