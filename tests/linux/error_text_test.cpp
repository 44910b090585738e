// The texts of error codes: the system's for errno values, in Russian where the system has a
// Russian locale (the bed makes one), libcurl's for libcurl results, the two number spaces kept
// apart, and "Error N" where there is no text. Test thread.
#include <curl/curl.h>

#include <cerrno>

#include "download/system_error.h"
#include "tests/linux/harness.h"

namespace {

TEST(LinuxErrorText, SystemAndLibcurlCodesEachHaveTheirOwnTexts) {
    EXPECT_EQ(FormatSystemError(SystemError(EEXIST), false), "File exists");
    EXPECT_EQ(FormatSystemError(SystemError(ENOSPC), false), "No space left on device");
    EXPECT_EQ(FormatSystemError(NetworkError(CURLE_COULDNT_CONNECT), false),
              "Couldn't connect to server");
    // 7 is both E2BIG and CURLE_COULDNT_CONNECT: the space decides.
    EXPECT_EQ(FormatSystemError(SystemError(7), false), "Argument list too long");
    EXPECT_EQ(FormatSystemError(NetworkError(7), false), "Couldn't connect to server");
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
    EXPECT_EQ(FormatSystemError(NetworkError(CURLE_COULDNT_CONNECT), true),
              "Couldn't connect to server");
}

} // namespace
