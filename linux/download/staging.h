// The file side of a job on the worker thread: a fresh staging file beside the destination, the
// body copied into it, the size check, the flush, the Internet-zone mark and the one rename that
// commits it. The destination itself is never opened.
#pragma once

#include "download/job_state.h"

// The name of the extended attribute that carries the zone mark. ntfs-3g stores it as the
// file's real Zone.Identifier stream, which Windows reads as the mark of the web.
inline constexpr const char* ZoneAttributeName = "user.Zone.Identifier";

// Runs the whole stage on a response with status 200 whose body is unread. Leaves the job
// committed (succeeded, stagingPath empty), cancelled, or failed with errorCode or the size
// mismatch text; a staging file that was created and not committed is still named in
// stagingPath for the end of the job to delete. Every file descriptor is closed on return.
void StageAndCommit(JobState& state, unsigned char (&chunk)[ChunkSize]);
