// The file side on a real NTFS volume: staging names, the 100-name limit, the rename with and
// without replacing, files held open by another program for a while, destinations past the old
// 260-character limit, and the Zone.Identifier stream the committed file carries. Test thread;
// each job, and the seam functions it calls, on a worker thread.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "download/platform_seam.h"
#include "download/staging.h"
#include "download/system_error.h"
#include "tests/engine/harness.h"

namespace {

const std::string ZoneText = "[ZoneTransfer]\r\nZoneId=3\r\n";

// What the seam's rename saw, and what it does before calling the real one.
std::wstring renamedFrom;
std::wstring renamedTo;
std::wstring appearingDestination;
BOOL WINAPI RecordingMove(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    renamedFrom = existing;
    renamedTo = newName;
    if (!appearingDestination.empty()) {
        WriteWholeFile(appearingDestination, "appeared after it was chosen");
    }
    return MoveFileExW(existing, newName, flags);
}

// An open of a file the way a virus scanner or another program holds it: others may read and
// write it, but not rename or delete it. Sharing is a matter of open handles, not of processes, so
// a handle of the test's own stands for the other program here (the window tests use a real other
// process).
HANDLE HoldWithoutDelete(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path) << ": " << GetLastError();
    return file;
}

// The held handle and when it was taken; the worker takes it in the seam, the test thread lets go.
std::atomic<HANDLE> heldFile{INVALID_HANDLE_VALUE};
std::atomic<ULONGLONG> heldSince{0};
std::atomic<int> moveCalls{0};

void LetGo() {
    HANDLE file = heldFile.exchange(INVALID_HANDLE_VALUE);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

// A scanner that opens the staging file right after it was closed, just before the rename.
BOOL WINAPI MoveWhileStagingFileIsHeld(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    if (moveCalls++ == 0) {
        heldFile = HoldWithoutDelete(existing);
        heldSince = GetTickCount64();
    }
    return MoveFileExW(existing, newName, flags);
}

// Lets go of the held file holdMs after it was taken, from the test thread while the job runs.
std::function<void()> LetGoAfter(ULONGLONG holdMs) {
    return [holdMs] {
        const ULONGLONG since = heldSince.load();
        if (since != 0 && GetTickCount64() - since >= holdMs) {
            LetGo();
        }
    };
}

// The code the system gives for a rename that meets a held file: Wine says "access denied" for a
// held destination and "sharing violation" for a held source.
DWORD CodeOfRenameOnHeldFile(const std::wstring& directory, bool holdSource) {
    const std::wstring a = directory + L"\\probe-a";
    const std::wstring b = directory + L"\\probe-b";
    WriteWholeFile(a, "a");
    WriteWholeFile(b, "b");
    HANDLE held = HoldWithoutDelete(holdSource ? a : b);
    const BOOL moved = MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING);
    const DWORD code = GetLastError();
    CloseHandle(held);
    EXPECT_FALSE(moved);
    DeleteFileW(a.c_str());
    DeleteFileW(b.c_str());
    return code;
}

// The names in a folder, listed by the system's calls in extended-length form: the C++ library's
// own file functions stop at the old 260-character limit.
std::vector<std::wstring> NamesIn(const std::wstring& folder) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(ExtendedLengthPath(folder + L"\\*").c_str(), &entry);
    while (find != INVALID_HANDLE_VALUE) {
        if (entry.cFileName[0] != L'.') {
            found.push_back(entry.cFileName);
        }
        if (!FindNextFileW(find, &entry)) {
            FindClose(find);
            break;
        }
    }
    return found;
}

class NtfsTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        renamedFrom.clear();
        renamedTo.clear();
        appearingDestination.clear();
        heldSince = 0;
        moveCalls = 0;
    }
    void TearDown() override {
        LetGo();
        EngineTest::TearDown();
    }
    std::wstring StagingOf(unsigned n) const {
        return ExtendedLengthPath(StagingFileName(Target(L"dest.bin"), GetCurrentProcessId(), n));
    }
    std::wstring StagingLeaf(unsigned n) const {
        return std::filesystem::path(StagingOf(n)).filename().wstring();
    }
};

