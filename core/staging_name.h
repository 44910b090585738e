// The staging file's name and the Internet-zone mark it carries, the same in both editions. Pure
// data and text for the worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The number of staging names a job tries before it gives up.
inline constexpr unsigned StagingAttempts = 100;

// The longest name one folder entry may have on the destination's file system, and how that file
// system counts it: POSIX file systems in bytes, NTFS in UTF-16 units. `longest` 0: no known limit.
// `separators` are the characters that end a folder's name in a path.
struct NameLimit {
    std::size_t longest = 0;
    bool inUtf16Units = false;
    std::string_view separators = "/";
};

// The staging file name for attempt n: the destination path, ".quillmere-", the process id, "-",
// n and ".part". It only extends the destination's path, so the file lies beside the destination
// and the commit is a rename within one folder. Where the destination's own name already comes
// close to the file system's limit, so that the staging name would pass it, the destination's
// part of the staging name is shortened from its end, a whole character at a time, until the
// name fits; the suffix stays whole.
std::string StagingFileName(std::string_view targetPath, std::uint32_t processId, unsigned n,
                            const NameLimit& limit = {});

// The 26 bytes of the Zone.Identifier mark: "[ZoneTransfer]" CR LF "ZoneId=3" CR LF.
extern const char ZoneIdentifierText[26];

} // namespace core
