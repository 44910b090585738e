// The session list line of a completed download: file name, extension, size bucket and byte
// count, in both interface languages.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "download/download_state.h"
#include "history/session_entry.h"

namespace {

// Pieces of the expected lines, spelled out.
const std::wstring dash = L"  \u2014  ";
const std::wstring dot = L" \u00b7 ";
const std::wstring underEn = L"under 1 MiB";
const std::wstring middleEn = L"1\u2013100 MiB";
const std::wstring topEn = L"100 MiB and over";
const std::wstring underRu = L"\u043c\u0435\u043d\u044c\u0448\u0435 1 \u041c\u0438\u0411";
const std::wstring middleRu = L"1\u2013100 \u041c\u0438\u0411";
const std::wstring topRu = L"100 \u041c\u0438\u0411 \u0438 \u0431\u043e\u043b\u044c\u0448\u0435";
const std::wstring bytesRu = L" \u0431\u0430\u0439\u0442";

// Sets the interface language for one test and puts English back afterwards.
class SessionFixture : public ::testing::Test {
  protected:
    void SetUp() override { appGlobals.russianUi = false; }
    void TearDown() override { appGlobals.russianUi = false; }
    static void UseRussian() { appGlobals.russianUi = true; }
};

} // namespace

using SessionListLine = SessionFixture;
using SessionEntry = SessionFixture;

// The six worked examples, each as the whole line and as the entry alone.
TEST_F(SessionListLine, WorkedExampleDottedNameEnglish) {
    const std::wstring path = L"C:\\dl\\report.final.PDF";
    EXPECT_EQ(FormatSessionListLine(path, 2048),
              L"report.final.PDF  \u2014  .PDF \u00b7 under 1 MiB \u00b7 2048 bytes");
    EXPECT_EQ(FormatSessionEntry(path, 2048), L".PDF \u00b7 under 1 MiB \u00b7 2048 bytes");
}

TEST_F(SessionListLine, WorkedExampleDottedNameRussian) {
    UseRussian();
    const std::wstring path = L"C:\\dl\\report.final.PDF";
    // report.final.PDF  —  .PDF · меньше 1 МиБ · 2048 байт
    EXPECT_EQ(FormatSessionListLine(path, 2048),
              L"report.final.PDF  \u2014  .PDF \u00b7 "
              L"\u043c\u0435\u043d\u044c\u0448\u0435 1 \u041c\u0438\u0411 \u00b7 2048 "
              L"\u0431\u0430\u0439\u0442");
    EXPECT_EQ(FormatSessionEntry(path, 2048),
              L".PDF \u00b7 \u043c\u0435\u043d\u044c\u0448\u0435 1 \u041c\u0438\u0411 \u00b7 2048 "
              L"\u0431\u0430\u0439\u0442");
}

TEST_F(SessionListLine, WorkedExampleDotInFolderOnly) {
    const std::wstring path = L"C:\\my.files\\README";
    EXPECT_EQ(FormatSessionListLine(path, 0),
              L"README  \u2014  (no extension) \u00b7 under 1 MiB \u00b7 0 bytes");
    EXPECT_EQ(FormatSessionEntry(path, 0), L"(no extension) \u00b7 under 1 MiB \u00b7 0 bytes");
}

TEST_F(SessionListLine, WorkedExampleForwardSlashesAndLastDot) {
    const std::wstring path = L"C:/dl/a.tar.gz";
    EXPECT_EQ(FormatSessionListLine(path, 1048576),
              L"a.tar.gz  \u2014  .gz \u00b7 1\u2013100 MiB \u00b7 1048576 bytes");
    EXPECT_EQ(FormatSessionEntry(path, 1048576), L".gz \u00b7 1\u2013100 MiB \u00b7 1048576 bytes");
}

TEST_F(SessionListLine, WorkedExampleLeadingDot) {
    const std::wstring path = L"C:\\dl\\.profile";
    EXPECT_EQ(FormatSessionListLine(path, 104857599),
              L".profile  \u2014  .profile \u00b7 1\u2013100 MiB \u00b7 104857599 bytes");
    EXPECT_EQ(FormatSessionEntry(path, 104857599),
              L".profile \u00b7 1\u2013100 MiB \u00b7 104857599 bytes");
}

