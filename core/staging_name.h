// The staging file's name and the Internet-zone mark it carries, the same in both editions. Pure
// data and text for the worker thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The number of staging names a job tries before it gives up.
inline constexpr unsigned StagingAttempts = 100;

// The staging file name for attempt n: the destination path, ".quillmere-", the process id, "-",
// n and ".part". It only extends the destination's path, so the file lies beside the destination
// and the commit is a rename within one folder.
std::string StagingFileName(std::string_view targetPath, std::uint32_t processId, unsigned n);

// The 26 bytes of the Zone.Identifier mark: "[ZoneTransfer]" CR LF "ZoneId=3" CR LF.
extern const char ZoneIdentifierText[26];

} // namespace core
