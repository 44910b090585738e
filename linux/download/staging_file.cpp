// The staging file's place and its exclusive creation, on the worker thread.
#include "download/staging_file.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include "core/staging_name.h"
#include "download/error_code.h"

ErrorCode FileFailureCode(int code) {
    return SystemError(code != 0 ? code : EIO);
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
