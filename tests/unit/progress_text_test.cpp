// The status line's progress text in both languages, with and without an announced total.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "app/progress_text.h"
#include "download/download_state.h"

namespace {

constexpr bool english = false;
constexpr bool russian = true;

// "Получено: " and " байт"
const std::wstring receivedRu = L"\u041f\u043e\u043b\u0443\u0447\u0435\u043d\u043e: ";
const std::wstring bytesRu = L" \u0431\u0430\u0439\u0442";

} // namespace

TEST(ProgressText, RightAfterTheStart) {
    EXPECT_EQ(ComposeProgressText(english, 0, false, 0), L"Received: 0 bytes");
    EXPECT_EQ(ComposeProgressText(russian, 0, false, 0),
              L"\u041f\u043e\u043b\u0443\u0447\u0435\u043d\u043e: 0 \u0431\u0430\u0439\u0442");
}

TEST(ProgressText, WithoutTotal) {
    EXPECT_EQ(ComposeProgressText(english, 1500, false, 0), L"Received: 1500 bytes");
    EXPECT_EQ(ComposeProgressText(english, 1, false, 0), L"Received: 1 bytes");
    EXPECT_EQ(ComposeProgressText(russian, 1500, false, 0), receivedRu + L"1500" + bytesRu);
    EXPECT_EQ(ComposeProgressText(russian, 1, false, 0), receivedRu + L"1" + bytesRu);
}

TEST(ProgressText, TotalIsIgnoredWhileNotKnown) {
    EXPECT_EQ(ComposeProgressText(english, 1500, false, 4096), L"Received: 1500 bytes");
    EXPECT_EQ(ComposeProgressText(russian, 1500, false, 4096), receivedRu + L"1500" + bytesRu);
}

TEST(ProgressText, WithTotal) {
    EXPECT_EQ(ComposeProgressText(english, 1500, true, 4096), L"Received: 1500 / 4096 bytes");
    EXPECT_EQ(ComposeProgressText(russian, 1500, true, 4096),
              L"\u041f\u043e\u043b\u0443\u0447\u0435\u043d\u043e: 1500 / 4096 "
              L"\u0431\u0430\u0439\u0442");
    EXPECT_EQ(ComposeProgressText(english, 0, true, 4096), L"Received: 0 / 4096 bytes");
    EXPECT_EQ(ComposeProgressText(english, 0, true, 0), L"Received: 0 / 0 bytes");
    EXPECT_EQ(ComposeProgressText(english, 4096, true, 4096), L"Received: 4096 / 4096 bytes");
}

TEST(ProgressText, LargestCounts) {
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(ComposeProgressText(english, largest, true, largest),
              L"Received: 18446744073709551615 / 18446744073709551615 bytes");
    EXPECT_EQ(ComposeProgressText(english, 4294967296ull, false, 0), L"Received: 4294967296 bytes");
    EXPECT_EQ(ComposeProgressText(russian, largest, false, 0),
              receivedRu + L"18446744073709551615" + bytesRu);
}

TEST(ProgressText, LanguageComesFromTheArgumentAlone) {
    const bool saved = appGlobals.russianUi;
    appGlobals.russianUi = true;
    EXPECT_EQ(ComposeProgressText(english, 1500, true, 4096), L"Received: 1500 / 4096 bytes");
    appGlobals.russianUi = false;
    EXPECT_EQ(ComposeProgressText(russian, 1500, true, 4096),
              receivedRu + L"1500 / 4096" + bytesRu);
    appGlobals.russianUi = saved;
}
