// What the download worker keeps for one job, from the allocation of its outcome to the hand-over.
// Owned and touched by the worker thread only; each stage reads and fills it in turn.
#pragma once

#include <cstddef>
#include <string>

#include "download/download_state.h"
#include "download/error_code.h"
#include "download/url_target.h"

// The body as libcurl delivers it, gathered into the buffer of the read in progress. Between
// reads the transfer is paused, so libcurl holds back what arrives until the next read.
struct BodyReader {
    unsigned char* destination = nullptr; // the read in progress, or none
    std::size_t capacity = 0;
    std::size_t filled = 0;
    bool paused = false;   // libcurl holds data that did not fit
    bool finished = false; // the transfer has ended, with `result`
    int result = 0;        // CURLcode
};

struct JobState {
    DownloadJob* job = nullptr;
    DownloadOutcome* outcome = nullptr;
    ErrorCode errorCode; // the job's one error code; none until a call fails
    // Names the staging file exactly while one of this job's exists and has not been committed.
    std::string stagingPath;
    void* session = nullptr; // libcurl handles (CURLM*, CURL*, curl_slist*); null until made
    void* request = nullptr;
    void* headers = nullptr;
    BodyReader body;
    char curlMessage[256] = {}; // libcurl's own words on the last failure
    UrlTarget target;
};

// The worker's one body buffer, reused for every read.
constexpr std::size_t ChunkSize = 65536;
