// Whole jobs against the bed's HTTPS server: statuses, Content-Length texts, bodies that are
// short, long, chunked or cut, redirects and certificates. Each job writes to its own directory
// on the NTFS drive, and every failure must leave that directory exactly as it was. Test thread;
// each job on a worker thread of its own.
#include <windows.h>
#include <winhttp.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "download/system_error.h"
#include "download/url_target.h"
#include "tests/engine/harness.h"

namespace {

constexpr std::uint64_t Max64 = 18446744073709551615ull;
const std::string OldContent = "the destination as it was before the job";

class HttpTest : public EngineTest {
  protected:
    // A job onto an existing destination that must fail and leave the directory untouched.
    JobResult Fail(const std::wstring& url, bool russian = false) {
        WriteWholeFile(Target(L"dest.bin"), OldContent);
        const DirectorySnapshot before = SnapshotDirectory(directory);
        JobOptions options;
        options.replaceExisting = true;
        options.russianUi = russian;
        JobResult result = RunJob(url, Target(L"dest.bin"), options);
        EXPECT_TRUE(result.outcome) << Narrow(url);
        if (result.outcome) {
            EXPECT_FALSE(result.outcome->succeeded) << Narrow(url);
            EXPECT_FALSE(result.outcome->cancelled) << Narrow(url);
            EXPECT_EQ(result.outcome->targetPath, Target(L"dest.bin"));
        }
        const DirectorySnapshot after = SnapshotDirectory(directory);
        EXPECT_EQ(after, before) << Narrow(url) << " left:\n" << Narrow(DescribeSnapshot(after));
        return result;
    }

    // A job onto a new destination that must commit a bed body of the given size, marked, and
    // leave nothing else behind. Jobs in a row take different names: ntfs-3g keeps resolving a
    // recreated file's stream name to the deleted file's stream for about a second.
    JobResult Succeed(const std::wstring& url, std::uint64_t size) {
        const std::wstring name = L"new" + std::to_wstring(++jobs) + L".bin";
        DirectorySnapshot expected = SnapshotDirectory(directory);
        JobResult result = RunJob(url, Target(name.c_str()));
        EXPECT_TRUE(result.outcome) << Narrow(url);
        if (result.outcome) {
            EXPECT_TRUE(result.outcome->succeeded)
                << Narrow(url) << ": " << Narrow(result.outcome->errorText);
            EXPECT_FALSE(result.outcome->cancelled);
            EXPECT_EQ(result.outcome->errorText, L"");
            EXPECT_EQ(result.outcome->bytesWritten, size);
        }
        EXPECT_EQ(result.bytesReceived, size);
        DirectorySnapshot after = SnapshotDirectory(directory);
        const auto file = after.find(name);
        EXPECT_NE(file, after.end()) << Narrow(url);
        if (file != after.end()) {
            EXPECT_TRUE(IsBedBody(file->second.bytes, size))
                << Narrow(url) << ": " << file->second.bytes.size() << " bytes";
            EXPECT_TRUE(file->second.hasZoneStream) << Narrow(url);
            EXPECT_EQ(file->second.zoneStream, "[ZoneTransfer]\r\nZoneId=3\r\n");
            after.erase(file);
        }
        EXPECT_EQ(after, expected) << Narrow(url) << " left:\n" << Narrow(DescribeSnapshot(after));
        return result;
    }
    int jobs = 0;
};

class HttpStatus : public HttpTest {};

// 300 and 304 stand for the 3xx statuses that are no redirect, and 302 without a Location for a
// redirect that leads nowhere: the program follows 301, 302, 303, 307 and 308 where they do.
TEST_F(HttpStatus, AnythingBut200IsRefusedWithItsNumber) {
    for (const int status : {204, 206, 300, 302, 304, 404, 500, 503}) {
        const JobResult result = Fail(BedUrl(L"/status/" + std::to_wstring(status)));
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText,
                  L"Server returned HTTP " + std::to_wstring(status) + L".");
        EXPECT_EQ(result.outcome->bytesWritten, 0u);
        EXPECT_FALSE(result.totalKnown);
    }
}

TEST_F(HttpStatus, UnknownRouteIs404InRussianToo) {
    const JobResult result = Fail(BedUrl(L"/no/such/route"), true);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"Сервер вернул HTTP 404.");
}

class HttpBody : public HttpTest {};

TEST_F(HttpBody, ContentLengthBodiesAreCommittedWholeAndMarked) {
    for (const std::uint64_t size : {1ull, 65535ull, 65536ull, 65537ull, 1048576ull + 123}) {
        const JobResult result = Succeed(BedUrl(L"/ok/" + std::to_wstring(size)), size);
        EXPECT_TRUE(result.totalKnown);
        EXPECT_EQ(result.contentLength, size);
    }
}

TEST_F(HttpBody, EmptyBodyWithContentLengthZeroIsAnEmptyMarkedFile) {
    const JobResult result = Succeed(BedUrl(L"/ok/0"), 0);
    EXPECT_TRUE(result.totalKnown);
    EXPECT_EQ(result.contentLength, 0u);
}

