// Every text pair and fixed text the program shows, compared code unit by code unit in both
// languages, and the picking of a pair's member by the language flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_state.h"
#include "text/texts.h"

namespace {

struct ExpectedPair {
    const char* key;
    const TextPair& pair;
    const wchar_t* english;
    const wchar_t* russian;
};

struct ExpectedFixed {
    const char* key;
    const wchar_t* text;
    const wchar_t* expected;
};

void ExpectPairs(const std::vector<ExpectedPair>& pairs) {
    for (const ExpectedPair& expected : pairs) {
        SCOPED_TRACE(expected.key);
        ASSERT_NE(expected.pair.english, nullptr);
        ASSERT_NE(expected.pair.russian, nullptr);
        EXPECT_EQ(std::wstring(expected.pair.english), std::wstring(expected.english));
        EXPECT_EQ(std::wstring(expected.pair.russian), std::wstring(expected.russian));
    }
}

// Labels, captions and the first status line of the main window.
const std::vector<ExpectedPair>& MainWindowPairs() {
    static const std::vector<ExpectedPair> pairs{
        {"TextUrlLabel", TextUrlLabel, L"HTTPS link",
         // HTTPS-ссылка
         L"HTTPS-\u0441\u0441\u044b\u043b\u043a\u0430"},
        {"TextSaveAsLabel", TextSaveAsLabel, L"Save as",
         // Сохранить как
         L"\u0421\u043e\u0445\u0440\u0430\u043d\u0438\u0442\u044c \u043a\u0430\u043a"},
        {"TextBrowseButton", TextBrowseButton, L"Browse\u2026",
         // Выбрать…
         L"\u0412\u044b\u0431\u0440\u0430\u0442\u044c\u2026"},
        {"TextDownloadButton", TextDownloadButton, L"Download",
         // Скачать
         L"\u0421\u043a\u0430\u0447\u0430\u0442\u044c"},
        {"TextCancelButton", TextCancelButton, L"Cancel",
         // Отменить
         L"\u041e\u0442\u043c\u0435\u043d\u0438\u0442\u044c"},
        {"TextReady", TextReady, L"Ready to download",
         // Готово к загрузке
         L"\u0413\u043e\u0442\u043e\u0432\u043e \u043a "
         L"\u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0435"},
        {"TextHistoryLabel", TextHistoryLabel, L"Downloads this session: format and size",
         // Загрузки за этот запуск: формат и размер
         L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438 \u0437\u0430 "
         L"\u044d\u0442\u043e\u0442 \u0437\u0430\u043f\u0443\u0441\u043a: "
         L"\u0444\u043e\u0440\u043c\u0430\u0442 \u0438 \u0440\u0430\u0437\u043c\u0435\u0440"},
    };
    return pairs;
}

// The Save As filter, the message boxes and status lines of the commands, and the reason Windows
// is given while a download holds up a logoff.
const std::vector<ExpectedPair>& CommandPairs() {
    static const std::vector<ExpectedPair> pairs{
        {"TextAllFilesFilter", TextAllFilesFilter, L"All files",
         // Все файлы
         L"\u0412\u0441\u0435 \u0444\u0430\u0439\u043b\u044b"},
        {"TextEnterLinkAndTarget", TextEnterLinkAndTarget,
         L"Enter a link and select where to save the file.",
         // Укажите ссылку и выберите место сохранения.
         L"\u0423\u043a\u0430\u0436\u0438\u0442\u0435 \u0441\u0441\u044b\u043b\u043a\u0443 "
         L"\u0438 \u0432\u044b\u0431\u0435\u0440\u0438\u0442\u0435 \u043c\u0435\u0441\u0442\u043e "
         L"\u0441\u043e\u0445\u0440\u0430\u043d\u0435\u043d\u0438\u044f."},
        {"TextCouldNotStart", TextCouldNotStart, L"Could not start download.",
         // Не удалось начать загрузку.
         L"\u041d\u0435 \u0443\u0434\u0430\u043b\u043e\u0441\u044c "
         L"\u043d\u0430\u0447\u0430\u0442\u044c \u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0443."},
        {"TextConnecting", TextConnecting, L"Connecting\u2026",
         // Подключение…
         L"\u041f\u043e\u0434\u043a\u043b\u044e\u0447\u0435\u043d\u0438\u0435\u2026"},
        {"TextCancelling", TextCancelling, L"Cancelling\u2026",
         // Отмена…
         L"\u041e\u0442\u043c\u0435\u043d\u0430\u2026"},
        {"TextDownloadInProgress", TextDownloadInProgress, L"A download is in progress.",
         // Идёт загрузка.
         L"\u0418\u0434\u0451\u0442 \u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0430."},
    };
    return pairs;
}

// The progress text pieces and the three outcome status lines.
const std::vector<ExpectedPair>& ProgressPairs() {
    static const std::vector<ExpectedPair> pairs{
        {"TextReceivedPrefix", TextReceivedPrefix, L"Received: ",
         // "Получено: "
         L"\u041f\u043e\u043b\u0443\u0447\u0435\u043d\u043e: "},
        {"TextBytesUnit", TextBytesUnit, L" bytes",
         // " байт"
         L" \u0431\u0430\u0439\u0442"},
        {"TextDownloadCompleted", TextDownloadCompleted, L"Download completed.",
         // Загрузка завершена.
         L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0430 "
         L"\u0437\u0430\u0432\u0435\u0440\u0448\u0435\u043d\u0430."},
        {"TextDownloadCancelled", TextDownloadCancelled, L"Download cancelled.",
         // Загрузка отменена.
         L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0430 "
         L"\u043e\u0442\u043c\u0435\u043d\u0435\u043d\u0430."},
        {"TextDownloadFailed", TextDownloadFailed, L"Download failed.",
         // Ошибка загрузки.
         L"\u041e\u0448\u0438\u0431\u043a\u0430 \u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0438."},
    };
    return pairs;
}

// The error texts the download worker picks.
const std::vector<ExpectedPair>& WorkerErrorPairs() {
    static const std::vector<ExpectedPair> pairs{
        {"TextEnterValidHttpsUrl", TextEnterValidHttpsUrl,
         L"Enter a valid HTTPS URL without a username or password.",
         // Укажите корректную HTTPS-ссылку без имени пользователя и пароля.
         L"\u0423\u043a\u0430\u0436\u0438\u0442\u0435 "
         L"\u043a\u043e\u0440\u0440\u0435\u043a\u0442\u043d\u0443\u044e "
         L"HTTPS-\u0441\u0441\u044b\u043b\u043a\u0443 \u0431\u0435\u0437 "
         L"\u0438\u043c\u0435\u043d\u0438 "
         L"\u043f\u043e\u043b\u044c\u0437\u043e\u0432\u0430\u0442\u0435\u043b\u044f \u0438 "
         L"\u043f\u0430\u0440\u043e\u043b\u044f."},
        {"TextServerReturnedHttp", TextServerReturnedHttp, L"Server returned HTTP ",
         // "Сервер вернул HTTP "
         L"\u0421\u0435\u0440\u0432\u0435\u0440 \u0432\u0435\u0440\u043d\u0443\u043b HTTP "},
        {"TextInvalidContentLength", TextInvalidContentLength,
         L"Invalid Content-Length from server.",
         // Некорректный размер файла в ответе сервера.
         L"\u041d\u0435\u043a\u043e\u0440\u0440\u0435\u043a\u0442\u043d\u044b\u0439 "
         L"\u0440\u0430\u0437\u043c\u0435\u0440 \u0444\u0430\u0439\u043b\u0430 \u0432 "
         L"\u043e\u0442\u0432\u0435\u0442\u0435 \u0441\u0435\u0440\u0432\u0435\u0440\u0430."},
        {"TextSizeMismatch", TextSizeMismatch,
         L"Received size does not match the server's Content-Length.",
         // Размер полученных данных не совпадает с размером, указанным сервером.
         L"\u0420\u0430\u0437\u043c\u0435\u0440 "
         L"\u043f\u043e\u043b\u0443\u0447\u0435\u043d\u043d\u044b\u0445 "
         L"\u0434\u0430\u043d\u043d\u044b\u0445 \u043d\u0435 "
         L"\u0441\u043e\u0432\u043f\u0430\u0434\u0430\u0435\u0442 \u0441 "
         L"\u0440\u0430\u0437\u043c\u0435\u0440\u043e\u043c, "
         L"\u0443\u043a\u0430\u0437\u0430\u043d\u043d\u044b\u043c "
         L"\u0441\u0435\u0440\u0432\u0435\u0440\u043e\u043c."},
    };
    return pairs;
}

// The size buckets of a session list entry.
const std::vector<ExpectedPair>& BucketPairs() {
    static const std::vector<ExpectedPair> pairs{
        {"TextBucketUnder1Mib", TextBucketUnder1Mib, L"under 1 MiB",
         // меньше 1 МиБ
         L"\u043c\u0435\u043d\u044c\u0448\u0435 1 \u041c\u0438\u0411"},
        {"TextBucket1To100Mib", TextBucket1To100Mib, L"1\u2013100 MiB",
         // 1–100 МиБ
         L"1\u2013100 \u041c\u0438\u0411"},
        {"TextBucket100MibAndOver", TextBucket100MibAndOver, L"100 MiB and over",
         // 100 МиБ и больше
         L"100 \u041c\u0438\u0411 \u0438 \u0431\u043e\u043b\u044c\u0448\u0435"},
    };
    return pairs;
}

const std::vector<ExpectedFixed>& FixedTexts() {
    static const std::vector<ExpectedFixed> texts{
        {"TextAppTitle", TextAppTitle, L"Quillmere"},
        {"TextNoExtension", TextNoExtension, L"(no extension)"},
        {"TextErrorPrefix", TextErrorPrefix, L"Error "},
        {"TextEntrySeparator", TextEntrySeparator, L" \u00b7 "},
        {"TextNameSeparator", TextNameSeparator, L"  \u2014  "},
        {"TextProgressSeparator", TextProgressSeparator, L" / "},
    };
    return texts;
}

std::vector<const ExpectedPair*> AllPairs() {
    std::vector<const ExpectedPair*> all;
    for (const auto* group : {&MainWindowPairs(), &CommandPairs(), &ProgressPairs(),
                              &WorkerErrorPairs(), &BucketPairs()}) {
        for (const ExpectedPair& pair : *group) {
            all.push_back(&pair);
        }
    }
    return all;
}

// Every text the program owns, as it is stored in the program.
std::vector<std::pair<std::string, std::wstring>> AllProgramTexts() {
    std::vector<std::pair<std::string, std::wstring>> texts;
    for (const ExpectedPair* pair : AllPairs()) {
        texts.emplace_back(std::string(pair->key) + " (English)", pair->pair.english);
        texts.emplace_back(std::string(pair->key) + " (Russian)", pair->pair.russian);
    }
    for (const ExpectedFixed& fixed : FixedTexts()) {
        texts.emplace_back(fixed.key, fixed.text);
    }
    return texts;
}

std::size_t CountOf(const std::wstring& text, wchar_t unit) {
    std::size_t count = 0;
    for (wchar_t c : text) {
        if (c == unit) {
            ++count;
        }
    }
    return count;
}

} // namespace

