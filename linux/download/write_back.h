// The disk's share of the body copy, on the worker thread: what the copy has written goes out to
// the disk a step at a time while the body still arrives, and the copy keeps only a few steps
// ahead of what the disk has finished.
#pragma once

#include <cstdint>

#include "download/job_state.h"

// How far the staging file has gone out to the disk; zero for a new file.
struct WriteBackWindow {
    std::uint64_t started = 0; // up to here, handed to the disk
    std::uint64_t settled = 0; // up to here, written by the disk
    bool unsupported = false;  // the file system does not take part: the flush does it all
};

// Called after each chunk, with the file's length so far. False with errorCode set when the disk
// reports that writing out part of the file failed.
bool PaceWriteBack(JobState& state, int file, WriteBackWindow& window);
