// The stage in its order, on the worker thread: the staging file, the reservation, the body copy
// with its write-out to the disk, the size check, the flush, the zone mark and the commit. Writes
// and the flush go through the platform seam.
#include "download/staging.h"

#include <cerrno>
#include <unistd.h>

#include "download/commit.h"
#include "download/http_exchange.h"
#include "download/platform_seam.h"
#include "download/space_reservation.h"
#include "download/staging_file.h"
#include "download/write_back.h"

namespace {

bool CancelSeen(JobState& state) {
    if (appGlobals.cancelRequested.load()) {
        state.outcome->cancelled = true;
        return true;
    }
    return false;
}

// Writes all of one chunk, resuming after each partial write where it stopped.
bool WriteChunk(JobState& state, int file, const unsigned char* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        errno = 0;
        const ssize_t written = platformSeam.write(file, data + done, count - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            state.errorCode = FileFailureCode(written < 0 ? errno : 0);
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

enum class CopyEnd { BodyComplete, Failed, Cancelled };

// Reads to the end of the body as the server sends it; sizes are compared only afterwards.
CopyEnd CopyBody(JobState& state, int file, unsigned char (&chunk)[ChunkSize]) {
    if (CancelSeen(state)) {
        return CopyEnd::Cancelled;
    }
    WriteBackWindow writeBack;
    for (;;) {
        std::size_t count = 0;
        if (!ReadBody(state, chunk, ChunkSize, count)) {
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
        if (!PaceWriteBack(state, file, writeBack)) {
            return CopyEnd::Failed;
        }
        if (CancelSeen(state)) {
            return CopyEnd::Cancelled;
        }
    }
}

// Closes the staging file; true when its content is complete, checked, flushed and marked. The
// mark goes on after the flush and through the open descriptor, so it lands on this very file.
bool CompleteStagingFile(JobState& state, int file, CopyEnd end, const std::string& destination) {
    bool complete = false;
    if (CancelSeen(state) || end == CopyEnd::Failed) {
        // A cancellation wins over whatever ended the copy.
    } else if (appGlobals.totalKnown.load() &&
               state.outcome->bytesWritten != appGlobals.contentLength.load()) {
        state.outcome->errorText = Text(core::TextSizeMismatch);
    } else {
        // Before the flush, which then makes the protection durable with the content.
        if (state.job->replaceExisting) {
            KeepProtectionOf(destination, file);
        }
        errno = 0;
        if (platformSeam.fsync(file) != 0) {
            state.errorCode = FileFailureCode(errno);
        } else {
            MarkInternetZone(file);
            complete = true;
        }
    }
    close(file);
    return complete;
}

} // namespace

void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]) {
    std::string destination;
    if (!ResolveDestination(state, destination)) {
        return;
    }
    const int file = CreateStagingFile(state, destination);
    if (file < 0) {
        return;
    }
    if (!ReserveSpace(state, file)) {
        close(file);
        return;
    }
    const CopyEnd end = CopyBody(state, file, chunk);
    if (!CompleteStagingFile(state, file, end, destination) || CancelSeen(state)) {
        return;
    }
    Commit(state, destination);
}
