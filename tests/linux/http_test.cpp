// Whole jobs against the bed's HTTPS server: statuses, Content-Length texts, bodies that are
// short, long, chunked or cut, redirects, certificates, the proxy (a GNOME setting's and the
// variables'), the request on the wire and the refused URLs. Every failure must leave its
// directory exactly as it was. Test thread; each job on a worker thread of its own.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "core/texts.h"
#include "download/system_error.h"
#include "download/url_target.h"
#include "tests/linux/harness.h"

namespace {

constexpr std::uint64_t Max64 = 18446744073709551615ull;

class LinuxHttp : public LinuxEngineTest {
  protected:
    // A job onto a new destination that must commit a bed body of the given size, marked, and
    // leave nothing else behind.
    JobResult Succeed(const std::string& url, std::uint64_t size) {
        const std::string name = "new" + std::to_string(++jobs) + ".bin";
        const DirectorySnapshot expected = SnapshotDirectory(directory);
        JobResult result = RunJob(url, Target(name));
        EXPECT_TRUE(result.outcome) << url;
        if (result.outcome) {
            EXPECT_TRUE(result.outcome->succeeded) << url << ": " << result.outcome->errorText;
            EXPECT_EQ(result.outcome->errorText, "");
            EXPECT_EQ(result.outcome->bytesWritten, size) << url;
        }
        EXPECT_EQ(result.bytesReceived, size) << url;
        DirectorySnapshot after = SnapshotDirectory(directory);
        const auto file = after.find(name);
        EXPECT_NE(file, after.end()) << url;
        if (file != after.end()) {
            EXPECT_TRUE(IsBedBody(file->second.bytes, size)) << url;
            EXPECT_EQ(file->second.zoneMark, ZoneMark) << url;
            after.erase(file);
        }
        EXPECT_EQ(after, expected) << url << " left:\n" << DescribeSnapshot(after);
        return result;
    }
    JobResult Fail(const std::string& url, bool russian = false) {
        return FailLeavingDirectory(url, directory, russian);
    }
    std::string Curl(CURLcode code) { return FormatSystemError(NetworkError(code), false); }
    int jobs = 0;
};

TEST_F(LinuxHttp, AnythingBut200IsRefusedWithItsNumber) {
    for (const int status : {204, 206, 300, 304, 404, 500}) {
        const JobResult result = Fail(BedUrl("/status/" + std::to_string(status)));
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText,
                  "Server returned HTTP " + std::to_string(status) + ".");
    }
    const JobResult russian = Fail(BedUrl("/status/404"), true);
    ASSERT_TRUE(russian.outcome);
    EXPECT_EQ(russian.outcome->errorText, "Сервер вернул HTTP 404.");
}

TEST_F(LinuxHttp, BodiesWithAndWithoutTheirAnnouncedSize) {
    EXPECT_TRUE(Succeed(BedUrl("/ok/0"), 0).totalKnown);
    const JobResult several = Succeed(BedUrl("/ok/300000"), 300000);
    EXPECT_EQ(several.contentLength, 300000u);
    EXPECT_FALSE(Succeed(BedUrl("/chunked/200000"), 200000).totalKnown);
    // The connection goes on past the announced size; only the announced bytes are the body.
    Succeed(BedUrl("/long/100000"), 100000);
}

TEST_F(LinuxHttp, BodiesShorterThanAnnouncedAreASizeMismatch) {
    for (const char* path : {"/short/100000"}) {
        const JobResult result = Fail(BedUrl(path));
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText,
                  "Received size does not match the server's Content-Length.")
            << path;
        EXPECT_TRUE(result.totalKnown) << path;
    }
}