class ZoneMark : public NtfsTest {};

TEST_F(ZoneMark, CommittedFileCarriesExactlyThe26ByteStream) {
    const JobResult result = RunJob(BedUrl(L"/ok/5000"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    ASSERT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);

    const FileRead stream = ReadWholeFile(Target(L"dest.bin") + L":Zone.Identifier");
    ASSERT_TRUE(stream.exists);
    EXPECT_EQ(stream.bytes, ZoneText);
    EXPECT_EQ(stream.bytes.size(), 26u);
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target(L"dest.bin")).bytes, 5000));

    // The same stream as ntfs-3g shows it to Linux, read through Wine's Z: drive.
    std::wstring linuxPath = L"Z:" + BedVariable(L"QM_NTFS_MOUNT") + L"\\engine\\" +
                             std::filesystem::path(directory).filename().wstring() +
                             L"\\dest.bin:Zone.Identifier";
    for (wchar_t& c : linuxPath) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    const FileRead fromLinux = ReadWholeFile(linuxPath);
    ASSERT_TRUE(fromLinux.exists) << Narrow(linuxPath);
    EXPECT_EQ(fromLinux.bytes, ZoneText);
}

TEST_F(ZoneMark, ReplacedFileGetsTheMarkAndTheNewContent) {
    WriteWholeFile(Target(L"dest.bin"), "old");
    JobOptions options;
    options.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/ok/70000"), Target(L"dest.bin"), options);
    ASSERT_TRUE(result.outcome);
    ASSERT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    const DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_TRUE(IsBedBody(after.at(L"dest.bin").bytes, 70000));
    EXPECT_EQ(after.at(L"dest.bin").zoneStream, ZoneText);
}

// Wine's drives on a Linux file system keep no named streams: opening the zone stream there makes a
// plain file of that name beside the staging file. Nothing of it may stay behind in the folder.
TEST_F(ZoneMark, OnADriveWithoutNamedStreamsNothingIsLeftBesideTheFile) {
    const std::wstring plain = L"C:\\quillmere-engine-plain-drive";
    std::filesystem::remove_all(plain);
    std::filesystem::create_directories(plain);

    const JobResult good = RunJob(BedUrl(L"/ok/2000"), plain + L"\\dest.bin");
    ASSERT_TRUE(good.outcome);
    EXPECT_TRUE(good.outcome->succeeded) << Narrow(good.outcome->errorText);

    appearingDestination = plain + L"\\late.bin";
    platformSeam.moveFileEx = RecordingMove;
    const JobResult failed = RunJob(BedUrl(L"/ok/2000"), plain + L"\\late.bin");
    ASSERT_TRUE(failed.outcome);
    EXPECT_FALSE(failed.outcome->succeeded);

    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(plain)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"dest.bin", L"late.bin"}));
    EXPECT_TRUE(IsBedBody(ReadWholeFile(plain + L"\\dest.bin").bytes, 2000));
    std::filesystem::remove_all(plain);
}

// A staging file another program holds past every retry has to stay; it must keep its mark. On a
// drive without named streams the mark is a plain file beside it, which the clean-up could remove
// while the staging file stays (on NTFS under Wine the held file shields its stream as well).
TEST_F(ZoneMark, AStagingFileThatCannotBeDeletedKeepsItsMark) {
    const std::wstring plain = L"C:\\quillmere-engine-held-staging";
    std::filesystem::remove_all(plain);
    std::filesystem::create_directories(plain);
    platformSeam.moveFileEx = MoveWhileStagingFileIsHeld;
    const JobResult result = RunJob(BedUrl(L"/ok/2000"), plain + L"\\dest.bin");
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_GE(result.seconds, 9.0) << "the rename and the delete are each tried for some seconds";
    LetGo();

    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(plain)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    const std::wstring staging =
        std::filesystem::path(StagingFileName(plain + L"\\dest.bin", GetCurrentProcessId(), 0))
            .filename()
            .wstring();
    EXPECT_EQ(names, (std::vector<std::wstring>{staging, staging + L":Zone.Identifier"}));
    std::filesystem::remove_all(plain);
}