TEST_F(SessionListLine, WorkedExampleTrailingDotRussian) {
    UseRussian();
    const std::wstring path = L"C:\\dl\\name.";
    // name.  —  . · 100 МиБ и больше · 104857600 байт
    EXPECT_EQ(FormatSessionListLine(path, 104857600),
              L"name.  \u2014  . \u00b7 100 \u041c\u0438\u0411 \u0438 "
              L"\u0431\u043e\u043b\u044c\u0448\u0435 \u00b7 104857600 \u0431\u0430\u0439\u0442");
    EXPECT_EQ(FormatSessionEntry(path, 104857600),
              L". \u00b7 100 \u041c\u0438\u0411 \u0438 \u0431\u043e\u043b\u044c\u0448\u0435 "
              L"\u00b7 104857600 \u0431\u0430\u0439\u0442");
}

TEST_F(SessionListLine, EmptyPathBeginsWithTheNameSeparator) {
    EXPECT_EQ(FormatSessionListLine(L"", 0),
              L"  \u2014  (no extension) \u00b7 under 1 MiB \u00b7 0 bytes");
    EXPECT_EQ(FormatSessionEntry(L"", 0), L"(no extension) \u00b7 under 1 MiB \u00b7 0 bytes");
}

TEST_F(SessionListLine, PathEndingInASeparatorHasAnEmptyName) {
    EXPECT_EQ(FormatSessionListLine(L"C:\\dl\\", 5),
              L"  \u2014  (no extension) \u00b7 under 1 MiB \u00b7 5 bytes");
    EXPECT_EQ(FormatSessionListLine(L"C:\\dl.d/", 5),
              L"  \u2014  (no extension) \u00b7 under 1 MiB \u00b7 5 bytes");
}

TEST_F(SessionListLine, FileNameIsNeverShortened) {
    EXPECT_EQ(FormatSessionListLine(L"C:\\x\\a.abcdefghijklmnopqrstuvwxyz", 7),
              L"a.abcdefghijklmnopqrstuvwxyz  \u2014  .abcdefghijklmnopqrstuvw \u00b7 under 1 MiB "
              L"\u00b7 7 bytes");
    const std::wstring longName(300, L'n');
    EXPECT_EQ(FormatSessionListLine(L"C:\\x\\" + longName, 7),
              longName + dash + L"(no extension)" + dot + underEn + dot + L"7 bytes");
}

TEST_F(SessionListLine, NoSeparatorMakesTheWholePathTheName) {
    EXPECT_EQ(FormatSessionListLine(L"notes.txt", 12),
              L"notes.txt  \u2014  .txt \u00b7 under 1 MiB \u00b7 12 bytes");
}

TEST_F(SessionListLine, RussianInterfaceKeepsNoExtensionInEnglish) {
    UseRussian();
    // README  —  (no extension) · меньше 1 МиБ · 0 байт
    EXPECT_EQ(FormatSessionListLine(L"C:\\my.files\\README", 0),
              L"README  \u2014  (no extension) \u00b7 \u043c\u0435\u043d\u044c\u0448\u0435 1 "
              L"\u041c\u0438\u0411 \u00b7 0 \u0431\u0430\u0439\u0442");
}

TEST(FileNameOfPath, TextAfterTheLastSeparator) {
    EXPECT_EQ(FileNameOfPath(L"C:\\dl\\report.final.PDF"), L"report.final.PDF");
    EXPECT_EQ(FileNameOfPath(L"C:/dl/a.tar.gz"), L"a.tar.gz");
    EXPECT_EQ(FileNameOfPath(L"C:\\dl/sub\\file.txt"), L"file.txt");
    EXPECT_EQ(FileNameOfPath(L"C:/dl\\sub/file.txt"), L"file.txt");
    EXPECT_EQ(FileNameOfPath(L"C:\\a/b"), L"b");
    EXPECT_EQ(FileNameOfPath(L"C:/a\\b"), L"b");
    EXPECT_EQ(FileNameOfPath(L"\\\\server\\share\\x.bin"), L"x.bin");
    EXPECT_EQ(FileNameOfPath(L"\\lone"), L"lone");
}

TEST(FileNameOfPath, WholePathWithoutSeparator) {
    EXPECT_EQ(FileNameOfPath(L"notes.txt"), L"notes.txt");
    EXPECT_EQ(FileNameOfPath(L"C:notes.txt"), L"C:notes.txt");
    EXPECT_EQ(FileNameOfPath(L""), L"");
}

