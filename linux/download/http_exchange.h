// The HTTPS side of a job on the worker thread: one libcurl transfer with the program's fixed
// settings, one GET, the status check, the announced size, and the body read in chunks.
#pragma once

#include <cstddef>

#include "download/job_state.h"

// Makes the transfer: HTTPS only (redirects too), at most 5 redirects, the system's trusted
// certificates with full verification, the proxy from the desktop's settings or the standard
// variables (always a tunnel), 15 s to resolve and connect and 15 s without progress, user agent
// "Quillmere/1.0" and no other request header. False with errorCode set when libcurl refuses a
// setting; what was made stays in the state for the end of the job to release.
bool OpenHttpRequest(JobState& state);

// Sends the request and receives the response head (redirects followed): false with errorCode set
// when the transfer fails, or with errorText set when the status is not 200 or Content-Length is
// unusable. On true the body is unread, and contentLength and totalKnown hold the announced size
// if there was one.
bool ExchangeHttp(JobState& state);

// The next part of the body, at most `capacity` bytes: true with count > 0 for data, true with
// count 0 at the end of the body, false with errorCode set when the transfer failed.
bool ReadBody(JobState& state, unsigned char* chunk, std::size_t capacity, std::size_t& count);

// Releases the transfer; safe on a state where nothing was made.
void CloseHttpRequest(JobState& state);