TEST_F(HttpBody, ChunkedBodyWithoutContentLengthIsCommittedAsReceived) {
    const JobResult result = Succeed(BedUrl(L"/chunked/200000"), 200000);
    EXPECT_FALSE(result.totalKnown);
    EXPECT_EQ(result.contentLength, 0u);
}

TEST_F(HttpBody, BodyShorterThanContentLengthIsASizeMismatch) {
    for (const bool russian : {false, true}) {
        const JobResult result = Fail(BedUrl(L"/short/100000"), russian);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, SelectText(TextSizeMismatch, russian));
        EXPECT_EQ(result.outcome->bytesWritten, 99999u);
        EXPECT_EQ(result.contentLength, 100000u);
    }
}

TEST_F(HttpBody, ByteBeyondContentLengthNeverReachesTheFile) {
    // WinHTTP stops reading at the announced size, so the sizes agree and the job commits.
    const JobResult result = Succeed(BedUrl(L"/long/100000"), 100000);
    EXPECT_EQ(result.contentLength, 100000u);
}

// A body that cannot fit on the volume fails as soon as its size is announced, before any of it is
// read: one announced far beyond anything, and a paced one between one and two times the free
// space of the bed's NTFS drive, of which the server can have sent only a small part by then. (A
// program that found out only at the write that fills the disk would have taken far longer.)
TEST_F(HttpBody, BodyThatCannotFitFailsBeforeItIsRead) {
    const JobResult huge = Fail(BedUrl(L"/bigcl"));
    ASSERT_TRUE(huge.outcome);
    EXPECT_EQ(huge.outcome->errorText, FormatSystemError(ERROR_DISK_FULL));
    EXPECT_EQ(huge.contentLength, 1000000000000000000ull);
    EXPECT_EQ(huge.outcome->bytesWritten, 0u);

    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(directory.c_str(), &free, nullptr, nullptr));
    const std::uint64_t size = free.QuadPart / 2 * 3;
    constexpr int PieceMs = 20; // one 64 KiB piece every 20 ms
    const JobResult paced =
        Fail(BedUrl(L"/paced/" + std::to_wstring(size) + L"?ms=" + std::to_wstring(PieceMs)));
    ASSERT_TRUE(paced.outcome);
    EXPECT_EQ(paced.outcome->errorText, FormatSystemError(ERROR_DISK_FULL));
    EXPECT_EQ(paced.outcome->bytesWritten, 0u);
    const double sentAtMost = (paced.seconds * 1000 / PieceMs + 1) * 65536;
    EXPECT_LT(sentAtMost, static_cast<double>(size) / 2)
        << "failed after " << paced.seconds << " s of a " << size << "-byte body";
}

TEST_F(HttpBody, ResetConnectionFailsWithTheReadErrorText) {
    const JobResult result = Fail(BedUrl(L"/reset/1000000"));
    ASSERT_TRUE(result.outcome);
    EXPECT_NE(result.outcome->errorText, L"");
    EXPECT_NE(result.outcome->errorText, FormatSystemError(0));
}

class HttpContentLength : public HttpTest {};

TEST_F(HttpContentLength, UnsignedDecimalTextsAreAccepted) {
    struct Case {
        const wchar_t* query;
        std::uint64_t size;
    };
    for (const Case& c : {Case{L"v=0&n=0", 0}, Case{L"v=%2B5&n=5", 5}, Case{L"v=%205&n=5", 5},
                          Case{L"v=%20%205&n=5", 5}, Case{L"v=0007&n=7", 7}}) {
        const JobResult result = Succeed(BedUrl(L"/cl?") + c.query, c.size);
        EXPECT_TRUE(result.totalKnown) << Narrow(c.query);
        EXPECT_EQ(result.contentLength, c.size) << Narrow(c.query);
    }
}

TEST_F(HttpContentLength, TextsThatAreNoUnsignedNumberAreRefused) {
    for (const bool russian : {false, true}) {
        for (const wchar_t* query : {L"v=12abc&n=5", L"v=0x10&n=16", L"v=-1&n=5", L"v=%20-1&n=5",
                                     L"v=%20%20-5&n=5", L"v=-0&n=0", L"v=5.0&n=5"}) {
            const JobResult result = Fail(BedUrl(L"/cl?") + query, russian);
            ASSERT_TRUE(result.outcome);
            EXPECT_EQ(result.outcome->errorText, SelectText(TextInvalidContentLength, russian))
                << Narrow(query);
            EXPECT_FALSE(result.totalKnown) << Narrow(query);
            EXPECT_EQ(result.outcome->bytesWritten, 0u);
        }
    }
}