TEST(Texts, MainWindowPairsMatchCharacterForCharacter) {
    ExpectPairs(MainWindowPairs());
}

TEST(Texts, CommandPairsMatchCharacterForCharacter) {
    ExpectPairs(CommandPairs());
}

TEST(Texts, ProgressAndOutcomePairsMatchCharacterForCharacter) {
    ExpectPairs(ProgressPairs());
}

TEST(Texts, WorkerErrorPairsMatchCharacterForCharacter) {
    ExpectPairs(WorkerErrorPairs());
}

TEST(Texts, SizeBucketPairsMatchCharacterForCharacter) {
    ExpectPairs(BucketPairs());
}

TEST(Texts, FixedTextsMatchCharacterForCharacter) {
    for (const ExpectedFixed& fixed : FixedTexts()) {
        SCOPED_TRACE(fixed.key);
        ASSERT_NE(fixed.text, nullptr);
        EXPECT_EQ(std::wstring(fixed.text), std::wstring(fixed.expected));
    }
}

TEST(Texts, EllipsisIsOneCharacterAtTheEnd) {
    const std::vector<std::pair<const char*, std::wstring>> texts{
        {"Browse (English)", TextBrowseButton.english},
        {"Browse (Russian)", TextBrowseButton.russian},
        {"Connecting (English)", TextConnecting.english},
        {"Connecting (Russian)", TextConnecting.russian},
        {"Cancelling (English)", TextCancelling.english},
        {"Cancelling (Russian)", TextCancelling.russian},
    };
    for (const auto& [key, text] : texts) {
        SCOPED_TRACE(key);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), L'\u2026');
        EXPECT_EQ(CountOf(text, L'\u2026'), 1u);
        EXPECT_EQ(text.find(L'.'), std::wstring::npos);
    }
    EXPECT_EQ(std::wstring(TextBrowseButton.english).size(), 7u);
    EXPECT_EQ(std::wstring(TextCancelling.russian).size(), 7u);
}