TEST(FileNameOfPath, EmptyAfterATrailingSeparator) {
    EXPECT_EQ(FileNameOfPath(L"C:\\dl\\"), L"");
    EXPECT_EQ(FileNameOfPath(L"C:\\dl/"), L"");
    EXPECT_EQ(FileNameOfPath(L"/"), L"");
}

TEST(FileNameOfPath, KeepsEveryCharacter) {
    // отчёт 2024.ДОК
    EXPECT_EQ(FileNameOfPath(L"C:\\dl\\\u043e\u0442\u0447\u0451\u0442 2024.\u0414\u041e\u041a"),
              L"\u043e\u0442\u0447\u0451\u0442 2024.\u0414\u041e\u041a");
    EXPECT_EQ(FileNameOfPath(L"C:\\dl\\ spaced name "), L" spaced name ");
}

TEST_F(SessionEntry, SeparatorsOfBothKinds) {
    // '/' ends a folder name exactly as '\' does, and whichever comes last decides.
    EXPECT_EQ(FormatSessionEntry(L"C:\\a.b/c", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:/a.b\\c", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\a.b/c.d", 1), L".d \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:/x.y\\dir.z/file", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\x.y/dir.z\\file", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"dir.q/file", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
}

TEST_F(SessionEntry, NoSeparatorStillHasAnExtension) {
    EXPECT_EQ(FormatSessionEntry(L"notes.txt", 1), L".txt \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"notes", 1), L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
}

TEST_F(SessionEntry, ExtensionRules) {
    // The dot only in a folder name, a leading dot, a trailing dot, the last of several dots.
    EXPECT_EQ(FormatSessionEntry(L"C:\\my.files\\README", 1),
              L"(no extension) \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\.profile", 1),
              L".profile \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\name.", 1), L". \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\a.tar.gz", 1), L".gz \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl.x\\a.tar.gz", 1),
              L".gz \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\..", 1), L". \u00b7 under 1 MiB \u00b7 1 bytes");
}

TEST_F(SessionEntry, ExtensionKeepsCaseAndEveryCharacter) {
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\Movie.MkV", 1),
              L".MkV \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\odd. tar ", 1),
              L". tar  \u00b7 under 1 MiB \u00b7 1 bytes");
    // отчёт.ДОК
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\\u043e\u0442\u0447\u0451\u0442.\u0414\u041e\u041a", 1),
              L".\u0414\u041e\u041a \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(FormatSessionEntry(L"C:\\dl\\pic.jpeg", 1),
              L".jpeg \u00b7 under 1 MiB \u00b7 1 bytes");
}

TEST_F(SessionEntry, ExtensionIsCutAtTwentyFourUnits) {
    // 26 units: cut to the dot and 23 letters.
    EXPECT_EQ(FormatSessionEntry(L"C:\\x\\a.abcdefghijklmnopqrstuvwxyz", 1),
              L".abcdefghijklmnopqrstuvw \u00b7 under 1 MiB \u00b7 1 bytes");
    // 25 units: the smallest length that is cut.
    EXPECT_EQ(FormatSessionEntry(L"C:\\x\\a.abcdefghijklmnopqrstuvwx", 1),
              L".abcdefghijklmnopqrstuvw \u00b7 under 1 MiB \u00b7 1 bytes");
    // Exactly 24 units stays whole.
    EXPECT_EQ(FormatSessionEntry(L"C:\\x\\a.abcdefghijklmnopqrstuvw", 1),
              L".abcdefghijklmnopqrstuvw \u00b7 under 1 MiB \u00b7 1 bytes");
    // 23 units, untouched.
    EXPECT_EQ(FormatSessionEntry(L"C:\\x\\a.abcdefghijklmnopqrstuv", 1),
              L".abcdefghijklmnopqrstuv \u00b7 under 1 MiB \u00b7 1 bytes");
    // A long extension without any folder.
    EXPECT_EQ(FormatSessionEntry(L"." + std::wstring(1000, L'e'), 1),
              L"." + std::wstring(23, L'e') + dot + underEn + dot + L"1 bytes");
}

