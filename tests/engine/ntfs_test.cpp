// The file side on a real NTFS volume: staging names, the 100-name limit, the rename with and
// without replacing, and the Zone.Identifier stream the committed file carries. Test thread;
// each job, and the seam functions it calls, on a worker thread.
#include <windows.h>

#include <algorithm>
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
std::wstring appearingDestination;
BOOL WINAPI RecordingMove(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    renamedFrom = existing;
    if (!appearingDestination.empty()) {
        WriteWholeFile(appearingDestination, "appeared after it was chosen");
    }
    return MoveFileExW(existing, newName, flags);
}

class NtfsTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        renamedFrom.clear();
        appearingDestination.clear();
    }
    std::wstring StagingOf(unsigned n) const {
        return StagingFileName(Target(L"dest.bin"), GetCurrentProcessId(), n);
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

} // namespace
