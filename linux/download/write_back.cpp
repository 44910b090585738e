// The disk's share of the body copy, on the worker thread. The write-out goes through the platform
// seam.
//
// Each step the copy has written is handed to the disk at once, so the disk works while the body
// still arrives and the flush before the rename finds at most a few steps left. The copy then waits
// for the write-out of the step before the last two: the disk always has the next steps queued,
// but no more than a bounded part of the file is ever waiting for it, however much faster the
// network is than the disk. That bound is what a Cancel pays for: the removal of the partial file
// waits for the writes already on their way to the disk, and the flush at the end of a download
// waits for the same few steps instead of for everything the page cache took in ahead of the disk.
#include "download/write_back.h"

#include <cerrno>
#include <fcntl.h>

#include "download/platform_seam.h"
#include "download/staging_file.h"

namespace {

// Steps of 8 MiB go to the disk as a few large requests. Two of them queued keep a disk of several
// hundred MiB/s busy for tens of milliseconds while the copy waits for the one before.
constexpr std::uint64_t Step = 8 << 20;
constexpr std::uint64_t Queued = 2 * Step;

} // namespace

bool PaceWriteBack(JobState& state, int file, WriteBackWindow& window) {
    const std::uint64_t written = state.outcome->bytesWritten;
    if (window.unsupported || written - window.started < Step) {
        return true;
    }
    // Only a start: nothing waits for it here.
    platformSeam.syncFileRange(file, static_cast<off_t>(window.started),
                               static_cast<off_t>(written - window.started), SYNC_FILE_RANGE_WRITE);
    window.started = written;
    if (window.started - window.settled <= Queued) {
        return true;
    }
    const std::uint64_t settle = window.started - Queued;
    errno = 0;
    if (platformSeam.syncFileRange(file, static_cast<off_t>(window.settled),
                                   static_cast<off_t>(settle - window.settled),
                                   SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                       SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
        // Once the wait has reported a failed write-out, the flush no longer would, so the job
        // fails here. A file system that cannot wait leaves it all to the flush.
        if (errno == EIO || errno == ENOSPC || errno == EDQUOT) {
            state.errorCode = FileFailureCode(errno);
            return false;
        }
        window.unsupported = true;
        return true;
    }
    window.settled = settle;
    return true;
}
