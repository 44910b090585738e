// The portable core on its own, natively: the UTF-8 text table, the list line with its extension
// cut in UTF-16 units, the Content-Length reading with either set of white space, the request
// target and port text, the outcome precedence, the staging name and the language rules. The
// Windows edition's unit and engine tests check the same rules through its UTF-16 edge.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/content_length.h"
#include "core/outcome_precedence.h"
#include "core/progress_text.h"
#include "core/request_target.h"
#include "core/session_entry.h"
#include "core/staging_name.h"
#include "core/texts.h"
#include "core/ui_language.h"

namespace {

TEST(CoreTexts, EveryPairHasBothLanguagesAndTheTypographicCharactersAreUtf8) {
#define CHECK_PAIR(key, en, ru)                                                                    \
    EXPECT_STRNE(core::key.english, "") << #key;                                                   \
    EXPECT_STRNE(core::key.russian, core::key.english) << #key;
    QUILLMERE_TEXT_PAIRS(CHECK_PAIR)
#undef CHECK_PAIR
    EXPECT_STREQ(core::TextBrowseButton.english, "Browse\xE2\x80\xA6");
    EXPECT_STREQ(core::TextBucket1To100Mib.russian, "1\xE2\x80\x93"
                                                    "100 \xD0\x9C\xD0\xB8\xD0\x91");
    EXPECT_STREQ(core::TextNameSeparator, "  \xE2\x80\x94  ");
    EXPECT_STREQ(core::TextEntrySeparator, " \xC2\xB7 ");
    EXPECT_STREQ(core::SelectText(core::TextDownloadFailed, true), "Ошибка загрузки.");
}

TEST(CoreSessionLine, NameExtensionBucketAndCount) {
    EXPECT_EQ(core::FormatSessionListLine("/home/u/Загрузки/setup.exe", 1048575, false),
              "setup.exe  \xE2\x80\x94  .exe \xC2\xB7 under 1 MiB \xC2\xB7 1048575 bytes");
    EXPECT_EQ(core::FormatSessionListLine("C:\\d\\archive.tar.gz", 104857600, true),
              "archive.tar.gz  —  .gz · 100 МиБ и больше · 104857600 байт");
    EXPECT_EQ(core::FormatSessionEntry("/a.b/file", 1048576, false),
              "(no extension) \xC2\xB7 1\xE2\x80\x93"
              "100 MiB \xC2\xB7 1048576 bytes");
    EXPECT_EQ(core::FileNameOfPath("noseparator"), "noseparator");
}

TEST(CoreSessionLine, TheExtensionIsCutAfter24Utf16Units) {
    EXPECT_EQ(core::FileExtension("/f." + std::string(30, 'x')), "." + std::string(23, 'x'));
    // Cyrillic letters are one unit each, however many bytes they take.
    std::string cyrillic;
    for (int i = 0; i < 30; ++i) {
        cyrillic += "я";
    }
    std::string expected = ".";
    for (int i = 0; i < 23; ++i) {
        expected += "я";
    }
    EXPECT_EQ(core::FileExtension("/f" + std::string(".") + cyrillic), expected);
    // A character outside the Basic Multilingual Plane is two units: cut in the middle, its high
    // surrogate stays, as a UTF-16 cut would leave it.
    EXPECT_EQ(core::FileExtension("/f." + std::string(22, 'x') + "\xF0\x9F\x98\x80" + "y"),
              "." + std::string(22, 'x') + "\xED\xA0\xBD");
    EXPECT_EQ(core::FileExtension("/f." + std::string(21, 'x') + "\xF0\x9F\x98\x80" + "y"),
              "." + std::string(21, 'x') + "\xF0\x9F\x98\x80");
}

TEST(CoreProgressText, WithAndWithoutTheTotal) {
    EXPECT_EQ(core::ComposeProgressText(false, 0, false, 0), "Received: 0 bytes");
    EXPECT_EQ(core::ComposeProgressText(false, 1500, true, 4096), "Received: 1500 / 4096 bytes");
    EXPECT_EQ(core::ComposeProgressText(true, 1500, true, 4096), "Получено: 1500 / 4096 байт");
}

TEST(CoreContentLength, ReadsUnsignedDecimalAfterTheWhiteSpaceOfItsPlatform) {
    using core::LeadingSpace;
    using core::ParseContentLength;
    for (const LeadingSpace spaces : {LeadingSpace::Ascii, LeadingSpace::Unicode}) {
        EXPECT_EQ(ParseContentLength("0", spaces), 0u);
        EXPECT_EQ(ParseContentLength("+5", spaces), 5u);
        EXPECT_EQ(ParseContentLength(" \t\r\n42", spaces), 42u);
        EXPECT_EQ(ParseContentLength("18446744073709551616", spaces), UINT64_MAX);
        EXPECT_EQ(ParseContentLength(std::string("7\0junk", 6), spaces), 7u);
        for (const char* refused :
             {"", " ", "+", "-1", " -1", "-0", "12abc", "0x10", "5 ", "+-1"}) {
            EXPECT_FALSE(ParseContentLength(refused, spaces).has_value()) << refused;
        }
    }
    // U+00A0 and U+3000 are white space to msvcrt's wcstoull, not to a header read as bytes.
    EXPECT_EQ(ParseContentLength("\xC2\xA0\xE3\x80\x80"
                                 "9",
                                 LeadingSpace::Unicode),
              9u);
    EXPECT_FALSE(ParseContentLength("\xC2\xA0"
                                    "9",
                                    LeadingSpace::Ascii)
                     .has_value());
    EXPECT_FALSE(ParseContentLength("\xC2\x85"
                                    "9",
                                    LeadingSpace::Unicode)
                     .has_value());
}

TEST(CoreRequestTarget, PathOrSlashThenTheQueryNeverTheFragmentAndThePortFromItsDigits) {
    EXPECT_EQ(core::ComposeRequestTarget(""), "/");
    EXPECT_EQ(core::ComposeRequestTarget("?x=1"), "/?x=1");
    EXPECT_EQ(core::ComposeRequestTarget("/dir/file.zip?v=2#part"), "/dir/file.zip?v=2");
    EXPECT_EQ(core::ComposeRequestTarget("/a#b?c#d"), "/a");
    EXPECT_EQ(core::ComposeRequestTarget("/%20?%41"), "/%20?%41");
    std::uint32_t port = 0;
    EXPECT_TRUE(core::ReadPort("8443", port));
    EXPECT_EQ(port, 8443u);
    EXPECT_TRUE(core::ReadPort("000000065535", port));
    EXPECT_EQ(port, 65535u);
    // 2^32 + 443 would wrap a 32-bit count around to 443.
    for (const char* refused : {"", "0", "65536", "4294967739", "8x", "-1", " 1", "１"}) {
        EXPECT_FALSE(core::ReadPort(refused, port)) << refused;
    }
}

TEST(CoreOutcome, CommittedStaysCancellationWinsAndOnlyAMessagelessFailureTakesTheCodeText) {
    struct Case {
        bool succeeded, cancelled, hasMessage, cancelRequested;
        bool endsCancelled, needsErrorText;
    };
    for (const Case& c :
         {Case{true, false, false, true, false, false},
          Case{false, false, false, false, false, true},
          Case{false, false, true, false, false, false},
          Case{false, false, true, true, true, false}, Case{false, true, false, false, true, false},
          Case{false, false, false, true, true, false}}) {
        const core::Settlement s =
            core::SettleOutcome(c.succeeded, c.cancelled, c.hasMessage, c.cancelRequested);
        EXPECT_EQ(s.cancelled, c.endsCancelled);
        EXPECT_EQ(s.needsErrorText, c.needsErrorText);
    }
}

TEST(CoreStaging, NameAndMark) {
    EXPECT_EQ(core::StagingFileName("/home/u/setup.exe", 716, 0),
              "/home/u/setup.exe.quillmere-716-0.part");
    EXPECT_EQ(core::StagingFileName("x", 4294967295u, 99), "x.quillmere-4294967295-99.part");
    EXPECT_EQ(std::string(core::ZoneIdentifierText, sizeof core::ZoneIdentifierText),
              "[ZoneTransfer]\r\nZoneId=3\r\n");
}

// A name the dialog accepted must not fail at its staging file: the destination's part gives way,
// whole characters at a time, counted as the file system counts them; folders stay as they are.
TEST(CoreStaging, LongNamesAreShortenedToTheFileSystemsLimit) {
    const auto lastName = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
    const core::NameLimit bytes{255};
    const std::string ascii(250, 'a');
    std::string name = core::StagingFileName("/d\\ir/" + ascii, 716, 9, bytes);
    EXPECT_EQ(name, "/d\\ir/" + ascii.substr(0, 234) + ".quillmere-716-9.part");
    EXPECT_EQ(lastName(core::StagingFileName("/d/" + ascii, 716, 10, bytes)).size(), 255u);
    // Two bytes a letter: an odd budget leaves a byte unused rather than half a letter.
    std::string cyrillic;
    for (int i = 0; i < 120; ++i) {
        cyrillic += "ж";
    }
    name = lastName(core::StagingFileName("/d/" + cyrillic, 716, 10, bytes));
    EXPECT_EQ(name, cyrillic.substr(0, 232) + ".quillmere-716-10.part");
    // UTF-16 units: a letter is one unit, a character beyond the BMP two; '\\' ends a folder.
    const core::NameLimit units{255, true, "\\/"};
    std::string wide;
    for (int i = 0; i < 60; ++i) {
        wide += "ж\U0001F600";
    }
    name = core::StagingFileName("N:\\x\\" + wide + wide, 716, 10, units);
    EXPECT_EQ(name, "N:\\x\\" + wide + wide.substr(0, 6 * 17) + "ж.quillmere-716-10.part");
    // Short names, and no known limit, keep the whole path.
    EXPECT_EQ(core::StagingFileName("/d/" + ascii, 716, 0),
              "/d/" + ascii + ".quillmere-716-0.part");
    EXPECT_EQ(core::StagingFileName("/d/x", 716, 0, bytes), "/d/x.quillmere-716-0.part");
}

TEST(CoreUiLanguage, RussianExactlyWhenTheChosenSettingsLanguageIsRu) {
    EXPECT_TRUE(core::IsRussianUiLanguage(0x0419));
    EXPECT_TRUE(core::IsRussianUiLanguage(0x0819));
    EXPECT_FALSE(core::IsRussianUiLanguage(0x0422));
    using core::IsRussianLocale;
    EXPECT_TRUE(IsRussianLocale(nullptr, nullptr, nullptr, "ru_RU.UTF-8"));
    EXPECT_TRUE(IsRussianLocale("ru:en", "en_US.UTF-8", nullptr, nullptr));
    EXPECT_FALSE(IsRussianLocale("en:ru", nullptr, nullptr, "ru_RU.UTF-8"));
    EXPECT_TRUE(IsRussianLocale("", "ru_UA", "en_GB", "en_US"));
    EXPECT_FALSE(IsRussianLocale(nullptr, "", "en_GB.UTF-8", "ru_RU.UTF-8"));
    EXPECT_TRUE(IsRussianLocale(":en", nullptr, "ru@latin", nullptr));
    EXPECT_TRUE(IsRussianLocale(nullptr, nullptr, nullptr, "ru"));
    for (const char* other : {"rue_UA", "C", "POSIX", "C.UTF-8", "uk_UA.UTF-8", "be_BY", "r"}) {
        EXPECT_FALSE(IsRussianLocale(nullptr, nullptr, nullptr, other)) << other;
    }
    EXPECT_FALSE(IsRussianLocale(nullptr, nullptr, nullptr, nullptr));
}

} // namespace
