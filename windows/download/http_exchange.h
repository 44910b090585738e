// The HTTPS side of a job on the worker thread: session, connection and request with the
// program's fixed settings, one GET, the status check and the announced size.
#pragma once

#include "download/job_state.h"

// Opens the session (user agent "Quillmere/1.0", 15 s time-outs, TLS 1.1 and 1.2 added on
// Windows 7), the connection to the accepted host and port, and a secure GET request for the
// target through the current user's proxy. False with errorCode set when a call fails; the handles
// opened so far stay in the state for the end of the job to close.
bool OpenHttpRequest(JobState& state);

// Sends the request and receives the response, following redirects (301, 302, 303, 307 and 308)
// with a new GET each, at most 5 in all and only to HTTPS; one more, or one elsewhere, fails with
// ERROR_WINHTTP_REDIRECT_FAILED. False with errorCode set when a call fails, or with errorText set
// when the last status is not 200 or Content-Length is unusable; false with cancelled set when a
// cancellation is seen between redirects. On true the body is unread, and contentLength and
// totalKnown hold the announced size if there was one.
bool ExchangeHttp(JobState& state);
