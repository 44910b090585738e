// The texts of error codes: the system's for errno values, in Russian where the system has a
// Russian locale (the bed makes one), the program's own sentences for the network failures a user
// meets and libcurl's for other libcurl results, the two number spaces kept apart, and "Error N"
// where there is no text. Test thread.
#include <curl/curl.h>

#include <cerrno>

#include "download/system_error.h"
#include "tests/linux/harness.h"

namespace {

TEST(LinuxErrorText, SystemAndLibcurlCodesEachHaveTheirOwnTexts) {
    EXPECT_EQ(FormatSystemError(SystemError(EEXIST), false), "File exists");
    EXPECT_EQ(FormatSystemError(SystemError(ENOSPC), false), "No space left on device");
    // 1 is both EPERM and CURLE_UNSUPPORTED_PROTOCOL: the space decides.
    EXPECT_EQ(FormatSystemError(SystemError(1), false), "Operation not permitted");
    EXPECT_EQ(FormatSystemError(NetworkError(1), false), "Unsupported protocol");
    EXPECT_EQ(FormatSystemError(NetworkError(CURLE_COULDNT_CONNECT), false),
              "Could not connect to the server.");
}

TEST(LinuxErrorText, NetworkFailuresAUserMeetsHaveTheProgramsOwnSentences) {
    struct Case {
        ErrorCode code;
        const char* english;
        const char* russian;
    };
    const auto certificate = [](long check) {
        ErrorCode code = NetworkError(CURLE_PEER_FAILED_VERIFICATION);
        code.certificateCheck = check;
        return code;
    };
    ErrorCode proxyRefused = NetworkError(CURLE_RECV_ERROR);
    proxyRefused.proxyStatus = 403;
    for (const Case& c : {
             Case{NetworkError(CURLE_OPERATION_TIMEDOUT), "The server did not respond in time.",
                  "Время ожидания ответа сервера истекло."},
             Case{certificate(10), "The server's certificate has expired.",
                  "Срок действия сертификата сервера истёк."},
             Case{certificate(62), "The server's certificate was issued for a different site.",
                  "Сертификат сервера выдан для другого сайта."},
             Case{NetworkError(CURLE_SSL_CONNECT_ERROR),
                  "A secure connection to the server could not be established.",
                  "Не удалось установить защищённое соединение с сервером."},
             Case{NetworkError(CURLE_GOT_NOTHING),
                  "The connection was closed before the download was complete.",
                  "Соединение было разорвано до завершения загрузки."},
             Case{NetworkError(CURLE_COULDNT_RESOLVE_PROXY),
                  "Proxy server not found. Check the proxy settings.",
                  "Прокси-сервер не найден. Проверьте настройки прокси-сервера."},
             Case{proxyRefused, "The proxy server refused the connection.",
                  "Прокси-сервер отклонил подключение."},
         }) {
        EXPECT_EQ(FormatSystemError(c.code, false), c.english);
        EXPECT_EQ(FormatSystemError(c.code, true), c.russian);
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