TEST_F(HttpContentLength, EmptyValueIsRefused) {
    const JobResult result = Fail(BedUrl(L"/cl?v=&n=5"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"Invalid Content-Length from server.");
    EXPECT_FALSE(result.totalKnown);
}

TEST_F(HttpContentLength, MoreDigitsThan64BitsHoldSaturateAndCannotFit) {
    const JobResult result = Fail(BedUrl(L"/cl?v=1234567890123456789012345&n=10"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.totalKnown);
    EXPECT_EQ(result.contentLength, Max64);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(ERROR_DISK_FULL));
    EXPECT_EQ(result.outcome->bytesWritten, 0u);
}

TEST_F(HttpContentLength, SixtyFourCharactersOrMoreDoNotFitAndFailWithThatCode) {
    // 63 characters still fit the 64-unit buffer with its terminating zero.
    const JobResult fits = Fail(BedUrl(L"/cl?v=" + std::wstring(62, L'0') + L"4&n=3"));
    ASSERT_TRUE(fits.outcome);
    EXPECT_EQ(fits.outcome->errorText,
              L"Received size does not match the server's Content-Length.");
    for (const std::size_t length : {64, 70}) {
        const JobResult result = Fail(BedUrl(L"/cl?v=" + std::wstring(length, L'1') + L"&n=3"));
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, FormatSystemError(ERROR_INSUFFICIENT_BUFFER))
            << length;
        EXPECT_EQ(result.outcome->errorText, L"Insufficient buffer.\r\n");
        EXPECT_FALSE(result.totalKnown);
    }
}

class HttpRedirect : public HttpTest {};

// Each redirect code is followed, WinHTTP's own following or not (Wine's hands 303 and 308 back),
// to an absolute or a relative Location, and five in a row at the most.
TEST_F(HttpRedirect, FiveRedirectsInARowAreFollowed) {
    Succeed(BedUrl(L"/redirect/5/3000"), 3000);
    for (const wchar_t* code : {L"301", L"302", L"303", L"307", L"308"}) {
        Succeed(BedUrl(L"/redirect/2/3000?code=") + code, 3000);
    }
    Succeed(BedUrl(L"/redirect/2/3000?code=303&rel=1"), 3000);
}

TEST_F(HttpRedirect, SixRedirectsInARowAreNot) {
    for (const wchar_t* code : {L"302", L"308"}) {
        const JobResult result = Fail(BedUrl(L"/redirect/6/3000?code=") + code);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, FormatSystemError(ERROR_WINHTTP_REDIRECT_FAILED));
        EXPECT_EQ(result.outcome->bytesWritten, 0u);
    }
}

TEST_F(HttpRedirect, EndlessRedirectsFail) {
    const JobResult result = Fail(BedUrl(L"/loop"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(ERROR_WINHTTP_REDIRECT_FAILED));
}

TEST_F(HttpRedirect, HttpsToPlainHttpIsNotFollowed) {
    const JobResult result = Fail(BedUrl(L"/tohttp/100"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"Error 12156");
}

// Where the text of an error comes from: for WinHTTP's codes the table of winhttp.dll first, then
// the system's, then the fallback; for every other code the system's table alone. This
// executable's own message table stands in for winhttp.dll's, which Wine does not have.
TEST(HttpErrorText, WinhttpCodesAskWinhttpsTableFirstAndOnlyThey) {
    void* const table = GetModuleHandleW(nullptr);
    EXPECT_EQ(FormatErrorFrom(12029, table), L"Stand-in text for 12029.\r\n");
    EXPECT_EQ(FormatErrorFrom(12030, table), L"Error 12030");
    EXPECT_EQ(FormatErrorFrom(80, table), L"File exists.\r\n");
    EXPECT_EQ(FormatErrorFrom(12000, table), L"Stand-in text for 12000.\r\n");
    EXPECT_EQ(FormatErrorFrom(12999, table), L"Stand-in text for 12999.\r\n");
    EXPECT_EQ(FormatErrorFrom(11999, table), L"Error 11999");
    EXPECT_EQ(FormatErrorFrom(13000, table), L"Error 13000");
    EXPECT_EQ(FormatErrorFrom(12029, nullptr), L"Error 12029");
    // The program asks the winhttp.dll its jobs loaded (Wine's has no texts, so the result there
    // is as before).
    UrlTarget target;
    ASSERT_TRUE(AcceptUrl(L"https://h/", target)); // binds winhttp.dll
    ASSERT_NE(GetModuleHandleW(L"winhttp.dll"), nullptr);
    EXPECT_EQ(FormatSystemError(12029), FormatErrorFrom(12029, GetModuleHandleW(L"winhttp.dll")));
    EXPECT_EQ(FormatSystemError(80), L"File exists.\r\n");
}

class HttpCertificate : public HttpTest {};

TEST_F(HttpCertificate, EveryUntrustworthyCertificateFailsTheJob) {
    for (const wchar_t* port :
         {L"QM_PORT_SELFSIGNED", L"QM_PORT_EXPIRED", L"QM_PORT_WRONGHOST", L"QM_PORT_UNTRUSTED"}) {
        const JobResult result = Fail(BedUrlOnPort(port, L"/ok/100"));
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, L"Error 12157") << Narrow(port);
    }
}

} // namespace