class StagingFile : public NtfsTest {};

TEST_F(StagingFile, FirstNameIsAttemptZeroWhenFree) {
    platformSeam.moveFileEx = RecordingMove;
    const JobResult result = RunJob(BedUrl(L"/ok/10"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded);
    EXPECT_EQ(renamedFrom, StagingOf(0));
}

TEST_F(StagingFile, TakenNamesAreSkippedAndLeftUntouchedWhateverTheOutcome) {
    WriteWholeFile(StagingOf(0), "someone else's zero");
    WriteWholeFile(StagingOf(1), "someone else's one");
    platformSeam.moveFileEx = RecordingMove;

    const JobResult good = RunJob(BedUrl(L"/ok/10"), Target(L"dest.bin"));
    ASSERT_TRUE(good.outcome);
    EXPECT_TRUE(good.outcome->succeeded);
    EXPECT_EQ(renamedFrom, StagingOf(2));
    DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 3u) << Narrow(DescribeSnapshot(after));
    EXPECT_EQ(after.at(StagingLeaf(0)).bytes, "someone else's zero");
    EXPECT_EQ(after.at(StagingLeaf(1)).bytes, "someone else's one");
    EXPECT_FALSE(after.at(StagingLeaf(0)).hasZoneStream);

    // A job that fails after creating its staging file deletes only its own.
    const DirectorySnapshot before = SnapshotDirectory(directory);
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult bad = RunJob(BedUrl(L"/short/1000"), Target(L"dest.bin"), replace);
    ASSERT_TRUE(bad.outcome);
    EXPECT_EQ(bad.outcome->errorText, L"Received size does not match the server's Content-Length.");
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

TEST_F(StagingFile, LastOfTheHundredNamesIsStillTried) {
    for (unsigned n = 0; n < 99; ++n) {
        WriteWholeFile(StagingOf(n), "taken");
    }
    platformSeam.moveFileEx = RecordingMove;
    const JobResult result = RunJob(BedUrl(L"/ok/10"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_EQ(renamedFrom, StagingOf(99));
    EXPECT_EQ(SnapshotDirectory(directory).size(), 100u);
}

TEST_F(StagingFile, AllHundredNamesTakenFailsWithFileExistsAndTouchesNothing) {
    for (unsigned n = 0; n < 100; ++n) {
        WriteWholeFile(StagingOf(n), "taken " + std::to_string(n));
    }
    WriteWholeFile(Target(L"dest.bin"), "old");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    ASSERT_EQ(before.size(), 101u);
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/ok/10"), Target(L"dest.bin"), replace);
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(ERROR_FILE_EXISTS));
    EXPECT_EQ(result.outcome->errorText, L"File exists.\r\n");
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

TEST_F(StagingFile, AnyOtherCreationErrorEndsTheJobAtOnce) {
    const std::wstring missing = Target(L"no such folder\\dest.bin");
    // The code the system gives for a file in a missing folder is the one the job must report.
    HANDLE probe =
        CreateFileW(StagingFileName(missing, GetCurrentProcessId(), 0).c_str(), GENERIC_WRITE, 0,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    const DWORD code = GetLastError();
    ASSERT_NE(code, static_cast<DWORD>(ERROR_FILE_EXISTS));

    const JobResult result = RunJob(BedUrl(L"/ok/10"), missing);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(code));
    EXPECT_TRUE(SnapshotDirectory(directory).empty());
}

// Without a long-path-aware manifest Windows refuses plain names past 260 characters; every file
// call on the staging file and the destination uses the extended-length form instead, so a deep
// destination the dialog accepted still downloads. (Wine has no such limit: the names the calls
// receive are what shows the form here.)
TEST_F(StagingFile, DestinationPastTheOldPathLimit) {
    // The C++ library's own file functions stop at the old limit: the folders are made and
    // removed with the system's calls.
    std::vector<std::wstring> folders;
    std::wstring deep = directory;
    for (const wchar_t letter : {L'a', L'b', L'c'}) {
        deep += L"\\" + std::wstring(90, letter);
        ASSERT_TRUE(CreateDirectoryW(ExtendedLengthPath(deep).c_str(), nullptr)) << GetLastError();
        folders.push_back(deep);
    }
    const auto names = [&deep] { return NamesIn(deep); };
    const std::wstring target = deep + L"\\dest.bin";
    ASSERT_GT(StagingFileName(target, GetCurrentProcessId(), 0).size(), 330u);
    WriteWholeFile(ExtendedLengthPath(target), "old");
    platformSeam.moveFileEx = RecordingMove;
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/ok/70000"), target, replace);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_EQ(result.outcome->targetPath, target) << "the user's spelling is what is shown";
    EXPECT_EQ(renamedFrom, L"\\\\?\\" + StagingFileName(target, GetCurrentProcessId(), 0));
    EXPECT_EQ(renamedTo, L"\\\\?\\" + target);
    EXPECT_EQ(names(), std::vector<std::wstring>{L"dest.bin"});
    EXPECT_TRUE(IsBedBody(ReadWholeFile(ExtendedLengthPath(target)).bytes, 70000));
    EXPECT_EQ(ReadWholeFile(ExtendedLengthPath(target) + L":Zone.Identifier").bytes, ZoneText);

    // A failed job deletes its long-named staging file.
    const JobResult failed = RunJob(BedUrl(L"/short/1000"), target, replace);
    ASSERT_TRUE(failed.outcome);
    EXPECT_FALSE(failed.outcome->succeeded);
    EXPECT_EQ(names(), std::vector<std::wstring>{L"dest.bin"});
    EXPECT_TRUE(IsBedBody(ReadWholeFile(ExtendedLengthPath(target)).bytes, 70000));

    DeleteFileW(ExtendedLengthPath(target).c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        EXPECT_TRUE(RemoveDirectoryW(ExtendedLengthPath(*folder).c_str())) << GetLastError();
    }
}

// A name the dialog accepts may come close to NTFS's 255 UTF-16 units, where the staging name's
// suffix would pass them: the staging name is then shortened, and the file still arrives, and is
// cleaned up on failure, under its own full name. (Wine maps a name to Linux in at most 255 bytes
// of UTF-8 and cuts longer ones short, so the Cyrillic here is in the part the staging name drops,
// and the zone stream, whose name Wine cannot pass on whole either, is not looked at.)
TEST_F(StagingFile, NameCloseToTheLimitForOneName) {
    std::wstring name;
    while (name.size() < 235) {
        name += L"annual-report-";
    }
    name = name.substr(0, 235) + L"годовой.bin";
    ASSERT_EQ(name.size(), 246u);
    const std::wstring target = Target(name.c_str());
    platformSeam.moveFileEx = RecordingMove;
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/ok/70000"), target, replace);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    const std::wstring staging = renamedFrom.substr(renamedFrom.rfind(L'\\') + 1);
    EXPECT_EQ(staging.size(), 255u) << Narrow(staging);
    EXPECT_TRUE(name.starts_with(staging.substr(0, staging.find(L".quillmere-"))));
    EXPECT_EQ(NamesIn(directory), std::vector<std::wstring>{name});
    EXPECT_TRUE(IsBedBody(ReadWholeFile(ExtendedLengthPath(target)).bytes, 70000));

    const JobResult failed = RunJob(BedUrl(L"/short/1000"), target, replace);
    ASSERT_TRUE(failed.outcome);
    EXPECT_FALSE(failed.outcome->succeeded);
    EXPECT_EQ(NamesIn(directory), std::vector<std::wstring>{name});
    EXPECT_TRUE(IsBedBody(ReadWholeFile(ExtendedLengthPath(target)).bytes, 70000));
    DeleteFileW(ExtendedLengthPath(target).c_str());
}

TEST(StagingName, ExtendedLengthFormIsFullAndNormalised) {
    EXPECT_EQ(ExtendedLengthPath(L"N:/a/./b/../c.bin"), L"\\\\?\\N:\\a\\c.bin");
    EXPECT_EQ(ExtendedLengthPath(L"\\\\server\\share\\x\\..\\y.bin"),
              L"\\\\?\\UNC\\server\\share\\y.bin");
    EXPECT_EQ(ExtendedLengthPath(L"\\\\?\\N:\\kept as it is"), L"\\\\?\\N:\\kept as it is");
}

class Commit : public NtfsTest {};

TEST_F(Commit, DestinationThatAppearedAfterItWasChosenIsNotReplaced) {
    // The code the system gives for a rename onto an existing file without replacing.
    WriteWholeFile(Target(L"a"), "a");
    WriteWholeFile(Target(L"b"), "b");
    ASSERT_FALSE(MoveFileExW(Target(L"a").c_str(), Target(L"b").c_str(), 0));
    const DWORD code = GetLastError();
    std::filesystem::remove(Target(L"a"));
    std::filesystem::remove(Target(L"b"));

    appearingDestination = Target(L"dest.bin");
    platformSeam.moveFileEx = RecordingMove;
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(code));
    EXPECT_EQ(result.outcome->bytesWritten, 3000u);
    const DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_EQ(after.at(L"dest.bin").bytes, "appeared after it was chosen");
    EXPECT_FALSE(after.at(L"dest.bin").hasZoneStream);
}

TEST_F(Commit, ExistingDestinationIsReplacedOnlyWhenConfirmed) {
    WriteWholeFile(Target(L"dest.bin"), "old");
    const JobResult refused = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"));
    ASSERT_TRUE(refused.outcome);
    EXPECT_FALSE(refused.outcome->succeeded);
    DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_EQ(after.at(L"dest.bin").bytes, "old");

    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult replaced = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), replace);
    ASSERT_TRUE(replaced.outcome);
    EXPECT_TRUE(replaced.outcome->succeeded) << Narrow(replaced.outcome->errorText);
    after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_TRUE(IsBedBody(after.at(L"dest.bin").bytes, 3000));
}

