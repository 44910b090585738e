// What goes over the wire, as the bed server logged it: the request target for each URL shape,
// and the exact set of headers (the user agent, and nothing the program adds besides). Test
// thread; each job on a worker thread.
#include <filesystem>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/engine/harness.h"
#include "tests/engine/request_log.h"

namespace {

class RequestLog : public EngineTest {
  protected:
    // The requests one job made.
    std::vector<LoggedRequest> RequestsOf(const std::wstring& url) {
        const std::uint64_t mark = RequestLogMark();
        const JobResult result = RunJob(url, Target(L"file.bin"));
        EXPECT_TRUE(result.outcome);
        std::filesystem::remove(Target(L"file.bin"));
        return RequestsSince(mark);
    }
    std::string Port() const { return Narrow(BedVariable(L"QM_HTTPS_PORT")); }
};

TEST_F(RequestLog, TargetIsPathOrSlashWithTheQueryAndWithoutTheFragment) {
    struct Case {
        std::wstring pathAndMore;
        std::string requestLine;
    };
    const Case cases[] = {
        {L"", "GET / HTTP/1.1"},
        {L"/", "GET / HTTP/1.1"},
        {L"?x=1", "GET /?x=1 HTTP/1.1"},
        {L"#f", "GET / HTTP/1.1"},
        {L"#f?x=1", "GET / HTTP/1.1"},
        {L"/ok/3?v=2#part", "GET /ok/3?v=2 HTTP/1.1"},
        {L"/ok/3#part", "GET /ok/3 HTTP/1.1"},
        {L"/ok/3#b?c", "GET /ok/3 HTTP/1.1"},
        {L"/ok/3?a#b#c", "GET /ok/3?a HTTP/1.1"},
        {L"/ok/3?q=%41%2F%20+x&r=%7E", "GET /ok/3?q=%41%2F%20+x&r=%7E HTTP/1.1"},
        {L"/a%20b/%7Ec", "GET /a%20b/%7Ec HTTP/1.1"},
    };
    for (const Case& c : cases) {
        const std::vector<LoggedRequest> requests = RequestsOf(BedUrl(c.pathAndMore));
        ASSERT_EQ(requests.size(), 1u) << Narrow(c.pathAndMore);
        EXPECT_EQ(requests[0].requestLine, c.requestLine) << Narrow(c.pathAndMore);
    }
}

TEST_F(RequestLog, OnlyTheUserAgentIsAddedToWhatWinHttpAlwaysSends) {
    const std::vector<LoggedRequest> requests = RequestsOf(BedUrl(L"/ok/10"));
    ASSERT_EQ(requests.size(), 1u);
    const LoggedRequest& request = requests[0];
    EXPECT_EQ(request.requestLine, "GET /ok/10 HTTP/1.1");
    std::multiset<std::string> names;
    for (const auto& [name, value] : request.headers) {
        names.insert(name);
        if (name == "User-Agent") {
            EXPECT_EQ(value, "Quillmere/1.0");
        } else if (name == "Host") {
            EXPECT_EQ(value, "localhost:" + Port());
        } else if (name == "Connection") {
            EXPECT_EQ(value, "Keep-Alive");
        }
    }
    EXPECT_EQ(names, (std::multiset<std::string>{"Connection", "Host", "User-Agent"}));
}

// A GET each time, also where the code (307) asks to repeat the method.
TEST_F(RequestLog, RedirectsAreFollowedWithTheSameHeaders) {
    const std::vector<LoggedRequest> requests = RequestsOf(BedUrl(L"/redirect/2/10?code=307"));
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].requestLine, "GET /redirect/2/10?code=307 HTTP/1.1");
    EXPECT_EQ(requests[1].requestLine, "GET /redirect/1/10?code=307 HTTP/1.1");
    EXPECT_EQ(requests[2].requestLine, "GET /redirect/0/10?code=307 HTTP/1.1");
    for (const LoggedRequest& request : requests) {
        std::set<std::string> names;
        for (const auto& header : request.headers) {
            names.insert(header.first);
        }
        EXPECT_EQ(names, (std::set<std::string>{"Connection", "Host", "User-Agent"}))
            << request.requestLine;
    }
}

TEST_F(RequestLog, SixthRedirectIsNeverRequested) {
    const std::vector<LoggedRequest> requests = RequestsOf(BedUrl(L"/redirect/6/10"));
    // The first request and five followed redirects; /redirect/0/10 is not fetched.
    EXPECT_EQ(requests.size(), 6u);
    for (const LoggedRequest& request : requests) {
        EXPECT_NE(request.requestLine, "GET /redirect/0/10 HTTP/1.1");
    }
}

} // namespace
