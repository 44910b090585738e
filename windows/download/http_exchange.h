// The HTTPS side of a job on the worker thread: session, connection and request with the
// program's fixed settings, one GET, the status check and the announced size.
#pragma once

#include "download/job_state.h"

// Opens the session (user agent "Quillmere/1.0", 15 s time-outs, TLS 1.1 and 1.2 added on
// Windows 7), the connection to the accepted host and port, and a secure GET request for the
// target through the current user's proxy, at most 5 redirects, never from HTTPS to HTTP. False
// with errorCode set when a call fails; the handles opened so far stay in the state for the end of
// the job to close.
bool OpenHttpRequest(JobState& state);

// Sends the request and receives the response: false with errorCode set when a call fails, or
// with errorText set when the status is not 200 or Content-Length is unusable. On true the body
// is unread, and contentLength and totalKnown hold the announced size if there was one.
bool ExchangeHttp(JobState& state);
