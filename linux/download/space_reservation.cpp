// The space for an announced body, claimed on the worker thread before any of it is read.
#include "download/space_reservation.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>

// Claimed before any of the body is read, so that a file that cannot fit fails now rather than
// after its time and bandwidth are spent. The system checks the size against the file system's own
// limit for one file first (FAT's 4 GiB) and then claims the space; the file keeps its length, so
// it holds only what was written, however the body ends. A file system that cannot reserve (FUSE
// mounts, NFS) or answers anything but "does not fit" leaves it to the writes.
bool ReserveSpace(JobState& state, int file) {
    if (!appGlobals.totalKnown.load() || appGlobals.contentLength.load() == 0) {
        return true;
    }
    const std::uint64_t size = appGlobals.contentLength.load();
    if (size > static_cast<std::uint64_t>(INT64_MAX)) {
        state.errorCode = SystemError(EFBIG);
        return false;
    }
    int result;
    do {
        result = fallocate(file, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result != 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        state.errorCode = SystemError(errno);
        return false;
    }
    return true;
}
