// Staging file, body copy, size check, flush, zone mark and commit, on the worker thread. Writes,
// the flush and the renames go through the platform seam.
#include "download/staging.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core/staging_name.h"
#include "download/http_exchange.h"
#include "download/platform_seam.h"

namespace {

// The code a failed file call leaves; a call that failed without saying why (or a write that
// wrote nothing) still must not read as success in the error box.
ErrorCode FileFailureCode(int code) {
    return SystemError(code != 0 ? code : EIO);
}

bool CancelSeen(JobState& state) {
    if (appGlobals.cancelRequested.load()) {
        state.outcome->cancelled = true;
        return true;
    }
    return false;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file the chosen name stands for. Where the name is a symbolic link, or a chain of them, the
// file at its end is what the user means to replace, as cp and curl -o see it: the staging file
// goes beside that file, so that the commit stays a rename within one file system, and the links
// stay links. A link whose end does not exist yet names the file to create there. Only the last
// part of the path is followed; the folders on the way are the system's to resolve.
bool ResolveDestination(JobState& state, std::string& destination) {
    destination = state.job->targetPath;
    // As many links as the system itself follows in one path before it gives up.
    for (int hops = 0; hops <= 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t length = readlink(destination.c_str(), target, sizeof target);
        if (length < 0) {
            return true; // not a link (or nothing there yet): this is the file
        }
        if (static_cast<std::size_t>(length) == sizeof target) {
            state.errorCode = SystemError(ENAMETOOLONG);
            return false;
        }
        const std::string next(target, static_cast<std::size_t>(length));
        destination = next.front() == '/' ? next : FolderOf(destination) + "/" + next;
    }
    state.errorCode = SystemError(ELOOP);
    return false;
}

// A name nobody else has, or none: a name that is taken is left alone and the next is tried. The
// file is not inherited by programs the process may start. A new file is readable and writable
// as the umask allows, like any file the user saves; one that is to replace a file starts
// readable by its owner only and gets the replaced file's protection before the commit, so that
// what the old file kept private is never open to others, not even half downloaded. Where the
// destination's name is close to the file system's limit for one name, the staging name keeps
// less of it.
int CreateStagingFile(JobState& state, const std::string& destination) {
    const auto processId = static_cast<std::uint32_t>(getpid());
    const long longest = pathconf(FolderOf(destination).c_str(), _PC_NAME_MAX);
    const core::NameLimit limit{longest > 0 ? static_cast<std::size_t>(longest) : 0, false, "/"};
    const mode_t mode = state.job->replaceExisting ? 0600 : 0666;
    for (unsigned n = 0; n < core::StagingAttempts; ++n) {
        state.stagingPath = core::StagingFileName(destination, processId, n, limit);
        const int file =
            open(state.stagingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (file >= 0) {
            return file;
        }
        const int code = errno;
        if (code != EEXIST || n + 1 == core::StagingAttempts) {
            state.errorCode = FileFailureCode(code);
            state.stagingPath.clear();
            return -1;
        }
    }
    return -1; // not reached: the last attempt returns above
}

// Claims the announced size before any of the body is read, so that a file that cannot fit fails
// now rather than after its time and bandwidth are spent. The system checks the size against the
// file system's own limit for one file first (FAT's 4 GiB) and then claims the space; the file
// keeps its length, so it holds only what was written, however the body ends. A file system that
// cannot reserve (FUSE mounts, NFS) or answers anything but "does not fit" leaves it to the writes.
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

// How much is written before the disk is asked to start writing it out. Started while the body
// still arrives, the write-back keeps pace with the network, so the flush at the end finds little
// left to write instead of the whole file.
constexpr std::uint64_t WriteBackStep = 8 << 20;

// Reads to the end of the body as the server sends it; sizes are compared only afterwards.
CopyEnd CopyBody(JobState& state, int file, unsigned char (&chunk)[ChunkSize]) {
    if (CancelSeen(state)) {
        return CopyEnd::Cancelled;
    }
    std::uint64_t writtenBack = 0; // where the part not yet handed to the disk begins
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
        // Only a start, nothing waits for it; where the file system cannot, the flush does it all.
        if (state.outcome->bytesWritten - writtenBack >= WriteBackStep) {
            sync_file_range(file, static_cast<off_t>(writtenBack),
                            static_cast<off_t>(state.outcome->bytesWritten - writtenBack),
                            SYNC_FILE_RANGE_WRITE);
            writtenBack = state.outcome->bytesWritten;
        }
        if (CancelSeen(state)) {
            return CopyEnd::Cancelled;
        }
    }
}

// Marks the staging file as coming from the Internet zone. A file system without user attributes
// simply gets no mark, so nothing here can fail the job.
void MarkInternetZone(int file) {
    fsetxattr(file, ZoneAttributeName, core::ZoneIdentifierText, sizeof core::ZoneIdentifierText,
              0);
}

// The file that replaces another keeps its protection: its owner, group and permissions, where the
// process may set them (root may; a user may pick a group of their own). Where it may not, no one
// gains access: people of a group that could not be kept, and the old owner, fall into other
// classes of the new file, so each class gets only what every class its people came from had.
// Set-user and set-group ids are never carried over to downloaded bytes. Nothing here fails the
// job: at worst the file stays readable by its owner alone.
void KeepProtectionOf(const std::string& destination, int file) {
    struct stat old {};
    if (stat(destination.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) {
        return;
    }
    if (fchown(file, old.st_uid, old.st_gid) != 0) {
        (void)!fchown(file, static_cast<uid_t>(-1), old.st_gid);
    }
    struct stat now {};
    if (fstat(file, &now) != 0) {
        return;
    }
    const mode_t owner = (old.st_mode >> 6) & 7;
    mode_t group = (old.st_mode >> 3) & 7;
    mode_t others = old.st_mode & 7;
    if (now.st_gid != old.st_gid) {
        group = others = group & others;
    }
    if (now.st_uid != old.st_uid) {
        group &= owner;
        others &= owner;
    }
    fchmod(file, (owner << 6) | (group << 3) | others);
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

// Where the file system refuses the rename without replacement (ntfs-3g says EINVAL, an old kernel
// ENOSYS), a second name for the file made with link(), which never replaces an existing name,
// followed by the removal of the staging name, does the same job. Where it has no hard links
// either (exFAT through FUSE, gvfs, MTP phones, rclone), a plain rename does it once the
// destination's name is seen to be still free: a complete, checked body is not thrown away for
// want of a way to commit that the file system does not offer.
int MoveWithoutReplacing(const char* from, const char* to) {
    if (platformSeam.renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    if (platformSeam.link(from, to) == 0) {
        unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
        return -1;
    }
    struct stat existing {};
    if (lstat(to, &existing) == 0) {
        errno = EEXIST;
        return -1;
    }
    if (errno != ENOENT) {
        return -1;
    }
    return platformSeam.rename(from, to);
}

// Makes the commit durable: the rename lives in the folder, which is flushed on its own. The
// file is in place whatever this reports, so a failure here does not fail the job.
void FlushFolderOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    const int directory = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
}

void Commit(JobState& state, const std::string& destination) {
    if (CancelSeen(state)) {
        return;
    }
    // Replacing only when it was confirmed: a file that appeared at the destination after it was
    // chosen makes the commit fail instead of being overwritten unasked.
    errno = 0;
    const char* from = state.stagingPath.c_str();
    const char* to = destination.c_str();
    const int result =
        state.job->replaceExisting ? platformSeam.rename(from, to) : MoveWithoutReplacing(from, to);
    if (result == 0) {
        state.stagingPath.clear();
        state.outcome->succeeded = true;
        FlushFolderOf(destination);
    } else {
        state.errorCode = FileFailureCode(errno);
    }
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
    if (!CompleteStagingFile(state, file, end, destination)) {
        return;
    }
    Commit(state, destination);
}
