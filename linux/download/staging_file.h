// The staging file's place and its exclusive creation, on the worker thread: the file a chosen name
// stands for (links followed), and a fresh name beside it that nobody else has.
#pragma once

#include <string>

#include "download/job_state.h"

// The code a failed file call leaves; a call that failed without saying why (or a write that
// wrote nothing) still must not read as success in the error box.
ErrorCode FileFailureCode(int code);

// The folder part of a path: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

// Sets `destination` to the file the job's chosen name stands for; false with errorCode set when
// the chain of links cannot be followed.
bool ResolveDestination(JobState& state, std::string& destination);

// Creates the staging file beside `destination` and names it in stagingPath; returns its open
// descriptor, or -1 with errorCode set and stagingPath empty.
int CreateStagingFile(JobState& state, const std::string& destination);