TEST_F(SessionEntry, CutIgnoresSurrogatePairs) {
    // U+1F600 as the pair D83D DE00 at units 23 and 24 of the extension: the cut keeps the high
    // surrogate alone.
    const std::wstring letters22 = L"abcdefghijklmnopqrstuv";
    ASSERT_EQ(letters22.size(), 22u);
    const std::wstring straddling = L"C:\\x\\f." + letters22 + L"\xD83D\xDE00";
    const std::wstring entry = FormatSessionEntry(straddling, 1);
    EXPECT_EQ(entry, L"." + letters22 + L"\xD83D" + L" \u00b7 under 1 MiB \u00b7 1 bytes");
    EXPECT_EQ(entry.size(), 24u + 3u + 11u + 3u + 7u);
    // The same pair one unit earlier ends exactly at unit 24 and stays whole.
    const std::wstring letters21 = letters22.substr(0, 21);
    EXPECT_EQ(FormatSessionEntry(L"C:\\x\\f." + letters21 + L"\xD83D\xDE00", 1),
              L"." + letters21 + L"\xD83D\xDE00" + L" \u00b7 under 1 MiB \u00b7 1 bytes");
}

TEST_F(SessionEntry, SizeBucketBoundaries) {
    EXPECT_EQ(FormatSessionEntry(L"a.b", 0), L".b \u00b7 under 1 MiB \u00b7 0 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048575), L".b \u00b7 under 1 MiB \u00b7 1048575 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048576),
              L".b \u00b7 1\u2013100 MiB \u00b7 1048576 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 104857599),
              L".b \u00b7 1\u2013100 MiB \u00b7 104857599 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 104857600),
              L".b \u00b7 100 MiB and over \u00b7 104857600 bytes");
}

TEST_F(SessionEntry, LargeCountsCompareUnsigned) {
    EXPECT_EQ(FormatSessionEntry(L"a.b", 4294967295u),
              L".b \u00b7 100 MiB and over \u00b7 4294967295 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 4294967296ull),
              L".b \u00b7 100 MiB and over \u00b7 4294967296 bytes");
    // A count with bit 31 or bit 63 set would look small or negative to a signed comparison.
    EXPECT_EQ(FormatSessionEntry(L"a.b", 2147483648u),
              L".b \u00b7 100 MiB and over \u00b7 2147483648 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 9223372036854775808ull),
              L".b \u00b7 100 MiB and over \u00b7 9223372036854775808 bytes");
    // 2^32 + 1 MiB - 1: small in its low 32 bits.
    EXPECT_EQ(FormatSessionEntry(L"a.b", 4296015871ull),
              L".b \u00b7 100 MiB and over \u00b7 4296015871 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", std::numeric_limits<std::uint64_t>::max()),
              L".b \u00b7 100 MiB and over \u00b7 18446744073709551615 bytes");
}

TEST_F(SessionEntry, OneByteKeepsThePluralUnit) {
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1), L".b \u00b7 under 1 MiB \u00b7 1 bytes");
    UseRussian();
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1), L".b" + dot + underRu + dot + L"1" + bytesRu);
}

TEST_F(SessionEntry, RussianBucketsAndUnit) {
    UseRussian();
    EXPECT_EQ(FormatSessionEntry(L"a.b", 0), L".b" + dot + underRu + dot + L"0" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048575),
              L".b" + dot + underRu + dot + L"1048575" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048576),
              L".b" + dot + middleRu + dot + L"1048576" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"a.b", 104857599),
              L".b" + dot + middleRu + dot + L"104857599" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"a.b", 104857600),
              L".b" + dot + topRu + dot + L"104857600" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"a.b", std::numeric_limits<std::uint64_t>::max()),
              L".b" + dot + topRu + dot + L"18446744073709551615" + bytesRu);
}

TEST_F(SessionEntry, RussianMissingExtensionStaysEnglish) {
    UseRussian();
    EXPECT_EQ(FormatSessionEntry(L"C:\\my.files\\README", 0),
              L"(no extension)" + dot + underRu + dot + L"0" + bytesRu);
    EXPECT_EQ(FormatSessionEntry(L"", 104857600),
              L"(no extension)" + dot + topRu + dot + L"104857600" + bytesRu);
}

TEST_F(SessionEntry, EnglishAgainAfterRussian) {
    // The language is read at every call, not remembered from an earlier one.
    UseRussian();
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048576),
              L".b" + dot + middleRu + dot + L"1048576" + bytesRu);
    appGlobals.russianUi = false;
    EXPECT_EQ(FormatSessionEntry(L"a.b", 1048576), L".b" + dot + middleEn + dot + L"1048576 bytes");
    EXPECT_EQ(FormatSessionEntry(L"a.b", 104857600),
              L".b" + dot + topEn + dot + L"104857600 bytes");
}
