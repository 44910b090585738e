// Failures a real system will not produce on demand, through the platform seam: short and silent
// writes, a write or flush that fails, a rename that fails without a code, and an outcome that
// cannot be posted. The seam functions run on the worker thread.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include <gtest/gtest.h>

#include "download/platform_seam.h"
#include "download/system_error.h"
#include "tests/engine/alloc_count.h"
#include "tests/engine/harness.h"

namespace {

bool IsZoneWrite(LPCVOID data, DWORD count) {
    return count == 26 && std::memcmp(data, "[ZoneTransfer]\r\nZoneId=3\r\n", 26) == 0;
}

struct WriteCall {
    const unsigned char* data;
    DWORD count;
    DWORD written;
    std::uint64_t bytesReceived;
};
std::vector<WriteCall> bodyWrites;
unsigned partialCalls = 0;

// Writes at most 1000 bytes, and only 1 byte on every third call.
BOOL WINAPI PartialWrite(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped) {
    if (IsZoneWrite(data, count)) {
        return WriteFile(file, data, count, written, overlapped);
    }
    const DWORD part = (++partialCalls % 3 == 0) ? 1 : (count < 1000 ? count : 1000);
    const BOOL ok = WriteFile(file, data, part, written, overlapped);
    bodyWrites.push_back({static_cast<const unsigned char*>(data), count, *written,
                          appGlobals.bytesReceived.load()});
    return ok;
}

DWORD failureCode = 0;
int bodyWritesBeforeFailure = 0;
BOOL WINAPI FailingWrite(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                         LPOVERLAPPED overlapped) {
    if (IsZoneWrite(data, count) || bodyWritesBeforeFailure-- > 0) {
        return WriteFile(file, data, count, written, overlapped);
    }
    SetLastError(failureCode);
    return FALSE;
}

BOOL WINAPI SilentZeroWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(0);
    return TRUE;
}

BOOL WINAPI ZoneWriteFails(HANDLE file, LPCVOID data, DWORD count, LPDWORD written,
                           LPOVERLAPPED overlapped) {
    if (IsZoneWrite(data, count)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return WriteFile(file, data, count, written, overlapped);
}

BOOL WINAPI FailingFlush(HANDLE) {
    SetLastError(failureCode);
    return FALSE;
}

BOOL WINAPI FailingMoveWithoutCode(LPCWSTR, LPCWSTR, DWORD) {
    SetLastError(0);
    return FALSE;
}

int postsRefused = 0;
BOOL WINAPI RefusedPost(HWND, UINT, WPARAM, LPARAM) {
    ++postsRefused;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

// A volume that says which file system it is, and that reserves room or refuses to with a code.
const wchar_t* volumeFileSystem = L"NTFS";
BOOL WINAPI NamedVolume(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR fileSystem,
                        DWORD size) {
    wcsncpy(fileSystem, volumeFileSystem, size);
    return TRUE;
}
DWORD reservationRefusal = 0;
std::uint64_t reserved = 0;
BOOL WINAPI Reservation(HANDLE, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info, DWORD) {
    EXPECT_EQ(infoClass, FileAllocationInfo);
    reserved = static_cast<FILE_ALLOCATION_INFO*>(info)->AllocationSize.QuadPart;
    SetLastError(reservationRefusal);
    return reservationRefusal == 0;
}

class SeamTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        bodyWrites.clear();
        partialCalls = 0;
        failureCode = 0;
        bodyWritesBeforeFailure = 0;
        postsRefused = 0;
        volumeFileSystem = L"NTFS";
        reservationRefusal = 0;
        reserved = 0;
    }
    // A job onto an existing destination that must fail with this text and leave the directory
    // as it was.
    void ExpectFailure(const std::wstring& url, const std::wstring& text) {
        WriteWholeFile(Target(L"dest.bin"), "old content");
        const DirectorySnapshot before = SnapshotDirectory(directory);
        JobOptions replace;
        replace.replaceExisting = true;
        const JobResult result = RunJob(url, Target(L"dest.bin"), replace);
        ASSERT_TRUE(result.outcome);
        EXPECT_FALSE(result.outcome->succeeded);
        EXPECT_FALSE(result.outcome->cancelled);
        EXPECT_EQ(result.outcome->errorText, text);
        const DirectorySnapshot after = SnapshotDirectory(directory);
        EXPECT_EQ(after, before) << Narrow(DescribeSnapshot(after));
    }
};