TEST(Texts, DashesAndDotsAreTheTypographicCharacters) {
    for (const wchar_t* bucket : {TextBucket1To100Mib.english, TextBucket1To100Mib.russian}) {
        std::wstring text = bucket;
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text[1], L'\u2013') << "the range needs the en dash";
        EXPECT_EQ(text.find(L'-'), std::wstring::npos);
    }
    const std::wstring name = TextNameSeparator;
    ASSERT_EQ(name.size(), 5u);
    EXPECT_EQ(name[0], L' ');
    EXPECT_EQ(name[1], L' ');
    EXPECT_EQ(name[2], L'\u2014');
    EXPECT_EQ(name[3], L' ');
    EXPECT_EQ(name[4], L' ');
    const std::wstring entry = TextEntrySeparator;
    ASSERT_EQ(entry.size(), 3u);
    EXPECT_EQ(entry[0], L' ');
    EXPECT_EQ(entry[1], L'\u00b7');
    EXPECT_EQ(entry[2], L' ');
}

TEST(Texts, ApostropheAndHyphensArePlainAscii) {
    const std::wstring mismatch = TextSizeMismatch.english;
    std::size_t apostrophe = mismatch.find(L"server");
    ASSERT_NE(apostrophe, std::wstring::npos);
    EXPECT_EQ(mismatch[apostrophe + 6], L'\u0027');
    EXPECT_EQ(CountOf(mismatch, L'\u2019'), 0u);

    const std::wstring link = TextUrlLabel.russian;
    ASSERT_GT(link.size(), 5u);
    EXPECT_EQ(link[5], L'\u002d');
    const std::wstring refused = TextEnterValidHttpsUrl.russian;
    std::size_t https = refused.find(L"HTTPS");
    ASSERT_NE(https, std::wstring::npos);
    EXPECT_EQ(refused[https + 5], L'\u002d');
    EXPECT_EQ(std::wstring(TextInvalidContentLength.english).find(L"Content\u002dLength"), 8u);
}

