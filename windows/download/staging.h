// The file side of a job on the worker thread: a fresh staging file beside the destination, the
// body copied into it, the size check, the flush, the Internet-zone mark and the one rename that
// commits it. The destination itself is never opened.
#pragma once

#include <cstdint>
#include <string>

#include "core/staging_name.h"
#include "download/job_state.h"

// The staging file name for attempt n: the destination path, ".quillmere-", the process id,
// "-", n and ".part". Where that name would pass 255 UTF-16 units, the longest one name may have,
// the destination's name in it is shortened by whole characters until it fits. Pure logic.
std::wstring StagingFileName(const std::wstring& targetPath, std::uint32_t processId, unsigned n);

// The name the file calls use for a path: the full path in extended-length form ("\\?\" for a
// drive, "\\?\UNC\" for a share), which is free of the 260-character limit. The path is first
// made full and normalised the way Windows does it for ordinary names (backslashes, no "." or
// ".." parts), since an extended-length name is taken literally. A path already in that form, a
// device path, or one the system cannot make full is returned as it is.
std::wstring ExtendedLengthPath(const std::wstring& path);

// Deletes the staging file, trying again for a few seconds while another program holds it.
// True once the file is gone (also when it was gone already); only then does the stray zone
// stream below go too, so that a staging file that has to stay keeps its mark.
bool DeleteStagingFile(const std::wstring& stagingPath);

// Where a volume keeps no named streams (Wine on a Linux file system), opening the zone stream
// made a plain file of that name beside the staging file, which neither the rename nor deleting the
// staging file takes along; this removes it. Call it only once the staging file is gone: on a
// volume with streams the name then resolves to nothing and this does nothing, while as long as
// the staging file is there it would strip its mark.
void RemoveStrayZoneStream(const std::wstring& stagingPath);

// The 26 bytes of the Zone.Identifier stream: "[ZoneTransfer]" CR LF "ZoneId=3" CR LF.
using core::ZoneIdentifierText;

// Runs the whole stage on a response with status 200 whose body is unread. Leaves the job
// committed (succeeded, stagingPath empty), cancelled, or failed with errorCode or the size
// mismatch text; a staging file that was created and not committed is still named in
// stagingPath (in extended-length form) for the end of the job to delete. Every file handle is
// closed on return.
void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]);