class SeamWrite : public SeamTest {};

TEST_F(SeamWrite, PartialWritesResumeWhereTheyStoppedAndCountWholeChunks) {
    platformSeam.writeFile = PartialWrite;
    const std::uint64_t size = 3 * 65536 + 5000;
    const JobResult result = RunJob(BedUrl(L"/ok/" + std::to_wstring(size)), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    ASSERT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_EQ(result.outcome->bytesWritten, size);
    EXPECT_EQ(result.bytesReceived, size);
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target(L"dest.bin")).bytes, size));

    ASSERT_GT(bodyWrites.size(), 4u);
    const unsigned char* chunkStart = bodyWrites[0].data;
    std::uint64_t completedChunks = 0; // bytes of the chunks written whole so far
    DWORD doneInChunk = 0;
    DWORD chunkCount = bodyWrites[0].count;
    for (std::size_t i = 0; i < bodyWrites.size(); ++i) {
        const WriteCall& call = bodyWrites[i];
        ASSERT_GT(call.written, 0u);
        if (doneInChunk == chunkCount) { // the last chunk is complete: a new one starts
            completedChunks += chunkCount;
            doneInChunk = 0;
            chunkCount = call.count;
        }
        EXPECT_EQ(call.data, chunkStart + doneInChunk) << "call " << i;
        EXPECT_EQ(call.count, chunkCount - doneInChunk) << "call " << i;
        // The count goes up by whole chunks only, after each is written.
        EXPECT_EQ(call.bytesReceived, completedChunks) << "call " << i;
        doneInChunk += call.written;
    }
    EXPECT_EQ(completedChunks + doneInChunk, size);
}

TEST_F(SeamWrite, ZeroBytesWithoutAnErrorCodeIsAWriteFault) {
    platformSeam.writeFile = SilentZeroWrite;
    ExpectFailure(BedUrl(L"/ok/1000"), FormatSystemError(ERROR_WRITE_FAULT));
    ExpectFailure(BedUrl(L"/ok/1000"), L"Write fault.\r\n");
}

TEST_F(SeamWrite, FailedWriteReportsItsCodeAfterEarlierChunks) {
    platformSeam.writeFile = FailingWrite;
    failureCode = ERROR_DISK_FULL;
    bodyWritesBeforeFailure = 2;
    ExpectFailure(BedUrl(L"/ok/1000000"), FormatSystemError(ERROR_DISK_FULL));
}

TEST_F(SeamWrite, FailedWriteWithoutACodeIsAWriteFault) {
    platformSeam.writeFile = FailingWrite;
    failureCode = 0;
    ExpectFailure(BedUrl(L"/ok/1000"), L"Write fault.\r\n");
}

TEST_F(SeamWrite, ZoneStreamThatCannotBeWrittenDoesNotFailTheJob) {
    platformSeam.writeFile = ZoneWriteFails;
    const JobResult result = RunJob(BedUrl(L"/ok/1000"), Target(L"dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << Narrow(result.outcome->errorText);
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target(L"dest.bin")).bytes, 1000));
}

