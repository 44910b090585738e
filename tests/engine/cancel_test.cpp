// Cancellation at each point where the worker looks for it, made deterministic by setting the
// request from inside the seam at the exact step; and once from the test thread during a paced
// body, as the Cancel button does it. Test thread; seam functions on the worker.
#include <windows.h>

#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "download/job_state.h"
#include "download/platform_seam.h"
#include "download/staging.h"
#include "tests/engine/harness.h"
#include "tests/engine/request_log.h"

namespace {

bool IsZoneWrite(LPCVOID data, DWORD count) {
    return count == 26 && std::memcmp(data, "[ZoneTransfer]\r\nZoneId=3\r\n", 26) == 0;
}

int bodyWriteCalls = 0;
BOOL WINAPI CancelOnFirstBodyWrite(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                                   LPOVERLAPPED overlapped) {
    if (!IsZoneWrite(data, count) && bodyWriteCalls++ == 0) {
        appGlobals.cancelRequested.exchange(true);
    }
    return WriteFile(file, data, count, written, overlapped);
}

BOOL WINAPI CancelAfterZoneMark(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                                LPOVERLAPPED overlapped) {
    const BOOL ok = WriteFile(file, data, count, written, overlapped);
    if (IsZoneWrite(data, count)) {
        appGlobals.cancelRequested.exchange(true);
    }
    return ok;
}

BOOL WINAPI FailAndCancel(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    appGlobals.cancelRequested.exchange(true);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI CancelAfterCommit(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    const BOOL ok = MoveFileExW(existing, newName, flags);
    appGlobals.cancelRequested.exchange(true);
    return ok;
}

class Cancel : public EngineTest {
  protected:
    // A cancelled job onto an existing destination: the directory must be as it was.
    JobResult ExpectCancelled(const std::wstring& url, JobOptions options = {}) {
        WriteWholeFile(Target(L"dest.bin"), "old content");
        const DirectorySnapshot before = SnapshotDirectory(directory);
        options.replaceExisting = true;
        JobResult result = RunJob(url, Target(L"dest.bin"), options);
        EXPECT_TRUE(result.outcome);
        if (result.outcome) {
            EXPECT_TRUE(result.outcome->cancelled);
            EXPECT_FALSE(result.outcome->succeeded);
            EXPECT_EQ(result.outcome->targetPath, Target(L"dest.bin"));
        }
        const DirectorySnapshot after = SnapshotDirectory(directory);
        EXPECT_EQ(after, before) << Narrow(DescribeSnapshot(after));
        return result;
    }
};

TEST_F(Cancel, BeforeTheWorkerStartsNothingIsSent) {
    const std::uint64_t mark = RequestLogMark();
    JobOptions options;
    options.cancelBeforeStart = true;
    const JobResult result = ExpectCancelled(BedUrl(L"/ok/10?cancelled-before-start"), options);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"");
    EXPECT_EQ(result.outcome->bytesWritten, 0u);
    EXPECT_TRUE(RequestsSince(mark).empty());
}

TEST_F(Cancel, BeforeTheWorkerStartsARefusedUrlKeepsItsText) {
    for (const bool russian : {false, true}) {
        JobOptions options;
        options.cancelBeforeStart = true;
        options.russianUi = russian;
        const JobResult result = ExpectCancelled(L"http://localhost/ok/10", options);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, SelectText(TextEnterValidHttpsUrl, russian));
    }
}

TEST_F(Cancel, BeforeTheFirstReadNoReadIsMade) {
    // The stage on its own, with no request at all: a read would fail on the null handle.
    DownloadJob job{nullptr, L"", Target(L"dest.bin"), false};
    DownloadOutcome outcome;
    JobState state;
    state.job = &job;
    state.outcome = &outcome;
    appGlobals.cancelRequested.exchange(true);
    static unsigned char chunk[ChunkSize];
    StageAndCommit(state, chunk);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(state.errorCode, 0u);
    EXPECT_EQ(state.stagingPath,
              ExtendedLengthPath(StagingFileName(Target(L"dest.bin"), GetCurrentProcessId(), 0)));
    // Left for the end of the job to delete: empty, closed, unmarked.
    const FileRead staged = ReadWholeFile(state.stagingPath);
    EXPECT_TRUE(staged.exists);
    EXPECT_EQ(staged.bytes, "");
    EXPECT_FALSE(ReadWholeFile(state.stagingPath + L":Zone.Identifier").exists);
    EXPECT_TRUE(DeleteFileW(state.stagingPath.c_str())); // closed: no sharing violation
}