TEST_F(LinuxHttp, ContentLengthTextsAreReadByTheSameRules) {
    struct Accepted {
        const char* query;
        std::uint64_t size;
    };
    for (const Accepted& c :
         {Accepted{"v=%2B5&n=5", 5}, Accepted{"v=%20%207&n=7", 7}, Accepted{"v=007&n=7", 7}}) {
        const JobResult result = Succeed(BedUrl(std::string("/cl?") + c.query), c.size);
        EXPECT_TRUE(result.totalKnown) << c.query;
        EXPECT_EQ(result.contentLength, c.size) << c.query;
    }
    for (const bool russian : {false, true}) {
        for (const char* query : {"v=12abc&n=5", "v=0x10&n=16", "v=-1&n=5", "v=%20-1&n=5",
                                  "v=-0&n=0", "v=5.0&n=5", "v=&n=5"}) {
            const JobResult result = Fail(BedUrl(std::string("/cl?") + query), russian);
            ASSERT_TRUE(result.outcome);
            EXPECT_EQ(result.outcome->errorText,
                      core::SelectText(core::TextInvalidContentLength, russian))
                << query;
            EXPECT_FALSE(result.totalKnown) << query;
            EXPECT_EQ(result.outcome->bytesWritten, 0u);
        }
    }
    // Without a fixed buffer, any number of digits is read; more than 64 bits hold saturate.
    const JobResult saturated = Fail(BedUrl("/cl?v=" + std::string(70, '1') + "&n=10"));
    ASSERT_TRUE(saturated.outcome);
    EXPECT_TRUE(saturated.totalKnown);
    EXPECT_EQ(saturated.contentLength, Max64);
}

TEST_F(LinuxHttp, RedirectsUpToFiveStayOnHttps) {
    Succeed(BedUrl("/redirect/5/3000"), 3000);
    for (const char* code : {"301", "302", "303", "307", "308"}) {
        Succeed(BedUrl("/redirect/2/3000?code=") + code, 3000);
    }
    const JobResult six = Fail(BedUrl("/redirect/6/3000"));
    ASSERT_TRUE(six.outcome);
    EXPECT_EQ(six.outcome->errorText, core::TextTooManyRedirects.english);
    const JobResult plain = Fail(BedUrl("/tohttp/3000"));
    ASSERT_TRUE(plain.outcome);
    EXPECT_EQ(plain.outcome->errorText, Curl(CURLE_UNSUPPORTED_PROTOCOL));
}

TEST_F(LinuxHttp, ACertificateForAnotherNameIsRefused) {
    // The bed's certificate, from the trusted CA, names localhost only.
    const JobResult result = Fail("https://127.0.0.1:" + BedVariable("QM_HTTPS_PORT") + "/ok/10");
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, core::TextCertificateOtherSite.english);
}

TEST_F(LinuxHttp, UntrustedCertificatesAreRefused) {
    const JobResult result =
        Fail("https://localhost:" + BedVariable("QM_PORT_SELFSIGNED") + "/ok/10");
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, core::TextCertificateUntrusted.english);
}

