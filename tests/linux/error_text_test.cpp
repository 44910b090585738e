// The texts of error codes: the system's for errno values, in Russian where the system has a
// Russian locale (the bed makes one), the program's own sentences for the network failures a user
// meets and libcurl's for other libcurl results, the two number spaces kept apart, and "Error N"
// where there is no text. Test thread.
#include <curl/curl.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "core/texts.h"
#include "download/system_error.h"
#include "tests/linux/harness.h"

namespace {

TEST(LinuxErrorText, SystemAndLibcurlCodesEachHaveTheirOwnTexts) {
    EXPECT_EQ(FormatSystemError(SystemError(EEXIST), false), "File exists");
    EXPECT_EQ(FormatSystemError(SystemError(ENOSPC), false), "No space left on device");
    // 1 is both EPERM and CURLE_UNSUPPORTED_PROTOCOL: the space decides.
    EXPECT_EQ(FormatSystemError(SystemError(1), false), "Operation not permitted");
    EXPECT_EQ(FormatSystemError(NetworkError(1), false), "Unsupported protocol");
}

TEST(LinuxErrorText, NetworkFailuresAUserMeetsHaveTheProgramsOwnSentences) {
    const auto certificate = [](long check) {
        return ErrorCode{ErrorSpace::Network, CURLE_PEER_FAILED_VERIFICATION, check};
    };
    for (const auto& [code, text] : std::vector<std::pair<ErrorCode, const core::TextPair*>>{
             {NetworkError(CURLE_COULDNT_RESOLVE_HOST), &core::TextHostNotFound},
             {NetworkError(CURLE_COULDNT_CONNECT), &core::TextCouldNotConnect},
             {NetworkError(CURLE_OPERATION_TIMEDOUT), &core::TextTimedOut},
             {certificate(18), &core::TextCertificateUntrusted},
             {certificate(10), &core::TextCertificateExpired},
             {certificate(62), &core::TextCertificateOtherSite},
             {NetworkError(CURLE_SSL_CONNECT_ERROR), &core::TextSecureConnectionFailed},
             {NetworkError(CURLE_GOT_NOTHING), &core::TextConnectionClosedEarly},
             {NetworkError(CURLE_TOO_MANY_REDIRECTS), &core::TextTooManyRedirects},
             {NetworkError(CURLE_COULDNT_RESOLVE_PROXY), &core::TextProxyNotFound},
             {{ErrorSpace::Network, CURLE_RECV_ERROR, 0, 403}, &core::TextProxyRefused}}) {
        EXPECT_EQ(FormatSystemError(code, false), text->english) << code.value;
        const std::string russian = FormatSystemError(code, true);
        EXPECT_EQ(russian, text->russian) << code.value;
        // No Latin word in the Russian box.
        EXPECT_EQ(russian.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
                  std::string::npos)
            << code.value;
    }
}

TEST(LinuxErrorText, CodesWithoutTextReadErrorAndTheNumber) {
    EXPECT_EQ(FormatSystemError(SystemError(4000), false), "Error 4000");
    EXPECT_EQ(FormatSystemError(SystemError(4000), true), "Error 4000");
    EXPECT_EQ(FormatSystemError(SystemError(-1), false), "Error 4294967295");
    EXPECT_EQ(FormatSystemError(NetworkError(4000), false), "Error 4000");
}

TEST(LinuxErrorText, SystemTextsAreRussianInTheRussianInterface) {
    EXPECT_EQ(FormatSystemError(SystemError(EEXIST), true), "Файл существует");
    // libcurl has English texts only.
    EXPECT_EQ(FormatSystemError(NetworkError(CURLE_UNSUPPORTED_PROTOCOL), true),
              "Unsupported protocol");
}

} // namespace
