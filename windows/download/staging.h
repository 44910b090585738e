// The file side of a job on the worker thread: a fresh staging file beside the destination, the
// body copied into it, the size check, the flush, the Internet-zone mark and the one rename that
// commits it. The destination itself is never opened.
#pragma once

#include <cstdint>
#include <string>

#include "core/staging_name.h"
#include "download/job_state.h"

// The staging file name for attempt n: the destination path, ".quillmere-", the process id,
// "-", n and ".part". Pure logic.
std::wstring StagingFileName(const std::wstring& targetPath, std::uint32_t processId, unsigned n);

// Where a volume keeps no named streams (Wine on a Linux file system), opening the zone stream
// made a plain file of that name beside the staging file, which neither the rename nor deleting the
// staging file takes along; this removes it. Once the staging file is gone from a volume with
// streams, the name resolves to nothing and this does nothing.
void RemoveStrayZoneStream(const std::wstring& stagingPath);

// The 26 bytes of the Zone.Identifier stream: "[ZoneTransfer]" CR LF "ZoneId=3" CR LF.
using core::ZoneIdentifierText;

// Runs the whole stage on a response with status 200 whose body is unread. Leaves the job
// committed (succeeded, stagingPath empty), cancelled, or failed with errorCode or the size
// mismatch text; a staging file that was created and not committed is still named in
// stagingPath for the end of the job to delete. Every file handle is closed on return.
void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]);