// The announced size is reserved before the body is read, and a volume that refuses ends the job
// at once; on FAT, whose largest file is 4 GiB less one byte, a larger one fails as too large.
TEST_F(SeamWrite, BodyThatCannotFitFailsBeforeAnythingIsWritten) {
    platformSeam.writeFile = PartialWrite; // records the body's writes
    platformSeam.setFileInformationByHandle = Reservation;
    platformSeam.getVolumeInformationByHandle = NamedVolume;
    reservationRefusal = ERROR_DISK_FULL;
    ExpectFailure(BedUrl(L"/ok/100000"), FormatSystemError(ERROR_DISK_FULL));
    EXPECT_EQ(reserved, 100000u);
    volumeFileSystem = L"FAT32";
    reserved = 0;
    ExpectFailure(BedUrl(L"/cl?v=4294967296&n=10"), FormatSystemError(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(reserved, 0u);
    EXPECT_TRUE(bodyWrites.empty());

    const std::wstring mismatch = L"Received size does not match the server's Content-Length.";
    reservationRefusal = 0;
    ExpectFailure(BedUrl(L"/cl?v=4294967295&n=10"), mismatch);
    EXPECT_EQ(reserved, 4294967295u);
    volumeFileSystem = L"exFAT";
    ExpectFailure(BedUrl(L"/cl?v=4294967296&n=10"), mismatch);
    EXPECT_EQ(reserved, 4294967296u);
}

class SeamFlush : public SeamTest {};

TEST_F(SeamFlush, FailedFlushReportsItsCode) {
    platformSeam.flushFileBuffers = FailingFlush;
    failureCode = ERROR_DISK_FULL;
    ExpectFailure(BedUrl(L"/ok/1000"), FormatSystemError(ERROR_DISK_FULL));
    // An empty body is flushed too.
    ExpectFailure(BedUrl(L"/ok/0"), FormatSystemError(ERROR_DISK_FULL));
}

TEST_F(SeamFlush, FailedFlushWithoutACodeIsAWriteFault) {
    platformSeam.flushFileBuffers = FailingFlush;
    failureCode = 0;
    ExpectFailure(BedUrl(L"/ok/1000"), L"Write fault.\r\n");
}

class SeamMove : public SeamTest {};

TEST_F(SeamMove, FailedRenameWithoutACodeIsAWriteFault) {
    platformSeam.moveFileEx = FailingMoveWithoutCode;
    ExpectFailure(BedUrl(L"/ok/1000"), L"Write fault.\r\n");
}

class SeamPost : public SeamTest {};

TEST_F(SeamPost, RefusedPostFreesTheOutcomeAndLeavesNothingAllocated) {
    platformSeam.postMessage = RefusedPost;
    const std::wstring url = BedUrl(L"/ok/100000");
    const std::wstring target = Target(L"a file name long enough to be on the heap.bin");
    const long long before = LiveAllocations();
    const JobResult result = RunJob(url, target);
    EXPECT_EQ(LiveAllocations(), before);
    EXPECT_FALSE(result.outcome);
    EXPECT_EQ(result.messagesReceived, 0);
    EXPECT_EQ(postsRefused, 1);
    // The job itself went through: only the report was lost.
    EXPECT_TRUE(IsBedBody(ReadWholeFile(target).bytes, 100000));
}

TEST_F(SeamPost, OwnerWindowGoneFreesTheOutcomeAndLeavesNothingAllocated) {
    HWND gone = CreateOwnerWindow();
    ASSERT_TRUE(DestroyWindow(gone));
    const std::wstring url = L"http://a refused url that is long enough to be on the heap";
    const std::wstring target = Target(L"another file name long enough to be on the heap.bin");
    const long long before = LiveAllocations();
    const JobResult result = RunJobOwnedBy(gone, url, target);
    EXPECT_EQ(LiveAllocations(), before);
    EXPECT_FALSE(result.outcome);
}

TEST_F(SeamPost, PostedOutcomeIsTheOnlyThingLeftForTheWindowToFree) {
    const std::wstring url = BedUrl(L"/status/404?some=query&long=enough&for=the&heap=1");
    const std::wstring target = Target(L"yet another file name long enough for the heap.bin");
    const long long before = LiveAllocations();
    JobResult result = RunJob(url, target);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.messagesReceived, 1);
    EXPECT_EQ(result.outcome->errorText, L"Server returned HTTP 404.");
    result.outcome.reset();
    EXPECT_EQ(LiveAllocations(), before);
}

} // namespace