TEST(Texts, LeadingAndTrailingSpacesArePartOfTheText) {
    for (const wchar_t* text :
         {TextServerReturnedHttp.english, TextServerReturnedHttp.russian,
          TextReceivedPrefix.english, TextReceivedPrefix.russian, TextErrorPrefix}) {
        std::wstring value = text;
        ASSERT_GE(value.size(), 2u);
        EXPECT_EQ(value.back(), L' ');
        EXPECT_NE(value[value.size() - 2], L' ');
        EXPECT_NE(value.front(), L' ');
    }
    for (const wchar_t* text : {TextBytesUnit.english, TextBytesUnit.russian}) {
        std::wstring value = text;
        ASSERT_GE(value.size(), 2u);
        EXPECT_EQ(value.front(), L' ');
        EXPECT_NE(value[1], L' ');
        EXPECT_NE(value.back(), L' ');
    }
}

TEST(Texts, NoTextHoldsNonBreakingSpaceTabOrLineBreak) {
    const std::wstring forbidden{L'\u00a0', L'\u2007', L'\u202f', L'\t',     L'\n',    L'\r',
                                 L'\v',     L'\f',     L'\u0085', L'\u2028', L'\u2029'};
    for (const auto& [key, text] : AllProgramTexts()) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of(forbidden), std::wstring::npos);
    }
}