// A destination open in another program (or a scanner) for a moment: the rename is tried again
// until it is let go, and the complete download is not thrown away.
TEST_F(Commit, HeldDestinationIsReplacedOnceLetGo) {
    WriteWholeFile(Target(L"dest.bin"), "old");
    heldFile = HoldWithoutDelete(Target(L"dest.bin"));
    heldSince = GetTickCount64();
    JobOptions options;
    options.replaceExisting = true;
    options.whileRunning = LetGoAfter(1500);
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), options);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_GE(result.seconds, 1.4);
    const DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_TRUE(IsBedBody(after.at(L"dest.bin").bytes, 3000));
    EXPECT_EQ(after.at(L"dest.bin").zoneStream, ZoneText);
}

TEST_F(Commit, DestinationHeldPastTheRetriesStaysAsItWas) {
    const DWORD code = CodeOfRenameOnHeldFile(directory, false);
    WriteWholeFile(Target(L"dest.bin"), "old");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    heldFile = HoldWithoutDelete(Target(L"dest.bin"));
    JobOptions options;
    options.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), options);
    LetGo();
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(code));
    EXPECT_GE(result.seconds, 4.0);
    EXPECT_LE(result.seconds, 10.0);
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

// A scanner opening the staging file right after it was closed.
TEST_F(Commit, HeldStagingFileIsRenamedOnceLetGo) {
    platformSeam.moveFileEx = MoveWhileStagingFileIsHeld;
    JobOptions options;
    options.whileRunning = LetGoAfter(1500);
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), options);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_GT(moveCalls.load(), 1);
    const DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_TRUE(IsBedBody(after.at(L"dest.bin").bytes, 3000));
}

// Held past the rename's retries but let go while the end of the job still tries to delete it:
// the job fails with the system's text, and no staging file stays.
TEST_F(Commit, StagingFileHeldPastTheRetriesIsDeletedOnceLetGo) {
    const DWORD code = CodeOfRenameOnHeldFile(directory, true);
    WriteWholeFile(Target(L"dest.bin"), "old");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    platformSeam.moveFileEx = MoveWhileStagingFileIsHeld;
    JobOptions options;
    options.replaceExisting = true;
    options.whileRunning = LetGoAfter(6500);
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), options);
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_EQ(result.outcome->errorText, FormatSystemError(code));
    EXPECT_GE(result.seconds, 6.4);
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

} // namespace
