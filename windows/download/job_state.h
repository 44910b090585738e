// What the download worker keeps for one job, from the allocation of its outcome to the post.
// Owned and touched by the worker thread only; each stage reads and fills it in turn.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_state.h"
#include "download/url_target.h"

struct JobState {
    DownloadJob* job = nullptr;
    DownloadOutcome* outcome = nullptr;
    std::uint32_t errorCode = 0; // the job's one Windows or WinHTTP error code; 0 = none
    // Names the staging file exactly while one of this job's exists and has not been committed.
    std::wstring stagingPath;
    void* session = nullptr; // WinHTTP handles (HINTERNET); null until opened
    void* connection = nullptr;
    void* request = nullptr;
    UrlTarget target;
};

// The worker's one body buffer, reused for every read.
constexpr unsigned long ChunkSize = 65536;