TEST(Texts, CharactersComeFromTheExpectedScripts) {
    // English texts are ASCII but for the typographic characters; Russian texts add Cyrillic.
    // A Latin look-alike inside a Russian word, or a Cyrillic one in an English text, shows here
    // by name even where the full comparison already failed.
    auto isTypographic = [](wchar_t c) {
        return c == L'\u2026' || c == L'\u2013' || c == L'\u2014' || c == L'\u00b7';
    };
    for (const ExpectedPair* pair : AllPairs()) {
        SCOPED_TRACE(pair->key);
        for (wchar_t c : std::wstring(pair->pair.english)) {
            EXPECT_TRUE((c >= 0x20 && c < 0x7f) || isTypographic(c))
                << "English text holds U+" << std::hex << static_cast<unsigned>(c);
        }
        for (wchar_t c : std::wstring(pair->pair.russian)) {
            EXPECT_TRUE((c >= 0x20 && c < 0x7f) || (c >= 0x0400 && c <= 0x045f) || isTypographic(c))
                << "Russian text holds U+" << std::hex << static_cast<unsigned>(c);
        }
    }
    // Only these Latin words appear in the Russian texts.
    const std::wstring allowedLatin = L"HTTPS";
    for (const ExpectedPair* pair : AllPairs()) {
        SCOPED_TRACE(pair->key);
        std::wstring russian = pair->pair.russian;
        for (std::size_t i = 0; i < russian.size(); ++i) {
            wchar_t c = russian[i];
            bool latinLetter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
            if (latinLetter) {
                EXPECT_NE(allowedLatin.find(c), std::wstring::npos)
                    << "Latin letter '" << static_cast<char>(c) << "' at " << i;
            }
        }
    }
}

TEST(Texts, SelectTextPicksTheMemberOfTheLanguage) {
    const TextPair local{L"first", L"second"};
    EXPECT_EQ(SelectText(local, false), local.english);
    EXPECT_EQ(SelectText(local, true), local.russian);
    for (const ExpectedPair* pair : AllPairs()) {
        SCOPED_TRACE(pair->key);
        EXPECT_EQ(std::wstring(SelectText(pair->pair, false)), std::wstring(pair->english));
        EXPECT_EQ(std::wstring(SelectText(pair->pair, true)), std::wstring(pair->russian));
    }
}

TEST(Texts, TextFollowsTheRunLanguageFlag) {
    const bool saved = appGlobals.russianUi;
    appGlobals.russianUi = false;
    EXPECT_EQ(std::wstring(Text(TextDownloadButton)), std::wstring(L"Download"));
    EXPECT_EQ(std::wstring(Text(TextBucket1To100Mib)), std::wstring(L"1\u2013100 MiB"));
    appGlobals.russianUi = true;
    // Скачать
    EXPECT_EQ(std::wstring(Text(TextDownloadButton)),
              std::wstring(L"\u0421\u043a\u0430\u0447\u0430\u0442\u044c"));
    EXPECT_EQ(std::wstring(Text(TextBucket1To100Mib)),
              std::wstring(L"1\u2013100 \u041c\u0438\u0411"));
    appGlobals.russianUi = saved;
}