// The proxy setting of a GNOME session, made as a user makes it (gsettings, through a private
// session bus that starts dconf) in folders of the bed's, and the bed's CONNECT proxy on localhost,
// which logs each request. The proxy is stopped by its pid at the end, and the variables are put
// back.
class GnomeProxyBed {
  public:
    GnomeProxyBed() {
        std::filesystem::remove_all(config);
        std::filesystem::create_directories(config + "/run");
        // dconf keeps its database under the first and a flag file under the second.
        for (const auto& [name, value] :
             {std::pair{"XDG_CONFIG_HOME", config}, std::pair{"XDG_RUNTIME_DIR", config + "/run"},
              std::pair{"GNOME_DESKTOP_SESSION_ID", std::string("this-is-deprecated")}}) {
            const char* was = std::getenv(name);
            saved.emplace_back(name,
                               was != nullptr ? std::optional<std::string>(was) : std::nullopt);
            setenv(name, value.c_str(), 1);
        }
        const std::string line = "exec python3 " QM_PROXY_SERVER " --log " + config +
                                 "/proxy.log --port-file " + config + "/port";
        proxy = fork();
        if (proxy == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM); // goes with the test, even one that crashes
            execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 200 && !std::filesystem::exists(config + "/port"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        port = std::to_string(std::atoi(ReadWholeFile(config + "/port").c_str()));
        Set("org.gnome.system.proxy ignore-hosts \"[]\""); // GNOME's own list holds localhost
    }
    ~GnomeProxyBed() {
        kill(proxy, SIGTERM);
        waitpid(proxy, nullptr, 0);
        for (const auto& [name, was] : saved) {
            was ? setenv(name, was->c_str(), 1) : unsetenv(name);
        }
    }
    void Set(const std::string& setting) {
        const std::string command = "dbus-run-session -- gsettings set " + setting + " 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << setting;
    }
    const std::string config = BedVariable("QM_BED_DIR") + "/gnome";
    pid_t proxy = -1;
    std::string port = "0";
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST_F(LinuxHttp, TheProxyComesFromTheDesktopOrTheStandardVariables) {
    GnomeProxyBed gnome;
    // A configuration script whose server takes the request and never answers holds libproxy for
    // good; the job still ends at once when cancelled.
    int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof local;
    bind(silent, reinterpret_cast<sockaddr*>(&local), length);
    listen(silent, 1);
    getsockname(silent, reinterpret_cast<sockaddr*>(&local), &length);
    gnome.Set("org.gnome.system.proxy autoconfig-url 'http://127.0.0.1:" +
              std::to_string(ntohs(local.sin_port)) + "/stuck.pac'");
    gnome.Set("org.gnome.system.proxy mode auto");
    JobOptions cancel;
    cancel.cancelBeforeStart = true;
    cancel.whileRunning = [&, started = std::chrono::steady_clock::now()] {
        if (std::chrono::steady_clock::now() - started > std::chrono::seconds(3) && silent >= 0) {
            close(std::exchange(silent, -1)); // lets a program that waits for ever go on
        }
    };
    const JobResult stuck = RunJob(BedUrl("/ok/10"), Target("stuck.bin"), cancel);
    pollfd asked{silent, POLLIN, 0};
    EXPECT_EQ(poll(&asked, 1, 10000), 1); // the lookup asked for the script, and waits
    close(silent);
    ASSERT_TRUE(stuck.outcome);
    EXPECT_TRUE(stuck.outcome->cancelled);
    EXPECT_LT(stuck.seconds, 1.5);

    // A configuration script names the proxy; then the user's own proxy, with an untrusted
    // certificate behind it, and a host on the bypass list.
    gnome.Set("org.gnome.system.proxy autoconfig-url 'http://127.0.0.1:" + gnome.port +
              "/proxy.pac'");
    Succeed(BedUrl("/ok/300000"), 300000);
    gnome.Set("org.gnome.system.proxy.https host 127.0.0.1");
    gnome.Set("org.gnome.system.proxy.https port " + gnome.port);
    gnome.Set("org.gnome.system.proxy mode manual");
    Succeed(BedUrl("/chunked/200000"), 200000);
    const std::string selfSigned = BedVariable("QM_PORT_SELFSIGNED");
    const JobResult untrusted = Fail("https://localhost:" + selfSigned + "/ok/10");
    ASSERT_TRUE(untrusted.outcome);
    EXPECT_EQ(untrusted.outcome->errorText, Curl(CURLE_PEER_FAILED_VERIFICATION));

    // The variables outweigh the desktop, as libcurl reads them: nothing listens on port 9, so a
    // program that read https_proxy fails to connect; http_proxy is for plain HTTP only; no_proxy
    // bypasses the desktop's proxy too.
    setenv("https_proxy", "http://127.0.0.1:9", 1);
    const JobResult result = Fail(BedUrl("/ok/10"));
    unsetenv("https_proxy");
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, Curl(CURLE_COULDNT_CONNECT));
    for (const auto& [name, value] :
         {std::pair{"http_proxy", "http://127.0.0.1:9"}, std::pair{"no_proxy", "localhost"}}) {
        setenv(name, value, 1);
        Succeed(BedUrl("/ok/10"), 10);
        unsetenv(name);
    }
    gnome.Set("org.gnome.system.proxy ignore-hosts \"['*.example.invalid', 'localhost']\"");
    Succeed(BedUrl("/ok/10"), 10);
    // Each download that went through the proxy, in order.
    const std::string https = "CONNECT localhost:" + BedVariable("QM_HTTPS_PORT") + " HTTP/1.1\n";
    EXPECT_EQ(ReadWholeFile(gnome.config + "/proxy.log"),
              "GET /proxy.pac HTTP/1.1\n" + https + https + "CONNECT localhost:" + selfSigned +
                  " HTTP/1.1\n");
}

// The request log of the bed's server: the lines written since `mark`.
std::string LogSince(std::streamoff mark) {
    std::ifstream log(BedVariable("QM_REQUEST_LOG"), std::ios::binary);
    log.seekg(mark);
    return std::string(std::istreambuf_iterator<char>(log), {});
}
std::streamoff LogMark() {
    std::ifstream log(BedVariable("QM_REQUEST_LOG"), std::ios::binary | std::ios::ate);
    return log.tellg();
}

TEST_F(LinuxHttp, TheRequestCarriesTheTargetAndTheUserAgentAndNothingElse) {
    const std::streamoff mark = LogMark();
    Succeed(BedUrl("/ok/5?v=2&x=%20y#part"), 5);
    const std::string logged = LogSince(mark);
    EXPECT_NE(logged.find("\"requestline\": \"GET /ok/5?v=2&x=%20y HTTP/1.1\""), std::string::npos)
        << logged;
    const std::string headers = logged.substr(logged.find("\"headers\""));
    EXPECT_EQ(headers.substr(0, headers.find("]]") + 2),
              "\"headers\": [[\"Host\", \"localhost:" + BedVariable("QM_HTTPS_PORT") +
                  "\"], [\"User-Agent\", \"Quillmere/1.0\"]]")
        << logged;
}

TEST_F(LinuxHttp, RefusedUrlsSendNothingAndTouchNothing) {
    const std::streamoff mark = LogMark();
    const std::string port = BedVariable("QM_HTTPS_PORT");
    for (const std::string& url : std::vector<std::string>{
             "http://localhost:" + port + "/ok/5", "ftp://localhost/ok/5", "not a url", "https://",
             "https://:" + port + "/ok/5", "https://user@localhost:" + port + "/ok/5",
             "https://user:pw@localhost:" + port + "/ok/5", "https://localhost:/ok/5",
             "https://localhost:0/ok/5", "https://localhost:65536/ok/5",
             "https://localhost:8x/ok/5", "https:localhost/ok/5"}) {
        const JobResult result = Fail(url);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText,
                  "Enter a valid HTTPS URL without a username or password.")
            << url;
    }
    EXPECT_EQ(LogSince(mark), "");
}

