// The last steps of a complete staging file on the worker thread: the replaced file's protection,
// the Internet-zone mark, and the one rename that puts the file at its destination.
#pragma once

#include <string>

#include "download/job_state.h"

// Gives the open staging file the owner, group and permissions of the file it replaces, as far as
// the process may, never opening it wider than that file was. Nothing here fails the job.
void KeepProtectionOf(const std::string& destination, int file);

// Marks the open staging file as coming from the Internet zone (ZoneAttributeName), where the file
// system takes user attributes; nothing here fails the job.
void MarkInternetZone(int file);

// Renames the staging file onto the destination, replacing a file there only when the job was
// confirmed to; on success the job is succeeded and stagingPath empty, else errorCode is set.
void Commit(JobState& state, const std::string& destination);
