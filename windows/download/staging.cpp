// Staging file, body copy, size check, flush, zone mark and commit, on the worker thread. Writes,
// the flush and the rename go through the platform seam.
#include "download/staging.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "core/staging_name.h"
#include "download/platform_seam.h"
#include "text/text_edge.h"

namespace {

using core::StagingAttempts;

// Virus scanners, the search indexer and Explorer's preview open a freshly closed file for a
// moment, and a destination may be open in another program: a rename or delete then fails with a
// sharing violation or "access denied" for as long as they hold it. Such a call is tried again
// after growing pauses, for a few seconds in all. The pauses are slept in short slices so that a
// Cancel is seen well within one tick of the progress timer.
constexpr DWORD HeldFileRetryMs = 5000;
constexpr DWORD FirstPauseMs = 50;
constexpr DWORD LongestPauseMs = 1000;
constexpr DWORD PauseSliceMs = 20;

bool IsHeldFileCode(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

struct HeldFileRetry {
    DWORD waited = 0;
    DWORD pause = FirstPauseMs;
};

// Sleeps before the next try. False when the retry time is spent, or when watchCancel is set and
// a cancellation is seen: then there is no next try.
bool PauseBeforeRetry(HeldFileRetry& retry, bool watchCancel) {
    if (retry.waited >= HeldFileRetryMs) {
        return false;
    }
    const DWORD pause = std::min(retry.pause, HeldFileRetryMs - retry.waited);
    for (DWORD slept = 0; slept < pause; slept += PauseSliceMs) {
        if (watchCancel && appGlobals.cancelRequested.load()) {
            return false;
        }
        Sleep(std::min(PauseSliceMs, pause - slept));
    }
    retry.waited += pause;
    retry.pause = std::min(retry.pause * 2, LongestPauseMs);
    return !(watchCancel && appGlobals.cancelRequested.load());
}

// The code a failed file call leaves; a call that failed without saying why still must not read
// as success in the error box.
std::uint32_t FileFailureCode() {
    const DWORD code = GetLastError();
    return code != 0 ? code : ERROR_WRITE_FAULT;
}

bool CancelSeen(JobState& state) {
    if (appGlobals.cancelRequested.load()) {
        state.outcome->cancelled = true;
        return true;
    }
    return false;
}

// A name nobody else has, or none: a name that is taken is left alone and the next is tried. A
// name held by another program (a file of that name still open, or being deleted while a scanner
// looks at it) counts as taken too. When every name fails, the last name's code is reported.
HANDLE CreateStagingFile(JobState& state) {
    const DWORD processId = GetCurrentProcessId();
    for (unsigned n = 0; n < StagingAttempts; ++n) {
        state.stagingPath =
            ExtendedLengthPath(StagingFileName(state.job->targetPath, processId, n));
        HANDLE file = CreateFileW(state.stagingPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        const DWORD code = GetLastError();
        const bool taken = code == ERROR_FILE_EXISTS || IsHeldFileCode(code);
        if (!taken || n + 1 == StagingAttempts) {
            state.errorCode = code;
            state.stagingPath.clear();
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE; // not reached: the last attempt returns above
}

// FAT keeps a file's size in 32 bits: 4 GiB less one byte is the most it can hold.
constexpr std::uint64_t FatLargestFile = 0xFFFFFFFFull;

bool IsOnFat(HANDLE file) {
    wchar_t fileSystem[MAX_PATH + 1] = {};
    if (!platformSeam.getVolumeInformationByHandle(file, nullptr, 0, nullptr, nullptr, nullptr,
                                                   fileSystem, MAX_PATH + 1)) {
        return false;
    }
    return wcscmp(fileSystem, L"FAT") == 0 || wcscmp(fileSystem, L"FAT32") == 0;
}

// The codes with which a volume refuses to reserve room it does not have.
bool IsNoRoomCode(DWORD code) {
    return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
           code == ERROR_FILE_TOO_LARGE;
}

// A body of announced size that cannot fit fails here, before any of it is read, rather than at
// the write that fills the disk once the time and the bandwidth are spent. The room is reserved
// for the staging file where the volume can do that (it answers a reservation it cannot keep with
// "disk full"); where it cannot (Wine, some network file systems) the size is compared with the
// free space the user may use. Nothing is refused for want of an answer.
bool MakeRoomForBody(JobState& state, HANDLE file) {
    if (!appGlobals.totalKnown.load()) {
        return true;
    }
    const std::uint64_t size = appGlobals.contentLength.load();
    if (size == 0) {
        return true;
    }
    if (size > FatLargestFile && IsOnFat(file)) {
        state.errorCode = ERROR_FILE_TOO_LARGE;
        return false;
    }
    if (size <= static_cast<std::uint64_t>(INT64_MAX)) {
        FILE_ALLOCATION_INFO allocation{};
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        if (platformSeam.setFileInformationByHandle(file, FileAllocationInfo, &allocation,
                                                    sizeof allocation)) {
            return true;
        }
        const DWORD code = GetLastError();
        if (IsNoRoomCode(code)) {
            state.errorCode = code;
            return false;
        }
    }
    const std::wstring folder = state.stagingPath.substr(0, state.stagingPath.rfind(L'\\') + 1);
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) &&
        size > available.QuadPart) {
        state.errorCode = ERROR_DISK_FULL;
        return false;
    }
    return true;
}

// Writes all of one chunk, resuming after each partial write where it stopped.
bool WriteChunk(JobState& state, HANDLE file, const unsigned char* data, DWORD count) {
    DWORD done = 0;
    while (done < count) {
        DWORD written = 0;
        if (!platformSeam.writeFile(file, data + done, count - done, &written, nullptr) ||
            written == 0) {
            state.errorCode = FileFailureCode();
            return false;
        }
        done += written;
    }
    return true;
}

enum class CopyEnd { BodyComplete, Failed, Cancelled };

// Reads to the end of the body as the server sends it; sizes are compared only afterwards.
CopyEnd CopyBody(JobState& state, HANDLE file, unsigned char (&chunk)[ChunkSize]) {
    if (CancelSeen(state)) {
        return CopyEnd::Cancelled;
    }
    for (;;) {
        DWORD count = 0;
        if (!WinHttpReadData(state.request, chunk, ChunkSize, &count)) {
            state.errorCode = GetLastError();
            return CopyEnd::Failed;
        }
        if (count == 0) {
            return CopyEnd::BodyComplete;
        }
        if (!WriteChunk(state, file, chunk, count)) {
            return CopyEnd::Failed;
        }
        state.outcome->bytesWritten += count;
        appGlobals.bytesReceived.exchange(state.outcome->bytesWritten);
        if (CancelSeen(state)) {
            return CopyEnd::Cancelled;
        }
    }
}

// Closes the staging file; true when its content is complete, checked and flushed.
bool CompleteStagingFile(JobState& state, HANDLE file, CopyEnd end) {
    bool complete = false;
    if (CancelSeen(state) || end == CopyEnd::Failed) {
        // A cancellation wins over whatever ended the copy.
    } else if (appGlobals.totalKnown.load() &&
               state.outcome->bytesWritten != appGlobals.contentLength.load()) {
        state.outcome->errorText = Text(TextSizeMismatch);
    } else if (!platformSeam.flushFileBuffers(file)) {
        state.errorCode = FileFailureCode();
    } else {
        complete = true;
    }
    CloseHandle(file);
    return complete;
}

// Marks the staging file as coming from the Internet zone. Volumes without named streams simply
// get no mark, so nothing here can fail the job.
void MarkInternetZone(const JobState& state) {
    const std::wstring streamName = state.stagingPath + L":Zone.Identifier";
    HANDLE stream = CreateFileW(streamName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    platformSeam.writeFile(stream, ZoneIdentifierText, sizeof ZoneIdentifierText, &written,
                           nullptr);
    CloseHandle(stream);
}

// The rename is tried again while another program holds the staging file or the destination;
// until it succeeds the job can still be cancelled, between tries too.
void Commit(JobState& state) {
    if (CancelSeen(state)) {
        return;
    }
    // Without MOVEFILE_REPLACE_EXISTING a file that appeared at the destination after it was
    // chosen makes the rename fail instead of being overwritten unasked.
    const DWORD flags = state.job->replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    const std::wstring target = ExtendedLengthPath(state.job->targetPath);
    HeldFileRetry retry;
    for (;;) {
        if (platformSeam.moveFileEx(state.stagingPath.c_str(), target.c_str(), flags)) {
            RemoveStrayZoneStream(state.stagingPath);
            state.stagingPath.clear();
            state.outcome->succeeded = true;
            return;
        }
        const DWORD code = FileFailureCode();
        if (!IsHeldFileCode(code) || !PauseBeforeRetry(retry, true)) {
            state.errorCode = code;
            CancelSeen(state);
            return;
        }
    }
}

} // namespace

std::wstring ExtendedLengthPath(const std::wstring& path) {
    if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) {
        return path;
    }
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return L"\\\\?\\" + full;
    }
    return full;
}

bool DeleteStagingFile(const std::wstring& stagingPath) {
    HeldFileRetry retry;
    for (;;) {
        if (DeleteFileW(stagingPath.c_str())) {
            return true;
        }
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            return true;
        }
        // The clean-up goes on even after a Cancel: it is what the Cancel asked for.
        if (!IsHeldFileCode(code) || !PauseBeforeRetry(retry, false)) {
            return false;
        }
    }
}

void RemoveStrayZoneStream(const std::wstring& stagingPath) {
    DeleteFileW((stagingPath + L":Zone.Identifier").c_str());
}

std::wstring StagingFileName(const std::wstring& targetPath, std::uint32_t processId, unsigned n) {
    // NTFS, FAT and exFAT all take at most 255 UTF-16 units in one name.
    const core::NameLimit limit{255, true, "\\/"};
    return WideFromUtf8(core::StagingFileName(Utf8FromWide(targetPath), processId, n, limit));
}

void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]) {
    HANDLE file = CreateStagingFile(state);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (!MakeRoomForBody(state, file)) {
        CloseHandle(file);
        return;
    }
    const CopyEnd end = CopyBody(state, file, chunk);
    if (!CompleteStagingFile(state, file, end)) {
        return;
    }
    MarkInternetZone(state);
    Commit(state);
}