TEST_F(Cancel, DuringTheBodyTheChunkInHandIsTheLastOneWritten) {
    platformSeam.writeFile = CancelOnFirstBodyWrite;
    bodyWriteCalls = 0;
    const JobResult result = ExpectCancelled(BedUrl(L"/ok/1000000"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"");
    EXPECT_EQ(result.outcome->bytesWritten, 65536u);
    EXPECT_EQ(result.bytesReceived, 65536u);
    EXPECT_EQ(bodyWriteCalls, 1);
}

TEST_F(Cancel, FromTheUiThreadDuringAPacedBodyAtMostOneMoreChunkIsWritten) {
    std::uint64_t seenWhenCancelled = 0;
    JobOptions options;
    options.whileRunning = [&seenWhenCancelled] {
        const std::uint64_t seen = appGlobals.bytesReceived.load();
        if (seen >= 2 * 65536 && !appGlobals.cancelRequested.load()) {
            seenWhenCancelled = seen;
            appGlobals.cancelRequested.exchange(true);
        }
    };
    // 64 pieces 100 ms apart: uncancelled this would take over 6 s.
    const JobResult result = ExpectCancelled(BedUrl(L"/paced/4194304?ms=100"), options);
    ASSERT_TRUE(result.outcome);
    ASSERT_GT(seenWhenCancelled, 0u);
    EXPECT_EQ(result.outcome->errorText, L"");
    EXPECT_GE(result.outcome->bytesWritten, seenWhenCancelled);
    EXPECT_LE(result.outcome->bytesWritten, seenWhenCancelled + 65536);
    EXPECT_LT(result.seconds, 3.0);
}

TEST_F(Cancel, AfterAFailedWriteTheJobIsCancelledWithoutErrorText) {
    platformSeam.writeFile = FailAndCancel;
    const JobResult result = ExpectCancelled(BedUrl(L"/ok/1000"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"");
    EXPECT_EQ(result.outcome->bytesWritten, 0u);
}

TEST_F(Cancel, AfterTheZoneMarkTheStagingFileGoesWithItsStream) {
    platformSeam.writeFile = CancelAfterZoneMark;
    const JobResult result = ExpectCancelled(BedUrl(L"/ok/100000"));
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, L"");
    EXPECT_EQ(result.outcome->bytesWritten, 100000u);
}

// While the rename waits for a destination another program holds, Cancel still ends the job, and
// within about one tick of the progress timer.
TEST_F(Cancel, BetweenTriesOfAHeldRename) {
    WriteWholeFile(Target(L"dest.bin"), "old content");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    HANDLE held =
        CreateFileW(Target(L"dest.bin").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const ULONGLONG started = GetTickCount64();
    ULONGLONG cancelledAt = 0;
    JobOptions options;
    options.replaceExisting = true;
    options.whileRunning = [&] {
        if (cancelledAt == 0 && GetTickCount64() - started >= 1500) {
            cancelledAt = GetTickCount64();
            appGlobals.cancelRequested.exchange(true);
        }
    };
    const JobResult result = RunJob(BedUrl(L"/ok/3000"), Target(L"dest.bin"), options);
    const ULONGLONG ended = GetTickCount64();
    CloseHandle(held);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->cancelled);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_EQ(result.outcome->errorText, L"");
    ASSERT_NE(cancelledAt, 0u);
    EXPECT_LE(ended - cancelledAt, 250u);
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

TEST_F(Cancel, AfterTheCommitTheJobStaysSucceeded) {
    platformSeam.moveFileEx = CancelAfterCommit;
    const JobResult result = RunJob(BedUrl(L"/ok/100000"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    EXPECT_EQ(result.outcome->errorText, L"");
    const DirectorySnapshot after = SnapshotDirectory(directory);
    ASSERT_EQ(after.size(), 1u) << Narrow(DescribeSnapshot(after));
    EXPECT_TRUE(IsBedBody(after.at(L"dest.bin").bytes, 100000));
    EXPECT_TRUE(after.at(L"dest.bin").hasZoneStream);
}

} // namespace
