// Staging file, body copy, size check, flush, zone mark and commit, on the worker thread. Writes,
// the flush and the rename go through the platform seam.
#include "download/staging.h"

#include <windows.h>
#include <winhttp.h>

#include "core/staging_name.h"
#include "download/platform_seam.h"
#include "text/text_edge.h"

namespace {

using core::StagingAttempts;

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

// A name nobody else has, or none: a name that is taken is left alone and the next is tried.
HANDLE CreateStagingFile(JobState& state) {
    const DWORD processId = GetCurrentProcessId();
    for (unsigned n = 0; n < StagingAttempts; ++n) {
        state.stagingPath = StagingFileName(state.job->targetPath, processId, n);
        HANDLE file = CreateFileW(state.stagingPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS || n + 1 == StagingAttempts) {
            state.errorCode = code;
            state.stagingPath.clear();
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE; // not reached: the last attempt returns above
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

void Commit(JobState& state) {
    if (CancelSeen(state)) {
        return;
    }
    // Without MOVEFILE_REPLACE_EXISTING a file that appeared at the destination after it was
    // chosen makes the rename fail instead of being overwritten unasked.
    const DWORD flags = state.job->replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    if (platformSeam.moveFileEx(state.stagingPath.c_str(), state.job->targetPath.c_str(), flags)) {
        RemoveStrayZoneStream(state.stagingPath);
        state.stagingPath.clear();
        state.outcome->succeeded = true;
    } else {
        state.errorCode = FileFailureCode();
    }
}

} // namespace

void RemoveStrayZoneStream(const std::wstring& stagingPath) {
    DeleteFileW((stagingPath + L":Zone.Identifier").c_str());
}

std::wstring StagingFileName(const std::wstring& targetPath, std::uint32_t processId, unsigned n) {
    return WideFromUtf8(core::StagingFileName(Utf8FromWide(targetPath), processId, n));
}

void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]) {
    HANDLE file = CreateStagingFile(state);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const CopyEnd end = CopyBody(state, file, chunk);
    if (!CompleteStagingFile(state, file, end)) {
        return;
    }
    MarkInternetZone(state);
    Commit(state);
}