TEST_F(LinuxHttp, AcceptedUrlsNameHostPortAndTarget) {
    struct Case {
        const char* url;
        const char* host;
        std::uint16_t port;
        const char* target;
    };
    for (const Case& c :
         {Case{"https://h", "h", 443, "/"}, Case{"HTTPS://h:8443/a?b#c", "h", 8443, "/a?b"},
          Case{"https://h?x=1", "h", 443, "/?x=1"},
          Case{"https://h/d/f.zip#p?q", "h", 443, "/d/f.zip"},
          Case{"https://[::1]:4443/%20", "[::1]", 4443, "/%20"},
          Case{"https://h:00443/", "h", 443, "/"}}) {
        UrlTarget target;
        ASSERT_TRUE(AcceptUrl(c.url, target)) << c.url;
        EXPECT_EQ(target.hostName, c.host) << c.url;
        EXPECT_EQ(target.serverPort, c.port) << c.url;
        EXPECT_EQ(target.requestTarget, c.target) << c.url;
    }
}

TEST_F(LinuxHttp, AStalledBodyEndsAfterFifteenSecondsWithoutProgress) {
    const JobResult result = Fail(BedUrl("/stall/1000000"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, core::TextTimedOut.english);
    EXPECT_GE(result.seconds, 14.0);
    EXPECT_LT(result.seconds, 25.0);
}

TEST_F(LinuxHttp, AnUnknownHostAndACutConnectionReadInTheLanguageOfTheInterface) {
    for (const auto& [url, text] :
         {std::pair{std::string("https://nonexistent.invalid/ok/10"), &core::TextHostNotFound},
          std::pair{BedUrl("/reset/200000"), &core::TextConnectionClosedEarly}}) {
        const JobResult result = Fail(url, true);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, text->russian) << url;
    }
}

} // namespace
