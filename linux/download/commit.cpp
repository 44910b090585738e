// The last steps of a complete staging file on the worker thread: the replaced file's protection,
// the zone mark and the rename, which goes through the platform seam.
#include "download/commit.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core/staging_name.h"
#include "download/platform_seam.h"
#include "download/staging.h"
#include "download/staging_file.h"

namespace {

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

} // namespace

// The file that replaces another keeps its protection: its owner, group and permissions, where the
// process may set them (root may; a user may pick a group of their own). Where it may not, no one
// gains access: people of a group that could not be kept, and the old owner, fall into other
// classes of the new file, so each class gets only what every class its people came from had.
// Set-user and set-group ids are never carried over to downloaded bytes. At worst the file stays
// readable by its owner alone.
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

// A file system without user attributes simply gets no mark.
void MarkInternetZone(int file) {
    fsetxattr(file, ZoneAttributeName, core::ZoneIdentifierText, sizeof core::ZoneIdentifierText,
              0);
}

void Commit(JobState& state, const std::string& destination) {
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
